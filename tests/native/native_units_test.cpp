#include "clock.h"
#include "errors.h"
#include "memory_secret_store.h"
#include "native_session.h"
#include "run_task.h"

#include <QTest>
#include <QTimer>

using namespace std::chrono_literals;

using ReadStatus = SecretStore::ReadStatus;

static const QString service = NativeCredentials::serviceName(QStringLiteral("app.teodal.calendar"));
static const QString account = QStringLiteral("https://calendar.example");

class NativeUnitsTest : public QObject {
    Q_OBJECT

private slots:
    // One item per service and origin; anything but a JSON object with text name and value reads as
    // no session and is left alone.
    void savesReadsAndRemoves()
    {
        MemorySecretStore store;
        const NativeCredentials credentials(store, service);
        QCOMPARE(runTask(credentials.read(account)), std::nullopt);
        for (const QByteArray stored : {R"({"name":"n","value":1})", R"([{"name":"n","value":"v"}])", R"({"name":"n","value":"v"}x)"}) {
            store.items.insert({service, account}, stored);
            QCOMPARE(runTask(credentials.read(account)), std::nullopt);
            QCOMPARE(store.items.value({service, account}), stored);
        }
        runTask(credentials.save({"corvane_session", "first"}, account));
        runTask(credentials.save({"corvane_session", "second"}, account));
        QCOMPARE(store.items.keys(), (QList<MemorySecretStore::Key>{{service, account}}));
        QCOMPARE(runTask(credentials.read(account)), (NativeSession{"corvane_session", "second"}));
        store.failReads = ReadStatus::Failed;
        QCOMPARE(runTask(credentials.read(account)), std::nullopt);
        store.failRemoves = true;
        runTask(credentials.remove(account)); // a failed delete is not an error
        store.failRemoves = false;
        runTask(credentials.remove(account));
        QVERIFY(store.items.isEmpty());
    }

    // A failed write says "update" when the item is there or the store cannot tell; a store that
    // did not answer in time told nothing. The earlier item stays as it was.
    void tellsAFailedUpdateFromAFailedAdd()
    {
        const QString update = QStringLiteral("Could not update this session in Keychain.");
        const QString add = QStringLiteral("Could not save this session in Keychain.");
        const struct {
            bool stored;
            std::optional<ReadStatus> failReads;
            QString sentence;
        } rows[] = {{false, {}, add}, {true, {}, update}, {false, ReadStatus::Failed, update}, {true, ReadStatus::TimedOut, add}};
        for (const auto &[stored, failReads, sentence] : rows) {
            MemorySecretStore store;
            store.failWrites = true;
            store.failReads = failReads;
            if (stored)
                store.items.insert({service, account}, encode({"n", "old"}));
            const std::exception_ptr error = taskFailure(NativeCredentials(store, service).save({"n", "new"}, account));
            QCOMPARE(error ? describeError(error) : QString(), sentence);
            QCOMPARE(store.items.value({service, account}), stored ? encode({"n", "old"}) : QByteArray());
        }
    }

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
                const QString outcome = outcomeOf(clock.sleep(stopAfterMs ? 10s : 60ms, stop.get_token()));
                QCOMPARE(outcome, stopAfterMs ? QStringLiteral("cancelled") : QString());
                const auto slept = clock.now() - start;
                QVERIFY(stopAfterMs ? slept < 1s : slept >= 60ms);
            }
        }
    }
};

QTEST_GUILESS_MAIN(NativeUnitsTest)
#include "native_units_test.moc"
