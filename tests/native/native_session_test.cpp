#include "errors.h"
#include "memory_secret_store.h"
#include "native_http.h"
#include "native_session.h"
#include "run_task.h"

#include <QTest>

static const QString service = NativeCredentials::serviceName(QStringLiteral("app.teodal.calendar"));
static const QString account = QStringLiteral("https://calendar.example");

static QString saveFailure(const NativeCredentials &credentials, const NativeSession &session, const QString &to)
{
    const std::exception_ptr error = taskFailure(credentials.save(session, to));
    return error ? describeError(error) : QString();
}

class NativeSessionTest : public QObject {
    Q_OBJECT

private slots:
    void decodesOnlyTheJsonForm_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("valid");
        QTest::newRow("both members") << QByteArray("{\"name\":\"corvane_session\",\"value\":\"a b\\\"c\"}") << true;
        QTest::newRow("extra members") << QByteArray(R"({"value":"v","name":"n","expires":3})") << true;
        QTest::newRow("no value") << QByteArray(R"({"name":"n"})") << false;
        QTest::newRow("number value") << QByteArray(R"({"name":"n","value":1})") << false;
        QTest::newRow("array") << QByteArray(R"([{"name":"n","value":"v"}])") << false;
        QTest::newRow("trailing bytes") << QByteArray(R"({"name":"n","value":"v"}x)") << false;
    }

    void decodesOnlyTheJsonForm()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, valid);
        NativeSession session{"untouched", "untouched"};
        QCOMPARE(decode(json, session), valid);
        if (valid) {
            NativeSession again;
            QVERIFY(decode(encode(session), again));
            QCOMPARE(again, session);
        } else {
            QCOMPARE(session, (NativeSession{"untouched", "untouched"}));
        }
    }

    void readsAbsentForEveryFailure()
    {
        QCOMPARE(service, QStringLiteral("app.teodal.calendar.session"));
        QCOMPARE(NativeCredentials::serviceName({}), QStringLiteral("teodal.native.session"));
        MemorySecretStore store;
        const NativeCredentials credentials(store, service);
        QCOMPARE(runTask(credentials.read(account)), std::nullopt);

        store.items.insert({service, account}, R"({"name":"n"})");
        QCOMPARE(runTask(credentials.read(account)), std::nullopt);
        QCOMPARE(store.items.value({service, account}), QByteArray(R"({"name":"n"})"));

        store.items.insert({service, account}, encode({"n", "v"}));
        QCOMPARE(runTask(credentials.read(account)), (NativeSession{"n", "v"}));
        store.failReads = true;
        QCOMPARE(runTask(credentials.read(account)), std::nullopt);
        store.failReads = false;
        store.unavailable = true;
        QCOMPARE(runTask(credentials.read(account)), std::nullopt);
    }

    void savesUpdatesAndRemoves()
    {
        MemorySecretStore store;
        const NativeCredentials credentials(store, service);
        QCOMPARE(saveFailure(credentials, {"corvane_session", "first"}, account), QString());
        QCOMPARE(saveFailure(credentials, {"corvane_session", "second"}, account), QString());
        const QString withPort = NativeHTTP::originText(NativeHTTP::origin(QStringLiteral("https://calendar.example:8443/")));
        QCOMPARE(saveFailure(credentials, {"corvane_session", "other port"}, withPort), QString());
        QCOMPARE(store.items.size(), 2);
        QCOMPARE(runTask(credentials.read(account)), (NativeSession{"corvane_session", "second"}));
        QCOMPARE(runTask(credentials.read(QStringLiteral("https://calendar.example:8443"))),
                 (NativeSession{"corvane_session", "other port"}));

        runTask(credentials.remove(account));
        QCOMPARE(runTask(credentials.read(account)), std::nullopt);
        store.failRemoves = true;
        runTask(credentials.remove(withPort));
        QCOMPARE(store.items.size(), 1);
    }

    void tellsAFailedUpdateFromAFailedAdd()
    {
        const QString update = QStringLiteral("Could not update this session in Keychain.");
        const QString add = QStringLiteral("Could not save this session in Keychain.");
        MemorySecretStore store;
        store.failWrites = true;
        const NativeCredentials credentials(store, service);
        QCOMPARE(saveFailure(credentials, {"n", "new"}, account), add);
        QVERIFY(store.items.isEmpty());

        store.items.insert({service, account}, encode({"n", "old"}));
        QCOMPARE(saveFailure(credentials, {"n", "new"}, account), update);
        QCOMPARE(store.items.value({service, account}), encode({"n", "old"}));

        store.items.clear();
        store.failWrites = false;
        store.unavailable = true;
        QCOMPARE(saveFailure(credentials, {"n", "new"}, account), update);
    }
};

QTEST_GUILESS_MAIN(NativeSessionTest)
#include "native_session_test.moc"
