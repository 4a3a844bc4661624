// skivaddon-screenshots OUTDIR: renders the main window in its three view
// modes, a message box over the window, the folder chooser and the list of
// installed game flavors into PNG
// files for the documentation. Run under Xvfb (scripts/screenshots).
//
// Xvfb has no window manager, so the boxes have no frames of their own; the
// tool draws a plain caption strip with each box's real title above it.

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdio>
#include <memory>

#include "app/app.h"
#include "app/flavor_chooser.h"
#include "app/folder_chooser.h"
#include "app/main_window.h"
#include "app/modal_hooks.h"
#include "app/skin.h"

using namespace skiv::app;
using Control = skiv::ui::main_window::Control;

namespace {

QString g_out;

void Settle() {
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

// The window as the screen shows it: outside its rounded shape is
// transparent.
QImage Shaped(MainWindow& dlg) {
    QImage img = dlg.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const qreal dpr = img.devicePixelRatio();
    const QRegion shape = MainWindow::WindowShape(dlg.size());
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (!shape.contains(QPoint(int(x / dpr), int(y / dpr))))
                img.setPixel(x, y, 0);
    return img;
}

// A box's client area under a plain caption strip.
QImage Framed(QWidget& w) {
    const QImage client = w.grab().toImage();
    const qreal dpr = client.devicePixelRatio();
    const QSize size = client.size() / dpr;
    QImage out((QSize(size.width() + 2, size.height() + 27)) * dpr, QImage::Format_ARGB32);
    out.setDevicePixelRatio(dpr);
    out.fill(QColor(60, 60, 66));
    QPainter p(&out);
    QFont f = Skin::TextFont();
    f.setWeight(QFont::Bold);
    p.setFont(f);
    p.drawPixmap(QPoint(6, 5), Skin::Instance().AppIcon().pixmap(16, 16));
    p.setPen(Qt::white);
    p.drawText(QRect(28, 0, size.width() - 30, 26), Qt::AlignVCenter, w.windowTitle());
    p.drawImage(QPoint(1, 26), client);
    return out;
}

bool Save(const QImage& img, const char* name) {
    const QString path = g_out + QLatin1Char('/') + QLatin1String(name);
    if (!img.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    App::Configure();
    if (argc < 2) {
        std::fprintf(stderr, "usage: skivaddon-screenshots OUTDIR\n");
        return 2;
    }
    g_out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_out);
    QTemporaryDir work;
    bool ok = true;

    MainWindow dlg(Skin::Instance(), skiv::ServiceConfig::FromEnvironment(),
                   work.path().toStdString() + "/log/");
    dlg.move(40, 40);
    dlg.show();
    Settle();

    // Mode 0: an ID being typed.
    auto* id = FindControl<QLineEdit>(dlg, Control::IdEdit);
    auto* pw = FindControl<QLineEdit>(dlg, Control::PasswordEdit);
    id->setText(QStringLiteral("skivfan"));
    pw->setText(QStringLiteral("password"));
    pw->setFocus();
    Settle();
    ok &= Save(Shaped(dlg), "view-0-logged-out.png");

    // Mode 1: logged in, nothing stored yet.
    dlg.ShowMemberInfo(false, 0, "");
    dlg.SetViewMode(skiv::ViewMode::LoggedInNoData);
    FindControl<QCheckBox>(dlg, Control::LaunchAfterInstall)->setFocus();
    Settle();
    ok &= Save(Shaped(dlg), "view-1-no-data.png");

    // Mode 2: a stored set, a task under way.
    dlg.ShowMemberInfo(true, 14, "2024-05-01 21:30");
    dlg.SetViewMode(skiv::ViewMode::LoggedInWithData);
    FindControl<QCheckBox>(dlg, Control::LaunchAfterInstall)->setChecked(true);
    dlg.SetProgress(62);
    Settle();
    ok &= Save(Shaped(dlg), "view-2-with-data.png");

    // A question over the window, as the save command asks it.
    ModalBox question;
    question.kind = ModalBox::kYesNo;
    question.text = QStringLiteral(
        "기존 저장된 파일이 현재의 설정으로 다시 저장됩니다. 내 셋팅을 저장하시겠습니까?");
    question.caption = QStringLiteral("Kelbo Skiv Addon");
    question.owner = &dlg;
    std::unique_ptr<QMessageBox> box(CreateMessageBox(question));
    box->show();
    Settle();
    {
        const QImage window = Shaped(dlg);
        const QImage framed = Framed(*box);
        const qreal dpr = window.devicePixelRatio();
        const QSize ws = window.size() / dpr, bs = framed.size() / dpr;
        QImage scene(QSize(std::max(ws.width(), bs.width() + 20), ws.height()) * dpr,
                     QImage::Format_ARGB32);
        scene.setDevicePixelRatio(dpr);
        scene.fill(Qt::transparent);
        QPainter p(&scene);
        const int sw = int(scene.width() / dpr);
        p.drawImage(QPoint((sw - ws.width()) / 2, 0), window);
        p.drawImage(QPoint((sw - bs.width()) / 2, 150), framed);
        p.end();
        ok &= Save(scene, "message-box.png");
    }
    box->hide();

    // The folder chooser opened at a game folder, on a demonstration drive
    // (a temporary folder) so that the picture shows nothing of this machine.
    const QString drive = work.path() + QStringLiteral("/drive/");
    for (const char* sub : {"home/player/Desktop", "home/player/Documents", "mnt", "opt", "srv"})
        QDir().mkpath(drive + QString::fromLatin1(sub));
    const QString games = drive + QStringLiteral("home/player/.wine/drive_c/Program Files (x86)/");
    for (const char* sub :
         {"World of Warcraft/Interface", "World of Warcraft/WTF", "World of Warcraft/Cache",
          "World of Warcraft/Fonts", "COMMON FILES", "Internet Explorer", "Battle.net"})
        QDir().mkpath(games + QString::fromLatin1(sub));
    FolderChooser chooser;
    chooser.SetDrives({DriveRoot{drive, kDriveFixed}});
    chooser.SetPath(games + QStringLiteral("World of Warcraft/"));
    chooser.show();
    Settle();
    ok &= Save(Framed(chooser), "folder-chooser.png");
    chooser.reject();

    // The list of installed game flavors, as a login with several asks it.
    const std::string root = "/home/player/Games/world-of-warcraft/drive_c/Program Files "
                             "(x86)/World of Warcraft/";
    FlavorChooser flavors({{"_retail_", "본 서버", root + "_retail_/"},
                           {"_classic_", "클래식", root + "_classic_/"},
                           {"_classic_era_", "클래식 시대", root + "_classic_era_/"}},
                          1);
    flavors.show();
    Settle();
    ok &= Save(Framed(flavors), "flavor-choice.png");
    flavors.reject();
    return ok ? 0 : 1;
}
