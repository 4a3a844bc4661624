#pragma once
// Skin: every image of the window, drawn once at start-up with QPainter.
//
// The images keep the resource numbers the window's layout was drawn
// around (backgrounds 147/148, logo 131, plates 139-144, ...). Each is
// painted at the screen's device-pixel ratio so it stays sharp on high-DPI
// screens; sizes below are logical pixels.
//
// A Skin is built and used on the GUI thread only; it owns its pixmaps and
// hands out implicitly shared copies.

#include <QCursor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <map>

#include "ui_layout/skin_images.h"

namespace skiv::app {

// The resource numbers, unqualified inside the window code.
using enum ui::SkinImage;

class Skin {
public:
    // Paints every image at devicePixelRatio (1 for a plain screen).
    explicit Skin(qreal devicePixelRatio = 1.0);

    // The image of a resource number; a null pixmap for an unknown number
    // (the caller leaves that image out).
    QPixmap Image(int id) const;
    // Icon 128 at the usual window-icon sizes.
    const QIcon& AppIcon() const { return m_appIcon; }
    // Cursor 146, the hand shown over buttons and the link.
    const QCursor& HandCursor() const { return m_hand; }
    // One of the fifteen tree images of bitmap 151, index 0-14.
    QPixmap TreeImage(int index) const;
    qreal DevicePixelRatio() const { return m_dpr; }

    // The two fonts of the window's statics: NanumGothic standing in for a
    // 12-px Gulim (a line of it fits in 12 px), bold or normal.
    static QFont StaticFont(bool bold);
    // The font of edit fields, boxes and dialogs: 12-px NanumGothic.
    static QFont TextFont();

    // The skin of the running application, built on first use at the
    // primary screen's ratio. GUI thread only.
    static const Skin& Instance();

private:
    qreal m_dpr;
    std::map<int, QPixmap> m_images;
    QIcon m_appIcon;
    QCursor m_hand;
};

}  // namespace skiv::app
