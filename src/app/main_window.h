#pragma once
// MainWindow: the main window. A frameless, skinned 404 x 436 window with
// rounded corners, dragged by its top band, holding the login fields, the
// three task buttons with their option boxes, the progress bar, the member
// panel and the registration link. Where each control sits, its texts and
// colours, and what each view mode shows come from
// ui_layout/main_window_layout.h; each widget carries its control's name
// there as its object name.
//
// The window owns the task options: each pair of option boxes stays
// one-checked, the boxes start at their defaults, and GetTaskOptions reads
// them for the controller.
//
// Ownership: the window owns the operation log and the controller (which
// owns the session and the worker thread) for its whole life; the skin is
// borrowed and must outlive the window.
//
// Threads: the window lives on the GUI thread. It implements WindowOps for
// the controller; a call from a worker thread is carried to the GUI thread
// (OnGuiThread), so the worker waits until the widgets have been updated or
// the box it raised has been dismissed. Whoever waits for the worker on the
// GUI thread must keep the event loop turning (WaitForRunningTask) or a
// worker blocked in such a call would deadlock.
//
// The window closes only through its close button and a confirmation;
// Escape and the system close are ignored. Closing waits for a running task.

#include <QDialog>
#include <array>
#include <atomic>
#include <memory>
#include <string>

#include "ui_layout/main_window_layout.h"
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
    using Control = ui::main_window::Control;

    // Sets up the log in logFolder and the controller for config, builds
    // the controls and runs the window's initialisation.
    MainWindow(const Skin& skin, ServiceConfig config, const std::string& logFolder,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    skiv::Controller& Controller() { return *m_controller; }
    OperationLog& Log() { return m_log; }
    skiv::ViewMode ViewMode() const { return m_viewMode; }
    bool CloseConfirmed() const { return m_closeConfirmed; }

    // A press at this client point drags the window.
    static bool IsDragPoint(QPoint client);
    // The visible region of a window of this client size: rounded corners.
    static QRegion WindowShape(QSize client);
    // Width units of an ID for the member line: bytes in the Korean ANSI
    // code page, 1 per ASCII character and 2 per other character.
    static int IdTextUnits(const QString& id);

    // Blocks until no task runs, serving events meanwhile; then joins.
    void WaitForRunningTask();

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
    std::optional<std::size_t> ChooseFlavor(const std::vector<FlavorChoice>& choices,
                                            std::size_t preselected) override;
    void StartProgramIn(std::string_view file, std::string_view workFolder,
                        std::string_view winePrefix) override;

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
    SkinButton* MakeButton(Control control);
    QLineEdit* MakeEdit(Control control, ui::Rect rect);
    QCheckBox* MakeCheck(Control control);
    QLabel* MakeLabel(Control control);
    QLabel* MakeSeparator(Control control, ui::Rect rect);
    // Names the widget after its control, routes its keys through the
    // window and records it for WidgetOf.
    void Adopt(QWidget* widget, Control control);
    QWidget* WidgetOf(Control control) const;
    void KeepPairOneChecked(QCheckBox* clicked, QCheckBox* partner);

    void Initialize();
    void ArrangeControls();
    void PutOutOfSight(QWidget* control);
    // Enter and Escape before they reach a control; true when swallowed.
    bool FilterKey(QKeyEvent* key);
    void CloseAfterConfirmation();
    void RunCommand(void (skiv::Controller::*command)());
    // The versions link: lists the stored versions in a VersionsBox and
    // installs the one chosen.
    void ChooseVersion();

    const Skin& m_skin;
    OperationLog m_log;
    std::unique_ptr<skiv::Controller> m_controller;

    SkinButton* m_closeButton = nullptr;
    SkinButton* m_minimizeButton = nullptr;
    SkinButton* m_loginButton = nullptr;
    SkinButton* m_installButton = nullptr;
    SkinButton* m_saveButton = nullptr;
    SkinButton* m_rollBackButton = nullptr;
    QLineEdit* m_idEdit = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
    QCheckBox* m_launchAfterInstall = nullptr;
    QCheckBox* m_installIntoFolder = nullptr;
    QCheckBox* m_scopeBasic = nullptr;
    QCheckBox* m_scopeWithCacheFonts = nullptr;
    QCheckBox* m_rollBackRestore = nullptr;
    QCheckBox* m_rollBackDeleteOnly = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_version = nullptr;
    LinkLabel* m_registerLink = nullptr;
    QLabel* m_loginSeparator = nullptr;
    QLabel* m_panelSeparator = nullptr;
    // The member panel.
    QLabel* m_dateLabel = nullptr;
    QLabel* m_dateValue = nullptr;
    QLabel* m_sizeLabel = nullptr;
    QLabel* m_sizeValue = nullptr;
    QLabel* m_noData = nullptr;
    QLabel* m_memberId = nullptr;
    QLabel* m_memberIdLine = nullptr;
    QLabel* m_versionsLink = nullptr;  // shown when the service keeps versions
    // The version the next install fetches (0: the current one); set only
    // while ChooseVersion starts that install.
    std::atomic<int> m_installVersion{0};
    // The same widgets by control, for applying the layout's tables.
    std::array<QWidget*, std::size(ui::main_window::kControlNames)> m_byControl{};

    QPixmap m_backLoggedOut, m_backLoggedIn, m_logo;
    bool m_closeConfirmed = false;
    bool m_closing = false;
    skiv::ViewMode m_viewMode = skiv::ViewMode::LoggedOut;
    std::atomic<int> m_lastProgress{0};  // the bar's position, as last set
    bool m_dragging = false;
    QPoint m_dragOffset;
};

// The widget of a control, found by its object name: for tests and tools
// that drive the window as a user would. Null when there is none of type W.
template <typename W = QWidget>
W* FindControl(const MainWindow& window, MainWindow::Control control) {
    return window.findChild<W*>(QLatin1String(ui::main_window::NameOf(control)));
}

}  // namespace skiv::app
