#include "app/flavor_chooser.h"

#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <algorithm>

#include "app/skin.h"
#include "ui_layout/main_window_layout.h"

namespace skiv::app {

namespace {

namespace layout = ui::main_window;

constexpr int kWidth = 405;      // the skin's background width
constexpr int kBandHeight = 40;  // the background's logo band
constexpr int kBandPlate = 350;  // where the band's button plate begins
constexpr int kBandRepeat = 30;
constexpr int kMaxRowsShown = 6;

QColor Colour(ui::Rgb c) {
    return QColor(c.red, c.green, c.blue);
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

    auto* heading = new QLabel(QStringLiteral("여러 게임 종류가 설치되어 있습니다.\n"
                                              "애드온 설정을 사용할 게임을 선택하세요."),
                               this);
    heading->setFont(Skin::StaticFont(true));
    heading->setGeometry(16, kBandHeight + 8, kWidth - 32, 34);
    QPalette pal = heading->palette();
    pal.setColor(QPalette::WindowText, Colour(layout::kButtonLightEdge));
    heading->setPalette(pal);

    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("flavorList"));
    m_list->setFont(Skin::TextFont());
    m_list->setIconSize(QSize(17, 16));
    m_list->setUniformItemSizes(true);
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setStyleSheet(
        QStringLiteral("QListWidget { background: rgb(20, 17, 14); color: %1; "
                       "border: 1px solid %2; outline: 0; }"
                       "QListWidget::item { padding: 4px; "
                       "border-bottom: 1px solid rgba(236, 214, 160, 40); }"
                       "QListWidget::item:selected { background: %3; color: white; }"
                       "QListWidget::item:hover:!selected { background: rgba(232, 110, 18, 70); }")
            .arg(Colour(layout::kButtonLightEdge).name(),
                 Colour(layout::kButtonLightEdge).darker(200).name(),
                 Colour(layout::kProgressChunk).darker(130).name()));
    const QIcon folderIcon(Skin::Instance().TreeImage(1));
    for (const FlavorChoice& c : choices) {
        QString title = FromUtf8(c.name);
        if (!c.flavor.empty())
            title += QStringLiteral("  (") + FromUtf8(c.flavor) + QLatin1Char(')');
        auto* item =
            new QListWidgetItem(folderIcon, title + QLatin1Char('\n') + FromUtf8(c.folder), m_list);
        item->setToolTip(FromUtf8(c.folder));
    }
    // Every row shown up to kMaxRowsShown, so a usual install needs no
    // scrolling.
    const int rows = std::clamp(static_cast<int>(choices.size()), 2, kMaxRowsShown);
    const int rowHeight = choices.empty() ? 40 : m_list->sizeHintForRow(0);
    const int listTop = kBandHeight + 48;
    const int listHeight = rows * rowHeight + 2 * m_list->frameWidth() + 2;
    m_list->setGeometry(16, listTop, kWidth - 32, listHeight);

    const int buttonTop = listTop + listHeight + 12;
    setFixedSize(kWidth, buttonTop + 36);
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
    // The logged-in background's logo band over the stone colour of the
    // window's lower panel.
    p.fillRect(rect(), Colour(layout::kProgressTrough));
    const QPixmap back = Skin::Instance().Image(kBmpBackLoggedIn);
    if (!back.isNull()) {
        const qreal dpr = back.devicePixelRatio();
        // The band's right end holds the window's own buttons' plate; the
        // plain band before it is repeated there instead.
        p.drawPixmap(QRectF(0, 0, kBandPlate, kBandHeight), back,
                     QRectF(0, 0, kBandPlate * dpr, kBandHeight * dpr));
        for (int x = kBandPlate; x < kWidth; x += kBandRepeat)
            p.drawPixmap(
                QRectF(x, 0, kBandRepeat, kBandHeight), back,
                QRectF((kBandPlate - kBandRepeat) * dpr, 0, kBandRepeat * dpr, kBandHeight * dpr));
    }
    p.setPen(Colour(layout::kButtonLightEdge).darker(140));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace skiv::app
