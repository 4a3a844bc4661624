#include "app/versions_box.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QVBoxLayout>

#include "app/skin.h"
#include "ui_layout/main_window_layout.h"

namespace skiv::app {

namespace {

namespace layout = ui::main_window;

QColor Orange() {
    const auto c = layout::kRegisterLinkColour;
    return QColor(c.red, c.green, c.blue);
}

// A text that acts on a click, in the window's link colour and cursor.
QLabel* ActionLink(const Skin& skin, const QString& text, QWidget* parent) {
    auto* link = new QLabel(QStringLiteral("<a href=\"#\" style=\"color:%1\">%2</a>")
                                .arg(Orange().name(), text.toHtmlEscaped()),
                            parent);
    link->setFont(Skin::StaticFont(true));
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    link->setCursor(skin.HandCursor());
    return link;
}

}  // namespace

QString VersionsBox::LineOf(const VersionInfo& v) {
    const QString date = QDateTime::fromSecsSinceEpoch(v.time).toString("yyyy-MM-dd hh:mm");
    const QString changed = v.changed < 0 ? QStringLiteral("-") : QString::number(v.changed);
    return QStringLiteral("%1  %2  %3MB  %4  변경 %5")
        .arg(v.number, 2)
        .arg(date)
        .arg(std::max<qint64>(1, v.packageBytes / 1232896))
        .arg(QString::fromStdString(v.computer))
        .arg(changed);
}

VersionsBox::VersionsBox(const Skin& skin, const std::vector<VersionInfo>& versions,
                         QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName("VersionsBox");
    setModal(true);
    setFixedSize(360, 220);
    auto* title = new QLabel(QStringLiteral("저장된 버전"), this);
    title->setFont(Skin::StaticFont(true));
    title->setStyleSheet(QStringLiteral("color:%1").arg(Orange().name()));
    m_list = new QListWidget(this);
    m_list->setObjectName("VersionsList");
    m_list->setFont(Skin::StaticFont(false));
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setStyleSheet(QStringLiteral("QListWidget{border:1px solid #c8c8c8;}"
                                         "QListWidget::item:selected{background:%1;color:white;}")
                              .arg(Orange().name()));
    for (const VersionInfo& v : versions) {
        m_list->addItem(LineOf(v));
        m_numbers.push_back(v.number);
    }
    if (m_list->count() > 0)
        m_list->setCurrentRow(0);
    auto* install = ActionLink(skin, QStringLiteral("이 버전 설치"), this);
    install->setObjectName("VersionsInstall");
    auto* close = ActionLink(skin, QStringLiteral("닫기"), this);
    close->setObjectName("VersionsClose");
    connect(install, &QLabel::linkActivated, this, [this] { Choose(); });
    connect(close, &QLabel::linkActivated, this, [this] { reject(); });
    connect(m_list, &QListWidget::itemDoubleClicked, this, [this] { Choose(); });

    auto* links = new QHBoxLayout;
    links->addStretch();
    links->addWidget(install);
    links->addSpacing(12);
    links->addWidget(close);
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(12, 10, 12, 10);
    box->addWidget(title);
    box->addWidget(m_list);
    box->addLayout(links);
}

void VersionsBox::Choose() {
    const int row = m_list->currentRow();
    if (row < 0 || row >= static_cast<int>(m_numbers.size()))
        return;
    m_chosen = m_numbers[static_cast<std::size_t>(row)];
    accept();
}

void VersionsBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.setPen(QPen(Orange(), 2));
    p.drawRect(rect().adjusted(1, 1, -1, -1));
}

}  // namespace skiv::app
