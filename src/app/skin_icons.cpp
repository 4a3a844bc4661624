// Plates, title marks, the application icon, the hand cursor and the tree
// images.

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTransform>

#include "app/skin_paint.h"

namespace skiv::app::skinpaint {

namespace {

QPixmap Canvas(int w, int h, qreal dpr) {
    QPixmap pm(qRound(w * dpr), qRound(h * dpr));
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    return pm;
}

// Text as a path, centred in r.
QPainterPath CentredText(const QRectF& r, const QFont& f, const QString& text) {
    QPainterPath path;
    path.addText(0, 0, f, text);
    const QRectF b = path.boundingRect();
    return path.translated(r.center() - b.center());
}

// The carved bevel shared by the plates: outline, lit top edge, dark bottom.
void Bevel(QPainter& p, const QRectF& r, qreal radius, int light, int dark) {
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(8, 6, 4, 230), 1));
    p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    p.setPen(QPen(QColor(255, 240, 210, light), 1));
    p.drawLine(QPointF(r.left() + radius, r.top() + 1.5),
               QPointF(r.right() - radius, r.top() + 1.5));
    p.drawLine(QPointF(r.left() + 1.5, r.top() + radius),
               QPointF(r.left() + 1.5, r.bottom() - radius));
    p.setPen(QPen(QColor(0, 0, 0, dark), 1));
    p.drawLine(QPointF(r.left() + radius, r.bottom() - 1.5),
               QPointF(r.right() - radius, r.bottom() - 1.5));
    p.drawLine(QPointF(r.right() - 1.5, r.top() + radius),
               QPointF(r.right() - 1.5, r.bottom() - radius));
}

}  // namespace

QPixmap StonePlate(const QString& text, bool hover, qreal dpr) {
    // 115 x 53, of which the button shows the centre; the art fills the
    // measured 114 x 52 so that nothing is lost when it is drawn cropped.
    QPixmap pm = Canvas(115, 53, dpr);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF plate(2, 2, 110, 49);
    const unsigned seed = 50 + static_cast<unsigned>(text.size()) * 3 + (hover ? 1 : 0);
    if (hover)
        FillStone(p, plate, QColor(112, 102, 88), QColor(62, 56, 48), seed, 4);
    else
        FillStone(p, plate, QColor(78, 71, 61), QColor(40, 36, 31), seed, 4);
    Bevel(p, plate, 4, hover ? 110 : 70, 170);

    // Carved inner frame.
    const QRectF frame = plate.adjusted(6, 6, -6, -6);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 0, 0, 140), 1));
    p.drawRoundedRect(frame.adjusted(0.5, 0.5, 0.5, 0.5), 2, 2);
    p.setPen(QPen(QColor(255, 230, 180, hover ? 70 : 40), 1));
    p.drawRoundedRect(frame.adjusted(1.5, 1.5, 1.5, 1.5), 2, 2);
    for (QPointF c :
         {plate.topLeft() + QPointF(3.8, 3.8), plate.topRight() + QPointF(-3.8, 3.8),
          plate.bottomLeft() + QPointF(3.8, -3.8), plate.bottomRight() + QPointF(-3.8, -3.8)})
        Rivet(p, c, 1.7);

    QFont f(QStringLiteral("NanumSquare"));
    f.setPixelSize(15);
    f.setWeight(QFont::ExtraBold);
    const QPainterPath letters = CentredText(plate.translated(0, 0.5), f, text);
    // Ember glow behind orange letters; brighter on the hover plate. The
    // glow is soft, so it is painted at logical resolution and scaled up:
    // glyph outlines stroked with wide round pens are the dearest painting
    // of the skin, and at the plate's ratio of 2 they would cost four times
    // as much, most of a high-DPI start-up.
    QImage glow(115, 53, QImage::Format_ARGB32_Premultiplied);
    glow.fill(Qt::transparent);
    {
        QPainter g(&glow);
        g.setRenderHint(QPainter::Antialiasing);
        for (int w = 5; w >= 2; w -= 1) {
            g.strokePath(letters, QPen(QColor(255, 120, 20, hover ? 26 : 12), w, Qt::SolidLine,
                                       Qt::RoundCap, Qt::RoundJoin));
        }
    }
    p.save();
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QRectF(0, 0, 115, 53), glow);
    p.restore();
    p.fillPath(letters.translated(1, 1.2), QColor(0, 0, 0, 220));
    QLinearGradient ink(0, plate.center().y() - 8, 0, plate.center().y() + 8);
    ink.setColorAt(0, hover ? QColor(255, 214, 120) : QColor(255, 176, 70));
    ink.setColorAt(1, hover ? QColor(255, 130, 20) : QColor(226, 96, 8));
    p.fillPath(letters, ink);
    return pm;
}

