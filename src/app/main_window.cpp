#include "app/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <memory>

#include "app/dialog_units.h"
#include "app/gui_thread.h"
#include "app/link_label.h"
#include "app/modal_hooks.h"
#include "app/skin.h"
#include "app/skin_button.h"
#include "app/versions_box.h"

namespace skiv::app {

namespace layout = ui::main_window;

namespace {

// A template rectangle in pixels.
QRect Du(ui::Rect r) {
    return MapDialogRect(r.x, r.y, r.width, r.height, layout::kBaseUnitX, layout::kBaseUnitY);
}

QRect Pixels(ui::Rect r) {
    return QRect(r.x, r.y, r.width, r.height);
}

QColor ToColour(ui::Rgb c) {
    return QColor(c.red, c.green, c.blue);
}

QString FromUtf8(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

MainWindow::MainWindow(const Skin& skin, ServiceConfig config, const std::string& logFolder,
                       QWidget* parent)
    : QDialog(parent), m_skin(skin) {
    m_log.SetFolder(logFolder);
    m_controller = std::make_unique<skiv::Controller>(*this, m_log, std::move(config));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setFixedSize(layout::kClientWidth, layout::kClientHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    CreateControls();
    Initialize();
}

MainWindow::~MainWindow() {
    // The worker uses the session and may be blocked in a call to us.
    WaitForRunningTask();
}

// ---- building the controls ----

void MainWindow::Adopt(QWidget* widget, Control control) {
    widget->setObjectName(QLatin1String(layout::NameOf(control)));
    widget->installEventFilter(this);
    m_byControl[static_cast<size_t>(control)] = widget;
}

SkinButton* MainWindow::MakeButton(Control control) {
    const layout::ButtonSpec& spec = layout::SpecOf(layout::kButtons, control);
    QPalette faces = palette();
    faces.setColor(QPalette::Button, ToColour(layout::kButtonFace));
    faces.setColor(QPalette::Light, ToColour(layout::kButtonLightEdge));
    faces.setColor(QPalette::Dark, ToColour(layout::kButtonDarkEdge));
    auto* button = new SkinButton(this);
    Adopt(button, control);
    button->setGeometry(Du(spec.rect));
    button->setPalette(faces);
    button->SetIconPair(m_skin, spec.hoverImage, spec.normalImage);
    button->SetTipText(QString::fromUtf8(spec.tip), true);
    button->SetHoverCursor(m_skin, kCursorHand);
    return button;
}

QLineEdit* MainWindow::MakeEdit(Control control, ui::Rect rect) {
    auto* edit = new QLineEdit(this);
    Adopt(edit, control);
    edit->setGeometry(Du(rect));
    edit->setFont(Skin::TextFont());
    edit->setTextMargins(layout::kEditTextMargin, 0, layout::kEditTextMargin, 0);
    return edit;
}

QCheckBox* MainWindow::MakeCheck(Control control) {
    const layout::CheckSpec& spec = layout::SpecOf(layout::kChecks, control);
    auto* box = new QCheckBox(this);
    Adopt(box, control);
    box->setGeometry(Du(spec.rect));
    box->setChecked(spec.checkedAtStart);
    return box;
}

QLabel* MainWindow::MakeLabel(Control control) {
    const layout::LabelSpec& spec = layout::SpecOf(layout::kLabels, control);
    auto* label = new QLabel(QString::fromUtf8(spec.text), this);
    Adopt(label, control);
    label->setGeometry(Du(spec.rect));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFont(Skin::StaticFont(spec.bold));
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, ToColour(spec.colour));
    label->setPalette(pal);
    return label;
}

QLabel* MainWindow::MakeSeparator(Control control, ui::Rect rect) {
    const QPixmap separator = m_skin.Image(kBmpSeparator);
    auto* label = new QLabel(this);
    Adopt(label, control);
    label->setPixmap(separator);
    label->setGeometry(QRect(Du(rect).topLeft(), separator.deviceIndependentSize().toSize()));
    return label;
}

void MainWindow::CreateControls() {
    // Creation order is stacking order.
    m_closeButton = MakeButton(Control::CloseButton);
    m_minimizeButton = MakeButton(Control::MinimizeButton);
    m_loginButton = MakeButton(Control::LoginButton);
    m_installButton = MakeButton(Control::InstallButton);
    m_saveButton = MakeButton(Control::SaveButton);
    m_rollBackButton = MakeButton(Control::RollBackButton);

    m_idEdit = MakeEdit(Control::IdEdit, layout::kIdEdit);
    m_passwordEdit = MakeEdit(Control::PasswordEdit, layout::kPasswordEdit);
    m_passwordEdit->setEchoMode(QLineEdit::Password);

    m_launchAfterInstall = MakeCheck(Control::LaunchAfterInstall);
    m_installIntoFolder = MakeCheck(Control::InstallIntoFolder);
    m_scopeBasic = MakeCheck(Control::ScopeBasic);
    m_scopeWithCacheFonts = MakeCheck(Control::ScopeWithCacheFonts);
    m_rollBackRestore = MakeCheck(Control::RollBackRestore);
    m_rollBackDeleteOnly = MakeCheck(Control::RollBackDeleteOnly);
    for (const layout::OptionPair& pair : layout::kOptionPairs) {
        auto* first = static_cast<QCheckBox*>(WidgetOf(pair.first));
        auto* second = static_cast<QCheckBox*>(WidgetOf(pair.second));
        KeepPairOneChecked(first, second);
        KeepPairOneChecked(second, first);
    }

    m_progress = new QProgressBar(this);
    Adopt(m_progress, Control::Progress);
    m_progress->setGeometry(Du(layout::kProgress));
    m_progress->setTextVisible(false);
    QPalette bar = m_progress->palette();
    bar.setColor(QPalette::Highlight, ToColour(layout::kProgressChunk));
    bar.setColor(QPalette::Base, ToColour(layout::kProgressTrough));
    bar.setColor(QPalette::Window, ToColour(layout::kProgressTrough));
    m_progress->setPalette(bar);

    m_version = MakeLabel(Control::Version);
    m_dateLabel = MakeLabel(Control::DateLabel);
    m_sizeLabel = MakeLabel(Control::SizeLabel);
    m_sizeValue = MakeLabel(Control::SizeValue);
    m_dateValue = MakeLabel(Control::DateValue);
    m_noData = MakeLabel(Control::NoData);
    m_memberId = MakeLabel(Control::MemberId);
    m_memberIdLine = MakeLabel(Control::MemberIdLine);

    m_registerLink = new LinkLabel(this);
    Adopt(m_registerLink, Control::RegisterLink);
    m_registerLink->setText(QString::fromUtf8(layout::kRegisterLinkText));
    m_registerLink->setGeometry(Du(layout::kRegisterLink));
    m_registerLink->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_registerLink->Attach(m_skin);

    m_versionsLink = new QLabel(this);
    m_versionsLink->setObjectName("VersionsLink");
    m_versionsLink->setText(QStringLiteral("<a href=\"#\" style=\"color:%1\">%2</a>")
                                .arg(ToColour(layout::kRegisterLinkColour).name(),
                                     QString::fromUtf8(layout::kVersionsLinkText)));
    m_versionsLink->setFont(Skin::StaticFont(true));
    m_versionsLink->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    m_versionsLink->setCursor(m_skin.HandCursor());
    m_versionsLink->hide();
    connect(m_versionsLink, &QLabel::linkActivated, this, [this] { ChooseVersion(); });

    m_loginSeparator = MakeSeparator(Control::LoginSeparator, layout::kLoginSeparator);
    m_panelSeparator = MakeSeparator(Control::PanelSeparator, layout::kPanelSeparator);

    const auto& order = layout::kTabOrder;
    for (size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(WidgetOf(order[i - 1]), WidgetOf(order[i]));

    connect(m_closeButton, &QAbstractButton::clicked, this, [this] { CloseAfterConfirmation(); });
    connect(m_minimizeButton, &QAbstractButton::clicked, this, [this] { showMinimized(); });
    connect(m_loginButton, &QAbstractButton::clicked, this,
            [this] { RunCommand(&skiv::Controller::Login); });
    connect(m_installButton, &QAbstractButton::clicked, this,
            [this] { RunCommand(&skiv::Controller::InstallSet); });
    connect(m_saveButton, &QAbstractButton::clicked, this,
            [this] { RunCommand(&skiv::Controller::SaveSet); });
    connect(m_rollBackButton, &QAbstractButton::clicked, this,
            [this] { RunCommand(&skiv::Controller::RollBack); });
}

// A click leaves the partner checked exactly when the clicked box is now
// unchecked (a click on the checked box moves the check to its partner).
// Not a QButtonGroup: an exclusive group would keep a clicked checked box
// checked.
void MainWindow::KeepPairOneChecked(QCheckBox* clicked, QCheckBox* partner) {
    connect(clicked, &QCheckBox::clicked, this, [this, clicked, partner] {
        if (!m_closing)
            partner->setChecked(!clicked->isChecked());
    });
}

QWidget* MainWindow::WidgetOf(Control control) const {
    return m_byControl[static_cast<size_t>(control)];
}

void MainWindow::Initialize() {
    setWindowIcon(m_skin.AppIcon());
    setWindowTitle(QString::fromUtf8(layout::kTitle));
    m_backLoggedOut = m_skin.Image(kBmpBackLoggedOut);
    m_backLoggedIn = m_skin.Image(kBmpBackLoggedIn);
    m_logo = m_skin.Image(kBmpLogo);

    // The link is painted in the window's orange whatever its state.
    m_registerLink->setFont(Skin::StaticFont(true));
    m_registerLink->SetColourOverride(ToColour(layout::kRegisterLinkColour));

    // Minimisable from the task bar although it has no caption.
    setWindowFlag(Qt::WindowMinimizeButtonHint, true);

    m_closeConfirmed = false;
    m_viewMode = skiv::ViewMode::LoggedOut;
    update();
    ArrangeControls();
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_registerLink->SetLinkUrl(QString::fromStdString(m_controller->Config().RegistrationUrl()));
    m_idEdit->setFocus(Qt::OtherFocusReason);
}

bool MainWindow::IsDragPoint(QPoint client) {
    return client.x() > 0 && client.y() < layout::kDragBandHeight;
}

QRegion MainWindow::WindowShape(QSize client) {
    QPainterPath path;
    path.addRoundedRect(QRectF(0, 0, client.width(), client.height()), layout::kCornerRadius,
                        layout::kCornerRadius);
    return QRegion(path.toFillPolygon().toPolygon());
}

int MainWindow::IdTextUnits(const QString& id) {
    int units = 0;
    for (char32_t c : id.toUcs4())
        units += c < 0x80 ? 1 : 2;
    return units;
}

// ---- layout ----

void MainWindow::PutOutOfSight(QWidget* control) {
    control->setGeometry(width(), height(), 0, 0);
}

void MainWindow::ArrangeControls() {
    const auto mode = static_cast<size_t>(m_viewMode);
    if (mode >= std::size(layout::kViewLayouts))
        return;
    const layout::ViewLayout& view = layout::kViewLayouts[mode];
    for (Control control : view.removed) {
        QWidget* widget = WidgetOf(control);
        if (view.disableRemoved)
            widget->setEnabled(false);
        PutOutOfSight(widget);
    }
    for (const layout::Placement& line : view.placed)
        WidgetOf(line.control)->setGeometry(Pixels(line.rect));
    for (Control control : view.shown)
        WidgetOf(control)->show();
    for (Control control : view.hidden)
        WidgetOf(control)->hide();
    const bool versions =
        m_viewMode != skiv::ViewMode::LoggedOut && !m_controller->Session().deltaBase.empty();
    m_versionsLink->setGeometry(Pixels(layout::kVersionsLink));
    m_versionsLink->setVisible(versions);
    if (view.memberIdLines) {
        const QRect id = Pixels(layout::kMemberId);
        m_memberId->setGeometry(id);
        const int shift = layout::kIdUnitWidth * IdTextUnits(m_memberId->text());
        m_memberIdLine->setGeometry(id.translated(shift, 0));
    }
}

// ---- painting and shape ----

void MainWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const QPixmap& back =
        m_viewMode != skiv::ViewMode::LoggedOut ? m_backLoggedIn : m_backLoggedOut;
    if (!back.isNull())
        p.drawPixmap(QPointF(0, 0), back);
    if (!m_logo.isNull())
        p.drawPixmap(QPointF(layout::kLogoX, layout::kLogoY), m_logo);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    setMask(WindowShape(size()));
    update();
}

// ---- moving by the top band ----

void MainWindow::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::LeftButton && IsDragPoint(pos) && !childAt(pos)) {
        // The window manager moves the window if it can; otherwise the
        // window follows the mouse itself.
        QWindow* handle = windowHandle();
        if (!(handle && handle->startSystemMove())) {
            m_dragging = true;
            m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
        }
    }
    QDialog::mousePressEvent(event);
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    if (m_dragging && (event->buttons() & Qt::LeftButton))
        move(event->globalPosition().toPoint() - m_dragOffset);
    QDialog::mouseMoveEvent(event);
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
    QDialog::mouseReleaseEvent(event);
}

// ---- keyboard ----

bool MainWindow::FilterKey(QKeyEvent* key) {
    if (key->key() == Qt::Key_Escape)
        return true;
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        return false;
    QWidget* focus = focusWidget();
    if (focus == m_idEdit) {
        focusNextPrevChild(true);
        return true;
    }
    if (focus == m_passwordEdit || m_viewMode == skiv::ViewMode::LoggedOut)
        RunCommand(&skiv::Controller::Login);
    return true;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && FilterKey(static_cast<QKeyEvent*>(event)))
        return true;
    return QDialog::eventFilter(watched, event);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (FilterKey(event))
        return;
    QDialog::keyPressEvent(event);
}

