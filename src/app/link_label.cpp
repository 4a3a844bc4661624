#include "app/link_label.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "app/modal_hooks.h"
#include "app/skin.h"

namespace skiv::app {

LinkLabel::LinkLabel(QWidget* parent) : QLabel(parent) {}

void LinkLabel::Attach(const Skin& skin) {
    if (m_url.isEmpty())
        m_url = text();
    if (text().isEmpty())
        setText(m_url);
    m_attached = true;
    ResizeToText();
    setCursor(skin.HandCursor());
    setToolTip(m_url);
}

void LinkLabel::SetLinkUrl(const QString& address) {
    m_url = address;
    ResizeToText();
    setToolTip(m_url);
}

void LinkLabel::SetUnderline(bool underline) {
    m_underline = underline;
    update();
}

void LinkLabel::SetColourOverride(std::optional<QColor> colour) {
    m_override = colour;
    update();
}

QColor LinkLabel::TextColour() const {
    if (m_override)
        return *m_override;
    return QColor(m_visited ? kVisitedColour : kLinkColour);
}

QFont LinkLabel::DrawFont() const {
    QFont f = font();
    f.setUnderline(m_underline);
    return f;
}

// Sized with the font the text is drawn in, so the text always fits.
void LinkLabel::ResizeToText() {
    if (!m_adjustSize)
        return;
    const QFontMetrics fm(DrawFont());
    const int tw = fm.horizontalAdvance(text());
    // Room for the underline too: some faces put it below their descent.
    const int th = std::max(fm.height(), fm.ascent() + fm.underlinePos() + fm.lineWidth());
    QRect r = geometry();
    const Qt::Alignment a = alignment();
    if (a & Qt::AlignVCenter)
        r.adjust(0, (r.height() - th) / 2, 0, -((r.height() - th) / 2));
    else
        r.setHeight(th);
    if (a & Qt::AlignHCenter) {
        const int d = (r.width() - tw) / 2;
        r.adjust(d, 0, -d, 0);
    } else if (a & Qt::AlignRight) {
        r.setLeft(r.right() - tw + 1);
    } else {
        r.setWidth(tw);
    }
    setGeometry(r);
}

void LinkLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange && m_attached)
        ResizeToText();
}

void LinkLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setFont(DrawFont());
    p.setPen(TextColour());
    p.drawText(rect(), static_cast<int>(alignment()) | Qt::TextSingleLine, text());
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Click();
}

void LinkLabel::Click() {
    if (m_url.startsWith(QLatin1String("mailto"), Qt::CaseSensitive)) {
        if (const std::optional<int> error = OpenLink(m_url)) {
            QApplication::beep();
            ShowOpenError(*error);
        } else {
            m_visited = true;
            update();
        }
        return;
    }
    OpenAddress(OpenTarget::kBrowser, m_url);
}

std::optional<int> LinkLabel::OpenLink(const QString& address) {
    constexpr int kNoAssociation = 31;
    if (OpenAddress(OpenTarget::kMail, address))
        return std::nullopt;
    return kNoAssociation;
}

QString LinkLabel::OpenErrorText(int code) {
    const char* text = nullptr;
    switch (code) {
        case 0:
            text = "The operating system is out\nof memory or resources.";
            break;
        case 2:
            text = "The specified file was not found.";
            break;
        case 3:
            text = "The specified path was not found.";
            break;
        case 5:
            text = "The operating system denied\naccess to the specified file.";
            break;
        case 8:
            text = "There was not enough memory to complete the operation.";
            break;
        case 11:
            text = "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
            break;
        case 26:
            text = "A sharing violation occurred. ";
            break;
        case 27:
            text = "The filename association is\nincomplete or invalid.";
            break;
        case 28:
            text = "The DDE transaction could not\nbe completed because the request timed out.";
            break;
        case 29:
            text = "The DDE transaction failed.";
            break;
        case 30:
            text =
                "The DDE transaction could not\nbe completed because other DDE transactions\nwere "
                "being processed.";
            break;
        case 31:
            text = "There is no application associated\nwith the given filename extension.";
            break;
        case 32:
            text = "The specified dynamic-link library was not found.";
            break;
        default:
            break;
    }
    const QString detail =
        text ? QString::fromLatin1(text) : QStringLiteral("Unknown Error (%1) occurred.").arg(code);
    return QStringLiteral("Unable to open hyperlink:\n\n") + detail;
}

void LinkLabel::ShowOpenError(int code) {
    ModalBox box;
    box.kind = ModalBox::kWarning;
    box.text = OpenErrorText(code);
    box.caption = QCoreApplication::applicationName();
    box.owner = this;
    RunModalBox(box);
}

}  // namespace skiv::app
