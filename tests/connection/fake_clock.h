#pragma once

#include "clock.h"
#include "errors.h"

#include <QCoroSignal>
#include <QList>
#include <QObject>
#include <QPointer>

#include <algorithm>

class FakeClockAlarm : public QObject {
    Q_OBJECT
signals:
    void rang();
};

// Time that moves only when the test says so. A sleep ends once advance() has carried the clock to
// its end, or at once (with CancellationError) when its stop token is triggered.
class FakeClock final : public QObject, public Clock {
    Q_OBJECT
public:
    TimePoint now() const override { return m_now; }

    QCoro::Task<> sleep(std::chrono::milliseconds duration, std::stop_token stop) override
    {
        if (stop.stop_requested())
            throw CancellationError();
        const TimePoint end = m_now + duration;
        FakeClockAlarm alarm;
        auto rung = qCoro(&alarm, &FakeClockAlarm::rang);
        connect(this, &FakeClock::moved, &alarm, [this, end, &alarm] {
            if (m_now >= end)
                emit alarm.rang();
        });
        std::stop_callback onStop(stop, [&alarm] { emit alarm.rang(); });
        m_ends.append(end);
        QPointer<FakeClock> self(this);
        co_await std::move(rung);
        if (self)
            m_ends.removeOne(end);
        if (stop.stop_requested())
            throw CancellationError();
    }

    void advance(std::chrono::milliseconds by)
    {
        m_now += by;
        emit moved();
    }

    // Sleeps whose end is still ahead.
    qsizetype sleeping() const
    {
        return std::count_if(m_ends.begin(), m_ends.end(), [this](TimePoint end) { return end > m_now; });
    }

signals:
    void moved();

private:
    TimePoint m_now{std::chrono::hours(1000)};
    QList<TimePoint> m_ends;
};
