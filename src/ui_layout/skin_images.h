#pragma once
// Resource numbers of the skin's images and cursor. The window layouts
// were drawn around these images; each window's toolkit paints or loads
// the image of a number itself. Sizes are logical pixels.

namespace skiv::ui {

enum SkinImage : int {
    kIconApp = 128,
    kBmpLogo = 131,         // 158 x 31
    kIconCloseHover = 132,  // 16 x 16
    kIconClose = 133,
    kIconMinimizeHover = 134,  // 16 x 16
    kIconMinimize = 135,
    kIconLogin = 136,          // 53 x 42
    kBmpSeparator = 137,       // 4 x 11
    kIconRollBackHover = 139,  // 115 x 53 stone plates
    kIconRollBack = 140,
    kIconSaveHover = 141,
    kIconSave = 142,
    kIconInstallHover = 143,
    kIconInstall = 144,
    kCursorHand = 146,
    kBmpBackLoggedOut = 147,  // 405 x 436
    kBmpBackLoggedIn = 148,   // 405 x 436
    kBmpTree = 151,           // 255 x 16: fifteen 17 x 16 tree images
};

}  // namespace skiv::ui
