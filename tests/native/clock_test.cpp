#include "clock.h"
#include "errors.h"
#include "run_task.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

using namespace std::chrono_literals;

class ClockTest : public QObject {
    Q_OBJECT

private slots:
    void sleepsAtLeastItsDuration()
    {
        SystemClock clock;
        for (int i = 0; i < 5; ++i) {
            const Clock::TimePoint start = clock.now();
            runTask(clock.sleep(60ms, {}));
            QVERIFY(clock.now() - start >= 60ms);
        }
    }

    void stopEndsTheSleepAtOnce_data()
    {
        QTest::addColumn<int>("stopAfterMs"); // -1: stopped before the sleep starts
        QTest::newRow("during") << 50;
        QTest::newRow("before") << -1;
    }

    void stopEndsTheSleepAtOnce()
    {
        QFETCH(int, stopAfterMs);
        SystemClock clock;
        std::stop_source stop;
        if (stopAfterMs < 0)
            stop.request_stop();
        else
            QTimer::singleShot(stopAfterMs, [&] { stop.request_stop(); });
        QElapsedTimer elapsed;
        elapsed.start();
        bool cancelled = false;
        try {
            runTask(clock.sleep(10s, stop.get_token()));
        } catch (const CancellationError &) {
            cancelled = true;
        }
        QVERIFY(cancelled);
        QVERIFY(elapsed.elapsed() < 1000);
    }
};

QTEST_GUILESS_MAIN(ClockTest)
#include "clock_test.moc"
