// MainWindow: layout per view mode, keyboard, closing, dragging, the
// window operations from the GUI thread and from a worker.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <deque>
#include <thread>

#include "app/link_label.h"
#include "app/main_window.h"
#include "app/modal_hooks.h"
#include "app/skin.h"
#include "app_tests.h"

using skiv::app::MainWindow;
using skiv::app::ModalBox;
using C = skiv::ui::main_window::Control;

class MainWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_logDir;
    std::unique_ptr<MainWindow> m_dlg;
    std::vector<ModalBox> m_boxes;
    std::deque<bool> m_answers;

    // A control by the name the layout gives it.
    template <typename W = QWidget>
    W* Get(C control) const {
        W* w = skiv::app::FindControl<W>(*m_dlg, control);
        if (!w)
            qFatal("no control %s", skiv::ui::main_window::NameOf(control));
        return w;
    }
    QRect Rect(C id) const { return Get(id)->geometry(); }
    QString Text(C id) const { return Get<QLabel>(id)->text(); }
    QCheckBox* Box(C id) const { return Get<QCheckBox>(id); }
    QLineEdit* Edit(C id) const { return Get<QLineEdit>(id); }
    bool Removed(C id) const { return Rect(id) == QRect(404, 436, 0, 0); }

    void ShowAndActivate() {
        m_dlg->show();
        QApplication::setActiveWindow(m_dlg.get());
        QVERIFY(QTest::qWaitForWindowActive(m_dlg.get()));
    }

    void Press(QPoint at, QEvent::Type type, QPoint global, Qt::MouseButtons held) {
        QMouseEvent e(type, at, global, Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(m_dlg.get(), &e);
    }

    // Press at a client point, move the mouse by (25, 15) with the button
    // held, release: how far the window went.
    QPoint DragFrom(QPoint at) {
        const QPoint before = m_dlg->pos();
        const QPoint global = m_dlg->mapToGlobal(at);
        Press(at, QEvent::MouseButtonPress, global, Qt::LeftButton);
        QMouseEvent move(QEvent::MouseMove, at + QPoint(25, 15), global + QPoint(25, 15),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_dlg.get(), &move);
        Press(at + QPoint(25, 15), QEvent::MouseButtonRelease, global + QPoint(25, 15),
              Qt::NoButton);
        return m_dlg->pos() - before;
    }

private slots:
    void init() {
        m_boxes.clear();
        m_answers.clear();
        skiv::app::SetBoxHook([this](const ModalBox& b) {
            m_boxes.push_back(b);
            if (m_answers.empty())
                return true;
            const bool a = m_answers.front();
            m_answers.pop_front();
            return a;
        });
        m_dlg = std::make_unique<MainWindow>(skiv::app::Skin::Instance(),
                                             skiv::ServiceConfig{"https://127.0.0.1:9"},
                                             m_logDir.path().toStdString() + "/");
        m_dlg->move(100, 100);
    }
    void cleanup() {
        m_dlg.reset();
        skiv::app::SetBoxHook(nullptr);
    }

    void startState() {
        QCOMPARE(m_dlg->size(), QSize(404, 436));
        QCOMPARE(m_dlg->windowTitle(), QStringLiteral("KELBO SKIV ADDON"));
        QVERIFY(!m_dlg->windowIcon().isNull());
        QCOMPARE(int(m_dlg->ViewMode()), 0);
        // The options start at their defaults, one box of each pair checked.
        const skiv::TaskOptions start = m_dlg->GetTaskOptions();
        QVERIFY(!start.launchAfterInstall && !start.installIntoFolder);
        QVERIFY(start.saveScope == skiv::SaveScope::Basic);
        QVERIFY(start.rollBack == skiv::RollBackChoice::RestoreBackup);
        QVERIFY(Box(C::ScopeBasic)->isChecked() && !Box(C::ScopeWithCacheFonts)->isChecked());
        QVERIFY(Box(C::RollBackRestore)->isChecked() && !Box(C::RollBackDeleteOnly)->isChecked());
        QCOMPARE(Text(C::Version), QStringLiteral("- for WOW | ver 1.0.1"));
        auto* link = Get<skiv::app::LinkLabel>(C::RegisterLink);
        QCOMPARE(link->text(), QStringLiteral("Kelbo 회원가입"));
        QCOMPARE(link->LinkUrl(),
                 QStringLiteral("https://127.0.0.1:9/Member/Common/frmMemberRegist.aspx"));
        QCOMPARE(link->TextColour(), QColor(240, 74, 0));
        ShowAndActivate();
        QCOMPARE(QApplication::focusWidget(), Get(C::IdEdit));
    }

    void templatePlacesInPixels() {
        // Dialog units at base 7 x 14, edge by edge with rounding.
        QCOMPARE(Rect(C::CloseButton), QRect(383, 11, 18, 15));
        QCOMPARE(Rect(C::MinimizeButton), QRect(364, 11, 18, 15));
        QCOMPARE(Rect(C::LoginButton), QRect(175, 102, 53, 42));
        QCOMPARE(Rect(C::InstallButton), QRect(275, 189, 110, 49));
        QCOMPARE(Rect(C::SaveButton), QRect(275, 257, 110, 49));
        QCOMPARE(Rect(C::RollBackButton), QRect(275, 324, 110, 49));
        QCOMPARE(Rect(C::LaunchAfterInstall), QRect(19, 194, 14, 14));
        QCOMPARE(Rect(C::InstallIntoFolder), QRect(19, 217, 14, 14));
        QCOMPARE(Rect(C::ScopeBasic), QRect(19, 263, 14, 14));
        QCOMPARE(Rect(C::ScopeWithCacheFonts), QRect(19, 287, 14, 14));
        QCOMPARE(Rect(C::RollBackRestore), QRect(19, 331, 14, 14));
        QCOMPARE(Rect(C::RollBackDeleteOnly), QRect(19, 355, 14, 14));
        QCOMPARE(Rect(C::Progress), QRect(12, 392, 382, 21));
        QCOMPARE(Rect(C::IdEdit), QRect(51, 100, 114, 21));
        QCOMPARE(Rect(C::PasswordEdit), QRect(51, 123, 114, 21));
        QCOMPARE(Rect(C::Version), QRect(205, 65, 178, 14));
        QCOMPARE(Rect(C::RegisterLink).topLeft(), QPoint(256, 117));
        QCOMPARE(Rect(C::LoginSeparator), QRect(37, 156, 4, 11));
        // The member panel is out of sight while logged out.
        for (C id : {C::PanelSeparator, C::DateLabel, C::SizeLabel, C::DateValue, C::SizeValue,
                     C::NoData, C::MemberId, C::MemberIdLine})
            QVERIFY2(Removed(id), skiv::ui::main_window::NameOf(id));
    }

    void windowShapeRoundsTheCorners() {
        const QRegion shape = MainWindow::WindowShape(QSize(404, 436));
        for (QPoint corner :
             {QPoint(0, 0), QPoint(1, 1), QPoint(403, 0), QPoint(0, 435), QPoint(403, 435)})
            QVERIFY2(!shape.contains(corner),
                     qPrintable(QStringLiteral("%1,%2").arg(corner.x()).arg(corner.y())));
        for (QPoint inside : {QPoint(3, 3), QPoint(200, 0), QPoint(0, 200), QPoint(400, 432)})
            QVERIFY(shape.contains(inside));
    }

    void loggedInWithoutData() {
        Edit(C::IdEdit)->setText(QStringLiteral("alice"));
        m_dlg->ShowMemberInfo(false, 0, "");
        m_dlg->SetViewMode(skiv::ViewMode::LoggedInNoData);
        QCOMPARE(int(m_dlg->ViewMode()), 1);
        QCOMPARE(Text(C::NoData), QStringLiteral("회원님의 셋팅 정보가 없습니다."));
        QCOMPARE(Rect(C::NoData), QRect(55, 132, 200, 11));
        QCOMPARE(Text(C::MemberId), QStringLiteral("alice"));
        QCOMPARE(Text(C::MemberIdLine), QStringLiteral("님의 셋팅 정보"));
        QCOMPARE(Rect(C::MemberId), QRect(70, 100, 200, 11));
        QCOMPARE(Rect(C::MemberIdLine), QRect(110, 100, 200, 11));  // 5 bytes x 8 px
        for (C id : {C::LoginButton, C::IdEdit, C::PasswordEdit, C::RegisterLink}) {
            QVERIFY(Removed(id));
            QVERIFY(!Get(id)->isEnabled());
        }
        for (C id : {C::PanelSeparator, C::DateLabel, C::SizeLabel, C::DateValue, C::SizeValue})
            QVERIFY(Removed(id));
    }

    void loggedInWithData() {
        Edit(C::IdEdit)->setText(QStringLiteral("홍길동"));
        m_dlg->ShowMemberInfo(true, 0, "2024-05-01 21:30");
        m_dlg->SetViewMode(skiv::ViewMode::LoggedInWithData);
        QCOMPARE(Text(C::SizeLabel), QStringLiteral("용량 : "));
        QCOMPARE(Text(C::SizeValue), QStringLiteral("0MB"));
        QCOMPARE(Text(C::DateLabel), QStringLiteral("최종 저장 날짜 : "));
        QCOMPARE(Text(C::DateValue), QStringLiteral("2024-05-01 21:30"));
        QCOMPARE(Rect(C::SizeLabel), QRect(55, 132, 40, 11));
        QCOMPARE(Rect(C::SizeValue), QRect(96, 132, 60, 11));
        QCOMPARE(Rect(C::PanelSeparator), QRect(160, 132, 4, 11));
        QCOMPARE(Rect(C::DateLabel), QRect(170, 132, 100, 11));
        QCOMPARE(Rect(C::DateValue), QRect(272, 132, 120, 11));
        QVERIFY(Get(C::NoData)->isHidden());
        // Three Korean characters count two bytes each.
        QCOMPARE(Rect(C::MemberIdLine), QRect(118, 100, 200, 11));

        // A later save refreshes the figures; an unknown mode moves nothing.
        m_dlg->ShowMemberInfo(true, 7, "2024-05-02 08:00");
        QCOMPARE(Text(C::SizeValue), QStringLiteral("7MB"));
        m_dlg->SetViewMode(static_cast<skiv::ViewMode>(5));
        QCOMPARE(Rect(C::DateValue), QRect(272, 132, 120, 11));
    }

    void idWidthUnits() {
        QCOMPARE(MainWindow::IdTextUnits(QStringLiteral("abcde")), 5);
        QCOMPARE(MainWindow::IdTextUnits(QStringLiteral("홍길동")), 6);
        QCOMPARE(MainWindow::IdTextUnits(QStringLiteral("kim홍")), 5);
    }

    void enterMovesFromIdToPasswordThenLogsIn() {
        ShowAndActivate();
        Edit(C::IdEdit)->setFocus();
        QTest::keyClick(Edit(C::IdEdit), Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), Get(C::PasswordEdit));
        QVERIFY(m_boxes.empty());  // no login yet

        // Enter in the password field logs in: empty fields are refused.
        QTest::keyClick(Edit(C::PasswordEdit), Qt::Key_Enter);
        QCOMPARE(m_boxes.size(), size_t(1));
        QCOMPARE(m_boxes[0].text, QStringLiteral("ID와 패스워드를 입력해주세요"));
        QCOMPARE(m_boxes[0].caption, QStringLiteral("Kelbo Skiv Addon"));
        QCOMPARE(m_boxes[0].owner, m_dlg.get());
        QCOMPARE(m_dlg->Controller().Session().memberId, std::string());

        // Logged out, Enter anywhere logs in.
        Edit(C::IdEdit)->setText(QStringLiteral("bob"));
        Box(C::LaunchAfterInstall)->setFocus();
        QTest::keyClick(Box(C::LaunchAfterInstall), Qt::Key_Return);
        QCOMPARE(m_boxes.size(), size_t(2));
        QCOMPARE(m_dlg->Controller().Session().memberId, std::string("bob"));
        QVERIFY(!Box(C::LaunchAfterInstall)->isChecked());  // swallowed, not passed to the box
    }

    void enterAfterLoginOutsidePasswordDoesNothing() {
        ShowAndActivate();
        m_dlg->SetViewMode(skiv::ViewMode::LoggedInWithData);
        Box(C::ScopeBasic)->setFocus();
        QTest::keyClick(Box(C::ScopeBasic), Qt::Key_Return);
        QVERIFY(m_boxes.empty());
        QVERIFY(Box(C::ScopeBasic)->isChecked());
    }

    void escapeAndSystemCloseNeverClose() {
        ShowAndActivate();
        QTest::keyClick(Edit(C::IdEdit), Qt::Key_Escape);
        QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
        m_dlg->reject();
        QVERIFY(!m_dlg->close());
        QVERIFY(m_dlg->isVisible());
        QVERIFY(m_boxes.empty());
    }

    void closeButtonAsksFirst() {
        ShowAndActivate();
        auto* close = Get<QAbstractButton>(C::CloseButton);
        m_answers = {false};
        close->click();
        QCOMPARE(m_boxes.size(), size_t(1));
        QCOMPARE(m_boxes[0].kind, ModalBox::kYesNo);
        QCOMPARE(m_boxes[0].text, QStringLiteral("Kelbo Skiv Addon을 종료 하시겠습니까?"));
        QCOMPARE(m_boxes[0].caption, QStringLiteral("Kelbo Skiv Addon 종료"));
        QVERIFY(m_boxes[0].questionIcon);
        QVERIFY(m_dlg->isVisible());
        QVERIFY(!m_dlg->CloseConfirmed());

        m_answers = {true};
        close->click();
        QVERIFY(m_dlg->CloseConfirmed());
        QVERIFY(!m_dlg->isVisible());
        QCOMPARE(m_dlg->result(), int(QDialog::Accepted));
    }

    void topBandDragsTheWindow() {
        ShowAndActivate();
        QCOMPARE(DragFrom(QPoint(10, 39)), QPoint(25, 15));
        QCOMPARE(DragFrom(QPoint(10, 40)), QPoint(0, 0));
        QCOMPARE(DragFrom(QPoint(0, 20)), QPoint(0, 0));
        QCOMPARE(DragFrom(QPoint(1, 0)), QPoint(25, 15));
    }

    void progressIgnoresValuesOutOfRange() {
        auto* bar = Get<QProgressBar>(C::Progress);
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 100);
        m_dlg->SetProgress(40);
        m_dlg->SetProgress(101);
        m_dlg->SetProgress(-1);
        QCOMPARE(bar->value(), 40);
        m_dlg->SetProgress(100);
        QCOMPARE(bar->value(), 100);
        m_dlg->SetProgress(0);
        QCOMPARE(bar->value(), 0);
    }

    void repeatedProgressFromAWorkerDoesNotWaitForTheWindow() {
        auto* bar = Get<QProgressBar>(C::Progress);
        std::atomic<int> stage{0};
        std::thread worker([&] {
            m_dlg->SetProgress(30);  // a new position: carried over, served below
            stage = 1;
            // Transfers report the same position again and again; the GUI
            // thread serves no events now, so these must not need it.
            for (int i = 0; i < 1000; ++i)
                m_dlg->SetProgress(30);
            stage = 2;
        });
        QTRY_VERIFY_WITH_TIMEOUT(stage.load() >= 1, 20000);
        for (int i = 0; i < 2000 && stage.load() != 2; ++i)
            QThread::msleep(10);
        const int reached = stage.load();
        QTRY_COMPARE(stage.load(), 2);  // let a blocked worker finish either way
        worker.join();
        QCOMPARE(reached, 2);
        QCOMPARE(bar->value(), 30);
    }

    void checkBoxPairsStayOneChecked() {
        ShowAndActivate();
        QTest::mouseClick(Box(C::ScopeWithCacheFonts), Qt::LeftButton, {}, QPoint(7, 7));
        QVERIFY(Box(C::ScopeWithCacheFonts)->isChecked());
        QVERIFY(!Box(C::ScopeBasic)->isChecked());
        QVERIFY(m_dlg->GetTaskOptions().saveScope == skiv::SaveScope::WithCacheAndFonts);
        QTest::mouseClick(Box(C::ScopeWithCacheFonts), Qt::LeftButton, {}, QPoint(7, 7));
        QVERIFY(Box(C::ScopeBasic)->isChecked());
        QTest::mouseClick(Box(C::RollBackRestore), Qt::LeftButton, {}, QPoint(7, 7));
        QVERIFY(!Box(C::RollBackRestore)->isChecked());
        QVERIFY(Box(C::RollBackDeleteOnly)->isChecked());
        // The install options are on their own.
        QTest::mouseClick(Box(C::LaunchAfterInstall), Qt::LeftButton, {}, QPoint(7, 7));
        QVERIFY(Box(C::LaunchAfterInstall)->isChecked());
        QVERIFY(Box(C::ScopeBasic)->isChecked() && Box(C::RollBackDeleteOnly)->isChecked());
        const skiv::TaskOptions options = m_dlg->GetTaskOptions();
        QVERIFY(options.launchAfterInstall && !options.installIntoFolder);
        QVERIFY(options.saveScope == skiv::SaveScope::Basic);
        QVERIFY(options.rollBack == skiv::RollBackChoice::DeleteOnly);
    }

    void workerCallsReachTheWidgetsAndBlock() {
        ShowAndActivate();
        Edit(C::IdEdit)->setText(QStringLiteral("이순신"));
        Edit(C::PasswordEdit)->setText(QStringLiteral("pw"));
        std::atomic<bool> done{false};
        std::string id, password;
        skiv::TaskOptions options;
        Box(C::InstallIntoFolder)->setChecked(true);
        std::optional<std::string> folder;
        skiv::app::SetFolderHook([](const QString& initial) -> std::optional<QString> {
            return initial + QStringLiteral("chosen");
        });
        std::thread worker([&] {
            m_dlg->SetProgress(55);
            id = m_dlg->GetIdText();
            password = m_dlg->GetPasswordText();
            options = m_dlg->GetTaskOptions();
            m_dlg->ShowMessage("애드온이 모두 저장되었습니다");
            folder = m_dlg->ChooseFolder("/tmp/");
            m_dlg->ShowMemberInfo(true, 3, "2024-01-01");
            m_dlg->SetViewMode(skiv::ViewMode::LoggedInWithData);
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 20000);
        worker.join();
        skiv::app::SetFolderHook(nullptr);
        QCOMPARE(Get<QProgressBar>(C::Progress)->value(), 55);
        QCOMPARE(id, std::string("이순신"));
        QCOMPARE(password, std::string("pw"));
        QVERIFY(options.installIntoFolder);
        QCOMPARE(m_boxes.size(), size_t(1));
        QCOMPARE(m_boxes[0].owner, nullptr);  // a worker's box has no owner
        QCOMPARE(m_boxes[0].text, QStringLiteral("애드온이 모두 저장되었습니다"));
        QCOMPARE(folder, std::optional<std::string>("/tmp/chosen/"));
        QCOMPARE(Text(C::SizeValue), QStringLiteral("3MB"));
        QCOMPARE(int(m_dlg->ViewMode()), 2);
    }

    void paintsTheBackgroundOfTheMode() {
        const QImage loggedOut = m_dlg->grab().toImage();
        m_dlg->SetViewMode(skiv::ViewMode::LoggedInNoData);
        const QImage loggedIn = m_dlg->grab().toImage();
        // The login labels are part of the logged-out background only.
        QVERIFY(loggedOut.copy(14, 100, 34, 44) != loggedIn.copy(14, 100, 34, 44));
        // The logo sits at (45, 55) on both.
        QCOMPARE(loggedOut.copy(45, 55, 158, 31), loggedIn.copy(45, 55, 158, 31));
    }
};

SKIV_APP_TEST(MainWindowTest);
#include "main_window_test.moc"
