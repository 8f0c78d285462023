#pragma once

#include "clock.h"
#include "errors.h"

#include <QCoroTimer>

// Time that passes only when someone sleeps: the sign-in poll keeps its 2-second rule without the
// test waiting for it.
class VirtualClock final : public Clock {
public:
    TimePoint now() const override { return m_now; }
    QCoro::Task<> sleep(std::chrono::milliseconds duration, std::stop_token stop) override
    {
        m_now += duration;
        co_await QCoro::sleepFor(std::chrono::milliseconds(1));
        if (stop.stop_requested())
            throw CancellationError();
    }

private:
    TimePoint m_now = std::chrono::steady_clock::now();
};
