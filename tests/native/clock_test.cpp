#include "clock.h"
#include "run_task.h"

#include <QTest>
#include <QTimer>

using namespace std::chrono_literals;

class ClockTest : public QObject {
    Q_OBJECT

private slots:
    // A sleep never ends early, and a stop ends it at once, whether it comes during the sleep or
    // before it starts. Each case runs five times: a coarse timer may fire a few percent early.
    void sleep()
    {
        SystemClock clock;
        for (const int stopAfterMs : {0, 50, -1}) { // 0: never stopped, -1: stopped before the sleep starts
            for (int run = 0; run < 5; ++run) {
                std::stop_source stop;
                if (stopAfterMs < 0)
                    stop.request_stop();
                else if (stopAfterMs > 0)
                    QTimer::singleShot(stopAfterMs, [&] { stop.request_stop(); });
                const Clock::TimePoint start = clock.now();
                const QString outcome = outcomeOf(taskFailure(clock.sleep(stopAfterMs ? 10s : 60ms, stop.get_token())));
                QCOMPARE(outcome, stopAfterMs ? QStringLiteral("cancelled") : QString());
                const auto slept = clock.now() - start;
                QVERIFY(stopAfterMs ? slept < 1s : slept >= 60ms);
            }
        }
    }
};

QTEST_GUILESS_MAIN(ClockTest)
#include "clock_test.moc"
