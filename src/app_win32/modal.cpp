#include "app_win32/modal.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <vector>

#include "app_win32/skin.h"
#include "app_win32/text.h"
#include "ui_layout/main_window_layout.h"

namespace skiv::win32 {

ModalHooks& Hooks() {
    static ModalHooks hooks;
    return hooks;
}

namespace {

int Px(int v, UINT dpi) {
    return MulDiv(v, static_cast<int>(dpi), 96);
}

void RegisterClassOnce(const wchar_t* name, WNDPROC proc) {
    WNDCLASSEXW wc{};
    if (GetClassInfoExW(GetModuleHandleW(nullptr), name, &wc))
        return;
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = name;
    RegisterClassExW(&wc);
}

// Centres a window of this outer size on the owner, or on the screen.
POINT CentredOn(HWND owner, int width, int height) {
    RECT area;
    if (!owner || !GetWindowRect(owner, &area))
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    return {area.left + (area.right - area.left - width) / 2,
            area.top + (area.bottom - area.top - height) / 2};
}

HWND MakeChild(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int id, RECT r,
               HFONT font) {
    HWND child = CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, r.left, r.top,
                                 r.right - r.left, r.bottom - r.top, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleW(nullptr), nullptr);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    return child;
}

// ---- the box ----

struct Box {
    BoxKind kind;
    std::wstring text;
    HFONT font;
    HICON icon;
    RECT textRect, iconRect;
    bool done = false;
    bool answer = false;
};

LRESULT CALLBACK BoxProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* box = reinterpret_cast<Box*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (msg) {
        case WM_NCCREATE:
            SetWindowLongPtrW(
                hwnd, GWLP_USERDATA,
                reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
            break;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            if (box) {
                if (box->icon)
                    DrawIconEx(dc, box->iconRect.left, box->iconRect.top, box->icon,
                               box->iconRect.right - box->iconRect.left,
                               box->iconRect.bottom - box->iconRect.top, 0, nullptr, DI_NORMAL);
                HGDIOBJ old = SelectObject(dc, box->font);
                SetBkMode(dc, TRANSPARENT);
                SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
                DrawTextW(dc, box->text.c_str(), static_cast<int>(box->text.size()), &box->textRect,
                          DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
                SelectObject(dc, old);
            }
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_COMMAND:
            if (!box)
                break;
            switch (LOWORD(wp)) {
                case IDOK:  // Enter: the default button
                case IDYES:
                    box->answer = true;
                    box->done = true;
                    return 0;
                case IDNO:
                    box->done = true;
                    return 0;
                case IDCANCEL:  // Escape and the close box: only a plain message closes
                    if (box->kind == BoxKind::Message) {
                        box->answer = true;
                        box->done = true;
                    }
                    return 0;
            }
            break;
        case WM_CLOSE:
            SendMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
            return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// ---- the folder chooser ----

enum class Kind { Drive, Folder, NetworkRoot };
constexpr int kImageFolderOpen = 0, kImageFolder = 1, kImageNetwork = 7;
constexpr int kTreeId = 100, kLabelId = 101;

struct Node {
    Kind kind;
    std::wstring name;  // as the file system gave it; "C:" for a drive
    bool listed = false;
};

struct Chooser {
    HWND tree = nullptr, label = nullptr, ok = nullptr;
    std::deque<Node> nodes;
    bool done = false;
    std::optional<std::wstring> result;
};

Node* NodeOf(HWND tree, HTREEITEM item) {
    TVITEMW tv{};
    tv.mask = TVIF_PARAM;
    tv.hItem = item;
    return item && TreeView_GetItem(tree, &tv) ? reinterpret_cast<Node*>(tv.lParam) : nullptr;
}

std::wstring ItemPath(HWND tree, HTREEITEM item) {
    std::wstring path;
    for (; item; item = TreeView_GetParent(tree, item)) {
        const Node* node = NodeOf(tree, item);
        if (!node || node->kind == Kind::NetworkRoot)
            return {};
        path.insert(0, node->name + L"\\");
    }
    return path;
}

HTREEITEM Insert(Chooser& c, HTREEITEM parent, Kind kind, std::wstring name, int image,
                 int selectedImage) {
    c.nodes.push_back({kind, std::move(name)});
    const std::wstring shown = CapitalizeIfAllUpper(c.nodes.back().name);
    TVINSERTSTRUCTW ins{};
    ins.hParent = parent;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN;
    ins.item.pszText = const_cast<wchar_t*>(shown.c_str());
    ins.item.lParam = reinterpret_cast<LPARAM>(&c.nodes.back());
    ins.item.iImage = image;
    ins.item.iSelectedImage = selectedImage;
    // Every item starts with an expand button; listing removes it when
    // nothing turns up.
    ins.item.cChildren = 1;
    return TreeView_InsertItem(c.tree, &ins);
}

void Populate(Chooser& c, HTREEITEM item) {
    Node* node = NodeOf(c.tree, item);
    if (!node || node->listed)
        return;
    node->listed = true;
    bool added = false;
    if (node->kind != Kind::NetworkRoot) {
        // Hidden folders too, sorted by name ignoring case.
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileExW((ItemPath(c.tree, item) + L"*").c_str(), FindExInfoBasic,
                                       &found, FindExSearchLimitToDirectories, nullptr, 0);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." &&
                    name != L"..")
                    names.push_back(name);
            } while (FindNextFileW(find, &found));
            FindClose(find);
        }
        std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
            return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
        });
        for (const std::wstring& name : names)
            Insert(c, item, Kind::Folder, name, kImageFolder, kImageFolderOpen);
        added = !names.empty();
    }
    if (!added) {
        TVITEMW tv{};
        tv.mask = TVIF_CHILDREN;
        tv.hItem = item;
        tv.cChildren = 0;
        TreeView_SetItem(c.tree, &tv);
    }
}