// ---- closing ----

void MainWindow::reject() {
    if (m_closeConfirmed)
        QDialog::reject();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_closeConfirmed)
        event->accept();
    else
        event->ignore();
}

void MainWindow::CloseAfterConfirmation() {
    if (m_closing)
        return;
    ModalBox box;
    box.kind = ModalBox::kYesNo;
    box.text = QString::fromUtf8(layout::kCloseQuestion);
    box.caption = QString::fromUtf8(layout::kCloseCaption);
    box.questionIcon = true;
    box.owner = this;
    if (!RunModalBox(box))
        return;
    m_closeConfirmed = true;
    m_closing = true;
    WaitForRunningTask();
    accept();
}

void MainWindow::WaitForRunningTask() {
    if (m_controller->IsBusy()) {
        QEventLoop loop;
        QTimer poll;
        connect(&poll, &QTimer::timeout, &loop, [this, &loop] {
            if (!m_controller->IsBusy())
                loop.quit();
        });
        poll.start(10);
        loop.exec();
    }
    m_controller->WaitForWorker();
}

void MainWindow::RunCommand(void (skiv::Controller::*command)()) {
    if (m_closing)
        return;
    (m_controller.get()->*command)();
}

void MainWindow::ChooseVersion() {
    if (m_closing || m_controller->IsBusy())
        return;
    std::vector<VersionInfo> versions;
    if (ResultCode r = m_controller->ListVersions(versions); r != ResultCode::Ok) {
        ShowMessage(layout::kVersionsListFailed + std::to_string(Number(r)) + ")");
        return;
    }
    VersionsBox box(m_skin, versions, this);
    if (box.exec() != QDialog::Accepted || box.Chosen() <= 0)
        return;
    m_installVersion.store(box.Chosen());
    RunCommand(&skiv::Controller::InstallSet);
    m_installVersion.store(0);
}

