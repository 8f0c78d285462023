#include "clock.h"

#include "errors.h"

#include <QThread>
#include <QTimer>

#include <coroutine>
#include <functional>
#include <optional>

namespace {

// Suspends until a precise timer fires or the stop token is triggered, whichever comes first.
class Sleep {
public:
    Sleep(std::chrono::milliseconds duration, std::stop_token stop)
        : m_duration(duration), m_stop(std::move(stop))
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
    }

    struct Awaiter {
        Sleep *sleep;
        bool await_ready() const noexcept { return false; }
        bool await_suspend(std::coroutine_handle<> waiting) const { return sleep->suspend(waiting); }
        void await_resume() const { sleep->resume(); }
    };
    Awaiter wait() { return {this}; }

private:
    bool suspend(std::coroutine_handle<> waiting)
    {
        m_waiting = waiting;
        m_registering = true;
        m_onStop.emplace(m_stop, [this] {
            if (QThread::currentThread() != m_timer.thread())
                QMetaObject::invokeMethod(&m_timer, [this] { finish(true); }, Qt::QueuedConnection);
            else if (m_registering)
                m_cancelled = true;
            else
                finish(true);
        });
        m_registering = false;
        if (m_cancelled)
            return false;
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { finish(false); });
        m_timer.start(m_duration);
        return true;
    }

    void resume() const
    {
        if (m_cancelled)
            throw CancellationError();
    }

    void finish(bool cancelled)
    {
        if (!m_waiting)
            return;
        m_cancelled = cancelled;
        m_timer.stop();
        std::exchange(m_waiting, nullptr).resume();
    }

    std::chrono::milliseconds m_duration;
    std::stop_token m_stop;
    QTimer m_timer;
    std::coroutine_handle<> m_waiting;
    bool m_cancelled = false;
    bool m_registering = false;
    std::optional<std::stop_callback<std::function<void()>>> m_onStop;
};

} // namespace

Clock::TimePoint SystemClock::now() const { return std::chrono::steady_clock::now(); }

QCoro::Task<> SystemClock::sleep(std::chrono::milliseconds duration, std::stop_token stop)
{
    if (stop.stop_requested())
        throw CancellationError();
    Sleep sleep(duration, std::move(stop));
    co_await sleep.wait();
}
