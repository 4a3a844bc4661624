#include "app_win32/main_window.h"

#include <commctrl.h>

#include <cstdio>
#include <vector>

#include "app_win32/modal.h"
#include "app_win32/skin.h"
#include "app_win32/text.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace skiv::win32 {

namespace layout = ui::main_window;

namespace {

// A template rectangle (dialog units of the 7 x 14 base units) in 96-DPI
// pixels, edge by edge with rounding.
RECT Du(ui::Rect r) {
    using layout::kBaseUnitX, layout::kBaseUnitY;
    return {MulDiv(r.x, kBaseUnitX, 4), MulDiv(r.y, kBaseUnitY, 8),
            MulDiv(r.x + r.width, kBaseUnitX, 4), MulDiv(r.y + r.height, kBaseUnitY, 8)};
}

RECT Pixels(ui::Rect r) {
    return {r.x, r.y, r.x + r.width, r.y + r.height};
}

bool IsEmpty(const RECT& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

// Width units of an ID for the member line: bytes in the Korean ANSI code
// page, 1 per ASCII character and 2 per other character.
int IdTextUnits(const std::wstring& id) {
    int units = 0;
    for (size_t i = 0; i < id.size(); ++i) {
        if (id[i] >= 0xD800 && id[i] <= 0xDBFF && i + 1 < id.size())
            ++i;  // one character in two code units
        units += id[i] < 0x80 ? 1 : 2;
    }
    return units;
}

UINT DpiOf(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpi = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32"), "GetDpiForWindow")));
    if (getDpi && hwnd)
        if (UINT dpi = getDpi(hwnd))
            return dpi;
    HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(nullptr, dc);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

int CALLBACK NoteFontPresent(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM flag) {
    *reinterpret_cast<bool*>(flag) = true;
    return 0;
}

// The Hangul face: Malgun Gothic where Windows has it, else NanumGothic
// (Wine, older systems), else Gulim.
const wchar_t* HangulFace() {
    static const wchar_t* face = [] {
        HDC dc = GetDC(nullptr);
        const wchar_t* found = L"Gulim";
        for (const wchar_t* candidate : {L"Malgun Gothic", L"NanumGothic"}) {
            LOGFONTW want{};
            want.lfCharSet = DEFAULT_CHARSET;
            wcsncpy(want.lfFaceName, candidate, LF_FACESIZE - 1);
            bool present = false;
            EnumFontFamiliesExW(dc, &want, NoteFontPresent, reinterpret_cast<LPARAM>(&present), 0);
            if (present) {
                found = candidate;
                break;
            }
        }
        ReleaseDC(nullptr, dc);
        return found;
    }();
    return face;
}

HFONT MakeFont(int pixelHeight, bool bold, bool underline) {
    return CreateFontW(-pixelHeight, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, underline, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, HangulFace());
}

// The largest size up to 12 logical pixels whose line fits in 12 (a
// static's line), scaled by dpi.
HFONT MakeStaticFont(UINT dpi, bool bold, bool underline) {
    const int limit = MulDiv(12, static_cast<int>(dpi), 96);
    HDC dc = GetDC(nullptr);
    HFONT font = nullptr;
    for (int px = 12; px >= 9; --px) {
        if (font)
            DeleteObject(font);
        font = MakeFont(MulDiv(px, static_cast<int>(dpi), 96), bold, underline);
        HGDIOBJ old = SelectObject(dc, font);
        TEXTMETRICW tm{};
        GetTextMetricsW(dc, &tm);
        SelectObject(dc, old);
        if (tm.tmHeight <= limit)
            break;
    }
    ReleaseDC(nullptr, dc);
    return font;
}

int HalfFloor(int v) {
    return v >= 0 ? v / 2 : -((-v + 1) / 2);
}

constexpr const wchar_t* kClassName = L"SkivAddonMainWindow";

}  // namespace

MainWindow::MainWindow(ServiceConfig config, const std::string& logFolder) {
    m_log.SetFolder(logFolder);
    m_controller = std::make_unique<skiv::Controller>(*this, m_log, std::move(config));
    m_registrationUrl = Wide(m_controller->Config().RegistrationUrl());
    SetUpItems();
}

MainWindow::~MainWindow() {
    // The worker uses the session and may be blocked in a call to us.
    WaitForRunningTask();
    if (m_hwnd)
        DestroyWindow(m_hwnd);
    for (HFONT font : {m_textFont, m_staticFont, m_boldFont, m_linkFont})
        if (font)
            DeleteObject(font);
}

// ---- the controls ----

void MainWindow::SetUpItems() {
    for (const layout::ButtonSpec& spec : layout::kButtons) {
        Item& item = ItemOf(spec.control);
        item.kind = Kind::Button;
        item.rect = Du(spec.rect);
        item.text = Wide(spec.tip);
    }
    for (const layout::CheckSpec& spec : layout::kChecks) {
        Item& item = ItemOf(spec.control);
        item.kind = Kind::Check;
        item.rect = Du(spec.rect);
        item.checked = spec.checkedAtStart;
    }
    ItemOf(Control::IdEdit).kind = ItemOf(Control::PasswordEdit).kind = Kind::Edit;
    ItemOf(Control::IdEdit).rect = Du(layout::kIdEdit);
    ItemOf(Control::PasswordEdit).rect = Du(layout::kPasswordEdit);
    for (const layout::LabelSpec& spec : layout::kLabels) {
        Item& item = ItemOf(spec.control);
        item.kind = Kind::Label;
        item.rect = Du(spec.rect);
        item.text = Wide(spec.text);
        item.bold = spec.bold;
        item.colour = Colour(spec.colour);
    }
    Item& link = ItemOf(Control::RegisterLink);
    link.kind = Kind::Link;
    link.rect = Du(layout::kRegisterLink);
    link.text = Wide(layout::kRegisterLinkText);
    link.colour = Colour(layout::kRegisterLinkColour);
    // Separators: the image's size at the rectangle's top-left corner.
    for (auto [control, rect] : {std::pair{Control::LoginSeparator, layout::kLoginSeparator},
                                 std::pair{Control::PanelSeparator, layout::kPanelSeparator}}) {
        Item& item = ItemOf(control);
        item.kind = Kind::Separator;
        const RECT r = Du(rect);
        item.rect = {r.left, r.top, r.left + 4, r.top + 11};
    }
    ItemOf(Control::Progress).kind = Kind::Progress;
    ItemOf(Control::Progress).rect = Du(layout::kProgress);
}

void MainWindow::CreateChildren() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    // Creation order is keyboard order.
    for (Control control : layout::kTabOrder) {
        Item& item = ItemOf(control);
        const bool edit = item.kind == Kind::Edit;
        DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
        style |= edit ? (WS_BORDER | ES_AUTOHSCROLL |
                         (control == Control::PasswordEdit ? ES_PASSWORD : 0))
                      : BS_OWNERDRAW;
        item.hwnd = CreateWindowExW(
            0, edit ? L"EDIT" : L"BUTTON", L"", style, 0, 0, 0, 0, m_hwnd,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstId + static_cast<int>(control))),
            instance, nullptr);
        if (!edit)
            SetWindowSubclass(item.hwnd, ChildProc, 1, reinterpret_cast<DWORD_PTR>(this));
    }
    m_tips = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hwnd,
                             nullptr, instance, nullptr);
    for (const layout::ButtonSpec& spec : layout::kButtons) {
        TOOLINFOW tool{};
        tool.cbSize = sizeof(tool);
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = m_hwnd;
        tool.uId = reinterpret_cast<UINT_PTR>(ItemOf(spec.control).hwnd);
        tool.lpszText = ItemOf(spec.control).text.data();
        SendMessageW(m_tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    TOOLINFOW linkTool{};
    linkTool.cbSize = sizeof(linkTool);
    linkTool.uFlags = TTF_SUBCLASS;
    linkTool.hwnd = m_hwnd;
    linkTool.uId = 1;
    linkTool.lpszText = m_registrationUrl.data();
    SendMessageW(m_tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&linkTool));
}

