#pragma once
// The painters behind Skin: each returns one finished image at the given
// device-pixel ratio. Sizes are logical pixels. Only Skin calls these.

#include <QColor>
#include <QPixmap>
#include <QPoint>
#include <QRectF>
#include <QString>

class QPainter;

namespace skiv::app::skinpaint {

// ---- surfaces (skin_surfaces.cpp) ----
// Stone: a vertical gradient from top to bottom colour with fine grain;
// the same seed gives the same grain.
void FillStone(QPainter& p, const QRectF& r, QColor top, QColor bottom, unsigned seed,
               qreal radius = 0);
// Parchment with darkened, slightly burnt edges.
void FillParchment(QPainter& p, const QRectF& r, unsigned seed);
// A carved (inset) panel: dark stone, shadow top-left, light bottom-right.
void CarvedPanel(QPainter& p, const QRectF& r, unsigned seed);
// A small bronze rivet centred at c.
void Rivet(QPainter& p, QPointF c, qreal radius);
// Text with a one-pixel shadow below-right.
void ShadowText(QPainter& p, const QRectF& r, int flags, const QString& text, QColor ink,
                QColor shadow);

// What backgrounds 147 and 148 share; each is a copy of it with its own
// additions. 405 x 436.
QPixmap BackgroundBase(qreal dpr);
QPixmap Background(const QPixmap& base, bool loggedIn);
QPixmap Logo(qreal dpr);       // 131, 158 x 31
QPixmap Separator(qreal dpr);  // 137, 4 x 11

// ---- icons (skin_icons.cpp) ----
QPixmap StonePlate(const QString& text, bool hover, qreal dpr);  // 139-144, 115 x 53
QPixmap LoginPlate(qreal dpr);                                   // 136, 53 x 42
QPixmap TitleMark(bool close, bool hover, qreal dpr);            // 132-135, 16 x 16
QPixmap AppIcon(int size, qreal dpr);                            // 128
QPixmap HandCursor(qreal dpr, QPoint* hotSpot);                  // 146, 32 x 32
QPixmap TreeStrip(qreal dpr);                                    // 151, 255 x 16

}  // namespace skiv::app::skinpaint
