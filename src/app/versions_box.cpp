#include "app/versions_box.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QVBoxLayout>

#include "app/skin.h"
#include "ui_layout/main_window_layout.h"
#include "workspace/controller.h"

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
    return QString::fromStdString(VersionLine(v));
}

VersionsBox::VersionsBox(const Skin& skin, const std::vector<VersionInfo>& versions,
                         QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName("VersionsBox");
    setModal(true);
    setFixedSize(layout::kVersionsBoxWidth, layout::kVersionsBoxHeight);
    auto* title = new QLabel(QString::fromUtf8(layout::kVersionsTitle), this);
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
    auto* install = ActionLink(skin, QString::fromUtf8(layout::kVersionsInstallText), this);
    install->setObjectName("VersionsInstall");
    auto* close = ActionLink(skin, QString::fromUtf8(layout::kVersionsCloseText), this);
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
