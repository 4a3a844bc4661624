#include "app/flavor_chooser.h"

#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>

#include "app/skin.h"
#include "ui_layout/main_window_layout.h"

namespace skiv::app {

namespace {

namespace layout = ui::main_window;

constexpr int kWidth = 360;
constexpr int kRowHeight = 44;
constexpr int kMaxRowsShown = 6;

QColor Colour(ui::Rgb c, int alpha = 255) {
    return QColor(c.red, c.green, c.blue, alpha);
}

QString FromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// The stone-coloured push buttons of the skin.
QPushButton* MakeButton(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setFont(Skin::TextFont());
    button->setCursor(Skin::Instance().HandCursor());
    button->setStyleSheet(
        QStringLiteral("QPushButton { color: %1; background: %2; border: 1px solid %3; "
                       "border-bottom-color: %4; border-right-color: %4; padding: 3px; }"
                       "QPushButton:hover { border-color: %1; }"
                       "QPushButton:disabled { color: #7a6e5c; }")
            .arg(Colour(layout::kButtonLightEdge).name(), Colour(layout::kButtonFace).name(),
                 Colour(layout::kButtonLightEdge).darker(160).name(),
                 Colour(layout::kButtonDarkEdge).name()));
    return button;
}

}  // namespace

FlavorChooser::FlavorChooser(const std::vector<FlavorChoice>& choices, std::size_t preselected,
                             QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("게임 종류 선택"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(Skin::Instance().AppIcon());
    const int rows =
        std::min<int>(std::max<int>(static_cast<int>(choices.size()), 2), kMaxRowsShown);
    const int listTop = 84, listHeight = rows * kRowHeight + 4;
    setFixedSize(kWidth, listTop + listHeight + 48);

    auto* heading = new QLabel(
        QStringLiteral("여러 게임 종류가 설치되어 있습니다.\n애드온 설정을 사용할 게임을 "
                       "선택하세요."),
        this);
    heading->setFont(Skin::StaticFont(true));
    heading->setGeometry(16, 44, kWidth - 32, 34);
    QPalette pal = heading->palette();
    pal.setColor(QPalette::WindowText, Colour(layout::kButtonLightEdge));
    heading->setPalette(pal);

    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("flavorList"));
    m_list->setGeometry(16, listTop, kWidth - 32, listHeight);
    m_list->setFont(Skin::TextFont());
    m_list->setIconSize(QSize(17, 16));
    m_list->setStyleSheet(
        QStringLiteral("QListWidget { background: rgba(20, 17, 14, 220); color: %1; "
                       "border: 1px solid %2; outline: 0; }"
                       "QListWidget::item { height: %3px; padding-left: 4px; "
                       "border-bottom: 1px solid rgba(236, 214, 160, 40); }"
                       "QListWidget::item:selected { background: %4; color: white; }"
                       "QListWidget::item:hover:!selected { background: rgba(232, 110, 18, 70); }")
            .arg(Colour(layout::kButtonLightEdge).name(),
                 Colour(layout::kButtonLightEdge).darker(200).name())
            .arg(kRowHeight - 1)
            .arg(Colour(layout::kProgressChunk).darker(130).name()));
    const QIcon folderIcon(Skin::Instance().TreeImage(1));
    for (const FlavorChoice& c : choices) {
        const QString title = c.flavor.empty() ? FromUtf8(c.name)
                                               : FromUtf8(c.name) + QStringLiteral("  (") +
                                                     FromUtf8(c.flavor) + QLatin1Char(')');
        auto* item =
            new QListWidgetItem(folderIcon, title + QLatin1Char('\n') + FromUtf8(c.folder), m_list);
        item->setToolTip(FromUtf8(c.folder));
    }

    const int buttonTop = listTop + listHeight + 12;
    m_ok = MakeButton(QStringLiteral("확인"), this);
    m_ok->setObjectName(QStringLiteral("1"));
    m_ok->setGeometry(kWidth - 16 - 2 * 80 - 8, buttonTop, 80, 24);
    m_ok->setDefault(true);
    m_cancel = MakeButton(QStringLiteral("취소"), this);
    m_cancel->setObjectName(QStringLiteral("2"));
    m_cancel->setGeometry(kWidth - 16 - 80, buttonTop, 80, 24);

    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_list, &QListWidget::itemSelectionChanged, this,
            [this] { m_ok->setEnabled(Chosen() >= 0); });
    connect(m_list, &QListWidget::itemDoubleClicked, this, [this] { accept(); });
    m_ok->setEnabled(false);
    if (preselected < choices.size())
        m_list->setCurrentRow(static_cast<int>(preselected));
    m_list->setFocus();
}

int FlavorChooser::Chosen() const {
    const auto selected = m_list->selectedItems();
    return selected.isEmpty() ? -1 : m_list->row(selected.front());
}

void FlavorChooser::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const Skin& skin = Skin::Instance();
    // The logged-in background's upper part, under a veil that keeps the
    // list readable.
    const QPixmap back = skin.Image(kBmpBackLoggedIn);
    p.fillRect(rect(), Colour(layout::kProgressTrough));
    if (!back.isNull())
        p.drawPixmap(rect(), back, QRectF(QPointF(0, 0), QSizeF(size()) * back.devicePixelRatio()));
    p.fillRect(rect(), QColor(0, 0, 0, 110));
    const QPixmap logo = skin.Image(kBmpLogo);
    if (!logo.isNull())
        p.drawPixmap(QPoint(14, 10), logo);
    p.setPen(Colour(layout::kButtonLightEdge).darker(140));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace skiv::app