// ---- WindowOps ----

void MainWindow::ShowMessage(std::string_view text) {
    const bool fromWorker = QThread::currentThread() != thread();
    const QString message = FromUtf8(text);
    OnGuiThread(*this, [&] {
        ModalBox box;
        box.kind = ModalBox::kMessage;
        box.text = message;
        box.caption = QString::fromUtf8(kAppTitle);
        box.owner = fromWorker ? nullptr : this;
        RunModalBox(box);
    });
}

bool MainWindow::AskYesNo(std::string_view text, std::string_view title, bool questionIcon) {
    const QString message = FromUtf8(text), caption = FromUtf8(title);
    return OnGuiThread(*this, [&] {
        ModalBox box;
        box.kind = ModalBox::kYesNo;
        box.text = message;
        box.caption = caption;
        box.questionIcon = questionIcon;
        box.owner = this;
        return RunModalBox(box);
    });
}

void MainWindow::ShowMemberInfo(bool hasData, int sizeUnits, std::string_view date) {
    const QString dateText = FromUtf8(date);
    OnGuiThread(*this, [&] {
        m_memberId->setText(m_idEdit->text());
        m_memberIdLine->setText(QString::fromUtf8(layout::kMemberIdLineText));
        if (!hasData) {
            m_noData->setText(QString::fromUtf8(layout::kNoDataText));
        } else {
            m_sizeLabel->setText(QString::fromUtf8(layout::kSizeLabelText));
            m_sizeValue->setText(QString::number(sizeUnits) +
                                 QString::fromUtf8(layout::kSizeUnitSuffix));
            m_dateLabel->setText(QString::fromUtf8(layout::kDateLabelText));
            m_dateValue->setText(dateText);
        }
    });
}

