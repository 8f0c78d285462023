#include "errors.h"
#include "native_session.h"
#include "run_task.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

// storesOneItemPerOrigin runs against the real Secret Service, which CTest starts inside a private
// D-Bus session with a fresh, unlocked keyring (with_private_keyring.sh); withoutSecretService runs
// where no session bus can be reached.
class KeychainStoreTest : public QObject {
    Q_OBJECT

private slots:
    void storesOneItemPerOrigin()
    {
        const std::unique_ptr<SecretStore> store = makeKeychainSecretStore();
        const QString service = NativeCredentials::serviceName(QStringLiteral("app.teodal.test.") + QUuid::createUuid().toString(QUuid::Id128));
        const NativeCredentials credentials(*store, service);
        const QString origin = QStringLiteral("http://localhost:8731");
        const QString otherPort = QStringLiteral("http://localhost:8732");

        QCOMPARE(runTask(store->read(service, origin)).status, SecretStore::ReadStatus::NotFound);
        QCOMPARE(runTask(credentials.read(origin)), std::nullopt);
        runTask(credentials.save({"corvane_session", "first"}, origin));
        runTask(credentials.save({"corvane_session", "second \u00e9"}, origin));
        runTask(credentials.save({"corvane_session", "elsewhere"}, otherPort));
        QCOMPARE(runTask(credentials.read(origin)), (NativeSession{"corvane_session", "second \u00e9"}));
        QCOMPARE(runTask(store->read(service, origin)).data, encode({"corvane_session", "second \u00e9"}));

        QVERIFY(runTask(store->write(service, origin, R"({"name":"n"})")));
        QCOMPARE(runTask(credentials.read(origin)), std::nullopt);
        QCOMPARE(runTask(store->read(service, origin)).status, SecretStore::ReadStatus::Found);

        runTask(credentials.remove(origin));
        QCOMPARE(runTask(store->read(service, origin)).status, SecretStore::ReadStatus::NotFound);
        QVERIFY(runTask(store->remove(service, origin)));
        QCOMPARE(runTask(credentials.read(otherPort)), (NativeSession{"corvane_session", "elsewhere"}));
        runTask(credentials.remove(otherPort));
    }

    void withoutSecretService()
    {
        QTemporaryDir home;
        qputenv("HOME", home.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
        qputenv("XDG_DATA_HOME", home.path().toUtf8());
        const std::unique_ptr<SecretStore> store = makeKeychainSecretStore();
        const NativeCredentials credentials(*store, NativeCredentials::serviceName({}));
        const QString origin = QStringLiteral("https://calendar.example");
        QCOMPARE(runTask(credentials.read(origin)), std::nullopt);
        const std::exception_ptr error = taskFailure(credentials.save({"__Host-corvane_session", "secret"}, origin));
        QCOMPARE(error ? describeError(error) : QString(), QStringLiteral("Could not update this session in Keychain."));
        QCOMPARE(QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }
};

QTEST_GUILESS_MAIN(KeychainStoreTest)
#include "keychain_store_test.moc"
