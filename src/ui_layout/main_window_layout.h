#pragma once
// The main window's layout as plain data, for every toolkit that draws the
// window: which controls it has, where they sit, their texts and colours,
// which controls each view mode shows and where the member panel's lines
// go. Nothing here knows a toolkit; a window reads these tables and builds
// its own widgets from them.
//
// Positions of the template are in dialog units of a font with base units
// kBaseUnitX x kBaseUnitY (x in quarters, y in eighths of a base unit); a
// window converts each edge with rounding. The member panel was placed in
// pixels after the fact, so its positions are pixels. Texts are UTF-8.

#include <cstddef>
#include <cstdlib>
#include <iterator>
#include <span>

#include "ui_layout/skin_images.h"

namespace skiv::ui {

struct Rect {
    int x, y, width, height;
};

struct Rgb {
    unsigned char red, green, blue;
};

namespace main_window {

// Every control of the window, by what it is.
enum class Control {
    CloseButton,
    MinimizeButton,
    LoginButton,
    InstallButton,
    SaveButton,
    RollBackButton,
    IdEdit,
    PasswordEdit,
    LaunchAfterInstall,   // option of the install
    InstallIntoFolder,    // option of the install
    ScopeBasic,           // save scope: Interface and WTF
    ScopeWithCacheFonts,  // save scope: also Cache and Fonts
    RollBackRestore,      // roll back: restore the last install's backup
    RollBackDeleteOnly,   // roll back: delete the set, restore nothing
    Progress,
    Version,
    RegisterLink,
    LoginSeparator,
    PanelSeparator,
    DateLabel,
    DateValue,
    SizeLabel,
    SizeValue,
    NoData,
    MemberId,
    MemberIdLine,
};

inline constexpr const char* kControlNames[] = {
    "closeButton",        "minimizeButton",     "loginButton",    "installButton",
    "saveButton",         "rollBackButton",     "idEdit",         "passwordEdit",
    "launchAfterInstall", "installIntoFolder",  "scopeBasic",     "scopeWithCacheFonts",
    "rollBackRestore",    "rollBackDeleteOnly", "progress",       "version",
    "registerLink",       "loginSeparator",     "panelSeparator", "dateLabel",
    "dateValue",          "sizeLabel",          "sizeValue",      "noData",
    "memberId",           "memberIdLine",
};
static_assert(std::size(kControlNames) == std::size_t(Control::MemberIdLine) + 1);

// A control's name, for toolkits that name their widgets (and for tests
// that look them up).
constexpr const char* NameOf(Control control) {
    return kControlNames[static_cast<std::size_t>(control)];
}

// The entry of a control in one of the tables below; every control of a
// table's kind has one.
template <typename Spec, std::size_t N>
constexpr const Spec& SpecOf(const Spec (&table)[N], Control control) {
    for (const Spec& spec : table)
        if (spec.control == control)
            return spec;
    std::abort();
}

// ---- the window ----

inline constexpr int kClientWidth = 404;
inline constexpr int kClientHeight = 436;
inline constexpr int kBaseUnitX = 7;
inline constexpr int kBaseUnitY = 14;
// Radius of the rounded corners (ellipses of twice the radius).
inline constexpr int kCornerRadius = 6;
// A press above this line (and right of the left edge) drags the window.
inline constexpr int kDragBandHeight = 40;
// The logo is painted over either background at this pixel point.
inline constexpr int kLogoX = 45, kLogoY = 55;
inline constexpr const char* kTitle = "KELBO SKIV ADDON";

// Closing asks first.
inline constexpr const char* kCloseQuestion = "Kelbo Skiv Addon을 종료 하시겠습니까?";
inline constexpr const char* kCloseCaption = "Kelbo Skiv Addon 종료";

// ---- buttons: skin images, faces matched to the stone ----

struct ButtonSpec {
    Control control;
    Rect rect;  // dialog units
    SkinImage hoverImage, normalImage;
    const char* tip;
};

inline constexpr ButtonSpec kButtons[] = {
    {Control::CloseButton, {219, 6, 10, 9}, kIconCloseHover, kIconClose, "닫기"},
    {Control::MinimizeButton, {208, 6, 10, 9}, kIconMinimizeHover, kIconMinimize, "최소화"},
    {Control::LoginButton, {100, 58, 30, 24}, kIconLogin, kIconLogin, "로그인"},
    {Control::InstallButton, {157, 108, 63, 28}, kIconInstallHover, kIconInstall, "내셋팅 설정"},
    {Control::SaveButton, {157, 147, 63, 28}, kIconSaveHover, kIconSave, "내셋팅 저장"},
    {Control::RollBackButton, {157, 185, 63, 28}, kIconRollBackHover, kIconRollBack, "되돌리기"},
};
inline constexpr Rgb kButtonFace{33, 29, 25};
inline constexpr Rgb kButtonLightEdge{236, 214, 160};
inline constexpr Rgb kButtonDarkEdge{8, 6, 4};

// ---- login fields (dialog units); the password is echoed masked ----

inline constexpr Rect kIdEdit{29, 57, 65, 12};
inline constexpr Rect kPasswordEdit{29, 70, 65, 12};
// Pixels kept free left and right of an edit field's text.
inline constexpr int kEditTextMargin = 2;

// ---- option boxes ----

struct CheckSpec {
    Control control;
    Rect rect;  // dialog units
    bool checkedAtStart;
};

inline constexpr CheckSpec kChecks[] = {
    {Control::LaunchAfterInstall, {11, 111, 8, 8}, false},
    {Control::InstallIntoFolder, {11, 124, 8, 8}, false},
    {Control::ScopeBasic, {11, 150, 8, 8}, true},
    {Control::ScopeWithCacheFonts, {11, 164, 8, 8}, false},
    {Control::RollBackRestore, {11, 189, 8, 8}, true},
    {Control::RollBackDeleteOnly, {11, 203, 8, 8}, false},
};

// Boxes of which one is always checked: a click on either leaves the
// other checked exactly when the clicked one is now unchecked.
struct OptionPair {
    Control first, second;
};
inline constexpr OptionPair kOptionPairs[] = {
    {Control::ScopeBasic, Control::ScopeWithCacheFonts},
    {Control::RollBackRestore, Control::RollBackDeleteOnly},
};

// ---- progress bar: 0-100, no text ----

inline constexpr Rect kProgress{7, 224, 218, 12};
inline constexpr Rgb kProgressChunk{232, 110, 18};
inline constexpr Rgb kProgressTrough{40, 35, 30};

// ---- static texts: the template's texts until the member panel fills them ----

struct LabelSpec {
    Control control;
    Rect rect;  // dialog units
    const char* text;
    bool bold;
    Rgb colour;
};

inline constexpr LabelSpec kLabels[] = {
    {Control::Version, {117, 37, 102, 8}, "- for WOW | ver 1.0.1", true, {0, 129, 65}},
    {Control::DateLabel, {114, 83, 106, 8}, "Date", true, {67, 61, 49}},
    {Control::SizeLabel, {26, 82, 65, 8}, "Capa", true, {67, 61, 49}},
    {Control::SizeValue, {26, 97, 65, 8}, "Capa Var", true, {238, 75, 0}},
    {Control::DateValue, {114, 97, 106, 8}, "Date Var", false, {68, 60, 47}},
    {Control::NoData, {26, 111, 179, 8}, "No Data", true, {67, 61, 49}},
    {Control::MemberId, {22, 28, 83, 8}, "ID", true, {238, 75, 0}},
    {Control::MemberIdLine, {22, 43, 83, 8}, "ID Line", true, {67, 61, 49}},
};

// The registration link: bold, in this colour whatever its state; sized to
// its text from the top-left corner of the rectangle.
inline constexpr Rect kRegisterLink{146, 67, 51, 8};
inline constexpr const char* kRegisterLinkText = "Kelbo 회원가입";
inline constexpr Rgb kRegisterLinkColour{240, 74, 0};

// Separator images (kBmpSeparator): placed at the rectangle's top-left
// corner, the size of the image.
inline constexpr Rect kLoginSeparator{21, 89, 2, 6};
inline constexpr Rect kPanelSeparator{94, 89, 2, 6};

// Keyboard order.
inline constexpr Control kTabOrder[] = {
    Control::CloseButton,       Control::MinimizeButton,     Control::IdEdit,
    Control::PasswordEdit,      Control::LoginButton,        Control::InstallButton,
    Control::SaveButton,        Control::RollBackButton,     Control::LaunchAfterInstall,
    Control::InstallIntoFolder, Control::ScopeBasic,         Control::ScopeWithCacheFonts,
    Control::RollBackRestore,   Control::RollBackDeleteOnly,
};

// ---- the member panel ----

inline constexpr const char* kMemberIdLineText = "님의 셋팅 정보";
inline constexpr const char* kNoDataText = "회원님의 셋팅 정보가 없습니다.";
inline constexpr const char* kSizeLabelText = "용량 : ";
inline constexpr const char* kSizeUnitSuffix = "MB";  // after the size units
inline constexpr const char* kDateLabelText = "최종 저장 날짜 : ";

// The member's ID, in pixels; the line after it starts kIdUnitWidth pixels
// per unit of the ID further right (a unit per byte of the ID in the Korean
// ANSI code page: 1 per ASCII character, 2 per other character).
inline constexpr Rect kMemberId{70, 100, 200, 11};
inline constexpr int kIdUnitWidth = 8;

// The link opening the list of stored versions (services that keep them),
// in pixels, right of the member line; in the link's orange.
inline constexpr const char* kVersionsLinkText = "이전 버전";
inline constexpr Rect kVersionsLink{330, 100, 60, 11};

// The box the versions link opens: a frameless kVersionsBoxWidth x
// kVersionsBoxHeight pixel box on white in the link's orange (frame, title,
// chosen row), one line per version (skiv::VersionLine), and two links.
// A failed listing says kVersionsListFailed, the result code and ")".
inline constexpr const char* kVersionsTitle = "저장된 버전";
inline constexpr const char* kVersionsInstallText = "이 버전 설치";
inline constexpr const char* kVersionsCloseText = "닫기";
inline constexpr const char* kVersionsListFailed = "버전 목록을 가져오지 못했습니다:(";
inline constexpr int kVersionsBoxWidth = 360, kVersionsBoxHeight = 220;

// ---- view modes ----

struct Placement {
    Control control;
    Rect rect;  // pixels
};

// What a view mode does to the controls, in this order: `removed` are
// moved out of sight (to the bottom-right corner, no size) and, when
// `disableRemoved`, disabled; `placed` are moved to their pixel rectangle;
// `shown` and `hidden` change visibility; with `memberIdLines` the member ID
// and its line are placed. A control a mode does not name keeps its state.
struct ViewLayout {
    std::span<const Control> removed;
    bool disableRemoved;
    std::span<const Placement> placed;
    std::span<const Control> shown;
    std::span<const Control> hidden;
    bool memberIdLines;
};

inline constexpr Control kMemberPanel[] = {
    Control::PanelSeparator, Control::DateLabel, Control::DateValue, Control::SizeLabel,
    Control::SizeValue,      Control::NoData,    Control::MemberId,  Control::MemberIdLine,
};
inline constexpr Control kLoginControls[] = {
    Control::LoginButton,
    Control::RegisterLink,
    Control::IdEdit,
    Control::PasswordEdit,
};
inline constexpr Placement kNoDataLines[] = {
    {Control::NoData, {55, 132, 200, 11}},
};
inline constexpr Control kNoDataShown[] = {Control::NoData};
inline constexpr Placement kWithDataLines[] = {
    {Control::SizeLabel, {55, 132, 40, 11}},      {Control::SizeValue, {96, 132, 60, 11}},
    {Control::PanelSeparator, {160, 132, 4, 11}}, {Control::DateLabel, {170, 132, 100, 11}},
    {Control::DateValue, {272, 132, 120, 11}},
};
inline constexpr Control kWithDataHidden[] = {Control::NoData};

// Indexed by the view mode's number: logged out, logged in without a stored
// set, logged in with one. Every mode but the first shows the logged-in
// background (kBmpBackLoggedIn).
inline constexpr ViewLayout kViewLayouts[] = {
    {kMemberPanel, false, {}, {}, {}, false},
    {kLoginControls, true, kNoDataLines, kNoDataShown, {}, true},
    {kLoginControls, true, kWithDataLines, {}, kWithDataHidden, true},
};

}  // namespace main_window
}  // namespace skiv::ui