void MainWindow::SetViewMode(skiv::ViewMode mode) {
    OnGuiThread(*this, [&] {
        m_viewMode = mode;
        repaint();
        ArrangeControls();
    });
}

void MainWindow::SetProgress(int position) {
    if (position < 0 || position > 100)
        return;
    // Transfers report every kilobyte; only a new position is worth a trip
    // to the GUI thread.
    if (m_lastProgress.exchange(position) == position)
        return;
    OnGuiThread(*this, [&] { m_progress->setValue(position); });
}

std::string MainWindow::GetIdText() {
    return OnGuiThread(*this, [&] { return m_idEdit->text().toStdString(); });
}

std::string MainWindow::GetPasswordText() {
    return OnGuiThread(*this, [&] { return m_passwordEdit->text().toStdString(); });
}

TaskOptions MainWindow::GetTaskOptions() {
    return OnGuiThread(*this, [&] {
        TaskOptions o;
        o.launchAfterInstall = m_launchAfterInstall->isChecked();
        o.installIntoFolder = m_installIntoFolder->isChecked();
        o.saveScope =
            m_scopeWithCacheFonts->isChecked() ? SaveScope::WithCacheAndFonts : SaveScope::Basic;
        o.rollBack = m_rollBackRestore->isChecked() ? RollBackChoice::RestoreBackup
                                                    : RollBackChoice::DeleteOnly;
        o.installVersion = m_installVersion.load();
        return o;
    });
}

