#pragma once
// OnGuiThread: runs a callable on the thread of a QObject (the GUI thread
// for a widget) and returns its result to the caller, which waits.
//
// Called on that thread, the callable simply runs. Called from a worker, it
// is posted to the object's event loop and the worker blocks until it has
// run, so the callable may borrow the worker's locals by reference. A
// callable that opens a modal box keeps the worker blocked until the box is
// dismissed. Whoever waits for such a worker on the GUI thread must keep the
// event loop turning, or both wait for ever.
//
// Qt's blocking queued call would do the same, but it orders the two
// threads with a semaphore inside Qt that the thread checker cannot see.
// This one orders them with a mutex of ours, so the worker's arguments and
// the call's result are seen to pass between the threads.

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>

namespace skiv::app {

namespace gui_thread_detail {

// One call carried from a worker to the object's thread.
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
    // Also called when the posted call is dropped unrun (the object went
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

}  // namespace gui_thread_detail

// Runs f on context's thread and returns what f returns (a default-
// constructible type, or void).
template <typename F>
auto OnGuiThread(QObject& context, F&& f) {
    using R = std::invoke_result_t<F&>;
    if (QThread::currentThread() == context.thread())
        return f();
    auto handoff = std::make_shared<gui_thread_detail::Handoff>();
    auto post = [&](auto& call) {
        handoff->Publish();
        QMetaObject::invokeMethod(
            &context, [&call, h = gui_thread_detail::FinishOnDrop(handoff)] { (*h).Run(call); },
            Qt::QueuedConnection);
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

}  // namespace skiv::app