bool MainWindow::Create(int showCommand) {
    m_guiThread = GetCurrentThreadId();
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kClassName;
    RegisterClassExW(&wc);

    const std::wstring title = Wide(layout::kTitle);
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const UINT dpi = DpiOf(nullptr);
    const int w = MulDiv(layout::kClientWidth, static_cast<int>(dpi), 96);
    const int h = MulDiv(layout::kClientHeight, static_cast<int>(dpi), 96);
    m_hwnd = CreateWindowExW(WS_EX_APPWINDOW, kClassName, title.c_str(),
                             WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN,
                             work.left + (work.right - work.left - w) / 2,
                             work.top + (work.bottom - work.top - h) / 2, w, h, nullptr, nullptr,
                             wc.hInstance, this);
    if (!m_hwnd)
        return false;
    m_callTarget = m_hwnd;
    CreateChildren();
    ApplyDpi(DpiOf(m_hwnd));
    ArrangeControls();
    ShowWindow(m_hwnd, showCommand);
    UpdateWindow(m_hwnd);
    SetFocus(ItemOf(Control::IdEdit).hwnd);
    return true;
}

int MainWindow::Run() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (m_hwnd && IsDialogMessageW(m_hwnd, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

void MainWindow::MakeFonts() {
    for (HFONT* font : {&m_textFont, &m_staticFont, &m_boldFont, &m_linkFont})
        if (*font)
            DeleteObject(*font);
    m_textFont = MakeFont(Px(12), false, false);
    m_staticFont = MakeStaticFont(m_dpi, false, false);
    m_boldFont = MakeStaticFont(m_dpi, true, false);
    m_linkFont = MakeStaticFont(m_dpi, true, true);
}

void MainWindow::ApplyDpi(UINT dpi) {
    m_dpi = dpi ? dpi : 96;
    const int scale = m_dpi >= 144 ? 2 : 1;
    if (!m_skin || m_skin->Scale() != scale)
        m_skin = std::make_unique<Skin>(scale);
    MakeFonts();
    SendMessageW(m_hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_skin->AppIcon()));
    SendMessageW(m_hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_skin->AppIcon()));
    const int w = Px(layout::kClientWidth), h = Px(layout::kClientHeight);
    SetWindowPos(m_hwnd, nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    const int corner = 2 * Px(layout::kCornerRadius);
    SetWindowRgn(m_hwnd, CreateRoundRectRgn(0, 0, w + 1, h + 1, corner, corner), TRUE);
    for (Item& item : m_items) {
        if (!item.hwnd)
            continue;
        SendMessageW(item.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(m_textFont), FALSE);
        if (item.kind == Kind::Edit)
            SendMessageW(item.hwnd, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN,
                         MAKELPARAM(Px(layout::kEditTextMargin), Px(layout::kEditTextMargin)));
        PlaceChild(item);
    }
    InvalidateRect(m_hwnd, nullptr, FALSE);
}

void MainWindow::PlaceChild(const Item& item) const {
    if (!item.hwnd)
        return;
    const RECT r = Scaled(item.rect);
    SetWindowPos(item.hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(item.hwnd, item.visible ? SW_SHOWNA : SW_HIDE);
    EnableWindow(item.hwnd, item.enabled);
}

RECT MainWindow::LinkRect() const {
    const Item& link = ItemOf(Control::RegisterLink);
    if (IsEmpty(link.rect))
        return link.rect;
    if (m_linkSize.cx == 0) {
        // Measured once at 96 DPI, so the rectangle stays in layout pixels.
        HDC dc = GetDC(nullptr);
        HFONT font = MakeStaticFont(96, true, true);
        HGDIOBJ old = SelectObject(dc, font);
        GetTextExtentPoint32W(dc, link.text.c_str(), static_cast<int>(link.text.size()),
                              &m_linkSize);
        SelectObject(dc, old);
        DeleteObject(font);
        ReleaseDC(nullptr, dc);
    }
    return {link.rect.left, link.rect.top, link.rect.left + m_linkSize.cx,
            link.rect.top + m_linkSize.cy};
}

// ---- view modes ----

void MainWindow::ArrangeControls() {
    const auto mode = static_cast<size_t>(m_viewMode);
    if (mode >= std::size(layout::kViewLayouts))
        return;
    const layout::ViewLayout& view = layout::kViewLayouts[mode];
    const RECT outOfSight{layout::kClientWidth, layout::kClientHeight, layout::kClientWidth,
                          layout::kClientHeight};
    for (Control control : view.removed) {
        Item& item = ItemOf(control);
        if (view.disableRemoved)
            item.enabled = false;
        item.rect = outOfSight;
    }
    for (const layout::Placement& line : view.placed)
        ItemOf(line.control).rect = Pixels(line.rect);
    for (Control control : view.shown)
        ItemOf(control).visible = true;
    for (Control control : view.hidden)
        ItemOf(control).visible = false;
    if (view.memberIdLines) {
        Item& id = ItemOf(Control::MemberId);
        id.rect = Pixels(layout::kMemberId);
        const int shift = layout::kIdUnitWidth * IdTextUnits(id.text);
        RECT line = id.rect;
        OffsetRect(&line, shift, 0);
        ItemOf(Control::MemberIdLine).rect = line;
    }
    m_versionsLinkShown =
        m_viewMode != ViewMode::LoggedOut && !m_controller->Session().deltaBase.empty();
    for (const Item& item : m_items)
        PlaceChild(item);
    if (m_tips) {
        TOOLINFOW tool{};
        tool.cbSize = sizeof(tool);
        tool.hwnd = m_hwnd;
        tool.uId = 1;
        tool.rect = Scaled(LinkRect());
        SendMessageW(m_tips, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    InvalidateRect(m_hwnd, nullptr, FALSE);
}

// ---- painting ----

void MainWindow::Paint(HDC dc) const {
    RECT client;
    GetClientRect(m_hwnd, &client);
    FillRectColour(dc, client, RGB(255, 255, 255));
    const int scale = m_skin->Scale();
    auto draw = [&](int id, int x, int y) {
        const Picture& picture = m_skin->Image(id);
        Skin::Draw(dc, picture, Px(x), Px(y), Px(picture.width / scale),
                   Px(picture.height / scale));
    };
    draw(m_viewMode != ViewMode::LoggedOut ? ui::kBmpBackLoggedIn : ui::kBmpBackLoggedOut, 0, 0);
    draw(ui::kBmpLogo, layout::kLogoX, layout::kLogoY);

    SetBkMode(dc, TRANSPARENT);
    for (const Item& item : m_items) {
        if (!item.visible || IsEmpty(item.rect))
            continue;
        RECT r = Scaled(item.rect);
        switch (item.kind) {
            case Kind::Separator:
                draw(ui::kBmpSeparator, item.rect.left, item.rect.top);
                break;
            case Kind::Label: {
                HGDIOBJ old = SelectObject(dc, item.bold ? m_boldFont : m_staticFont);
                SetTextColor(dc, item.colour);
                DrawTextW(dc, item.text.c_str(), static_cast<int>(item.text.size()), &r,
                          DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
                SelectObject(dc, old);
                break;
            }
            case Kind::Link: {
                r = Scaled(LinkRect());
                HGDIOBJ old = SelectObject(dc, m_linkFont);
                SetTextColor(dc, item.colour);
                DrawTextW(dc, item.text.c_str(), static_cast<int>(item.text.size()), &r,
                          DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
                SelectObject(dc, old);
                break;
            }
            case Kind::Progress: {
                FillRectColour(dc, r, Colour(layout::kProgressTrough));
                RECT chunk = r;
                chunk.right = r.left + MulDiv(r.right - r.left, m_progress, 100);
                if (!IsEmpty(chunk))
                    FillRectColour(dc, chunk, Colour(layout::kProgressChunk));
                break;
            }
            default:
                break;
        }
    }
    if (m_versionsLinkShown) {
        RECT r = Scaled(Pixels(layout::kVersionsLink));
        HGDIOBJ old = SelectObject(dc, m_linkFont);
        SetTextColor(dc, Colour(layout::kRegisterLinkColour));
        const std::wstring text = Wide(layout::kVersionsLinkText);
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
                  DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
        SelectObject(dc, old);
    }
}

void MainWindow::DrawItem(const DRAWITEMSTRUCT& draw) {
    const int index = static_cast<int>(draw.CtlID) - kFirstId;
    if (index < 0 || index >= static_cast<int>(m_items.size()))
        return;
    const auto control = static_cast<Control>(index);
    const Item& item = m_items[static_cast<size_t>(index)];
    HDC dc = draw.hDC;
    const RECT r = draw.rcItem;
    if (item.kind == Kind::Check) {
        // The box of the classic check box, on the stone's face colour.
        FillRectColour(dc, r, Colour(layout::kButtonFace));
        RECT box = r;
        DrawFrameControl(dc, &box, DFC_BUTTON,
                         DFCS_BUTTONCHECK | (item.checked ? DFCS_CHECKED : 0) |
                             (item.enabled ? 0 : DFCS_INACTIVE));
        if (draw.itemState & ODS_FOCUS)
            DrawFocusRect(dc, &r);
        return;
    }
    const layout::ButtonSpec& spec = layout::SpecOf(layout::kButtons, control);
    const bool pressed = draw.itemState & ODS_SELECTED;
    FillRectColour(dc, r, Colour(layout::kButtonFace));
    if (pressed || item.hover) {
        const COLORREF light = Colour(layout::kButtonLightEdge),
                       dark = Colour(layout::kButtonDarkEdge);
        const COLORREF tl = pressed ? dark : light, br = pressed ? light : dark;
        FillRectColour(dc, {r.left, r.top, r.right, r.top + 1}, tl);
        FillRectColour(dc, {r.left, r.top, r.left + 1, r.bottom}, tl);
        FillRectColour(dc, {r.left, r.bottom - 1, r.right, r.bottom}, br);
        FillRectColour(dc, {r.right - 1, r.top, r.right, r.bottom}, br);
    }
    const bool lit = item.hover || pressed;
    const Picture* picture = &m_skin->Image(spec.hoverImage);
    if (!lit && m_skin->Image(spec.normalImage).bitmap)
        picture = &m_skin->Image(spec.normalImage);
    if (!picture->bitmap)
        return;
    // The picture's logical size rounded down to even, centred.
    const int scale = m_skin->Scale();
    const int w = Px(2 * (picture->width / scale / 2)), h = Px(2 * (picture->height / scale / 2));
    Skin::Draw(dc, *picture, r.left + HalfFloor(r.right - r.left - w),
               r.top + HalfFloor(r.bottom - r.top - h), w, h);
}

// ---- messages ----

LRESULT CALLBACK MainWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->m_hwnd = hwnd;
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(hwnd, msg, wp, lp);
    return self->Handle(msg, wp, lp);
}

LRESULT CALLBACK MainWindow::ChildProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                       DWORD_PTR data) {
    auto* self = reinterpret_cast<MainWindow*>(data);
    const int index = GetDlgCtrlID(hwnd) - kFirstId;
    Item& item = self->m_items[static_cast<size_t>(index)];
    switch (msg) {
        case WM_MOUSEMOVE:
            if (!item.hover) {
                item.hover = true;
                TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, hwnd, 0};
                TrackMouseEvent(&track);
                InvalidateRect(hwnd, nullptr, FALSE);
            }
            break;
        case WM_MOUSELEAVE:
            item.hover = false;
            InvalidateRect(hwnd, nullptr, FALSE);
            break;
        case WM_SETCURSOR:
            if (item.kind == Kind::Button && self->m_skin->HandCursor()) {
                SetCursor(self->m_skin->HandCursor());
                return TRUE;
            }
            break;
        case WM_ERASEBKGND:
            return 1;
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

LRESULT MainWindow::Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case kCallMessage:
            (*reinterpret_cast<std::function<void()>*>(lp))();
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(m_hwnd, &ps);
            RECT client;
            GetClientRect(m_hwnd, &client);
            // Painted off screen first: the stone would flicker otherwise.
            HDC memory = CreateCompatibleDC(dc);
            HBITMAP canvas = CreateCompatibleBitmap(dc, client.right, client.bottom);
            HGDIOBJ old = SelectObject(memory, canvas);
            Paint(memory);
            BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
            SelectObject(memory, old);
            DeleteObject(canvas);
            DeleteDC(memory);
            EndPaint(m_hwnd, &ps);
            return 0;
        }
        case WM_DRAWITEM:
            DrawItem(*reinterpret_cast<DRAWITEMSTRUCT*>(lp));
            return TRUE;
        case WM_NCHITTEST: {
            // A press in the top band (right of the left edge) drags the window.
            POINT pt{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
            ScreenToClient(m_hwnd, &pt);
            if (pt.x > 0 && pt.y >= 0 && pt.y < Px(layout::kDragBandHeight))
                return HTCAPTION;
            return HTCLIENT;
        }
        case WM_SETCURSOR: {
            POINT pt;
            GetCursorPos(&pt);
            ScreenToClient(m_hwnd, &pt);
            const RECT link = Scaled(LinkRect());
            const RECT versions = Scaled(Pixels(layout::kVersionsLink));
            if (((ItemOf(Control::RegisterLink).visible && PtInRect(&link, pt)) ||
                 (m_versionsLinkShown && PtInRect(&versions, pt))) &&
                m_skin->HandCursor()) {
                SetCursor(m_skin->HandCursor());
                return TRUE;
            }
            break;
        }
        case WM_LBUTTONUP: {
            POINT pt{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
            const RECT link = Scaled(LinkRect());
            const RECT versions = Scaled(Pixels(layout::kVersionsLink));
            if (ItemOf(Control::RegisterLink).visible && PtInRect(&link, pt))
                OpenInShell(m_registrationUrl, L"");
            else if (m_versionsLinkShown && PtInRect(&versions, pt))
                ChooseVersion();
            return 0;
        }
        case WM_COMMAND:
            if (HIWORD(wp) == BN_CLICKED || HIWORD(wp) == 0)
                OnCommand(LOWORD(wp));
            return 0;
        case WM_DPICHANGED: {
            const auto* suggested = reinterpret_cast<const RECT*>(lp);
            SetWindowPos(m_hwnd, nullptr, suggested->left, suggested->top, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            ApplyDpi(LOWORD(wp));
            ArrangeControls();
            return 0;
        }
        case WM_CLOSE:
            // Only the close button's confirmation closes the window.
            if (m_closeConfirmed)
                DestroyWindow(m_hwnd);
            return 0;
        case WM_DESTROY:
            m_hwnd = nullptr;
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(m_hwnd, msg, wp, lp);
}

void MainWindow::OnCommand(int id) {
    if (id == IDOK) {
        OnEnter();
        return;
    }
    if (id == IDCANCEL)  // Escape
        return;
    const int index = id - kFirstId;
    if (index < 0 || index >= static_cast<int>(m_items.size()))
        return;
    const auto control = static_cast<Control>(index);
    Item& item = ItemOf(control);
    if (item.kind == Kind::Check) {
        if (m_closing)
            return;
        item.checked = !item.checked;
        InvalidateRect(item.hwnd, nullptr, FALSE);
        // A click leaves the partner checked exactly when the clicked box is
        // now unchecked.
        for (const layout::OptionPair& pair : layout::kOptionPairs) {
            const Control partner = pair.first == control    ? pair.second
                                    : pair.second == control ? pair.first
                                                             : control;
            if (partner == control)
                continue;
            ItemOf(partner).checked = !item.checked;
            InvalidateRect(ItemOf(partner).hwnd, nullptr, FALSE);
        }
        return;
    }
    switch (control) {
        case Control::CloseButton:
            CloseAfterConfirmation();
            break;
        case Control::MinimizeButton:
            ShowWindow(m_hwnd, SW_MINIMIZE);
            break;
        case Control::LoginButton:
            RunCommand(&skiv::Controller::Login);
            break;
        case Control::InstallButton:
            RunCommand(&skiv::Controller::InstallSet);
            break;
        case Control::SaveButton:
            RunCommand(&skiv::Controller::SaveSet);
            break;
        case Control::RollBackButton:
            RunCommand(&skiv::Controller::RollBack);
            break;
        default:
            break;
    }
}

// Enter in the ID field moves to the password; elsewhere it logs in from
// the password field or while logged out, and does nothing otherwise.
void MainWindow::OnEnter() {
    HWND focus = GetFocus();
    if (focus == ItemOf(Control::IdEdit).hwnd) {
        SetFocus(ItemOf(Control::PasswordEdit).hwnd);
        return;
    }
    if (focus == ItemOf(Control::PasswordEdit).hwnd || m_viewMode == ViewMode::LoggedOut)
        RunCommand(&skiv::Controller::Login);
}

void MainWindow::CloseAfterConfirmation() {
    if (m_closing)
        return;
    if (!RunBox(m_hwnd, BoxKind::YesNo, Wide(layout::kCloseQuestion), Wide(layout::kCloseCaption),
                true, m_textFont, m_dpi))
        return;
    m_closeConfirmed = true;
    m_closing = true;
    WaitForRunningTask();
    DestroyWindow(m_hwnd);
}

void MainWindow::ForceClose() {
    m_closeConfirmed = true;
    m_closing = true;
    WaitForRunningTask();
    if (m_hwnd)
        DestroyWindow(m_hwnd);
}

void MainWindow::PressKey(UINT virtualKey) {
    HWND focus = OnGuiThread([] { return GetFocus(); });
    PostMessageW(focus ? focus : m_callTarget, WM_KEYDOWN, virtualKey, 1);
    PostMessageW(focus ? focus : m_callTarget, WM_KEYUP, virtualKey, 0xC0000001);
    // Posted messages are handled in order: once this one has run, so
    // have the key's.
    HANDLE handled = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::function<void()> signal = [handled] { SetEvent(handled); };
    // A window destroyed meanwhile drops the message unrun.
    if (PostMessageW(m_callTarget, kCallMessage, 0, reinterpret_cast<LPARAM>(&signal)))
        while (WaitForSingleObject(handled, 100) == WAIT_TIMEOUT && IsWindow(m_callTarget)) {
        }
    CloseHandle(handled);
}

void MainWindow::WaitForRunningTask() {
    while (m_controller->IsBusy()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        bool quit = false;
        int quitCode = 0;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                quitCode = static_cast<int>(msg.wParam);
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (quit)
            PostQuitMessage(quitCode);
    }
    m_controller->WaitForWorker();
}

void MainWindow::RunCommand(void (skiv::Controller::*command)()) {
    if (m_closing)
        return;
    (m_controller.get()->*command)();
}

void MainWindow::ChooseVersion() {
    if (m_closing || m_controller->IsBusy())
        return;
    std::vector<VersionInfo> versions;
    if (ResultCode r = m_controller->ListVersions(versions); r != ResultCode::Ok) {
        ShowMessage(layout::kVersionsListFailed + std::to_string(Number(r)) + ")");
        return;
    }
    std::vector<std::wstring> lines;
    std::vector<int> numbers;
    for (const VersionInfo& v : versions) {
        lines.push_back(Wide(VersionLine(v)));
        numbers.push_back(v.number);
    }
    const int chosen = RunVersionsBox(m_hwnd, *m_skin, {m_staticFont, m_boldFont, m_linkFont},
                                      m_dpi, lines, numbers);
    if (chosen <= 0)
        return;
    m_installVersion.store(chosen);
    RunCommand(&skiv::Controller::InstallSet);
    m_installVersion.store(0);
}

// ---- test hooks ----

bool MainWindow::Click(std::string_view name) {
    if (name == "versionsLink") {
        if (!m_versionsLinkShown)
            return false;
        ChooseVersion();
        return true;
    }
    for (size_t i = 0; i < m_items.size(); ++i) {
        if (name != layout::kControlNames[i])
            continue;
        const Item& item = m_items[i];
        if (item.kind == Kind::Link) {
            if (!item.visible || IsEmpty(item.rect))
                return false;
            OpenInShell(m_registrationUrl, L"");
            return true;
        }
        if (!item.hwnd || !IsWindowEnabled(item.hwnd) || !IsWindowVisible(item.hwnd) ||
            IsEmpty(item.rect))
            return false;
        // As a mouse click arrives: through the button itself.
        SendMessageW(item.hwnd, BM_CLICK, 0, 0);
        return true;
    }
    return false;
}

bool MainWindow::Type(std::string_view name, std::string_view text) {
    for (Control control : {Control::IdEdit, Control::PasswordEdit}) {
        if (name != layout::NameOf(control))
            continue;
        const Item& item = ItemOf(control);
        if (!IsWindowEnabled(item.hwnd))
            return false;
        SetWindowTextW(item.hwnd, Wide(text).c_str());
        return true;
    }
    return false;
}

std::string MainWindow::DescribeState() const {
    std::string out = "mode=" + std::to_string(static_cast<int>(m_viewMode)) +
                      " progress=" + std::to_string(m_progress) + " dpi=" + std::to_string(m_dpi) +
                      " skin=" + std::to_string(m_skin ? m_skin->Scale() : 0) + " font=\"" +
                      Utf8(HangulFace()) + "\" checked=";
    std::string shown, texts;
    bool firstChecked = true;
    for (size_t i = 0; i < m_items.size(); ++i) {
        const Item& item = m_items[i];
        const std::string name = layout::kControlNames[i];
        if (item.kind == Kind::Check && item.checked) {
            out += (firstChecked ? "" : ",") + name;
            firstChecked = false;
        }
        const bool inSight =
            item.visible && !IsEmpty(item.rect) &&
            (!item.hwnd || (IsWindowVisible(item.hwnd) && IsWindowEnabled(item.hwnd)));
        if (!inSight)
            continue;
        shown += (shown.empty() ? "" : ",") + name;
        if (item.kind == Kind::Label)
            texts += " " + name + "=\"" + Utf8(item.text) + "\"";
    }
    if (m_versionsLinkShown)
        shown += (shown.empty() ? "" : ",") + std::string("versionsLink");
    std::string focus = "none";
    for (size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i].hwnd && m_items[i].hwnd == GetFocus())
            focus = layout::kControlNames[i];
    return out + " focus=" + focus + " shown=" + shown + texts;
}

bool MainWindow::SaveScreenshot(const std::wstring& file) {
    if (!m_hwnd)
        return false;
    RedrawWindow(m_hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    return SaveWindowImage(m_hwnd, file);
}

// ---- WindowOps ----

void MainWindow::ShowMessage(std::string_view text) {
    const bool fromWorker = GetCurrentThreadId() != m_guiThread;
    const std::wstring message = Wide(text), caption = Wide(kAppTitle);
    OnGuiThread([&] {
        RunBox(fromWorker ? nullptr : m_hwnd, BoxKind::Message, message, caption, false, m_textFont,
               m_dpi);
    });
}

bool MainWindow::AskYesNo(std::string_view text, std::string_view title, bool questionIcon) {
    const std::wstring message = Wide(text), caption = Wide(title);
    return OnGuiThread([&] {
        return RunBox(m_hwnd, BoxKind::YesNo, message, caption, questionIcon, m_textFont, m_dpi);
    });
}

void MainWindow::ShowMemberInfo(bool hasData, int sizeUnits, std::string_view date) {
    const std::wstring dateText = Wide(date);
    OnGuiThread([&] {
        ItemOf(Control::MemberId).text = WindowText(ItemOf(Control::IdEdit).hwnd);
        ItemOf(Control::MemberIdLine).text = Wide(layout::kMemberIdLineText);
        if (!hasData) {
            ItemOf(Control::NoData).text = Wide(layout::kNoDataText);
        } else {
            ItemOf(Control::SizeLabel).text = Wide(layout::kSizeLabelText);
            ItemOf(Control::SizeValue).text =
                std::to_wstring(sizeUnits) + Wide(layout::kSizeUnitSuffix);
            ItemOf(Control::DateLabel).text = Wide(layout::kDateLabelText);
            ItemOf(Control::DateValue).text = dateText;
        }
        InvalidateRect(m_hwnd, nullptr, FALSE);
    });
}

void MainWindow::SetViewMode(ViewMode mode) {
    OnGuiThread([&] {
        m_viewMode = mode;
        ArrangeControls();
        UpdateWindow(m_hwnd);
    });
}

void MainWindow::SetProgress(int position) {
    if (position < 0 || position > 100)
        return;
    // Transfers report every kilobyte; only a new position is worth a trip
    // to the GUI thread.
    if (m_lastProgress.exchange(position) == position)
        return;
    OnGuiThread([&] {
        m_progress = position;
        const RECT r = Scaled(ItemOf(Control::Progress).rect);
        InvalidateRect(m_hwnd, &r, FALSE);
    });
}

std::string MainWindow::GetIdText() {
    return OnGuiThread([&] { return Utf8(WindowText(ItemOf(Control::IdEdit).hwnd)); });
}

std::string MainWindow::GetPasswordText() {
    return OnGuiThread([&] { return Utf8(WindowText(ItemOf(Control::PasswordEdit).hwnd)); });
}

TaskOptions MainWindow::GetTaskOptions() {
    return OnGuiThread([&] {
        TaskOptions o;
        o.launchAfterInstall = ItemOf(Control::LaunchAfterInstall).checked;
        o.installIntoFolder = ItemOf(Control::InstallIntoFolder).checked;
        o.saveScope = ItemOf(Control::ScopeWithCacheFonts).checked ? SaveScope::WithCacheAndFonts
                                                                   : SaveScope::Basic;
        o.rollBack = ItemOf(Control::RollBackRestore).checked ? RollBackChoice::RestoreBackup
                                                              : RollBackChoice::DeleteOnly;
        o.installVersion = m_installVersion.load();
        return o;
    });
}

std::optional<std::string> MainWindow::ChooseFolder(std::string_view initialFolder) {
    const std::wstring initial = Wide(initialFolder);
    return OnGuiThread([&]() -> std::optional<std::string> {
        std::optional<std::wstring> chosen =
            RunFolderChooser(m_hwnd, *m_skin, m_textFont, m_dpi, initial);
        if (!chosen)
            return std::nullopt;
        std::wstring path = *chosen;
        if (!path.empty() && path.back() != L'\\' && path.back() != L'/')
            path += L'\\';
        return Utf8(path);
    });
}

void MainWindow::StartProgram(std::string_view file, std::string_view workFolder) {
    std::wstring path = Wide(file);
    const std::wstring folder = Wide(workFolder);
    // A relative program lives in the working folder.
    const bool absolute = (path.size() > 1 && path[1] == L':') ||
                          (!path.empty() && (path[0] == L'\\' || path[0] == L'/'));
    if (!absolute && !folder.empty())
        path = folder + (folder.back() == L'\\' || folder.back() == L'/' ? L"" : L"\\") + path;
    OnGuiThread([&] { OpenInShell(path, folder); });
}

std::optional<std::size_t> MainWindow::ChooseFlavor(const std::vector<FlavorChoice>& choices,
                                                    std::size_t preselected) {
    std::vector<std::size_t> order;
    if (preselected < choices.size())
        order.push_back(preselected);
    for (std::size_t i = 0; i < choices.size(); ++i)
        if (i != preselected)
            order.push_back(i);
    for (std::size_t i : order) {
        const std::string text =
            "이 컴퓨터에 설치된 게임이 여러 개 있습니다. 이 게임의 애드온을 사용하시겠습니까?\n\n" +
            choices[i].name + "\n" + choices[i].folder;
        if (AskYesNo(text, "Kelbo Skiv Addon", true))
            return i;
    }
    return std::nullopt;
}

}  // namespace skiv::win32
