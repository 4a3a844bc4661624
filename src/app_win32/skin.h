#pragma once
// Skin: the window's pictures, loaded from the PNG resources that
// skivaddon-skin-render paints with the Qt window's code (skin/skin.rc).
// Scale 1 serves ordinary screens, scale 2 high-DPI ones; a picture's
// logical size is its pixel size divided by the scale.
//
// Pictures are 32-bit premultiplied DIB sections for AlphaBlend; the hand
// cursor, the program icon and the tree images are made from straight-alpha
// copies. A Skin is built and used on the GUI thread and owns its handles.

#include <windows.h>

#include <commctrl.h>

#include <map>

#include "ui_layout/main_window_layout.h"
#include "ui_layout/skin_images.h"

namespace skiv::win32 {

struct Picture {
    HBITMAP bitmap = nullptr;
    int width = 0, height = 0;  // pixels
};

class Skin {
public:
    // Loads every picture at scale (1 or 2); missing ones stay null.
    explicit Skin(int scale);
    ~Skin();
    Skin(const Skin&) = delete;
    Skin& operator=(const Skin&) = delete;

    int Scale() const { return m_scale; }
    // The picture of a resource number; a null bitmap for an unknown one.
    const Picture& Image(int id) const;
    // The hand cursor (146) and the program icon (128).
    HCURSOR HandCursor() const { return m_hand; }
    HICON AppIcon() const { return m_icon; }
    // The fifteen tree images of bitmap 151 as an image list; the caller
    // owns it.
    HIMAGELIST CreateTreeImages() const;

    // Draws a picture at (x, y) scaled to destWidth x destHeight.
    static void Draw(HDC dc, const Picture& picture, int x, int y, int destWidth, int destHeight);

private:
    int m_scale;
    std::map<int, Picture> m_images;
    HCURSOR m_hand = nullptr;
    HICON m_icon = nullptr;
};

// A layout colour as GDI takes it.
COLORREF Colour(ui::Rgb c);
// Fills r with one colour (the DC brush; nothing to free).
void FillRectColour(HDC dc, const RECT& r, COLORREF colour);

}  // namespace skiv::win32
