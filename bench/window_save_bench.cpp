// skiv-window-save-bench ID PASSWORD [GAMEFOLDER]
//
// Drives the real main window through a login and a save against the
// service named by SKIVADDON_SERVICE_URL / SKIVADDON_CA_FILE, answering
// every box with OK/Yes through the modal hooks (and the folder chooser
// with GAMEFOLDER when the game folder is not found on its own), and
// measures how well the GUI thread keeps up while the save's worker runs:
//
//  - a 16 ms timer on the GUI thread: the worst lateness of a tick against
//    its schedule, and the number of gaps over 100 ms between ticks;
//  - every tick asks for a repaint of the whole window and moves it by one
//    pixel, as a drag by the title band would: the worst delay from such a
//    request to the window's paint.
//
// Prints "key=value" lines; exit status 1 when the login or the save fails.
// Run it on the platform to be measured (xcb under Xvfb for the bench).

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QLineEdit>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/app.h"
#include "app/main_window.h"
#include "app/modal_hooks.h"
#include "app/skin.h"

using skiv::app::FindControl;
using skiv::app::MainWindow;
using Control = skiv::ui::main_window::Control;

namespace {

constexpr int kTickMs = 16;
constexpr double kGapMs = 100;

// Runs an event loop until done() or timeoutMs has passed; whether done().
// A loop that sleeps between events, so the measured worker keeps the CPU.
template <typename F>
bool ServeUntil(F done, int timeoutMs) {
    QEventLoop loop;
    QTimer poll, limit;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.setSingleShot(true);
    if (done())
        return true;
    poll.start(10);
    limit.start(timeoutMs);
    loop.exec();
    return done();
}

// The GUI thread's lateness and the window's repaint delay while it runs.
class Responsiveness : public QObject {
public:
    explicit Responsiveness(MainWindow& dlg) : m_dlg(dlg) {
        m_dlg.installEventFilter(this);
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kTickMs);
        connect(&m_timer, &QTimer::timeout, this, [this] { Tick(); });
    }
    void Start() {
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    void Stop() { m_timer.stop(); }

    void Print() const {
        std::vector<double> late = m_lateness;
        std::sort(late.begin(), late.end());
        const auto pct = [&](double q) {
            return late.empty() ? 0.0 : late[static_cast<size_t>(q * (late.size() - 1))];
        };
        std::printf("ticks=%zu\n", m_lateness.size());
        std::printf("tick_lateness_ms_p50=%.1f\n", pct(0.5));
        std::printf("tick_lateness_ms_p99=%.1f\n", pct(0.99));
        std::printf("tick_lateness_ms_max=%.1f\n", late.empty() ? 0.0 : late.back());
        std::printf("gaps_over_100ms=%d\n", m_gaps);
        std::printf("repaints=%d\n", m_paints);
        std::printf("repaint_delay_ms_max=%.1f\n", m_worstPaintDelay);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &m_dlg && event->type() == QEvent::Paint && m_requested >= 0) {
            m_worstPaintDelay = std::max(m_worstPaintDelay, Now() - m_requested);
            m_requested = -1;
            ++m_paints;
        }
        return false;
    }

private:
    double Now() const { return static_cast<double>(m_clock.nsecsElapsed()) / 1e6; }

    void Tick() {
        const double now = Now();
        const double gap = now - m_last;
        m_lateness.push_back(std::max(0.0, gap - kTickMs));
        if (gap > kGapMs)
            ++m_gaps;
        m_last = now;
        // The oldest request still waiting is the one a user would see.
        if (m_requested < 0)
            m_requested = now;
        m_dlg.update();
        m_dlg.move(m_dlg.pos() + QPoint(m_step, 0));
        m_step = -m_step;
    }

    MainWindow& m_dlg;
    QTimer m_timer;
    QElapsedTimer m_clock;
    double m_last = 0;
    double m_requested = -1;
    double m_worstPaintDelay = 0;
    int m_paints = 0;
    int m_gaps = 0;
    int m_step = 1;
    std::vector<double> m_lateness;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: skiv-window-save-bench ID PASSWORD [GAMEFOLDER]\n");
        return 2;
    }
    QApplication app(argc, argv);
    skiv::app::App::Configure();
    const QString gameFolder = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();

    QStringList boxes;
    skiv::app::SetBoxHook([&boxes](const skiv::app::ModalBox& box) {
        boxes << box.text;
        return true;
    });
    skiv::app::SetFolderHook([&gameFolder](const QString&) -> std::optional<QString> {
        if (gameFolder.isEmpty())
            return std::nullopt;
        return gameFolder;
    });

    QTemporaryDir logDir;
    int status = 0;
    {
        MainWindow dlg(skiv::app::Skin::Instance(), skiv::ServiceConfig::FromEnvironment(),
                       logDir.path().toStdString());
        dlg.show();
        ServeUntil([&] { return dlg.windowHandle() && dlg.windowHandle()->isExposed(); }, 5000);
        auto button = [&](Control c) { return FindControl<QAbstractButton>(dlg, c); };

        FindControl<QLineEdit>(dlg, Control::IdEdit)->setText(argv[1]);
        FindControl<QLineEdit>(dlg, Control::PasswordEdit)->setText(argv[2]);
        QElapsedTimer login;
        login.start();
        button(Control::LoginButton)->click();  // runs on this thread
        std::printf("login_ms=%lld\n", static_cast<long long>(login.elapsed()));
        if (!dlg.Controller().Session().loggedIn) {
            std::fprintf(stderr, "login failed: %s\n", qPrintable(boxes.join(" | ")));
            return 1;
        }

        int progressUpdates = 0;
        QObject::connect(FindControl<QProgressBar>(dlg, Control::Progress),
                         &QProgressBar::valueChanged, [&](int) { ++progressUpdates; });
        Responsiveness probe(dlg);
        boxes.clear();
        QElapsedTimer save;
        save.start();
        probe.Start();
        button(Control::SaveButton)->click();
        const bool ended = ServeUntil([&] { return !dlg.Controller().IsBusy(); }, 3600 * 1000);
        probe.Stop();
        std::printf("save_s=%.2f\n", static_cast<double>(save.elapsed()) / 1000.0);
        std::printf("progress_updates=%d\n", progressUpdates);
        probe.Print();
        const bool saved = ended && !boxes.isEmpty() &&
                           boxes.back() == QStringLiteral("애드온이 모두 저장되었습니다");
        if (!saved) {
            std::fprintf(stderr, "save failed: %s\n", qPrintable(boxes.join(" | ")));
            status = 1;
        }
    }
    skiv::app::SetBoxHook(nullptr);
    skiv::app::SetFolderHook(nullptr);
    return status;
}
