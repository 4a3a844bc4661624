// Stone, parchment and the two window backgrounds.

#include <QFontMetricsF>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>

#include "app/skin.h"
#include "app/skin_paint.h"

namespace skiv::app::skinpaint {

namespace {

constexpr int kWidth = 405;
constexpr int kHeight = 436;

// Ink of the parchment texts (the statics use the same brown).
const QColor kInk(67, 61, 49);
const QColor kBronze(138, 106, 53);
const QColor kGold(214, 175, 96);
const QColor kLabel(233, 220, 184);

quint32 Hash(quint32 x, quint32 y, quint32 seed) {
    quint32 h = x * 374761393u + y * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

float Unit(quint32 x, quint32 y, quint32 seed) {
    return static_cast<float>(Hash(x, y, seed) & 0xFFFF) / 65535.0f;
}

// Smooth value noise in 0..1 with cells of one unit, read along one row:
// neighbouring pixels share a cell (4 to 19 pixels wide here), so the four
// corner values are hashed once per cell rather than once per pixel. The
// arithmetic per point is unchanged, so the grain is the same to the bit.
class NoiseRow {
public:
    NoiseRow(float y, quint32 seed) : m_seed(seed) {
        const float fy = std::floor(y);
        m_iy = static_cast<quint32>(static_cast<int>(fy) + 4096);
        const float ty = y - fy;
        m_ty = ty * ty * (3 - 2 * ty);
    }

    float At(float x) {
        const float fx = std::floor(x);
        const auto ix = static_cast<quint32>(static_cast<int>(fx) + 4096);
        if (!m_cached || ix != m_ix) {
            m_ix = ix;
            m_cached = true;
            m_a = Unit(ix, m_iy, m_seed);
            m_b = Unit(ix + 1, m_iy, m_seed);
            m_c = Unit(ix, m_iy + 1, m_seed);
            m_d = Unit(ix + 1, m_iy + 1, m_seed);
        }
        float tx = x - fx;
        tx = tx * tx * (3 - 2 * tx);
        return (m_a + (m_b - m_a) * tx) +
               ((m_c + (m_d - m_c) * tx) - (m_a + (m_b - m_a) * tx)) * m_ty;
    }

private:
    quint32 m_seed, m_iy, m_ix = 0;
    float m_ty;
    bool m_cached = false;
    float m_a = 0, m_b = 0, m_c = 0, m_d = 0;
};

// A grain texture over r: light and dark specks of at most `strength`
// alpha, mottled at two scales. Made at logical resolution whatever the
// screen: grain needs no more, and a high-DPI start-up stays quick.
QImage Grain(const QRectF& r, unsigned seed, float strength, float mottle) {
    const int w = std::max(1, qRound(r.width()));
    const int h = std::max(1, qRound(r.height()));
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        const float ly = static_cast<float>(y + r.top());
        NoiseRow coarse(ly / 13.0f, seed), fine(ly / 4.0f, seed + 1);
        for (int x = 0; x < w; ++x) {
            const float lx = static_cast<float>(x + r.left());
            float n =
                mottle * (coarse.At(lx / 19.0f) - 0.5f) + 0.45f * (fine.At(lx / 4.0f) - 0.5f) +
                0.35f * (Unit(static_cast<quint32>(x), static_cast<quint32>(y), seed + 2) - 0.5f);
            const int a = std::clamp(static_cast<int>(std::abs(n) * strength * 255.0f), 0, 255);
            line[x] = n > 0 ? qRgba(a, a, a, a) : qRgba(0, 0, 0, a);
        }
    }
    return img;
}

void Cracks(QPainter& p, const QRectF& r, unsigned seed, int count) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < count; ++i) {
        QPointF pt(r.left() + Unit(i, 1, seed) * r.width(),
                   r.top() + Unit(i, 2, seed) * r.height());
        QPainterPath path(pt);
        qreal angle = Unit(i, 3, seed) * 6.283;
        const int steps = 3 + static_cast<int>(Unit(i, 4, seed) * 5);
        for (int s = 0; s < steps; ++s) {
            angle += (Unit(i, 10 + s, seed) - 0.5) * 1.4;
            const qreal len = 3 + Unit(i, 20 + s, seed) * 7;
            pt += QPointF(std::cos(angle) * len, std::sin(angle) * len);
            path.lineTo(pt);
        }
        p.setPen(QPen(QColor(0, 0, 0, 70), 0.8));
        p.drawPath(path);
        p.setPen(QPen(QColor(255, 255, 255, 14), 0.8));
        p.drawPath(path.translated(0.7, 0.7));
    }
    p.restore();
}

}  // namespace