QPixmap LoginPlate(qreal dpr) {
    QPixmap pm = Canvas(53, 42, dpr);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF plate(0, 0, 52, 42);
    FillStone(p, plate, QColor(158, 154, 146), QColor(98, 95, 90), 71, 4);
    Bevel(p, plate, 4, 150, 150);
    p.setPen(QPen(QColor(40, 36, 30, 120), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(plate.adjusted(4.5, 4.5, -4.5, -4.5), 2, 2);
    QFont f(QStringLiteral("NanumSquare"));
    f.setPixelSize(13);
    f.setWeight(QFont::ExtraBold);
    const QPainterPath letters = CentredText(plate, f, QStringLiteral("로그인"));
    p.fillPath(letters.translated(0, 1), QColor(255, 255, 255, 120));
    p.fillPath(letters, QColor(38, 34, 28));
    return pm;
}

QPixmap TitleMark(bool close, bool hover, qreal dpr) {
    QPixmap pm = Canvas(16, 16, dpr);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(8, 8.5);
    QRadialGradient disk(c - QPointF(2, 2.5), 9);
    if (hover) {
        disk.setColorAt(0, close ? QColor(255, 150, 70) : QColor(255, 210, 120));
        disk.setColorAt(1, close ? QColor(150, 34, 8) : QColor(150, 100, 30));
    } else {
        disk.setColorAt(0, QColor(86, 78, 66));
        disk.setColorAt(1, QColor(30, 26, 22));
    }
    p.setPen(QPen(QColor(176, 134, 64), 1.1));
    p.setBrush(disk);
    p.drawEllipse(c, 6.6, 6.6);
    const QColor mark = hover ? QColor(255, 250, 235) : QColor(232, 214, 170);
    p.setPen(QPen(mark, 1.6, Qt::SolidLine, Qt::RoundCap));
    if (close) {
        p.drawLine(c + QPointF(-2.6, -2.6), c + QPointF(2.6, 2.6));
        p.drawLine(c + QPointF(-2.6, 2.6), c + QPointF(2.6, -2.6));
    } else {
        p.drawLine(c + QPointF(-3, 2), c + QPointF(3, 2));
    }
    return pm;
}

QPixmap AppIcon(int size, qreal dpr) {
    QPixmap pm = Canvas(size, size, dpr);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    const QRectF r(3, 3, 58, 58);
    FillStone(p, r, QColor(88, 80, 68), QColor(32, 28, 24), 97, 12);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(214, 175, 96), 3));
    p.drawRoundedRect(r.adjusted(1.5, 1.5, -1.5, -1.5), 11, 11);
    p.setPen(QPen(QColor(0, 0, 0, 200), 1.2));
    p.drawRoundedRect(r.adjusted(4.5, 4.5, -4.5, -4.5), 8, 8);
    QPainterPath rune;
    rune.moveTo(22, 15);
    rune.lineTo(22, 49);
    rune.moveTo(43, 15);
    rune.lineTo(23, 32);
    rune.lineTo(44, 49);
    p.setPen(QPen(QColor(120, 30, 4, 200), 10, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(rune);
    QLinearGradient ember(0, 15, 0, 49);
    ember.setColorAt(0, QColor(255, 200, 100));
    ember.setColorAt(1, QColor(236, 92, 10));
    p.setPen(QPen(QBrush(ember), 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(rune);
    return pm;
}

QPixmap HandCursor(qreal dpr, QPoint* hotSpot) {
    QPixmap pm = Canvas(32, 32, dpr);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    auto rounded = [](QRectF r, qreal rad) {
        QPainterPath path;
        path.addRoundedRect(r, rad, rad);
        return path;
    };
    QPainterPath hand = rounded(QRectF(9, 1, 5.5, 17), 2.7);
    hand = hand.united(rounded(QRectF(13.5, 10, 5, 10), 2.4));
    hand = hand.united(rounded(QRectF(17.8, 11, 4.8, 10), 2.3));
    hand = hand.united(rounded(QRectF(21.8, 12.5, 4.6, 9), 2.2));
    hand = hand.united(rounded(QRectF(9, 15, 17.4, 13), 4.5));
    QTransform thumb;
    thumb.translate(9.5, 16.5);
    thumb.rotate(-38);
    hand = hand.united(thumb.map(rounded(QRectF(-9, -2.4, 10, 4.8), 2.4)));
    p.setPen(QPen(QColor(20, 14, 6), 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QLinearGradient skin(0, 0, 0, 28);
    skin.setColorAt(0, QColor(255, 250, 236));
    skin.setColorAt(1, QColor(236, 218, 178));
    p.setBrush(skin);
    p.drawPath(hand);
    p.setPen(QPen(QColor(120, 96, 60), 0.8));
    p.drawLine(QPointF(13.6, 15), QPointF(13.6, 19));
    p.drawLine(QPointF(17.9, 16), QPointF(17.9, 20));
    p.drawLine(QPointF(21.9, 17), QPointF(21.9, 20.5));
    if (hotSpot)
        *hotSpot = QPoint(11, 1);
    return pm;
}

namespace {

void Folder(QPainter& p, bool open) {
    p.setPen(QPen(QColor(138, 96, 18), 1));
    if (!open) {
        QPainterPath tab;
        tab.addRoundedRect(QRectF(1.5, 2.5, 6, 3), 1, 1);
        p.setBrush(QColor(222, 170, 60));
        p.drawPath(tab);
        QLinearGradient g(0, 4, 0, 14);
        g.setColorAt(0, QColor(252, 214, 110));
        g.setColorAt(1, QColor(226, 168, 52));
        p.setBrush(g);
        p.drawRoundedRect(QRectF(1.5, 4.5, 14, 10), 1, 1);
        return;
    }
    p.setBrush(QColor(214, 160, 52));
    p.drawRoundedRect(QRectF(1.5, 2.5, 13, 12), 1, 1);
    p.setBrush(Qt::white);
    p.setPen(QPen(QColor(150, 150, 150), 0.8));
    p.drawRect(QRectF(3.5, 4.5, 9, 6));
    QPolygonF flap({QPointF(4.5, 7.5), QPointF(16.5, 7.5), QPointF(14, 14.5), QPointF(1.5, 14.5)});
    QLinearGradient g(0, 7, 0, 14);
    g.setColorAt(0, QColor(255, 226, 130));
    g.setColorAt(1, QColor(236, 184, 70));
    p.setPen(QPen(QColor(138, 96, 18), 1));
    p.setBrush(g);
    p.drawPolygon(flap);
}

void DiskBox(QPainter& p, QColor body) {
    QLinearGradient g(0, 5, 0, 12);
    g.setColorAt(0, body.lighter(135));
    g.setColorAt(1, body.darker(130));
    p.setPen(QPen(QColor(60, 60, 64), 1));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(1.5, 5.5, 14, 6), 1.5, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 220, 80));
    p.drawEllipse(QPointF(12.5, 8.6), 1.1, 1.1);
}

void Monitor(QPainter& p, QPointF at, qreal w) {
    p.setPen(QPen(QColor(50, 56, 70), 1));
    p.setBrush(QColor(96, 160, 226));
    p.drawRect(QRectF(at.x() + 0.5, at.y() + 0.5, w, w * 0.72));
    p.drawLine(QPointF(at.x() + w / 2 + 0.5, at.y() + w * 0.72 + 0.5),
               QPointF(at.x() + w / 2 + 0.5, at.y() + w * 0.72 + 2.5));
    p.drawLine(QPointF(at.x() + w / 2 - 2, at.y() + w * 0.72 + 2.5),
               QPointF(at.x() + w / 2 + 3, at.y() + w * 0.72 + 2.5));
}

void Globe(QPainter& p, QPointF c, qreal r) {
    QRadialGradient g(c - QPointF(r / 3, r / 3), r * 1.4);
    g.setColorAt(0, QColor(150, 210, 255));
    g.setColorAt(1, QColor(30, 90, 170));
    p.setPen(QPen(QColor(20, 60, 120), 1));
    p.setBrush(g);
    p.drawEllipse(c, r, r);
    p.setPen(QPen(QColor(230, 245, 255, 170), 0.7));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, r * 0.45, r);
    p.drawLine(c - QPointF(r, 0), c + QPointF(r, 0));
}

void Tower(QPainter& p, QRectF r) {
    QLinearGradient g(r.topLeft(), r.topRight());
    g.setColorAt(0, QColor(200, 200, 206));
    g.setColorAt(1, QColor(120, 120, 128));
    p.setPen(QPen(QColor(50, 50, 56), 1));
    p.setBrush(g);
    p.drawRect(r);
    p.setPen(QPen(QColor(70, 70, 76), 0.8));
    for (qreal y = r.top() + 2.5; y < r.top() + 6; y += 2)
        p.drawLine(QPointF(r.left() + 1.5, y), QPointF(r.right() - 1.5, y));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 220, 80));
    p.drawEllipse(QPointF(r.center().x(), r.bottom() - 2), 0.9, 0.9);
}

void TreeImage(QPainter& p, int index) {
    switch (index) {
        case 0:
            Folder(p, true);
            break;
        case 1:
            Folder(p, false);
            break;
        case 2: {  // removable
            p.setPen(QPen(QColor(50, 50, 60), 1));
            p.setBrush(QColor(190, 190, 196));
            p.drawRect(QRectF(6.5, 1.5, 4, 4));
            QLinearGradient g(0, 5, 0, 15);
            g.setColorAt(0, QColor(70, 120, 200));
            g.setColorAt(1, QColor(30, 60, 130));
            p.setBrush(g);
            p.drawRoundedRect(QRectF(4.5, 5.5, 8, 9.5), 1.5, 1.5);
            break;
        }
        case 3:
            DiskBox(p, QColor(150, 152, 160));
            break;
        case 4:  // remote
            DiskBox(p, QColor(150, 152, 160));
            p.setPen(QPen(QColor(40, 120, 40), 1.2));
            p.drawLine(QPointF(8.5, 11.5), QPointF(8.5, 14.5));
            p.drawLine(QPointF(3.5, 14.5), QPointF(13.5, 14.5));
            break;
        case 5: {  // CD-ROM
            QRadialGradient g(QPointF(7, 6), 9);
            g.setColorAt(0, QColor(250, 250, 255));
            g.setColorAt(0.6, QColor(200, 210, 235));
            g.setColorAt(1, QColor(226, 200, 240));
            p.setPen(QPen(QColor(110, 110, 130), 1));
            p.setBrush(g);
            p.drawEllipse(QPointF(8.5, 8), 6.5, 6.5);
            p.setBrush(Qt::white);
            p.drawEllipse(QPointF(8.5, 8), 1.8, 1.8);
            break;
        }
        case 6:  // RAM disk
            p.setPen(QPen(QColor(20, 80, 30), 1));
            p.setBrush(QColor(40, 150, 60));
            p.drawRect(QRectF(1.5, 4.5, 14, 8));
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(30, 30, 34));
            for (int i = 0; i < 3; ++i)
                p.drawRect(QRectF(3 + i * 4.2, 6, 3, 4));
            p.setBrush(QColor(220, 180, 60));
            for (int i = 0; i < 6; ++i)
                p.drawRect(QRectF(2.5 + i * 2.2, 12.5, 1.2, 2));
            break;
        case 7:
            Globe(p, QPointF(8.5, 8), 6.5);
            break;  // Network Neighborhood
        case 8:     // domain
            Globe(p, QPointF(8.5, 8), 6.5);
            Monitor(p, QPointF(8, 8), 7);
            break;
        case 9:
            Tower(p, QRectF(5.5, 1.5, 6, 13));
            break;  // server
        case 10:    // share
            Folder(p, false);
            p.setPen(QPen(QColor(40, 110, 40), 1.3));
            p.drawLine(QPointF(8.5, 14.5), QPointF(8.5, 16));
            break;
        case 11: {  // file
            p.setPen(QPen(QColor(90, 90, 96), 1));
            p.setBrush(Qt::white);
            QPolygonF page({QPointF(3.5, 1.5), QPointF(10.5, 1.5), QPointF(13.5, 4.5),
                            QPointF(13.5, 14.5), QPointF(3.5, 14.5)});
            p.drawPolygon(page);
            break;
        }
        case 12:  // group
            Monitor(p, QPointF(0, 1), 9);
            Monitor(p, QPointF(7, 5), 9);
            break;
        case 13:  // network
            Globe(p, QPointF(8.5, 7), 5.5);
            p.setPen(QPen(QColor(40, 110, 40), 1.2));
            p.drawLine(QPointF(2, 14.5), QPointF(15, 14.5));
            break;
        default:  // root of a provider: stacked servers
            Tower(p, QRectF(1.5, 2.5, 6, 12));
            Tower(p, QRectF(9.5, 2.5, 6, 12));
            break;
    }
}

}  // namespace

QPixmap TreeStrip(qreal dpr) {
    QPixmap pm = Canvas(255, 16, dpr);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 15; ++i) {
        p.save();
        p.translate(i * 17, 0);
        p.setClipRect(QRectF(0, 0, 17, 16));
        TreeImage(p, i);
        p.restore();
    }
    return pm;
}

}  // namespace skiv::app::skinpaint