void OnSelection(Chooser& c, HTREEITEM item) {
    const std::wstring path = item ? ItemPath(c.tree, item) : std::wstring();
    EnableWindow(c.ok, !path.empty());
    SetWindowTextW(c.label, path.c_str());
}

// Opens the drive of path, then its folders child by child, matched
// exactly first, then ignoring case.
void OpenInitialPath(Chooser& c, std::wstring path) {
    std::replace(path.begin(), path.end(), L'/', L'\\');
    HTREEITEM current = nullptr;
    for (HTREEITEM top = TreeView_GetRoot(c.tree); top;
         top = TreeView_GetNextSibling(c.tree, top)) {
        const Node* node = NodeOf(c.tree, top);
        if (node->kind == Kind::Drive && path.size() >= 2 &&
            CompareStringOrdinal(path.c_str(), 2, node->name.c_str(), 2, TRUE) == CSTR_EQUAL)
            current = top;
    }
    if (!current)
        return;
    Populate(c, current);
    TreeView_Expand(c.tree, current, TVE_EXPAND);
    size_t start = 2;
    while (start < path.size()) {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos)
            end = path.size();
        const std::wstring part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty())
            continue;
        HTREEITEM match = nullptr;
        for (BOOL ignoreCase : {FALSE, TRUE}) {
            for (HTREEITEM child = TreeView_GetChild(c.tree, current); child && !match;
                 child = TreeView_GetNextSibling(c.tree, child))
                if (CompareStringOrdinal(NodeOf(c.tree, child)->name.c_str(), -1, part.c_str(), -1,
                                         ignoreCase) == CSTR_EQUAL)
                    match = child;
            if (match)
                break;
        }
        if (!match)
            continue;
        Populate(c, match);
        TreeView_Expand(c.tree, match, TVE_EXPAND);
        current = match;
    }
    TreeView_SelectItem(c.tree, current);
    TreeView_EnsureVisible(c.tree, current);
}

