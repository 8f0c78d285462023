#include "loopback_peer.h"
#include "native_update_commands.h"
#include "native_updater.h"

#include <QAction>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <openssl/evp.h>

namespace {

using Kind = NativeUpdateResult::Kind;
using namespace std::chrono_literals;

const QDateTime testNow(QDate(2026, 12, 6), QTime(12, 0), Qt::UTC);

// A fresh Ed25519 key pair per instance.
class Signer {
public:
    Signer() : m_key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), &EVP_PKEY_free) {}

    QString publicKey() const
    {
        QByteArray raw(32, '\0');
        size_t size = size_t(raw.size());
        EVP_PKEY_get_raw_public_key(m_key.get(), reinterpret_cast<unsigned char *>(raw.data()), &size);
        return QString::fromLatin1(raw.toBase64());
    }

    // The feed: the Base64 signature line, then exactly the signed bytes.
    QByteArray feed(const QByteArray &payload) const
    {
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
        QByteArray signature(64, '\0');
        size_t size = size_t(signature.size());
        EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, m_key.get());
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char *>(signature.data()), &size,
                       reinterpret_cast<const unsigned char *>(payload.constData()), size_t(payload.size()));
        return signature.toBase64() + '\n' + payload;
    }

private:
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> m_key;
};

// A TLS feed server, a signing key, a settings file and the options that tie them to an updater.
struct Rig {
    LoopbackPeer peer{LoopbackPeer::Tls};
    Signer signer;
    QTemporaryDir folder;

    QString feedURL() const { return peer.origin() + QStringLiteral("/feed?channel=stable"); }
    QString settingsFile() const { return folder.filePath(QStringLiteral("settings.ini")); }
    QSettings settings() const { return QSettings(settingsFile(), QSettings::IniFormat); }

    NativeUpdater::Options options(std::optional<QVariantMap> information = std::nullopt) const
    {
        NativeUpdater::Options options;
        options.information =
            information.value_or(QVariantMap{{"SUFeedURL", feedURL()}, {"SUPublicEDKey", signer.publicKey()}});
        options.currentVersion = QStringLiteral("0.9.0");
        options.settings = [file = settingsFile()] {
            return std::make_unique<QSettings>(file, QSettings::IniFormat);
        };
        options.now = [] { return testNow; };
        options.automaticDelay = 0ms;
        return options;
    }
};

} // namespace

class NativeUpdaterTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { LoopbackPeer::trustInThisProcess(); }

    void configuration_data()
    {
        QTest::addColumn<QVariant>("feed"); // "%1" stands for the loopback peer's host and port
        QTest::addColumn<QVariant>("key");  // "good" stands for the rig's public key
        QTest::addColumn<bool>("valid");
        const QVariant good = QStringLiteral("good");
        const auto key = [](int bytes) { return QVariant(QString::fromLatin1(QByteArray(bytes, 'k').toBase64())); };
        QTest::newRow("https, path and query") << QVariant("https://%1/feed?channel=stable") << good << true;
        QTest::newRow("https, host only") << QVariant("https://%1") << good << true;
        QTest::newRow("http") << QVariant("http://%1/feed") << good << false;
        QTest::newRow("upper-case scheme") << QVariant("HTTPS://%1/feed") << good << false;
        QTest::newRow("no host") << QVariant("https:///feed") << good << false;
        QTest::newRow("user") << QVariant("https://user@%1/feed") << good << false;
        QTest::newRow("user and password") << QVariant("https://user:secret@%1/feed") << good << false;
        QTest::newRow("empty user") << QVariant("https://@%1/feed") << good << false;
        QTest::newRow("fragment") << QVariant("https://%1/feed#top") << good << false;
        QTest::newRow("empty fragment") << QVariant("https://%1/feed#") << good << false;
        QTest::newRow("not a URL") << QVariant("https://%1/fe ed") << good << false;
        QTest::newRow("feed a number") << QVariant(443) << good << false;
        QTest::newRow("feed as bytes") << QVariant(QByteArray("https://%1/feed")) << good << false;
        QTest::newRow("no feed") << QVariant() << good << false;
        QTest::newRow("31-byte key") << QVariant("https://%1/feed") << key(31) << false;
        QTest::newRow("33-byte key") << QVariant("https://%1/feed") << key(33) << false;
        QTest::newRow("key not Base64") << QVariant("https://%1/feed") << QVariant("not Base64 at all, sorry!!!!") << false;
        QTest::newRow("key URL-safe Base64")
            << QVariant("https://%1/feed") << QVariant(QString::fromLatin1(QByteArray(32, char(0xfb)).toBase64(
                                                   QByteArray::Base64UrlEncoding)))
            << false;
        QTest::newRow("key without padding")
            << QVariant("https://%1/feed") << QVariant(key(32).toString().chopped(1)) << false;
        QTest::newRow("key a number") << QVariant("https://%1/feed") << QVariant(32) << false;
        QTest::newRow("no key") << QVariant("https://%1/feed") << QVariant() << false;
        QTest::newRow("nothing") << QVariant() << QVariant() << false;
    }

    // Unconfigured, both items stay disabled whatever is pressed, and not one connection is made.
    void configuration()
    {
        QFETCH(QVariant, feed);
        QFETCH(QVariant, key);
        QFETCH(bool, valid);
        Rig rig;
        QVariantMap information;
        const QString authority = rig.peer.origin().mid(8);
        if (feed.typeId() == QMetaType::QString)
            information.insert("SUFeedURL", feed.toString().arg(authority));
        else if (feed.typeId() == QMetaType::QByteArray)
            information.insert("SUFeedURL", QString::fromLatin1(feed.toByteArray()).arg(authority).toLatin1());
        else if (feed.isValid())
            information.insert("SUFeedURL", feed);
        if (key.isValid())
            information.insert("SUPublicEDKey", key == QVariant("good") ? rig.signer.publicKey() : key);
        QCOMPARE(NativeUpdater::validConfiguration(information), valid);

        rig.settings().setValue("updates.automaticallyCheck", true); // a check would be due at once
        NativeUpdater updater(rig.options(information));
        NativeUpdateCommands commands(updater);
        QCOMPARE(updater.isConfigured(), valid);
        QCOMPARE(commands.checkForUpdates()->isEnabled(), valid);
        QCOMPARE(commands.automaticallyCheck()->isEnabled(), valid);
        if (valid) {
            QVERIFY(rig.peer.waitForRequests(1)); // the same rig would have seen any traffic
            return;
        }
        QVERIFY(!commands.automaticallyCheck()->isChecked());
        commands.checkForUpdates()->trigger();
        updater.checkForUpdates();
        commands.automaticallyCheck()->trigger();
        updater.setAutomaticallyChecksForUpdates(true);
        QTest::qWait(100);
        QVERIFY(!commands.checkForUpdates()->isEnabled());
        QVERIFY(!commands.automaticallyCheck()->isEnabled());
        QVERIFY(!commands.automaticallyCheck()->isChecked());
        QCOMPARE(rig.peer.connectionsAccepted(), 0);
        QVERIFY(!rig.settings().contains("updates.lastCheck"));
    }

    void check_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("signing"); // own, foreign, none, or tampered (signed, then changed)
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QUrl>("notes");
        const QByteArray newer = "{\"version\":\"0.10.0\",\"notes\":\"https://example.org/0.10\"}";
        const QUrl notes("https://example.org/0.10");
        const auto row = [](const char *name, QByteArray payload, QString signing, int status, Kind kind,
                            QUrl notes = {}) {
            QTest::newRow(name) << payload << signing << status << int(kind) << notes;
        };
        // This build is 0.9.0.
        row("newer (numbers, not text)", newer, "own", 200, Kind::Available, notes);
        row("newer by a fourth part", "{\"version\":\"0.9.0.1\"}", "own", 200, Kind::Available);
        row("http notes not offered", "{\"version\":\"1.0\",\"notes\":\"http://example.org/1.0\"}", "own", 200,
            Kind::Available);
        row("notes with a user not offered", "{\"version\":\"1.0\",\"notes\":\"https://me@example.org/\"}", "own", 200,
            Kind::Available);
        row("equal", "{\"version\":\"0.9.0\"}", "own", 200, Kind::UpToDate);
        row("equal without the zero", "{\"version\":\"0.9\"}", "own", 200, Kind::UpToDate);
        row("older", "{\"version\":\"0.8.12\"}", "own", 200, Kind::UpToDate);
        row("unsigned", newer, "none", 200, Kind::Failed);
        row("foreign key", newer, "foreign", 200, Kind::Failed);
        row("signature over other bytes", newer, "tampered", 200, Kind::Failed);
        row("pre-release version", "{\"version\":\"1.0-beta\"}", "own", 200, Kind::Failed);
        row("five parts", "{\"version\":\"1.0.0.0.1\"}", "own", 200, Kind::Failed);
        row("version a number", "{\"version\":2}", "own", 200, Kind::Failed);
        row("no version", "{\"notes\":\"https://example.org/\"}", "own", 200, Kind::Failed);
        row("not JSON", "version 2", "own", 200, Kind::Failed);
        row("redirect", newer, "own", 302, Kind::Failed);
        row("not found", newer, "own", 404, Kind::Failed);
        row("oversize", newer + QByteArray(NativeUpdater::maxFeedBytes, ' '), "own", 200, Kind::Failed);
    }

    // A check the user asks for: one request, one answer, and only a verified newer version is offered.
    void check()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QString, signing);
        QFETCH(int, status);
        QFETCH(int, kind);
        QFETCH(QUrl, notes);
        Rig rig;
        QByteArray body;
        if (signing == u"own")
            body = rig.signer.feed(payload);
        else if (signing == u"foreign")
            body = Signer().feed(payload);
        else if (signing == u"tampered")
            body = rig.signer.feed(payload).replace("0.10.0", "0.11.0");
        else
            body = payload;
        PeerAnswer answer(status);
        answer.withBody(body);
        if (status == 302)
            answer.header("Location", "/elsewhere");
        rig.peer.route("GET", "/feed", answer);
        rig.peer.route("GET", "/elsewhere", PeerAnswer(200).withBody(body));

        NativeUpdater updater(rig.options());
        QList<NativeUpdateResult> results;
        connect(&updater, &NativeUpdater::announced, this, [&](const NativeUpdateResult &r) { results.append(r); });
        updater.checkForUpdates();
        QVERIFY(!updater.canCheckForUpdates());
        updater.checkForUpdates(); // ignored while one runs
        QTRY_COMPARE(results.size(), 1);
        QVERIFY(updater.canCheckForUpdates());
        QTest::qWait(20);
        QCOMPARE(results.size(), 1);
        QCOMPARE(rig.peer.requests().size(), 1);
        QCOMPARE(rig.peer.requests().at(0).target, QByteArray("/feed?channel=stable"));
        QVERIFY(!rig.peer.requests().at(0).hasHeader("cookie"));

        const NativeUpdateResult &result = results.at(0);
        QCOMPARE(int(result.kind), kind);
        QCOMPARE(result.notes, notes);
        QCOMPARE(result.error.isEmpty(), kind != int(Kind::Failed));
        std::unique_ptr<QMessageBox> dialog(NativeUpdateCommands::resultDialog(result, nullptr));
        if (kind == int(Kind::Available))
            QVERIFY(dialog->text().contains(result.version));
        const auto buttons = dialog->buttons();
        const bool offersNotes = std::any_of(buttons.begin(), buttons.end(), [](QAbstractButton *b) {
            return b->text() == u"Release Notes";
        });
        QCOMPARE(offersNotes, !notes.isEmpty());
    }

    void automatic_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("hoursSinceLast"); // 0: never checked
        QTest::addColumn<QString>("announcedBefore");
        QTest::addColumn<bool>("checks");
        QTest::addColumn<bool>("announces");
        QTest::newRow("off") << false << 0 << QString() << false << false;
        QTest::newRow("first run") << true << 0 << QString() << true << true;
        QTest::newRow("checked two hours ago") << true << 2 << QString() << false << false;
        QTest::newRow("checked yesterday") << true << 25 << QString() << true << true;
        QTest::newRow("last check in the future") << true << -48 << QString() << true << true;
        QTest::newRow("version announced before") << true << 0 << QString("0.10.0") << true << false;
    }

    // Automatic checks: only when enabled, at most once a day, each newer version announced once.
    void automatic()
    {
        QFETCH(bool, enabled);
        QFETCH(int, hoursSinceLast);
        QFETCH(QString, announcedBefore);
        QFETCH(bool, checks);
        QFETCH(bool, announces);
        Rig rig;
        rig.peer.route("GET", "/feed", PeerAnswer(200).withBody(rig.signer.feed("{\"version\":\"0.10.0\"}")));
        {
            QSettings settings = rig.settings();
            settings.setValue("updates.automaticallyCheck", enabled);
            if (hoursSinceLast != 0)
                settings.setValue("updates.lastCheck", testNow.addSecs(-3600 * hoursSinceLast).toString(Qt::ISODate));
            if (!announcedBefore.isEmpty())
                settings.setValue("updates.announcedVersion", announcedBefore);
        }

        NativeUpdater updater(rig.options());
        int announced = 0;
        connect(&updater, &NativeUpdater::announced, this, [&](const NativeUpdateResult &result) {
            QCOMPARE(result.version, QStringLiteral("0.10.0"));
            ++announced;
        });
        if (checks) {
            QVERIFY(rig.peer.waitForRequests(1));
            QTRY_VERIFY(updater.canCheckForUpdates());
        }
        QTest::qWait(100);
        QCOMPARE(rig.peer.requests().size(), checks ? 1 : 0);
        QCOMPARE(announced, announces ? 1 : 0);
        if (checks)
            QCOMPARE(rig.settings().value("updates.lastCheck").toString(), testNow.toString(Qt::ISODate));
    }

    // The toggle writes the setting once and shows what the updater reports.
    void automaticToggle()
    {
        Rig rig;
        auto options = rig.options();
        options.automaticDelay = 1h;
        NativeUpdater updater(options);
        NativeUpdateCommands commands(updater);
        QAction *toggle = commands.automaticallyCheck();
        QSignalSpy changes(&updater, &NativeUpdater::automaticallyChecksForUpdatesChanged);
        QVERIFY(toggle->isEnabled());
        QVERIFY(!toggle->isChecked());

        toggle->trigger();
        updater.setAutomaticallyChecksForUpdates(true);
        QCOMPARE(changes.size(), 1);
        QCOMPARE(rig.settings().value("updates.automaticallyCheck").toBool(), true);
        QVERIFY(toggle->isChecked());

        updater.setAutomaticallyChecksForUpdates(false);
        QVERIFY(!toggle->isChecked());
        QCOMPARE(rig.settings().value("updates.automaticallyCheck").toBool(), false);

        rig.settings().setValue("updates.automaticallyCheck", true);
        NativeUpdater restarted(options);
        QVERIFY(NativeUpdateCommands(restarted).automaticallyCheck()->isChecked());
        QCOMPARE(rig.peer.requests().size(), 0);
        QCOMPARE(commands.checkForUpdates()->text(), QStringLiteral("Check for Updates\u2026"));
    }

    // The shipped script and the updater agree on the key and the feed format.
    void signingScript()
    {
        Rig rig;
        const QString key = rig.folder.filePath("feed-key.pem");
        const QString payload = rig.folder.filePath("feed.json");
        QFile file(payload);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{\"version\": \"1.0\",\n \"notes\": \"https://example.org/1.0\"}\n");
        file.close();
        const auto run = [](QStringList arguments) -> std::optional<QByteArray> {
            QProcess script;
            script.start(QStringLiteral(SIGN_FEED_SCRIPT), arguments);
            if (!script.waitForFinished(30'000) || script.exitCode() != 0)
                return std::nullopt;
            return script.readAllStandardOutput();
        };
        QVERIFY(run({"new-key", key}));
        const std::optional<QByteArray> publicKey = run({"public-key", key});
        const std::optional<QByteArray> feed = run({"sign", key, payload});
        QVERIFY(publicKey && feed);
        rig.peer.route("GET", "/feed", PeerAnswer(200).withBody(*feed));

        NativeUpdater updater(
            rig.options(QVariantMap{{"SUFeedURL", rig.feedURL()}, {"SUPublicEDKey", QString::fromLatin1(publicKey->trimmed())}}));
        QList<NativeUpdateResult> results;
        connect(&updater, &NativeUpdater::announced, this, [&](const NativeUpdateResult &r) { results.append(r); });
        updater.checkForUpdates();
        QTRY_COMPARE(results.size(), 1);
        QCOMPARE(int(results.at(0).kind), int(Kind::Available));
        QCOMPARE(results.at(0).version, QStringLiteral("1.0"));
    }
};

QTEST_MAIN(NativeUpdaterTest)
#include "native_updater_test.moc"
