#include "app/modal_hooks.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QUrl>
#include <memory>

#include "app/flavor_chooser.h"
#include "app/folder_chooser.h"

namespace skiv::app {

namespace {
BoxHook g_boxHook;
FolderHook g_folderHook;
OpenHook g_openHook;
StartHook g_startHook;
FlavorHook g_flavorHook;
}  // namespace

void SetFlavorHook(FlavorHook hook) {
    g_flavorHook = std::move(hook);
}

std::optional<std::size_t> RunFlavorChooser(const std::vector<FlavorChoice>& choices,
                                            std::size_t preselected, QWidget* owner) {
    if (g_flavorHook)
        return g_flavorHook(choices, preselected);
    FlavorChooser dlg(choices, preselected, owner);
    if (dlg.exec() != QDialog::Accepted || dlg.Chosen() < 0)
        return std::nullopt;
    return static_cast<std::size_t>(dlg.Chosen());
}

void SetBoxHook(BoxHook hook) {
    g_boxHook = std::move(hook);
}
void SetFolderHook(FolderHook hook) {
    g_folderHook = std::move(hook);
}
void SetOpenHook(OpenHook hook) {
    g_openHook = std::move(hook);
}
void SetStartHook(StartHook hook) {
    g_startHook = std::move(hook);
}

QMessageBox* CreateMessageBox(const ModalBox& box) {
    auto* mb = new QMessageBox(box.owner);
    mb->setWindowTitle(box.caption);
    mb->setText(box.text);
    // The boxes speak the window's language: Korean button captions.
    if (box.kind == ModalBox::kYesNo) {
        mb->setIcon(box.questionIcon ? QMessageBox::Question : QMessageBox::NoIcon);
        QPushButton* yes = mb->addButton(QStringLiteral("예(&Y)"), QMessageBox::YesRole);
        mb->addButton(QStringLiteral("아니요(&N)"), QMessageBox::NoRole);
        mb->setDefaultButton(yes);
        return mb;
    }
    mb->setIcon(box.kind == ModalBox::kWarning ? QMessageBox::Warning : QMessageBox::NoIcon);
    QPushButton* ok = mb->addButton(QStringLiteral("확인"), QMessageBox::AcceptRole);
    mb->setDefaultButton(ok);
    mb->setEscapeButton(ok);
    return mb;
}

bool RunModalBox(const ModalBox& box) {
    if (g_boxHook)
        return g_boxHook(box);
    std::unique_ptr<QMessageBox> mb(CreateMessageBox(box));
    mb->exec();
    if (box.kind != ModalBox::kYesNo)
        return true;
    return mb->clickedButton() && mb->buttonRole(mb->clickedButton()) == QMessageBox::YesRole;
}

std::optional<QString> RunFolderChooser(const QString& initialFolder) {
    if (g_folderHook)
        return g_folderHook(initialFolder);
    FolderChooser dlg;
    dlg.SetPath(initialFolder);
    if (dlg.exec() != QDialog::Accepted)
        return std::nullopt;
    return dlg.GetPath();
}

bool OpenAddress(OpenTarget target, const QString& address) {
    if (g_openHook)
        return g_openHook(target, address);
    const QUrl url(address);
    if (QDesktopServices::openUrl(url))
        return true;
    // The desktop's opener is xdg-open; ask it directly when Qt's own
    // service lookup (portal, session bus) gave up.
    return QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString()});
}

void StartProgram(const QString& file, const QString& workFolder, const QString& winePrefix) {
    if (g_startHook) {
        g_startHook(file, workFolder);
        return;
    }
    const QString path = QFileInfo(file).isAbsolute() ? file : QDir(workFolder).filePath(file);
    if (path.endsWith(QStringLiteral(".exe"), Qt::CaseInsensitive)) {
        // Windows programs run in the Wine prefix named by WINEPREFIX
        // (inherited, unless the game lives in another prefix).
        QProcess wine;
        wine.setProgram(QStringLiteral("wine"));
        wine.setArguments({path});
        wine.setWorkingDirectory(workFolder);
        if (!winePrefix.isEmpty()) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("WINEPREFIX"), winePrefix);
            wine.setProcessEnvironment(env);
        }
        wine.startDetached();
    } else {
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    }
}

}  // namespace skiv::app
