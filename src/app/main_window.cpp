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
#include <condition_variable>
#include <memory>
#include <mutex>
#include <type_traits>

#include "app/dialog_units.h"
#include "app/link_label.h"
#include "app/modal_hooks.h"
#include "app/skin.h"
#include "app/skin_button.h"

namespace skiv::app {

namespace {

// The main window's template: base units 7 x 14.
QRect Du(int x, int y, int w, int h) {
    return MapDialogRect(x, y, w, h, 7, 14);
}

QString FromUtf8(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// Colours of the skinned buttons' faces and edges, matched to the stone.
QPalette ButtonPalette(QPalette base) {
    base.setColor(QPalette::Button, QColor(33, 29, 25));
    base.setColor(QPalette::Light, QColor(236, 214, 160));
    base.setColor(QPalette::Dark, QColor(8, 6, 4));
    return base;
}

struct ButtonSetup {
    int id;
    QRect rect;
    int hoverIcon, normalIcon;
    const char* tip;
};

struct StaticSetup {
    int id;
    QRect rect;
    const char* text;
    bool bold;
    QRgb colour;
};

}  // namespace

namespace {

// One call carried from a worker to the GUI thread, which the worker waits
// for. Qt's blocking queued call would do, but it orders the two threads
// with a semaphore inside Qt that the thread checker cannot see; this one
// orders them with a mutex of ours, so the worker's arguments and the
// call's result are seen to pass between the threads.
class Handoff {
public:
    // Worker, before posting: what it wrote so far belongs to the GUI
    // thread until Wait returns.
    void Publish() { std::lock_guard<std::mutex> guard(m_lock); }
    // GUI thread.
    template <typename Call>
    void Run(Call& call) {
        { std::lock_guard<std::mutex> guard(m_lock); }
        call();
        Finish();
    }
    // Also called when the posted call is dropped unrun (the window went
    // away first), so the worker is never left waiting.
    void Finish() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_finished = true;
        m_done.notify_all();
    }
    void Wait() {
        std::unique_lock<std::mutex> guard(m_lock);
        m_done.wait(guard, [this] { return m_finished; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_done;
    bool m_finished = false;
};

// Lives inside the posted call; finishing twice is harmless.
class FinishOnDrop {
public:
    explicit FinishOnDrop(std::shared_ptr<Handoff> h) : m_handoff(std::move(h)) {}
    FinishOnDrop(FinishOnDrop&&) noexcept = default;
    FinishOnDrop(const FinishOnDrop&) = delete;
    FinishOnDrop& operator=(const FinishOnDrop&) = delete;
    FinishOnDrop& operator=(FinishOnDrop&&) = delete;
    ~FinishOnDrop() {
        if (m_handoff)
            m_handoff->Finish();
    }
    Handoff& operator*() const { return *m_handoff; }

private:
    std::shared_ptr<Handoff> m_handoff;
};

}  // namespace

template <typename F>
auto MainWindow::OnGuiThread(F&& f) {
    using R = std::invoke_result_t<F&>;
    if (QThread::currentThread() == thread())
        return f();
    auto handoff = std::make_shared<Handoff>();
    auto post = [&](auto& call) {
        handoff->Publish();
        QMetaObject::invokeMethod(
            this, [&call, h = FinishOnDrop(handoff)] { (*h).Run(call); }, Qt::QueuedConnection);
        handoff->Wait();
    };
    if constexpr (std::is_void_v<R>) {
        auto call = [&f] { f(); };
        post(call);
    } else {
        R result{};
        auto call = [&f, &result] { result = f(); };
        post(call);
        return result;
    }
}

MainWindow::MainWindow(const Skin& skin, ServiceConfig config, const std::string& logFolder,
                       QWidget* parent)
    : QDialog(parent), m_skin(skin) {
    m_log.SetFolder(logFolder);
    m_controller = std::make_unique<CAddOnController>(*this, m_log, std::move(config));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setFixedSize(kClientWidth, kClientHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    CreateControls();
    OnInitDialog();
}

MainWindow::~MainWindow() {
    // The worker uses the session and may be blocked in a call to us.
    WaitForWorkerAlive();
}

void MainWindow::CreateControls() {
    const ButtonSetup buttons[] = {
        {kBtnClose, Du(219, 6, 10, 9), kIconCloseHover, kIconClose, "닫기"},
        {kBtnMinimize, Du(208, 6, 10, 9), kIconMinimizeHover, kIconMinimize, "최소화"},
        {kBtnLogin, Du(100, 58, 30, 24), kIconLogin, kIconLogin, "로그인"},
        {kBtnInstall, Du(157, 108, 63, 28), kIconInstallHover, kIconInstall, "내셋팅 설정"},
        {kBtnSave, Du(157, 147, 63, 28), kIconSaveHover, kIconSave, "내셋팅 저장"},
        {kBtnRollBack, Du(157, 185, 63, 28), kIconRollBackHover, kIconRollBack, "되돌리기"},
    };
    const QPalette buttonPalette = ButtonPalette(palette());
    int index = 0;
    for (const ButtonSetup& b : buttons) {
        auto* button = new SkinButton(this);
        button->setObjectName(QString::number(b.id));
        button->setGeometry(b.rect);
        button->setPalette(buttonPalette);
        button->SetIconPair(m_skin, b.hoverIcon, b.normalIcon);
        button->SetTipText(QString::fromUtf8(b.tip), true);
        button->SetHoverCursor(m_skin, kCursorHand);
        m_buttons[index++] = button;
        m_controls[b.id] = button;
    }

    m_editId = new QLineEdit(this);
    m_editId->setGeometry(Du(29, 57, 65, 12));
    m_editPassword = new QLineEdit(this);
    m_editPassword->setGeometry(Du(29, 70, 65, 12));
    m_editPassword->setEchoMode(QLineEdit::Password);
    for (QLineEdit* edit : {m_editId, m_editPassword}) {
        edit->setFont(Skin::TextFont());
        edit->setTextMargins(2, 0, 2, 0);
    }
    m_editId->setObjectName(QStringLiteral("1013"));
    m_editPassword->setObjectName(QStringLiteral("1014"));
    m_controls[kEditId] = m_editId;
    m_controls[kEditPassword] = m_editPassword;

    const std::pair<int, QRect> checks[] = {
        {kCheckLaunch, Du(11, 111, 8, 8)},     {kCheckIntoFolder, Du(11, 124, 8, 8)},
        {kCheckScopeBasic, Du(11, 150, 8, 8)}, {kCheckScopeFull, Du(11, 164, 8, 8)},
        {kCheckRollback, Du(11, 189, 8, 8)},   {kCheckReset, Du(11, 203, 8, 8)},
    };
    for (const auto& [id, rect] : checks) {
        auto* box = new QCheckBox(this);
        box->setObjectName(QString::number(id));
        box->setGeometry(rect);
        m_checks[id] = box;
        m_controls[id] = box;
    }
    // The save scope and the roll-back choice are pairs of which exactly one
    // box is checked: a click on one sets its partner to the opposite.
    const std::pair<int, int> pairs[] = {{kCheckScopeBasic, kCheckScopeFull},
                                         {kCheckScopeFull, kCheckScopeBasic},
                                         {kCheckRollback, kCheckReset},
                                         {kCheckReset, kCheckRollback}};
    for (const auto& [clicked, partner] : pairs) {
        QCheckBox* box = m_checks[clicked];
        QCheckBox* other = m_checks[partner];
        connect(box, &QCheckBox::clicked, this, [this, box, other] {
            if (!m_closing)
                other->setChecked(!box->isChecked());
        });
    }

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("1007"));
    m_progress->setGeometry(Du(7, 224, 218, 12));
    m_progress->setTextVisible(false);
    QPalette bar = m_progress->palette();
    bar.setColor(QPalette::Highlight, QColor(232, 110, 18));
    bar.setColor(QPalette::Base, QColor(40, 35, 30));
    bar.setColor(QPalette::Window, QColor(40, 35, 30));
    m_progress->setPalette(bar);
    m_controls[kProgress] = m_progress;

    const StaticSetup statics[] = {
        {kVersion, Du(117, 37, 102, 8), "- for WOW | ver 1.0.1", true, qRgb(0, 129, 65)},
        {kDateLabel, Du(114, 83, 106, 8), "Date", true, qRgb(67, 61, 49)},
        {kSizeLabel, Du(26, 82, 65, 8), "Capa", true, qRgb(67, 61, 49)},
        {kSizeValue, Du(26, 97, 65, 8), "Capa Var", true, qRgb(238, 75, 0)},
        {kDateValue, Du(114, 97, 106, 8), "Date Var", false, qRgb(68, 60, 47)},
        {kNoData, Du(26, 111, 179, 8), "No Data", true, qRgb(67, 61, 49)},
        {kIdValue, Du(22, 28, 83, 8), "ID", true, qRgb(238, 75, 0)},
        {kIdLine, Du(22, 43, 83, 8), "ID Line", true, qRgb(67, 61, 49)},
    };
    for (const StaticSetup& s : statics) {
        auto* label = new QLabel(QString::fromUtf8(s.text), this);
        label->setObjectName(QString::number(s.id));
        label->setGeometry(s.rect);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setFont(Skin::StaticFont(s.bold));
        QPalette pal = label->palette();
        pal.setColor(QPalette::WindowText, QColor(s.colour));
        label->setPalette(pal);
        m_statics[s.id] = label;
        m_controls[s.id] = label;
    }

    m_link = new LinkLabel(this);
    m_link->setObjectName(QStringLiteral("1016"));
    m_link->setText(QStringLiteral("Kelbo 회원가입"));
    m_link->setGeometry(Du(146, 67, 51, 8));
    m_link->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_link->Attach(m_skin);
    m_controls[kLink] = m_link;

    // Static bitmaps take the size of their image.
    const QPixmap separator = m_skin.Image(kBmpSeparator);
    for (int id : {kSeparator, kPanelSeparator}) {
        auto* label = new QLabel(this);
        label->setObjectName(QString::number(id));
        label->setPixmap(separator);
        const QRect r = id == kSeparator ? Du(21, 89, 2, 6) : Du(94, 89, 2, 6);
        label->setGeometry(QRect(r.topLeft(), separator.deviceIndependentSize().toSize()));
        m_controls[id] = label;
    }

    // Keyboard order of the template.
    const int order[] = {kBtnClose,      kBtnMinimize,     kEditId,          kEditPassword,
                         kBtnLogin,      kBtnInstall,      kBtnSave,         kBtnRollBack,
                         kCheckLaunch,   kCheckIntoFolder, kCheckScopeBasic, kCheckScopeFull,
                         kCheckRollback, kCheckReset};
    for (size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(m_controls[order[i - 1]], m_controls[order[i]]);

    for (const auto& [id, control] : m_controls)
        control->installEventFilter(this);

    connect(m_buttons[0], &QAbstractButton::clicked, this, [this] { OnCloseButton(); });
    connect(m_buttons[1], &QAbstractButton::clicked, this, [this] { showMinimized(); });
    connect(m_buttons[2], &QAbstractButton::clicked, this,
            [this] { RunCommand(&CAddOnController::OnBnClickedBtnLogin); });
    connect(m_buttons[3], &QAbstractButton::clicked, this,
            [this] { RunCommand(&CAddOnController::OnInstallButton); });
    connect(m_buttons[4], &QAbstractButton::clicked, this,
            [this] { RunCommand(&CAddOnController::OnSaveButton); });
    connect(m_buttons[5], &QAbstractButton::clicked, this,
            [this] { RunCommand(&CAddOnController::OnRollBackButton); });
}

void MainWindow::OnInitDialog() {
    setWindowIcon(m_skin.AppIcon());
    setWindowTitle(QStringLiteral("KELBO SKIV ADDON"));
    m_backLoggedOut = m_skin.Image(kBmpBackLoggedOut);
    m_backLoggedIn = m_skin.Image(kBmpBackLoggedIn);
    m_logo = m_skin.Image(kBmpLogo);

    // The statics' own colours; the link is painted in the window's orange
    // whatever its state.
    m_link->setFont(Skin::StaticFont(true));
    m_link->SetColourOverride(QColor(240, 74, 0));

    // Minimisable from the task bar although it has no caption.
    setWindowFlag(Qt::WindowMinimizeButtonHint, true);

    m_closeConfirmed = false;
    m_viewMode = skiv::ViewMode::LoggedOut;
    update();
    ArrangeControls();
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_link->SetLinkUrl(QString::fromStdString(m_controller->Config().RegistrationUrl()));
    m_editId->setFocus(Qt::OtherFocusReason);
    m_checks[kCheckScopeBasic]->setChecked(true);
    m_checks[kCheckRollback]->setChecked(true);
    m_controller->Initialize();
}

QWidget* MainWindow::Control(int id) const {
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

QRegion MainWindow::WindowShape(QSize client) {
    QPainterPath path;
    path.addRoundedRect(QRectF(0, 0, client.width(), client.height()), 6, 6);
    return QRegion(path.toFillPolygon().toPolygon());
}

int MainWindow::IdTextUnits(const QString& id) {
    int units = 0;
    for (char32_t c : id.toUcs4())
        units += c < 0x80 ? 1 : 2;
    return units;
}

// ---- layout ----

void MainWindow::RemoveControl(QWidget* control) {
    control->setGeometry(width(), height(), 0, 0);
}

void MainWindow::ArrangeControls() {
    if (m_viewMode == skiv::ViewMode::LoggedOut) {
        for (int id : {kPanelSeparator, kDateLabel, kDateValue, kSizeLabel, kSizeValue, kNoData,
                       kIdValue, kIdLine})
            RemoveControl(m_controls[id]);
        return;
    }
    if (m_viewMode != skiv::ViewMode::LoggedInNoData &&
        m_viewMode != skiv::ViewMode::LoggedInWithData)
        return;

    for (int id : {kBtnLogin, kLink, kEditId, kEditPassword}) {
        m_controls[id]->setEnabled(false);
        RemoveControl(m_controls[id]);
    }
    if (m_viewMode == skiv::ViewMode::LoggedInNoData) {
        m_controls[kNoData]->setGeometry(55, 132, 200, 11);
        m_controls[kNoData]->show();
    } else {
        m_controls[kNoData]->hide();
        m_controls[kSizeLabel]->setGeometry(55, 132, 40, 11);
        m_controls[kSizeValue]->setGeometry(96, 132, 60, 11);
        m_controls[kPanelSeparator]->setGeometry(160, 132, 4, 11);
        m_controls[kDateLabel]->setGeometry(170, 132, 100, 11);
        m_controls[kDateValue]->setGeometry(272, 132, 120, 11);
    }
    m_controls[kIdValue]->setGeometry(70, 100, 200, 11);
    const int n = IdTextUnits(m_statics[kIdValue]->text());
    m_controls[kIdLine]->setGeometry(70 + 8 * n, 100, 200, 11);
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
        p.drawPixmap(QPointF(45, 55), m_logo);
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

bool MainWindow::PreTranslateKey(QKeyEvent* key) {
    if (key->key() == Qt::Key_Escape)
        return true;
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        return false;
    QWidget* focus = focusWidget();
    if (focus == m_editId) {
        focusNextPrevChild(true);
        return true;
    }
    if (focus == m_editPassword || m_viewMode == skiv::ViewMode::LoggedOut)
        RunCommand(&CAddOnController::OnBnClickedBtnLogin);
    return true;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && PreTranslateKey(static_cast<QKeyEvent*>(event)))
        return true;
    return QDialog::eventFilter(watched, event);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (PreTranslateKey(event))
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

void MainWindow::OnCloseButton() {
    if (m_closing)
        return;
    ModalBox box;
    box.kind = ModalBox::kYesNo;
    box.text = QStringLiteral("Kelbo Skiv Addon을 종료 하시겠습니까?");
    box.caption = QStringLiteral("Kelbo Skiv Addon 종료");
    box.questionIcon = true;
    box.owner = this;
    if (!RunModalBox(box))
        return;
    m_closeConfirmed = true;
    m_closing = true;
    WaitForWorkerAlive();
    accept();
}

void MainWindow::WaitForWorkerAlive() {
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

void MainWindow::RunCommand(void (CAddOnController::*command)()) {
    if (m_closing)
        return;
    (m_controller.get()->*command)();
}

// ---- WindowOps ----

void MainWindow::ShowMessage(std::string_view text) {
    const bool fromWorker = QThread::currentThread() != thread();
    const QString message = FromUtf8(text);
    OnGuiThread([&] {
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
    return OnGuiThread([&] {
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
    OnGuiThread([&] {
        m_statics[kIdValue]->setText(m_editId->text());
        m_statics[kIdLine]->setText(QStringLiteral("님의 셋팅 정보"));
        if (!hasData) {
            m_statics[kNoData]->setText(QStringLiteral("회원님의 셋팅 정보가 없습니다."));
        } else {
            m_statics[kSizeLabel]->setText(QStringLiteral("용량 : "));
            m_statics[kSizeValue]->setText(QStringLiteral("%1MB").arg(sizeUnits));
            m_statics[kDateLabel]->setText(QStringLiteral("최종 저장 날짜 : "));
            m_statics[kDateValue]->setText(dateText);
        }
    });
}

void MainWindow::SetViewMode(skiv::ViewMode mode) {
    OnGuiThread([&] {
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
    OnGuiThread([&] { m_progress->setValue(position); });
}

std::string MainWindow::GetIdText() {
    return OnGuiThread([&] { return m_editId->text().toStdString(); });
}

std::string MainWindow::GetPasswordText() {
    return OnGuiThread([&] { return m_editPassword->text().toStdString(); });
}

TaskOptions MainWindow::GetTaskOptions() {
    return OnGuiThread([&] {
        TaskOptions o;
        o.launchAfterInstall = m_checks[kCheckLaunch]->isChecked();
        o.installIntoFolder = m_checks[kCheckIntoFolder]->isChecked();
        o.saveScope = m_checks[kCheckScopeFull]->isChecked() ? SaveScope::WithCacheAndFonts
                                                             : SaveScope::Basic;
        o.rollBack = m_checks[kCheckRollback]->isChecked() ? RollBackChoice::RestoreBackup
                                                           : RollBackChoice::DeleteOnly;
        return o;
    });
}

std::optional<std::string> MainWindow::ChooseFolder(std::string_view initialFolder) {
    const QString initial = FromUtf8(initialFolder);
    return OnGuiThread([&]() -> std::optional<std::string> {
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
    OnGuiThread([&] { app::StartProgram(f, folder); });
}

}  // namespace skiv::app
