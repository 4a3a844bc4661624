#pragma once
// LinkLabel: a static text that behaves as a hyperlink: underlined text
// in the link colour (the visited colour once a mail address has been
// opened), the hand cursor, a tooltip with the address, and a click that
// opens the address.
//
// Addresses that start with "mailto" (exactly, case-sensitive) go to the
// desktop's mail handler; a failure beeps and shows ShowOpenError. Every
// other address goes to the default web browser; that path changes nothing
// and reports nothing.
//
// The owning window may force the text colour (SetColourOverride): the
// main window paints its link in its own orange whatever the link state.
// GUI thread only.

#include <QColor>
#include <QLabel>
#include <optional>

namespace skiv::app {

class Skin;

class LinkLabel : public QLabel {
public:
    static constexpr QRgb kLinkColour = qRgb(0, 0, 238);
    static constexpr QRgb kVisitedColour = qRgb(85, 26, 139);

    explicit LinkLabel(QWidget* parent = nullptr);

    // Makes the label a link: an empty address is taken from the text, an
    // empty text shows the address; the label is sized to its text; the
    // skin's hand cursor and the address tooltip are set.
    void Attach(const Skin& skin);
    // Sets the address, resizes to the text, updates the tooltip.
    void SetLinkUrl(const QString& address);
    const QString& LinkUrl() const { return m_url; }

    bool IsVisited() const { return m_visited; }
    void SetUnderline(bool underline);
    void SetAdjustSize(bool adjust) { m_adjustSize = adjust; }
    void SetColourOverride(std::optional<QColor> colour);
    // The colour the text is drawn in now.
    QColor TextColour() const;

    // What a click does.
    void Click();

    // Opens an address with the desktop's handler: nothing on success,
    // else the shell error code for OpenErrorText (31: nothing handles the
    // address).
    static std::optional<int> OpenLink(const QString& address);
    // "Unable to open hyperlink:\n\n" and the text for code.
    static QString OpenErrorText(int code);
    // Shows OpenErrorText in a warning box captioned with the program name.
    void ShowOpenError(int code);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QFont DrawFont() const;
    void ResizeToText();

    QString m_url;
    bool m_visited = false;
    bool m_underline = true;
    bool m_adjustSize = true;
    bool m_attached = false;
    std::optional<QColor> m_override;
};

}  // namespace skiv::app
