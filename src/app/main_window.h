#pragma once
// MainWindow: the main window. A frameless, skinned 404 x 436 window with
// rounded corners, dragged by its top band, holding the login fields, the
// three task buttons with their option boxes, the progress bar, the member
// panel and the registration link.
//
// Ownership: the window owns the operation log and the controller (which
// owns the session and the worker thread) for its whole life; the skin is
// borrowed and must outlive the window.
//
// Threads: the window lives on the GUI thread. It implements WindowOps for
// the controller; a call from a worker thread is carried to the GUI thread
// with a blocking queued call, so the worker waits until the widgets have
// been updated or the box it raised has been dismissed. Whoever waits for
// the worker on the GUI thread must keep the event loop turning
// (WaitForWorkerAlive) or a worker blocked in such a call would deadlock.
//
// The window closes only through button 1000 and its confirmation; Escape
// and the system close are ignored. Closing waits for a running task.

#include <QDialog>
#include <atomic>
#include <map>
#include <memory>
#include <string>

#include "workspace/controller.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;

namespace skiv::app {

class LinkLabel;
class Skin;
class SkinButton;

class MainWindow final : public QDialog, public WindowOps {
public:
    enum Control : int {
        kBtnClose = 1000,
        kBtnMinimize = 1001,
        kBtnLogin = 1002,
        kBtnInstall = 1003,
        kBtnSave = 1004,
        kBtnRollBack = 1005,
        kCheckLaunch = 1006,
        kProgress = 1007,
        kCheckIntoFolder = 1008,
        kCheckScopeBasic = 1009,
        kCheckScopeFull = 1010,
        kCheckRollback = 1011,
        kCheckReset = 1012,
        kEditId = 1013,
        kEditPassword = 1014,
        kVersion = 1015,
        kLink = 1016,
        kSeparator = 1017,
        kPanelSeparator = 1018,
        kDateLabel = 1019,
        kSizeLabel = 1020,
        kDateValue = 1021,
        kSizeValue = 1022,
        kNoData = 1023,
        kIdValue = 1024,
        kIdLine = 1025,
    };
    static constexpr int kClientWidth = 404;
    static constexpr int kClientHeight = 436;

    // Sets up the log in logFolder and the controller for config, builds
    // the controls and runs the window's initialisation (the controller's
    // Initialize included).
    MainWindow(const Skin& skin, ServiceConfig config, const std::string& logFolder,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    CAddOnController& Controller() { return *m_controller; }
    COperationLog& Log() { return m_log; }
    // The control of a template ID; null for an unknown ID.
    QWidget* Control(int id) const;
    skiv::ViewMode ViewMode() const { return m_viewMode; }
    bool CloseConfirmed() const { return m_closeConfirmed; }

    // A press at this client point drags the window.
    static bool IsDragPoint(QPoint client) { return client.x() > 0 && client.y() < 40; }
    // The visible region of a window of this client size: rounded corners
    // made of 12 x 12 ellipses.
    static QRegion WindowShape(QSize client);
    // Width units of an ID for the member line: bytes in the Korean ANSI
    // code page, 1 per ASCII character and 2 per other character.
    static int IdTextUnits(const QString& id);

    // Blocks until no task runs, serving events meanwhile; then joins.
    void WaitForWorkerAlive();

    // ---- WindowOps (any thread) ----
    void ShowMessage(std::string_view text) override;
    bool AskYesNo(std::string_view text, std::string_view title, bool questionIcon) override;
    void ShowMemberInfo(bool hasData, int sizeUnits, std::string_view date) override;
    void SetViewMode(skiv::ViewMode mode) override;
    void SetProgress(int position) override;
    std::string GetIdText() override;
    std::string GetPasswordText() override;
    TaskOptions GetTaskOptions() override;
    std::optional<std::string> ChooseFolder(std::string_view initialFolder) override;
    void StartProgram(std::string_view file, std::string_view workFolder) override;

    void reject() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    void OnInitDialog();
    void ArrangeControls();
    void RemoveControl(QWidget* control);
    // Enter and Escape before they reach a control; true when swallowed.
    bool PreTranslateKey(QKeyEvent* key);
    void OnCloseButton();
    void RunCommand(void (CAddOnController::*command)());
    // Runs f on the GUI thread and returns its result.
    template <typename F>
    auto OnGuiThread(F&& f);

    const Skin& m_skin;
    COperationLog m_log;
    std::unique_ptr<CAddOnController> m_controller;

    std::map<int, QWidget*> m_controls;
    std::map<int, QCheckBox*> m_checks;
    SkinButton* m_buttons[6] = {};
    QLineEdit* m_editId = nullptr;
    QLineEdit* m_editPassword = nullptr;
    QProgressBar* m_progress = nullptr;
    LinkLabel* m_link = nullptr;
    std::map<int, QLabel*> m_statics;

    QPixmap m_backLoggedOut, m_backLoggedIn, m_logo;
    bool m_closeConfirmed = false;
    bool m_closing = false;
    skiv::ViewMode m_viewMode = skiv::ViewMode::LoggedOut;
    std::atomic<int> m_lastProgress{0};  // the bar's position, as last set
    bool m_dragging = false;
    QPoint m_dragOffset;
};

}  // namespace skiv::app
