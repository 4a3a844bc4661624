#pragma once
// MainWindow: the native main window. A frameless, skinned 404 x 436
// window with rounded corners, dragged by its top band, holding the login
// fields, the three task buttons with their option boxes, the progress
// bar, the member panel and the registration link. Where each control
// sits, its texts and colours, and what each view mode shows come from
// ui_layout/main_window_layout.h.
//
// Buttons and option boxes are owner-drawn child windows, the login fields
// are edit controls; the statics, the links, the separators and the progress
// bar are painted by the window itself. Geometry is kept in 96-DPI pixels
// and scaled to the window's DPI (per monitor); at 144 DPI and above the
// scale-2 skin is used.
//
// The window owns the task options: each pair of option boxes stays
// one-checked, the boxes start at their defaults, and GetTaskOptions reads
// them for the controller.
//
// Threads: the window lives on the thread that created it (the GUI
// thread). It implements WindowOps for the controller; a call from a worker
// is carried to the GUI thread with SendMessage, so the worker waits until
// the controls have been updated or the box it raised has been dismissed
// (sent messages are served inside modal loops too). Whoever waits for the
// worker on the GUI thread must keep serving messages (WaitForRunningTask).
//
// The window closes only through its close button and a confirmation;
// Escape and the system close are ignored. Closing waits for a running task.

#include <windows.h>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>

#include "ui_layout/main_window_layout.h"
#include "workspace/controller.h"

namespace skiv::win32 {

class Skin;

class MainWindow final : public WindowOps {
public:
    using Control = ui::main_window::Control;

    // Sets up the log in logFolder and the controller for config.
    MainWindow(ServiceConfig config, const std::string& logFolder);
    ~MainWindow() override;

    // Creates and shows the window; false when Windows refused.
    bool Create(int showCommand);
    // Serves messages until the window has been closed; the exit code.
    int Run();

    HWND Handle() const { return m_hwnd; }
    skiv::Controller& Controller() { return *m_controller; }

    // ---- for the test hooks (GUI thread) ----
    // Clicks a control by its layout name (or "versionsLink"); false for an
    // unknown name or a control that is disabled or out of sight.
    bool Click(std::string_view name);
    // Types text into the ID or password field.
    bool Type(std::string_view name, std::string_view text);
    // One line describing what the window shows now.
    std::string DescribeState() const;
    // Writes the window's client area as a 24-bit BMP.
    bool SaveScreenshot(const std::wstring& file);
    // Closes without asking, once no task runs (a script's end).
    void ForceClose();
    // Any thread but the GUI thread: presses and releases a key in the
    // control that has the focus, through the message loop as typing
    // would, and returns once the window has handled it.
    void PressKey(UINT virtualKey);

    // Runs f on the GUI thread and returns its result; the caller waits.
    template <typename F>
    auto OnGuiThread(F&& f) {
        using R = std::invoke_result_t<F&>;
        if (GetCurrentThreadId() == m_guiThread)
            return f();
        // A window already destroyed runs nothing: the caller gets R{}.
        if constexpr (std::is_void_v<R>) {
            std::function<void()> call = [&f] { f(); };
            SendMessageW(m_callTarget, kCallMessage, 0, reinterpret_cast<LPARAM>(&call));
        } else {
            R result{};
            std::function<void()> call = [&f, &result] { result = f(); };
            SendMessageW(m_callTarget, kCallMessage, 0, reinterpret_cast<LPARAM>(&call));
            return result;
        }
    }

    // Blocks until no task runs, serving messages meanwhile; then joins.
    void WaitForRunningTask();

    // ---- WindowOps (any thread) ----
    void ShowMessage(std::string_view text) override;
    bool AskYesNo(std::string_view text, std::string_view title, bool questionIcon) override;
    void ShowMemberInfo(bool hasData, int sizeUnits, std::string_view date) override;
    void SetViewMode(ViewMode mode) override;
    void SetProgress(int position) override;
    std::string GetIdText() override;
    std::string GetPasswordText() override;
    TaskOptions GetTaskOptions() override;
    std::optional<std::string> ChooseFolder(std::string_view initialFolder) override;
    void StartProgram(std::string_view file, std::string_view workFolder) override;
    // Offers the flavors one at a time in the skinned question box, the
    // last choice first; No to every one is a cancel.
    std::optional<std::size_t> ChooseFlavor(const std::vector<FlavorChoice>& choices,
                                            std::size_t preselected) override;

private:
    static constexpr UINT kCallMessage = WM_APP + 1;
    static constexpr int kFirstId = 100;  // control ids: kFirstId + Control

    enum class Kind { Button, Check, Edit, Label, Link, Separator, Progress };
    struct Item {
        Kind kind = Kind::Label;
        RECT rect{};  // 96-DPI pixels
        bool visible = true, enabled = true;
        std::wstring text;
        bool bold = false;
        COLORREF colour = 0;
        HWND hwnd = nullptr;  // buttons, boxes and edits
        bool checked = false, hover = false;
    };

    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK ChildProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                      DWORD_PTR data);
    LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);

    Item& ItemOf(Control control) { return m_items[static_cast<size_t>(control)]; }
    const Item& ItemOf(Control control) const { return m_items[static_cast<size_t>(control)]; }
    int Px(int v) const { return MulDiv(v, static_cast<int>(m_dpi), 96); }
    RECT Scaled(const RECT& r) const { return {Px(r.left), Px(r.top), Px(r.right), Px(r.bottom)}; }

    void SetUpItems();
    void CreateChildren();
    void ApplyDpi(UINT dpi);
    void MakeFonts();
    void PlaceChild(const Item& item) const;
    void ArrangeControls();
    void Paint(HDC dc) const;
    void DrawItem(const DRAWITEMSTRUCT& draw);
    RECT LinkRect() const;  // 96-DPI pixels, sized to the text
    void OnCommand(int id);
    void OnEnter();
    void CloseAfterConfirmation();
    void RunCommand(void (skiv::Controller::*command)());
    // The versions link: lists the stored versions in the versions box and
    // installs the one chosen.
    void ChooseVersion();

    OperationLog m_log;
    std::unique_ptr<skiv::Controller> m_controller;
    HWND m_hwnd = nullptr;
    HWND m_callTarget = nullptr;  // m_hwnd as created; never changes after
    HWND m_tips = nullptr;
    DWORD m_guiThread = 0;
    UINT m_dpi = 96;
    std::unique_ptr<Skin> m_skin;
    HFONT m_textFont = nullptr, m_staticFont = nullptr, m_boldFont = nullptr, m_linkFont = nullptr;
    std::array<Item, std::size(ui::main_window::kControlNames)> m_items{};
    std::wstring m_registrationUrl;
    mutable SIZE m_linkSize{};  // the link's text at 96 DPI, measured on first use
    // The versions link, placed at layout::kVersionsLink: in sight in the
    // member panel of a service that keeps versions.
    bool m_versionsLinkShown = false;
    // The version the next install fetches (0: the current one); set only
    // while ChooseVersion starts that install.
    std::atomic<int> m_installVersion{0};
    bool m_closeConfirmed = false;
    bool m_closing = false;
    ViewMode m_viewMode = ViewMode::LoggedOut;
    int m_progress = 0;
    std::atomic<int> m_lastProgress{0};
};

}  // namespace skiv::win32
