// One run through the real window against the real member service on
// loopback: log in, save, install on a second computer, roll back, and a
// close while a task runs. Every box is answered by the test hooks.

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QtTest>
#include <deque>
#include <mutex>

#include "app/app.h"
#include "app/main_window.h"
#include "app/modal_hooks.h"
#include "app/skin.h"
#include "platform/fs.h"
#include "support/service_launcher.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"

using skiv::app::MainWindow;
using skiv::app::ModalBox;
using C = skiv::ui::main_window::Control;
namespace t = skiv::test;

namespace {

constexpr const char* kMember = "gildong";
constexpr const char* kPassword = "s3cret 비밀";

// One player's computer: a game folder with a set, and the window.
struct Computer {
    explicit Computer(const std::string& baseUrl, unsigned seed) {
        game = gameDir / "World of Warcraft/";
        t::WriteFile(game + "Launcher.exe", "MZ");
        t::WriteFile(game + "Interface/AddOns/Bags/Bags.lua", t::RandomBytes(30000, seed));
        t::WriteFile(game + "Interface/AddOns/Bags/Locale/koKR.lua", "L['가방'] = true\n");
        t::WriteFile(game + "WTF/Config.wtf", "SET uiScale \"0.9\"\n");
        t::WriteFile(game + "WTF/Account/ME/SavedVariables/Bags.lua",
                     t::RandomSavedVariables(5000, seed));
        dlg = std::make_unique<MainWindow>(skiv::app::Skin::Instance(),
                                           skiv::ServiceConfig{baseUrl}, logDir.path());
        dlg->show();
    }
    template <typename W = QWidget>
    W* Get(C control) {
        return skiv::app::FindControl<W>(*dlg, control);
    }
    QAbstractButton* Button(C id) { return Get<QAbstractButton>(id); }
    QString Text(C id) { return Get<QLabel>(id)->text(); }

    t::TempDir gameDir, logDir;
    std::string game;
    std::unique_ptr<MainWindow> dlg;
};

}  // namespace

class AppEndToEndTest : public QObject {
    Q_OBJECT

    std::unique_ptr<t::ServiceLauncher> m_svc;
    std::mutex m_lock;
    std::vector<ModalBox> m_boxes;
    std::deque<std::string> m_folders;  // answers of the folder chooser

    // Every box text so far, for failure messages.
    QString Texts() {
        QStringList out;
        for (const ModalBox& b : m_boxes)
            out << b.text;
        return out.join(QStringLiteral(" | "));
    }
    // Presses a task button and serves events until its worker is done.
    bool RunTask(Computer& c, C button) {
        c.Button(button)->click();
        return QTest::qWaitFor([&] { return !c.dlg->Controller().IsBusy(); }, 60000);
    }
    void LogIn(Computer& c) {
        c.Get<QLineEdit>(C::IdEdit)->setText(QString::fromUtf8(kMember));
        c.Get<QLineEdit>(C::PasswordEdit)->setText(QString::fromUtf8(kPassword));
        m_folders.push_back(c.game);
        QTest::mouseClick(c.Button(C::LoginButton), Qt::LeftButton);
    }

private slots:
    void initTestCase() {
        m_svc = std::make_unique<t::ServiceLauncher>();
        m_svc->AddMember(kMember, kPassword);
        qputenv("SKIVADDON_CA_FILE", QByteArray::fromStdString(m_svc->CaFile()));
        qunsetenv("ProgramFiles");
        skiv::app::SetBoxHook([this](const ModalBox& b) {
            m_boxes.push_back(b);
            return true;  // Yes to every question
        });
        skiv::app::SetFolderHook([this](const QString&) -> std::optional<QString> {
            if (m_folders.empty())
                return std::nullopt;
            const QString f = QString::fromStdString(m_folders.front());
            m_folders.pop_front();
            return f;
        });
    }
    void cleanupTestCase() {
        skiv::app::SetBoxHook(nullptr);
        skiv::app::SetFolderHook(nullptr);
        m_svc.reset();
    }

