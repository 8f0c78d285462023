#include "errors.h"
#include "native_session.h"
#include "run_task.h"

#include <qt6keychain/keychain.h>

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

using namespace std::chrono_literals;

namespace {

QString freshService()
{
    return NativeCredentials::serviceName(QStringLiteral("app.teodal.test.") + QUuid::createUuid().toString(QUuid::Id128));
}

// The item's secret as the Secret Service holds it in one form ("plaintext" or "base64"); empty
// when there is no such item.
QByteArray storedForm(const QString &service, const QString &account, const char *form)
{
    QProcess lookup;
    lookup.start(QStringLiteral("secret-tool"), {"lookup", "server", service, "user", account, "type", form});
    lookup.waitForFinished();
    return lookup.readAllStandardOutput();
}

} // namespace

// The Secret Service tests run against the real Secret Service, which CTest starts inside a private
// D-Bus session with a fresh, unlocked keyring (with_private_keyring.sh); withoutSecretService runs
// where no session bus can be reached.
class KeychainStoreTest : public QObject {
    Q_OBJECT

private slots:
    void storesOneItemPerOrigin()
    {
        const std::unique_ptr<SecretStore> store = makeKeychainSecretStore();
        const QString service = freshService();
        const NativeCredentials credentials(*store, service);
        const QString origin = QStringLiteral("http://localhost:8731");
        const QString otherPort = QStringLiteral("http://localhost:8732");

        QCOMPARE(runTask(store->read(service, origin)).status, SecretStore::ReadStatus::NotFound);
        runTask(credentials.save({"corvane_session", "first"}, origin));
        runTask(credentials.save({"corvane_session", "second \u00e9"}, origin));
        runTask(credentials.save({"corvane_session", "elsewhere"}, otherPort));
        for (const QByteArray &notText : {QByteArray("\xFF{"), QByteArray("{\0}", 3)}) // refused, item unchanged
            QVERIFY(!runTask(store->write(service, origin, notText)));
        QCOMPARE(runTask(credentials.read(origin)), (NativeSession{"corvane_session", "second \u00e9"}));
        QCOMPARE(storedForm(service, origin, "plaintext"), encode({"corvane_session", "second \u00e9"}));

        runTask(credentials.remove(origin));
        QCOMPARE(runTask(store->read(service, origin)).status, SecretStore::ReadStatus::NotFound);
        QVERIFY(runTask(store->remove(service, origin)));
        QCOMPARE(runTask(credentials.read(otherPort)), (NativeSession{"corvane_session", "elsewhere"}));
        runTask(credentials.remove(otherPort));
    }

    // Items written as Base64 by earlier versions still read; a save writes the JSON as text, which
    // reads then find first, and sign-out deletes both forms.
    void readsTheEarlierBase64Form()
    {
        const std::unique_ptr<SecretStore> store = makeKeychainSecretStore();
        const QString service = freshService();
        const NativeCredentials credentials(*store, service);
        const QString origin = QStringLiteral("https://calendar.example");
        auto *legacy = new QKeychain::WritePasswordJob(service);
        legacy->setInsecureFallback(false);
        legacy->setKey(origin);
        legacy->setBinaryData(encode({"__Host-corvane_session", "old"}));
        QSignalSpy written(legacy, &QKeychain::Job::finished);
        legacy->start();
        QVERIFY(written.wait());

        QCOMPARE(runTask(credentials.read(origin)), (NativeSession{"__Host-corvane_session", "old"}));
        runTask(credentials.save({"__Host-corvane_session", "new"}, origin));
        QCOMPARE(storedForm(service, origin, "plaintext"), encode({"__Host-corvane_session", "new"}));
        QCOMPARE(runTask(credentials.read(origin)), (NativeSession{"__Host-corvane_session", "new"}));
        runTask(credentials.remove(origin));
        QCOMPARE(storedForm(service, origin, "base64"), QByteArray());
    }

    // A write reported as failed because the store stopped waiting lands later; it must not stay.
    // The read queued first keeps the write from finishing inside its (zero) limit.
    void deletesAWriteThatLandsAfterItsLimit()
    {
        const std::unique_ptr<SecretStore> store = makeKeychainSecretStore();
        const std::unique_ptr<SecretStore> hasty = makeKeychainSecretStore(0ms);
        const QString service = freshService();
        const QString origin = QStringLiteral("https://calendar.example");
        QCoro::Task<SecretStore::ReadResult> first = store->read(service, origin);
        const std::exception_ptr error = taskFailure(NativeCredentials(*hasty, service).save({"n", "v"}, origin));
        QCOMPARE(error ? describeError(error) : QString(), QStringLiteral("Could not save this session in Keychain."));
        runTask(std::move(first));
        QTRY_VERIFY_WITH_TIMEOUT(runTask(store->read(service, origin)).status == SecretStore::ReadStatus::NotFound, 5000);
        QCOMPARE(storedForm(service, origin, "plaintext"), QByteArray());
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
