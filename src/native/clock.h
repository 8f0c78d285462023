#pragma once

#include <QCoroTask>

#include <chrono>
#include <stop_token>

// The monotonic clock and its sleep, injectable so tests control time without shortening any rule.
class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
    // Waits at least `duration` (never ends early); a stop request ends it at once with
    // CancellationError.
    virtual QCoro::Task<> sleep(std::chrono::milliseconds duration, std::stop_token stop) = 0;
};

// The real steady clock; sleeps run on a precise timer on the calling (main) thread.
class SystemClock final : public Clock {
public:
    TimePoint now() const override;
    QCoro::Task<> sleep(std::chrono::milliseconds duration, std::stop_token stop) override;
};
