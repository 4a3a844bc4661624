#include "app/skin_button.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

#include "app/skin.h"

namespace skiv::app {

namespace {

// Halving that rounds toward minus infinity, so overhangs stay symmetric.
int HalfFloor(int v) {
    return v >= 0 ? v / 2 : -((-v + 1) / 2);
}

QSize Measure(const QPixmap& pm) {
    const QSize logical = pm.deviceIndependentSize().toSize();
    return {2 * (logical.width() / 2), 2 * (logical.height() / 2)};
}

}  // namespace

SkinButton::SkinButton(QWidget* parent) : QAbstractButton(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover, false);
    setFocusPolicy(Qt::TabFocus);
}

bool SkinButton::SetIconPair(const Skin& skin, int hoverId, int normalId) {
    return SetIconHandles(skin.Image(hoverId), skin.Image(normalId));
}

bool SkinButton::SetIconHandles(const QPixmap& hover, const QPixmap& normal) {
    m_hoverIcon = QPixmap();
    m_normalIcon = QPixmap();
    m_hoverSize = m_normalSize = QSize();
    if (hover.isNull())
        return true;
    const QSize hs = Measure(hover);
    const QSize ns = normal.isNull() ? QSize() : Measure(normal);
    if (hs.isEmpty() || (!normal.isNull() && ns.isEmpty()))
        return false;
    m_hoverIcon = hover;
    m_hoverSize = hs;
    if (!normal.isNull()) {
        m_normalIcon = normal;
        m_normalSize = ns;
    }
    repaint();
    return true;
}

void SkinButton::SetTipText(const QString& text, bool activate) {
    if (text.isNull())
        return;
    m_tip = text;
    setToolTip(activate ? m_tip : QString());
}

bool SkinButton::SetHoverCursor(const Skin& skin, int cursorId) {
    unsetCursor();
    if (cursorId == 0)
        return true;
    if (cursorId != kCursorHand)
        return false;
    setCursor(skin.HandCursor());
    return true;
}

QRect SkinButton::IconRect() const {
    if (m_hoverIcon.isNull())
        return {};
    const bool pressed = isDown() || (isCheckable() && isChecked());
    const bool lit = isCheckable() ? pressed : (m_hover || pressed);
    const QSize size = (!lit && !m_normalIcon.isNull()) ? m_normalSize : m_hoverSize;
    const QRect r = rect();
    return {r.left() + HalfFloor(r.width() - size.width()),
            r.top() + HalfFloor(r.height() - size.height()), size.width(), size.height()};
}

QSize SkinButton::sizeHint() const {
    return m_hoverSize.isValid() ? m_hoverSize : QSize(16, 16);
}

void SkinButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = rect();
    const bool pressed = isDown() || (isCheckable() && isChecked());
    const QPalette& pal = palette();

    // Active and inactive faces are both the palette's button colour.
    p.fillRect(r, pal.color(QPalette::Button));
    if (pressed || m_hover) {
        const QColor tl = pressed ? pal.color(QPalette::Dark) : pal.color(QPalette::Light);
        const QColor br = pressed ? pal.color(QPalette::Light) : pal.color(QPalette::Dark);
        p.fillRect(QRect(r.left(), r.top(), r.width(), 1), tl);
        p.fillRect(QRect(r.left(), r.top(), 1, r.height()), tl);
        p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), br);
        p.fillRect(QRect(r.right(), r.top(), 1, r.height()), br);
    }

    if (m_hoverIcon.isNull())
        return;
    const bool lit = isCheckable() ? pressed : (m_hover || pressed);
    const QPixmap& icon = (!lit && !m_normalIcon.isNull()) ? m_normalIcon : m_hoverIcon;
    QRect target = IconRect();
    if (pressed && !isCheckable())
        target.translate(1, 1);

    // Drawn at its measured size: the image is cropped to it, not scaled,
    // so that it stays sharp.
    const qreal dpr = icon.devicePixelRatio();
    const QRect source(0, 0, qRound(target.width() * dpr), qRound(target.height() * dpr));
    if (isEnabled()) {
        p.drawPixmap(target, icon, source);
    } else {
        QStyleOption opt;
        opt.initFrom(this);
        const QPixmap grey = style()->generatedIconPixmap(QIcon::Disabled, icon.copy(source), &opt);
        p.drawPixmap(target, grey);
    }
}

void SkinButton::TrackHover(Qt::MouseButtons buttons) {
    // A drag that started elsewhere does not light the button up.
    if ((buttons & Qt::LeftButton) && !m_hover)
        return;
    if (!m_hover) {
        if (QApplication::activeWindow() && parentWidget()) {
            m_hover = true;
            update();
        }
    }
}

void SkinButton::ClearHover() {
    if (!m_hover)
        return;
    m_hover = false;
    update();
}

void SkinButton::mouseMoveEvent(QMouseEvent* event) {
    QAbstractButton::mouseMoveEvent(event);
    if (rect().contains(event->position().toPoint()))
        TrackHover(event->buttons());
    else
        ClearHover();
}

void SkinButton::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a fast pair is a press like the first.
    mousePressEvent(event);
}

void SkinButton::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    TrackHover(QApplication::mouseButtons());
}

void SkinButton::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    ClearHover();
}

void SkinButton::focusOutEvent(QFocusEvent* event) {
    QAbstractButton::focusOutEvent(event);
    ClearHover();
}

void SkinButton::changeEvent(QEvent* event) {
    QAbstractButton::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        ClearHover();
    if (event->type() == QEvent::EnabledChange && !isEnabled())
        ClearHover();
}

}  // namespace skiv::app
