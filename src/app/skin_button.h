#pragma once
// SkinButton: a flat push button that shows one of two images, the normal
// one and, while the mouse is over it or it is pressed, the hover one.
//
// It draws a one-pixel raised edge while hovered and a sunken edge while
// pressed, centres its image (an image larger than the button overhangs
// equally on both sides and is clipped), shifts it by (1, 1) while pressed,
// shows a tooltip and its own cursor. Hovering lights it only while the
// application is active. Clicks are reported through QAbstractButton's
// clicked(); a double-click counts as two clicks.
//
// Check style (setCheckable(true)): a click toggles the checked state,
// pressed means down or checked, the image ignores hovering and is not
// shifted.
//
// Images are implicitly shared pixmaps; the button keeps its own copies.
// GUI thread only.

#include <QAbstractButton>
#include <QPixmap>

namespace skiv::app {

class Skin;

class SkinButton : public QAbstractButton {
public:
    explicit SkinButton(QWidget* parent = nullptr);

    // Takes images hoverId and normalId of the skin; the result of
    // SetIconHandles.
    bool SetIconPair(const Skin& skin, int hoverId, int normalId);
    // Replaces the images. A null hover image leaves the button without
    // images. Each image is measured as twice its centre point (a 115 x 53
    // image measures 114 x 52) and drawn at that size. False when an image
    // has no size (the button is then left without images).
    bool SetIconHandles(const QPixmap& hover, const QPixmap& normal);
    // Sets the tip text; the tip shows only while activated.
    void SetTipText(const QString& text, bool activate);
    // Cursor over the button: a skin cursor number, 0 for the default one.
    // False when the skin has no such cursor.
    bool SetHoverCursor(const Skin& skin, int cursorId);

    bool IsHovered() const { return m_hover; }
    // Where the current image is drawn, in button coordinates, before the
    // press offset; an empty rect without images.
    QRect IconRect() const;
    QSize MeasuredSize(bool hover) const { return hover ? m_hoverSize : m_normalSize; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void TrackHover(Qt::MouseButtons buttons);
    void ClearHover();

    bool m_hover = false;
    QPixmap m_hoverIcon, m_normalIcon;
    QSize m_hoverSize, m_normalSize;
    QString m_tip;
};

}  // namespace skiv::app