LRESULT CALLBACK ChooserProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* c = reinterpret_cast<Chooser*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (msg) {
        case WM_NCCREATE:
            SetWindowLongPtrW(
                hwnd, GWLP_USERDATA,
                reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
            break;
        case WM_NOTIFY: {
            auto* hdr = reinterpret_cast<NMHDR*>(lp);
            if (!c || hdr->idFrom != kTreeId)
                break;
            auto* tv = reinterpret_cast<NMTREEVIEWW*>(lp);
            if (hdr->code == TVN_ITEMEXPANDINGW && tv->action == TVE_EXPAND) {
                HCURSOR old = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
                Populate(*c, tv->itemNew.hItem);
                TreeView_SelectItem(c->tree, tv->itemNew.hItem);
                SetCursor(old);
            } else if (hdr->code == TVN_SELCHANGEDW) {
                OnSelection(*c, tv->itemNew.hItem);
            }
            return 0;
        }
        case WM_COMMAND:
            if (!c)
                break;
            if (LOWORD(wp) == IDOK && IsWindowEnabled(c->ok)) {
                c->result = ItemPath(c->tree, TreeView_GetSelection(c->tree));
                c->done = true;
            } else if (LOWORD(wp) == IDCANCEL) {
                c->done = true;
            }
            return 0;
        case WM_CLOSE:
            if (c)
                c->done = true;
            return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// ---- the versions box ----

constexpr int kVersionsListId = 102;

struct Versions {
    const std::vector<std::wstring>* lines;
    const std::vector<int>* numbers;
    VersionsBoxFonts fonts;
    UINT dpi;
    HCURSOR hand;
    std::wstring title, install, close;
    HWND list = nullptr;
    RECT titleRect{}, listRect{}, installRect{}, closeRect{};  // client pixels
    bool done = false;
    int chosen = 0;
};

COLORREF Orange() {
    return Colour(ui::main_window::kRegisterLinkColour);
}

// A frame of width pixels just inside r.
void Frame(HDC dc, RECT r, int width, COLORREF colour) {
    FillRectColour(dc, {r.left, r.top, r.right, r.top + width}, colour);
    FillRectColour(dc, {r.left, r.bottom - width, r.right, r.bottom}, colour);
    FillRectColour(dc, {r.left, r.top, r.left + width, r.bottom}, colour);
    FillRectColour(dc, {r.right - width, r.top, r.right, r.bottom}, colour);
}

void ChooseRow(Versions& v) {
    const LRESULT row = SendMessageW(v.list, LB_GETCURSEL, 0, 0);
    if (row < 0 || static_cast<size_t>(row) >= v.numbers->size())
        return;
    v.chosen = (*v.numbers)[static_cast<size_t>(row)];
    v.done = true;
}

LRESULT CALLBACK VersionsProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* v = reinterpret_cast<Versions*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (msg) {
        case WM_NCCREATE:
            SetWindowLongPtrW(
                hwnd, GWLP_USERDATA,
                reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
            break;
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            if (v) {
                RECT client;
                GetClientRect(hwnd, &client);
                FillRectColour(dc, client, RGB(255, 255, 255));
                Frame(dc, client, Px(2, v->dpi), Orange());
                RECT around = v->listRect;
                InflateRect(&around, 1, 1);
                Frame(dc, around, 1, RGB(0xc8, 0xc8, 0xc8));
                SetBkMode(dc, TRANSPARENT);
                SetTextColor(dc, Orange());
                HGDIOBJ old = SelectObject(dc, v->fonts.title);
                DrawTextW(dc, v->title.c_str(), -1, &v->titleRect,
                          DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
                SelectObject(dc, v->fonts.link);
                for (auto [text, rect] :
                     {std::pair{&v->install, &v->installRect}, std::pair{&v->close, &v->closeRect}})
                    DrawTextW(dc, text->c_str(), -1, rect,
                              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
                SelectObject(dc, old);
            }
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_MEASUREITEM:
            if (v)
                reinterpret_cast<MEASUREITEMSTRUCT*>(lp)->itemHeight =
                    static_cast<UINT>(Px(16, v->dpi));
            return TRUE;
        case WM_DRAWITEM: {
            const auto& d = *reinterpret_cast<DRAWITEMSTRUCT*>(lp);
            if (!v || d.itemID == static_cast<UINT>(-1) || d.itemID >= v->lines->size())
                return TRUE;
            const bool selected = d.itemState & ODS_SELECTED;
            FillRectColour(d.hDC, d.rcItem, selected ? Orange() : RGB(255, 255, 255));
            SetBkMode(d.hDC, TRANSPARENT);
            SetTextColor(d.hDC, selected ? RGB(255, 255, 255) : RGB(0, 0, 0));
            HGDIOBJ old = SelectObject(d.hDC, v->fonts.list);
            RECT text = d.rcItem;
            text.left += Px(4, v->dpi);
            const std::wstring& line = (*v->lines)[d.itemID];
            DrawTextW(d.hDC, line.c_str(), static_cast<int>(line.size()), &text,
                      DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
            SelectObject(d.hDC, old);
            return TRUE;
        }
        case WM_SETCURSOR: {
            POINT pt;
            GetCursorPos(&pt);
            ScreenToClient(hwnd, &pt);
            if (v && v->hand && (PtInRect(&v->installRect, pt) || PtInRect(&v->closeRect, pt))) {
                SetCursor(v->hand);
                return TRUE;
            }
            break;
        }
        case WM_LBUTTONUP: {
            const POINT pt{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
            if (v && PtInRect(&v->installRect, pt))
                ChooseRow(*v);
            else if (v && PtInRect(&v->closeRect, pt))
                v->done = true;
            return 0;
        }
        case WM_COMMAND:
            if (!v)
                break;
            if (LOWORD(wp) == kVersionsListId) {
                if (HIWORD(wp) == LBN_DBLCLK)
                    ChooseRow(*v);
            } else if (LOWORD(wp) == IDOK) {  // Enter
                ChooseRow(*v);
            } else if (LOWORD(wp) == IDCANCEL) {  // Escape
                v->done = true;
            }
            return 0;
        case WM_CLOSE:
            if (v)
                v->done = true;
            return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int RunVersionsBox(HWND owner, const Skin& skin, VersionsBoxFonts fonts, UINT dpi,
                   const std::vector<std::wstring>& lines, const std::vector<int>& numbers) {
    if (Hooks().versions) {
        const ModalHooks::VersionAnswer answer = Hooks().versions(lines, numbers);
        if (!answer.showBox)
            return answer.chosen;
    }
    namespace layout = ui::main_window;
    RegisterClassOnce(L"SkivAddonVersions", VersionsProc);
    Versions v{&lines,
               &numbers,
               fonts,
               dpi,
               skin.HandCursor(),
               Wide(layout::kVersionsTitle),
               Wide(layout::kVersionsInstallText),
               Wide(layout::kVersionsCloseText)};
    const int w = Px(layout::kVersionsBoxWidth, dpi), h = Px(layout::kVersionsBoxHeight, dpi);
    const int marginX = Px(12, dpi), marginY = Px(10, dpi), line = Px(16, dpi), gap = Px(6, dpi);
    v.titleRect = {marginX, marginY, w - marginX, marginY + line};
    const int linksTop = h - marginY - line;
    v.listRect = {marginX, v.titleRect.bottom + gap, w - marginX, linksTop - gap};
    // The links right-aligned on the bottom row, as wide as their texts.
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, fonts.link);
    SIZE install{}, close{};
    GetTextExtentPoint32W(dc, v.install.c_str(), static_cast<int>(v.install.size()), &install);
    GetTextExtentPoint32W(dc, v.close.c_str(), static_cast<int>(v.close.size()), &close);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    v.closeRect = {w - marginX - close.cx, linksTop, w - marginX, linksTop + line};
    v.installRect = {v.closeRect.left - Px(12, dpi) - install.cx, linksTop,
                     v.closeRect.left - Px(12, dpi), linksTop + line};

    const POINT at = CentredOn(owner, w, h);
    HWND hwnd = CreateWindowExW(owner ? 0 : WS_EX_TOPMOST, L"SkivAddonVersions", v.title.c_str(),
                                WS_POPUP | WS_CLIPCHILDREN, at.x, at.y, w, h, owner, nullptr,
                                GetModuleHandleW(nullptr), &v);
    if (!hwnd)
        return 0;
    v.list = MakeChild(hwnd, L"LISTBOX", L"",
                       WS_TABSTOP | WS_VSCROLL | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOTIFY |
                           LBS_NOINTEGRALHEIGHT,
                       kVersionsListId, v.listRect, fonts.list);
    for (const std::wstring& text : lines)
        SendMessageW(v.list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (!lines.empty())
        SendMessageW(v.list, LB_SETCURSEL, 0, 0);
    SetFocus(v.list);
    RunModalLoop(owner, hwnd, v.done);
    return v.chosen;
}

std::wstring CapitalizeIfAllUpper(std::wstring name) {
    for (wchar_t ch : name)
        if (ch >= L'a' && ch <= L'z')
            return name;
    for (wchar_t& ch : name)
        if (ch >= L'A' && ch <= L'Z')
            ch = static_cast<wchar_t>(ch + 32);
    if (!name.empty() && name[0] >= L'a' && name[0] <= L'z')
        name[0] = static_cast<wchar_t>(name[0] - 32);
    return name;
}

void RunModalLoop(HWND owner, HWND dialog, const bool& done) {
    const bool ownerWasEnabled = owner && IsWindowEnabled(owner);
    if (ownerWasEnabled)
        EnableWindow(owner, FALSE);
    ShowWindow(dialog, SW_SHOW);
    if (Hooks().shown) {
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        Hooks().shown(dialog);
    }
    MSG msg;
    while (!done) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            PostQuitMessage(got == 0 ? static_cast<int>(msg.wParam) : 1);
            break;
        }
        if (!IsDialogMessageW(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    if (ownerWasEnabled)
        EnableWindow(owner, TRUE);
    DestroyWindow(dialog);
    if (owner)
        SetForegroundWindow(owner);
}

bool RunBox(HWND owner, BoxKind kind, std::wstring_view text, std::wstring_view caption,
            bool questionIcon, HFONT font, UINT dpi) {
    if (Hooks().box)
        if (std::optional<bool> answer =
                Hooks().box(kind, std::wstring(text), std::wstring(caption)))
            return *answer;
    RegisterClassOnce(L"SkivAddonBox", BoxProc);
    Box box{kind, std::wstring(text), font, nullptr, {}, {}};
    if (kind == BoxKind::YesNo && questionIcon)
        box.icon = LoadIconW(nullptr, IDI_QUESTION);

    // Measure the text in the box's font, at most 360 logical pixels wide.
    const int margin = Px(12, dpi), iconSize = box.icon ? Px(32, dpi) : 0;
    RECT measure{0, 0, Px(360, dpi), 0};
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    DrawTextW(dc, box.text.c_str(), static_cast<int>(box.text.size()), &measure,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    const int textLeft = margin + (iconSize ? iconSize + margin : 0);
    const int buttonW = Px(75, dpi), buttonH = Px(23, dpi), gap = Px(6, dpi);
    const int buttons = kind == BoxKind::YesNo ? 2 : 1;
    const int buttonsW = buttons * buttonW + (buttons - 1) * gap;
    const int contentH = std::max<int>(measure.bottom, iconSize);
    const int clientW = std::max<int>(textLeft + measure.right + margin, buttonsW + 2 * margin);
    const int clientH = margin + contentH + margin + buttonH + margin;
    box.iconRect = {margin, margin, margin + iconSize, margin + iconSize};
    box.textRect = {textLeft, margin + (contentH - measure.bottom) / 2, textLeft + measure.right,
                    margin + (contentH - measure.bottom) / 2 + measure.bottom};

    DWORD style = WS_POPUP | WS_CAPTION | (kind == BoxKind::Message ? WS_SYSMENU : 0);
    RECT outer{0, 0, clientW, clientH};
    AdjustWindowRectEx(&outer, style, FALSE, WS_EX_DLGMODALFRAME);
    const int w = outer.right - outer.left, h = outer.bottom - outer.top;
    const POINT at = CentredOn(owner, w, h);
    const std::wstring title(caption);
    HWND hwnd = CreateWindowExW(WS_EX_DLGMODALFRAME | (owner ? 0 : WS_EX_TOPMOST), L"SkivAddonBox",
                                title.c_str(), style, at.x, at.y, w, h, owner, nullptr,
                                GetModuleHandleW(nullptr), &box);
    if (!hwnd)
        return false;
    int x = (clientW - buttonsW) / 2;
    const int y = clientH - margin - buttonH;
    HWND first = nullptr;
    if (kind == BoxKind::YesNo) {
        first = MakeChild(hwnd, L"BUTTON", L"예(&Y)", WS_TABSTOP | BS_DEFPUSHBUTTON, IDYES,
                          {x, y, x + buttonW, y + buttonH}, font);
        x += buttonW + gap;
        MakeChild(hwnd, L"BUTTON", L"아니요(&N)", WS_TABSTOP | BS_PUSHBUTTON, IDNO,
                  {x, y, x + buttonW, y + buttonH}, font);
    } else {
        first = MakeChild(hwnd, L"BUTTON", L"확인", WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK,
                          {x, y, x + buttonW, y + buttonH}, font);
    }
    SetFocus(first);
    MessageBeep(kind == BoxKind::YesNo ? MB_ICONQUESTION : MB_OK);
    RunModalLoop(owner, hwnd, box.done);
    return box.answer;
}

std::optional<std::wstring> RunFolderChooser(HWND owner, const Skin& skin, HFONT font, UINT dpi,
                                             std::wstring_view initialFolder) {
    if (Hooks().folder) {
        ModalHooks::FolderAnswer answer = Hooks().folder(std::wstring(initialFolder));
        if (!answer.showChooser)
            return answer.folder;
    }
    RegisterClassOnce(L"SkivAddonFolders", ChooserProc);
    // The chooser's template is in dialog units of an 8-pt font: 6 x 13.
    auto du = [dpi](int x, int y, int w, int h) {
        const int l = MulDiv(x, 6, 4), t = MulDiv(y, 13, 8);
        const int r = MulDiv(x + w, 6, 4), b = MulDiv(y + h, 13, 8);
        return RECT{Px(l, dpi), Px(t, dpi), Px(r, dpi), Px(b, dpi)};
    };
    Chooser c;
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    RECT outer = du(0, 0, 186, 218);
    AdjustWindowRectEx(&outer, style, FALSE, WS_EX_DLGMODALFRAME);
    const int w = outer.right - outer.left, h = outer.bottom - outer.top;
    const POINT at = CentredOn(owner, w, h);
    HWND hwnd = CreateWindowExW(WS_EX_DLGMODALFRAME, L"SkivAddonFolders", L"폴더 선택", style, at.x,
                                at.y, w, h, owner, nullptr, GetModuleHandleW(nullptr), &c);
    if (!hwnd)
        return std::nullopt;
    SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(skin.AppIcon()));
    c.label = MakeChild(hwnd, L"STATIC", L"Static", SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX,
                        kLabelId, du(7, 7, 172, 10), font);
    c.tree = MakeChild(hwnd, WC_TREEVIEWW, L"",
                       WS_TABSTOP | WS_BORDER | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT |
                           TVS_SHOWSELALWAYS,
                       kTreeId, du(7, 17, 172, 178), font);
    c.ok = MakeChild(hwnd, L"BUTTON", L"확인", WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK,
                     du(7, 197, 50, 14), font);
    MakeChild(hwnd, L"BUTTON", L"취소", WS_TABSTOP | BS_PUSHBUTTON, IDCANCEL, du(129, 197, 50, 14),
              font);
    HIMAGELIST images = skin.CreateTreeImages();
    TreeView_SetImageList(c.tree, images, TVSIL_NORMAL);
    EnableWindow(c.ok, FALSE);

    // The drives of this computer, each shown with the image of its type.
    const DWORD drives = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (!(drives & (1u << i)))
            continue;
        const std::wstring name{static_cast<wchar_t>(L'A' + i), L':'};
        const UINT type = GetDriveTypeW((name + L"\\").c_str());
        if (type < DRIVE_REMOVABLE || type > DRIVE_RAMDISK)
            continue;
        Insert(c, nullptr, Kind::Drive, name, static_cast<int>(type), static_cast<int>(type));
    }
    Insert(c, nullptr, Kind::NetworkRoot, L"Network Neighborhood", kImageNetwork, kImageNetwork);
    OpenInitialPath(c, std::wstring(initialFolder));
    SetFocus(c.tree);
    RunModalLoop(owner, hwnd, c.done);
    ImageList_Destroy(images);
    return c.result;
}

bool SaveWindowImage(HWND window, const std::wstring& file) {
    RECT r;
    GetWindowRect(window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    // From the window's own surface, children included: the screen may not
    // show the last paint yet (Wine hands window surfaces to X lazily).
    HDC screen = GetWindowDC(window);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;  // bottom-up, as a BMP file stores it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP shot = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, shot);
    BitBlt(memory, 0, 0, w, h, screen, 0, 0, SRCCOPY);
    GdiFlush();
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(window, screen);
    const DWORD rowBytes = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
    const DWORD imageBytes = rowBytes * static_cast<DWORD>(h);
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;  // "BM"
    header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    header.bfSize = header.bfOffBits + imageBytes;
    FILE* out = _wfopen(file.c_str(), L"wb");
    bool ok = out != nullptr;
    if (out) {
        ok = fwrite(&header, sizeof(header), 1, out) == 1 &&
             fwrite(&info.bmiHeader, sizeof(info.bmiHeader), 1, out) == 1 &&
             fwrite(bits, 1, imageBytes, out) == imageBytes;
        ok = fclose(out) == 0 && ok;
    }
    DeleteObject(shot);
    return ok;
}

void OpenInShell(std::wstring_view file, std::wstring_view workFolder) {
    const std::wstring f(file), folder(workFolder);
    if (Hooks().open) {
        Hooks().open(f, folder);
        return;
    }
    ShellExecuteW(nullptr, L"open", f.c_str(), nullptr, folder.empty() ? nullptr : folder.c_str(),
                  SW_SHOWNORMAL);
}

}  // namespace skiv::win32