void FillStone(QPainter& p, const QRectF& r, QColor top, QColor bottom, unsigned seed,
               qreal radius) {
    p.save();
    QPainterPath shape;
    if (radius > 0) {
        p.setRenderHint(QPainter::Antialiasing);
        shape.addRoundedRect(r, radius, radius);
    } else {
        shape.addRect(r);
    }
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.fillPath(shape, g);
    p.setClipPath(shape, Qt::IntersectClip);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(r, Grain(r, seed, 0.16f, 0.9f));
    Cracks(p, r, seed, static_cast<int>(r.width() * r.height() / 9000) + 1);
    p.restore();
}

void FillParchment(QPainter& p, const QRectF& r, unsigned seed) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(r, 3, 3);
    QLinearGradient g(r.topLeft(), r.bottomRight());
    g.setColorAt(0, QColor(241, 228, 192));
    g.setColorAt(0.6, QColor(234, 217, 176));
    g.setColorAt(1, QColor(222, 200, 152));
    p.fillPath(shape, g);
    p.setClipPath(shape, Qt::IntersectClip);
    // Fibres, then a few faint stains.
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(r, Grain(r, seed, 0.07f, 1.4f));
    for (int i = 0; i < 4; ++i) {
        const QPointF c(r.left() + Unit(i, 7, seed) * r.width(),
                        r.top() + Unit(i, 8, seed) * r.height());
        const qreal rad = 14 + Unit(i, 9, seed) * 26;
        QRadialGradient stain(c, rad);
        stain.setColorAt(0, QColor(150, 110, 50, 0));
        stain.setColorAt(0.8, QColor(150, 110, 50, 22));
        stain.setColorAt(1, QColor(150, 110, 50, 0));
        p.fillRect(QRectF(c.x() - rad, c.y() - rad, 2 * rad, 2 * rad), stain);
    }
    // Burnt edges: brown fading inwards from every side.
    const qreal edge = 9;
    auto shade = [&](QPointF from, QPointF to, const QRectF& band) {
        QLinearGradient e(from, to);
        e.setColorAt(0, QColor(112, 70, 30, 120));
        e.setColorAt(0.35, QColor(140, 95, 45, 45));
        e.setColorAt(1, QColor(140, 95, 45, 0));
        p.fillRect(band, e);
    };
    shade(r.topLeft(), r.topLeft() + QPointF(0, edge), QRectF(r.left(), r.top(), r.width(), edge));
    shade(r.bottomLeft(), r.bottomLeft() - QPointF(0, edge),
          QRectF(r.left(), r.bottom() - edge, r.width(), edge));
    shade(r.topLeft(), r.topLeft() + QPointF(edge, 0), QRectF(r.left(), r.top(), edge, r.height()));
    shade(r.topRight(), r.topRight() - QPointF(edge, 0),
          QRectF(r.right() - edge, r.top(), edge, r.height()));
    p.setClipping(false);
    p.setPen(QPen(QColor(92, 62, 28, 200), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    p.restore();
}

void CarvedPanel(QPainter& p, const QRectF& r, unsigned seed) {
    FillStone(p, r, QColor(31, 28, 24), QColor(22, 19, 16), seed, 3);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    // Inner shadow along the top and left, a lit lip along bottom and right.
    const QRectF in = r.adjusted(1, 1, -1, -1);
    p.setPen(QPen(QColor(0, 0, 0, 170), 2));
    p.drawLine(QPointF(in.left() + 2, in.top() + 1), QPointF(in.right() - 2, in.top() + 1));
    p.drawLine(QPointF(in.left() + 1, in.top() + 2), QPointF(in.left() + 1, in.bottom() - 2));
    p.setPen(QPen(QColor(255, 236, 190, 34), 1));
    p.drawLine(QPointF(in.left() + 2, in.bottom() - 0.5),
               QPointF(in.right() - 2, in.bottom() - 0.5));
    p.drawLine(QPointF(in.right() - 0.5, in.top() + 2), QPointF(in.right() - 0.5, in.bottom() - 2));
    p.setPen(QPen(QColor(kBronze.red(), kBronze.green(), kBronze.blue(), 150), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    p.restore();
    Rivet(p, r.topLeft() + QPointF(5, 5), 1.8);
    Rivet(p, r.bottomLeft() + QPointF(5, -5), 1.8);
}

void Rivet(QPainter& p, QPointF c, qreal radius) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient g(c - QPointF(radius * 0.35, radius * 0.35), radius * 1.3);
    g.setColorAt(0, QColor(250, 222, 150));
    g.setColorAt(0.5, QColor(176, 132, 62));
    g.setColorAt(1, QColor(74, 52, 22));
    p.setPen(QPen(QColor(0, 0, 0, 160), 0.6));
    p.setBrush(g);
    p.drawEllipse(c, radius, radius);
    p.restore();
}

void ShadowText(QPainter& p, const QRectF& r, int flags, const QString& text, QColor ink,
                QColor shadow) {
    p.setPen(shadow);
    p.drawText(r.translated(1, 1), flags, text);
    p.setPen(ink);
    p.drawText(r, flags, text);
}

namespace {

// The product name engraved in the title band, with a small rune gem.
void TitleBand(QPainter& p) {
    FillStone(p, QRectF(0, 0, kWidth, 38), QColor(64, 56, 46), QColor(34, 30, 25), 11);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    // Gold rule under the band.
    QLinearGradient rule(0, 0, kWidth, 0);
    rule.setColorAt(0, QColor(120, 90, 40, 60));
    rule.setColorAt(0.2, kGold);
    rule.setColorAt(0.8, kGold);
    rule.setColorAt(1, QColor(120, 90, 40, 60));
    p.fillRect(QRectF(0, 37, kWidth, 1), rule);
    p.fillRect(QRectF(0, 38, kWidth, 1), QColor(0, 0, 0, 190));

    // Rune gem: a gold-rimmed diamond with an ember inside.
    const QPointF c(21, 19);
    QPolygonF outer(
        {c + QPointF(0, -10), c + QPointF(9, 0), c + QPointF(0, 10), c + QPointF(-9, 0)});
    QPolygonF inner(
        {c + QPointF(0, -6), c + QPointF(5.4, 0), c + QPointF(0, 6), c + QPointF(-5.4, 0)});
    QLinearGradient rim(c + QPointF(0, -10), c + QPointF(0, 10));
    rim.setColorAt(0, QColor(255, 226, 150));
    rim.setColorAt(1, QColor(120, 82, 30));
    p.setPen(QPen(QColor(20, 14, 8), 1));
    p.setBrush(rim);
    p.drawPolygon(outer);
    QRadialGradient ember(c - QPointF(1.5, 2), 7);
    ember.setColorAt(0, QColor(255, 190, 90));
    ember.setColorAt(0.5, QColor(232, 88, 12));
    ember.setColorAt(1, QColor(110, 24, 4));
    p.setBrush(ember);
    p.drawPolygon(inner);

    QFont f(QStringLiteral("NanumSquare"));
    f.setPixelSize(14);
    f.setWeight(QFont::ExtraBold);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 2.2);
    QPainterPath text;
    text.addText(QPointF(38, 24.5), f, QStringLiteral("KELBO SKIV ADDON"));
    p.fillPath(text.translated(1, 1.2), QColor(0, 0, 0, 200));
    QLinearGradient gold(0, 12, 0, 25);
    gold.setColorAt(0, QColor(255, 236, 180));
    gold.setColorAt(0.55, QColor(224, 180, 96));
    gold.setColorAt(1, QColor(150, 104, 40));
    p.fillPath(text, gold);

    // Recess behind the minimise and close marks.
    QPainterPath recess;
    recess.addRoundedRect(QRectF(359.5, 7.5, 44, 22), 5, 5);
    p.fillPath(recess, QColor(0, 0, 0, 90));
    p.setPen(QPen(QColor(255, 230, 170, 40), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(359.5, 8.5, 44, 22), 5, 5);
    p.restore();
}

// Check-box labels: centred on each box's row, to its right.
void CheckLabels(QPainter& p) {
    struct Label {
        int boxTop;
        const char* text;
    };
    static const Label labels[] = {
        {194, "설치후 WOW 런처 실행"},
        {217, "특정 폴더에 불러오기"},
        {263, "Interface, WTF 폴더만 저장"},
        {287, "Interface, WTF, Fonts, cache 폴더 저장"},
        {331, "되돌리기"},
        {355, "초기화 (게임 초기설정으로 되돌려줍니다)"},
    };
    QFont f = Skin::TextFont();
    f.setWeight(QFont::Bold);
    p.setRenderHint(QPainter::TextAntialiasing);
    for (const Label& l : labels) {
        const QString text = QString::fromUtf8(l.text);
        // Shrink a label that would run under the plate button.
        f.setPixelSize(12);
        while (QFontMetricsF(f).horizontalAdvance(text) > 232 && f.pixelSize() > 10)
            f.setPixelSize(f.pixelSize() - 1);
        p.setFont(f);
        ShadowText(p, QRectF(38, l.boxTop - 3, 236, 20), Qt::AlignLeft | Qt::AlignVCenter, text,
                   kLabel, QColor(0, 0, 0, 220));
    }
}

}  // namespace

QPixmap BackgroundBase(qreal dpr) {
    QPixmap pm(qRound(kWidth * dpr), qRound(kHeight * dpr));
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::black);
    QPainter p(&pm);
    FillStone(p, QRectF(0, 0, kWidth, kHeight), QColor(47, 42, 35), QColor(27, 24, 20), 7);
    TitleBand(p);

    // Parchment: logo, version line and either the login fields or the
    // member panel sit on it.
    const QRectF sheet(10, 46, 385, 124);
    FillParchment(p, sheet, 21);
    for (QPointF c : {sheet.topLeft() + QPointF(7, 7), sheet.topRight() + QPointF(-7, 7),
                      sheet.bottomLeft() + QPointF(7, -7), sheet.bottomRight() + QPointF(-7, -7)})
        Rivet(p, c, 2.4);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient rule(46, 0, 386, 0);
    rule.setColorAt(0, QColor(kInk.red(), kInk.green(), kInk.blue(), 140));
    rule.setColorAt(1, QColor(kInk.red(), kInk.green(), kInk.blue(), 0));
    p.fillRect(QRectF(46, 161, 340, 1), rule);

    // The three groups: install, save, roll back.
    CarvedPanel(p, QRectF(8, 182, 389, 64), 31);
    CarvedPanel(p, QRectF(8, 250, 389, 64), 32);
    CarvedPanel(p, QRectF(8, 318, 389, 64), 33);
    CheckLabels(p);

    // Groove of the progress bar.
    CarvedPanel(p, QRectF(8, 387, 389, 31), 34);

    // Frame just inside the rounded window edge.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 0, 0, 220), 1));
    p.drawRoundedRect(QRectF(0.5, 0.5, 403, 435), 6, 6);
    p.setPen(QPen(QColor(kBronze.red(), kBronze.green(), kBronze.blue(), 190), 1));
    p.drawRoundedRect(QRectF(1.5, 1.5, 401, 433), 5, 5);
    return pm;
}

QPixmap Background(const QPixmap& base, bool loggedIn) {
    QPixmap pm = base.copy();
    pm.setDevicePixelRatio(base.devicePixelRatio());
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    if (loggedIn) {
        // A faint ruled line between the member's name and the figures.
        QLinearGradient under(55, 0, 390, 0);
        under.setColorAt(0, QColor(kInk.red(), kInk.green(), kInk.blue(), 90));
        under.setColorAt(1, QColor(kInk.red(), kInk.green(), kInk.blue(), 0));
        p.fillRect(QRectF(55, 120, 335, 1), under);
    } else {
        QFont f(QStringLiteral("NanumSquare"));
        f.setPixelSize(12);
        f.setWeight(QFont::ExtraBold);
        p.setFont(f);
        ShadowText(p, QRectF(14, 100, 32, 21), Qt::AlignRight | Qt::AlignVCenter,
                   QStringLiteral("ID"), kInk, QColor(255, 250, 230, 160));
        ShadowText(p, QRectF(14, 123, 32, 21), Qt::AlignRight | Qt::AlignVCenter,
                   QStringLiteral("PW"), kInk, QColor(255, 250, 230, 160));
    }
    return pm;
}

QPixmap Logo(qreal dpr) {
    QPixmap pm(qRound(158 * dpr), qRound(31 * dpr));
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);

    // A small shield: bronze rim, dark stone field, an ember rune.
    QPainterPath shield;
    shield.moveTo(2, 3);
    shield.lineTo(24, 3);
    shield.lineTo(24, 15);
    shield.cubicTo(24, 23, 17, 27, 13, 29.5);
    shield.cubicTo(9, 27, 2, 23, 2, 15);
    shield.closeSubpath();
    QLinearGradient field(0, 3, 0, 29);
    field.setColorAt(0, QColor(70, 62, 52));
    field.setColorAt(1, QColor(28, 24, 20));
    p.setPen(QPen(QColor(150, 110, 50), 1.6));
    p.setBrush(field);
    p.drawPath(shield);
    QPainterPath rune;
    rune.moveTo(9, 8);
    rune.lineTo(9, 23);
    rune.moveTo(17.5, 8);
    rune.lineTo(9.5, 15.5);
    rune.lineTo(18, 23);
    p.setPen(QPen(QColor(255, 140, 30), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(rune);

    QFont big(QStringLiteral("NanumMyeongjo"));
    big.setPixelSize(19);
    big.setWeight(QFont::ExtraBold);
    QPainterPath name;
    name.addText(QPointF(31, 18), big, QStringLiteral("Kelbo Skiv"));
    p.fillPath(name.translated(0.8, 0.8), QColor(255, 248, 225, 170));
    p.fillPath(name, QColor(96, 28, 12));

    QFont small(QStringLiteral("NanumSquare"));
    small.setPixelSize(8);
    small.setWeight(QFont::Bold);
    small.setLetterSpacing(QFont::AbsoluteSpacing, 7.4);
    p.setFont(small);
    p.setPen(QColor(138, 96, 38));
    p.drawText(QPointF(33, 29), QStringLiteral("ADDON"));
    return pm;
}

QPixmap Separator(qreal dpr) {
    QPixmap pm(qRound(4 * dpr), qRound(11 * dpr));
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    QLinearGradient g(0, 0, 4, 0);
    g.setColorAt(0, QColor(90, 62, 26));
    g.setColorAt(0.4, QColor(236, 196, 110));
    g.setColorAt(1, QColor(96, 66, 28));
    p.fillRect(QRectF(0.5, 0, 3, 11), g);
    p.fillRect(QRectF(0.5, 0, 3, 1), QColor(255, 236, 180));
    p.fillRect(QRectF(0.5, 10, 3, 1), QColor(60, 40, 16));
    return pm;
}

}  // namespace skiv::app::skinpaint
