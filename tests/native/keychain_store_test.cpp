#include "errors.h"
#include "native_session.h"
#include "run_task.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

using namespace std::chrono_literals;

namespace {

const QString origin = QStringLiteral("https://calendar.example");

// The Secret Service under a service name of its own, so no two runs meet each other's items.
struct Keyring {
    std::unique_ptr<SecretStore> store = makeKeychainSecretStore();
    QString service = NativeCredentials::serviceName("app.teodal.test." + QUuid::createUuid().toString(QUuid::Id128));
    NativeCredentials credentials{*store, service};

    // The item's secret as the Secret Service holds it; empty when there is no such item.
    QByteArray stored(const QString &account) const
    {
        QProcess lookup;
        lookup.start(QStringLiteral("secret-tool"), {"lookup", "server", service, "user", account, "type", "plaintext"});
        lookup.waitForFinished();
        return lookup.readAllStandardOutput();
    }
};

} // namespace

// The first two run against the real Secret Service, which CTest starts in a private D-Bus session
// with a fresh, unlocked keyring (with_private_keyring.sh); withoutSecretService runs with no bus.
class KeychainStoreTest : public QObject {
    Q_OBJECT

private slots:
    void storesOneItemPerOrigin()
    {
        Keyring keyring;
        const QString here = QStringLiteral("http://localhost:8731"), otherPort = QStringLiteral("http://localhost:8732");
        runTask(keyring.credentials.save({"corvane_session", "first"}, here));
        runTask(keyring.credentials.save({"corvane_session", "second \u00e9"}, here));
        runTask(keyring.credentials.save({"corvane_session", "elsewhere"}, otherPort));
        for (const QByteArray &notText : {QByteArray("\xFF{"), QByteArray("{\0}", 3)}) // refused, item unchanged
            QVERIFY(!runTask(keyring.store->write(keyring.service, here, notText)));
        QCOMPARE(runTask(keyring.credentials.read(here)), (NativeSession{"corvane_session", "second \u00e9"}));
        QCOMPARE(keyring.stored(here), encode({"corvane_session", "second \u00e9"}));

        runTask(keyring.credentials.remove(here));
        QCOMPARE(runTask(keyring.store->read(keyring.service, here)).status, SecretStore::ReadStatus::NotFound);
        QVERIFY(runTask(keyring.store->remove(keyring.service, here)));
        QCOMPARE(runTask(keyring.credentials.read(otherPort)), (NativeSession{"corvane_session", "elsewhere"}));
        runTask(keyring.credentials.remove(otherPort));
    }

    // A write reported as failed because the store stopped waiting lands later; it must not stay.
    // The read queued first keeps the write from finishing inside its (zero) limit.
    void deletesAWriteThatLandsAfterItsLimit()
    {
        Keyring keyring;
        const std::unique_ptr<SecretStore> hasty = makeKeychainSecretStore(0ms);
        QCoro::Task<SecretStore::ReadResult> first = keyring.store->read(keyring.service, origin);
        const std::exception_ptr error = taskFailure(NativeCredentials(*hasty, keyring.service).save({"n", "v"}, origin));
        QCOMPARE(error ? describeError(error) : QString(), QStringLiteral("Could not save this session in Keychain."));
        runTask(std::move(first));
        QTRY_VERIFY_WITH_TIMEOUT(
            runTask(keyring.store->read(keyring.service, origin)).status == SecretStore::ReadStatus::NotFound, 5000);
        QCOMPARE(keyring.stored(origin), QByteArray());
    }

    // No plain-text fallback: reads are absent, saves fail, and no file holds the secret.
    void withoutSecretService()
    {
        QTemporaryDir home;
        for (const char *variable : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"})
            qputenv(variable, home.path().toUtf8());
        const std::unique_ptr<SecretStore> store = makeKeychainSecretStore();
        const NativeCredentials credentials(*store, NativeCredentials::serviceName({}));
        QCOMPARE(runTask(credentials.read(origin)), std::nullopt);
        const std::exception_ptr error = taskFailure(credentials.save({"__Host-corvane_session", "secret"}, origin));
        QCOMPARE(error ? describeError(error) : QString(), QStringLiteral("Could not update this session in Keychain."));
        QCOMPARE(QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }
};

QTEST_GUILESS_MAIN(KeychainStoreTest)
#include "keychain_store_test.moc"