    void saveInstallRollBackThroughTheWindow() {
        Computer a(m_svc->BaseUrl(), 1);
        LogIn(a);
        QVERIFY2(a.dlg->Controller().Session().loggedIn, qPrintable(Texts()));
        QCOMPARE(int(a.dlg->ViewMode()), 1);
        QCOMPARE(a.Text(C::MemberId), QString::fromUtf8(kMember));
        QCOMPARE(a.Text(C::NoData), QStringLiteral("회원님의 셋팅 정보가 없습니다."));
        QCOMPARE(a.Get(C::NoData)->geometry(), QRect(55, 132, 200, 11));

        m_boxes.clear();
        QVERIFY(RunTask(a, C::SaveButton));
        QCOMPARE(m_boxes.front().text,
                 QStringLiteral("기존 저장된 파일이 현재의 설정으로 다시 저장됩니다. 내 셋팅을 "
                                "저장하시겠습니까?"));
        QCOMPARE(m_boxes.back().text, QStringLiteral("애드온이 모두 저장되었습니다"));
        QCOMPARE(m_boxes.back().owner, nullptr);  // raised by the worker
        QCOMPARE(int(a.dlg->ViewMode()), 2);
        QCOMPARE(a.Text(C::SizeValue), QStringLiteral("1MB"));
        QVERIFY(!a.Text(C::DateValue).isEmpty());
        QCOMPARE(a.Get<QProgressBar>(C::Progress)->value(), 0);

        // A second computer with another set: install replaces it.
        Computer b(m_svc->BaseUrl(), 77);
        const t::TreeSnapshot before = t::SnapshotTree(b.game);
        LogIn(b);
        QCOMPARE(int(b.dlg->ViewMode()), 2);
        m_boxes.clear();
        QVERIFY(RunTask(b, C::InstallButton));
        QCOMPARE(m_boxes.front().text,
                 QStringLiteral("회선속도와 컴퓨터 사양에따라 시간이 오래걸릴수 있습니다."));
        QCOMPARE(m_boxes.back().text, QStringLiteral("애드온이 모두 세팅되었습니다"));
        QCOMPARE(t::SnapshotTree(b.game + "Interface"), t::SnapshotTree(a.game + "Interface"));
        QCOMPARE(t::SnapshotTree(b.game + "WTF"), t::SnapshotTree(a.game + "WTF"));

        // Roll back (restoring the backup is the choice at start).
        m_boxes.clear();
        QVERIFY(RunTask(b, C::RollBackButton));
        QCOMPARE(m_boxes.front().caption, QStringLiteral("Kelbo 스키브 애드온"));
        QVERIFY(m_boxes.front().questionIcon);
        QCOMPARE(m_boxes.back().text, QStringLiteral("되돌리기가 완료되었습니다."));
        t::TreeSnapshot after = t::SnapshotTree(b.game);
        std::erase_if(after, [](const auto& kv) { return kv.first.rfind("Backup/", 0) == 0; });
        QVERIFY(after == before);
    }

    void closingWaitsForTheRunningTask() {
        Computer a(m_svc->BaseUrl(), 5);
        LogIn(a);
        QVERIFY(a.dlg->Controller().Session().loggedIn);
        m_boxes.clear();
        a.Button(C::SaveButton)->click();  // the save worker starts
        QVERIFY(a.dlg->Controller().IsBusy());
        a.Button(C::CloseButton)->click();  // Yes to closing: returns once the task is done
        QVERIFY(!a.dlg->Controller().IsBusy());
        QVERIFY(a.dlg->CloseConfirmed());
        QVERIFY(!a.dlg->isVisible());
        // The worker's last box came after the confirmation: it was served
        // while the window waited for the worker.
        QVERIFY2(m_boxes.size() >= 3, qPrintable(Texts()));
        QCOMPARE(m_boxes[m_boxes.size() - 2].caption, QStringLiteral("Kelbo Skiv Addon 종료"));
        QCOMPARE(m_boxes.back().text, QStringLiteral("애드온이 모두 저장되었습니다"));
    }
};

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir prefix;  // an empty Wine prefix: no game in its registry
    qputenv("WINEPREFIX", prefix.path().toUtf8());
    QApplication app(argc, argv);
    skiv::app::App::Configure();
    AppEndToEndTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "app_e2e_test.moc"