std::optional<std::string> MainWindow::ChooseFolder(std::string_view initialFolder) {
    const QString initial = FromUtf8(initialFolder);
    return OnGuiThread(*this, [&]() -> std::optional<std::string> {
        std::optional<QString> chosen = RunFolderChooser(initial);
        if (!chosen)
            return std::nullopt;
        QString path = *chosen;
        if (!path.isEmpty() && !path.endsWith(QLatin1Char('/')))
            path += QLatin1Char('/');
        return path.toStdString();
    });
}

void MainWindow::StartProgram(std::string_view file, std::string_view workFolder) {
    const QString f = FromUtf8(file), folder = FromUtf8(workFolder);
    OnGuiThread(*this, [&] { app::StartProgram(f, folder); });
}

std::optional<std::size_t> MainWindow::ChooseFlavor(const std::vector<FlavorChoice>& choices,
                                                    std::size_t preselected) {
    return OnGuiThread(*this, [&] { return RunFlavorChooser(choices, preselected, this); });
}

void MainWindow::StartProgramIn(std::string_view file, std::string_view workFolder,
                                std::string_view winePrefix) {
    const QString f = FromUtf8(file), folder = FromUtf8(workFolder), prefix = FromUtf8(winePrefix);
    OnGuiThread(*this, [&] { app::StartProgram(f, folder, prefix); });
}

}  // namespace skiv::app
