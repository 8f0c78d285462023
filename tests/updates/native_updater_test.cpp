#include "loopback_peer.h"
#include "native_update_commands.h"
#include "native_updater.h"

#include <QAction>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using Kind = NativeUpdateResult::Kind;
using namespace std::chrono_literals;

const QDateTime testNow(QDate(2026, 12, 6), QTime(12, 0), Qt::UTC);

// Ed25519 keys and signed feeds made by the shipped script (with the openssl command), so the
// script and the updater are held to the same format.
QByteArray runScript(const QStringList &arguments)
{
    QProcess script;
    script.start(QStringLiteral(SIGN_FEED_SCRIPT), arguments);
    if (!script.waitForFinished(30'000) || script.exitCode() != 0)
        qFatal("sign-feed.sh failed: %s", script.readAllStandardError().constData());
    return script.readAllStandardOutput();
}

struct Signer {
    QTemporaryDir folder;
    QString key = folder.filePath(QStringLiteral("key.pem"));
    QString publicKey = (runScript({"new-key", key}), QString::fromLatin1(runScript({"public-key", key}).trimmed()));
    QByteArray feed(const QByteArray &payload) const
    {
        QFile file(folder.filePath(QStringLiteral("feed.json")));
        if (!file.open(QIODevice::WriteOnly) || file.write(payload) != payload.size())
            qFatal("cannot write the feed");
        file.close();
        return runScript({"sign", key, file.fileName()});
    }
};

// A TLS feed server, a signing key, a settings file and the options that tie them to an updater.
struct Rig {
    LoopbackPeer peer{LoopbackPeer::Tls};
    const Signer &signer = *[] {
        static const Signer trusted; // the key this build trusts, one per test run
        return &trusted;
    }();
    QTemporaryDir folder;

    QString feedURL() const { return peer.origin() + QStringLiteral("/feed?channel=stable"); }
    QString settingsFile() const { return folder.filePath(QStringLiteral("settings.ini")); }
    QSettings settings() const { return QSettings(settingsFile(), QSettings::IniFormat); }

    NativeUpdater::Options options(std::optional<QVariantMap> information = std::nullopt) const
    {
        NativeUpdater::Options options;
        options.information =
            information.value_or(QVariantMap{{"SUFeedURL", feedURL()}, {"SUPublicEDKey", signer.publicKey}});
        options.currentVersion = QStringLiteral("0.9.0");
        options.settings = [file = settingsFile()] { return std::make_unique<QSettings>(file, QSettings::IniFormat); };
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
        QTest::addColumn<QVariant>("feed"); // "%1": the loopback peer's host and port
        QTest::addColumn<QVariant>("key");
        QTest::addColumn<bool>("valid");
        const auto key = [](int bytes) { return QVariant(QString::fromLatin1(QByteArray(bytes, 'k').toBase64())); };
        const QVariant feed("https://%1/feed");
        const QList<std::tuple<const char *, QVariant, QVariant, bool>> rows = {
            {"https, path and query", "https://%1/feed?channel=stable", key(32), true},
            {"http", "http://%1/feed", key(32), false},
            {"upper-case scheme", "HTTPS://%1/feed", key(32), false},
            {"no host", "https:///feed", key(32), false},
            {"user", "https://user@%1/feed", key(32), false},
            {"password", "https://:secret@%1/feed", key(32), false},
            {"empty user", "https://@%1/feed", key(32), false},
            {"fragment", "https://%1/feed#top", key(32), false},
            {"feed a number", 443, key(32), false},
            {"31-byte key", feed, key(31), false},
            {"33-byte key", feed, key(33), false},
            {"key not Base64", feed, "not Base64 at all, sorry!!!!", false},
            {"key URL-safe Base64", feed, QString::fromLatin1(QByteArray(32, char(0xfb)).toBase64(QByteArray::Base64UrlEncoding)), false},
            {"key a number", feed, 32, false},
            {"nothing", {}, {}, false},
        };
        for (const auto &[name, feedURL, publicKey, valid] : rows)
            QTest::newRow(name) << feedURL << publicKey << valid;
    }

    // Unconfigured, both items stay disabled whatever is pressed, and not one connection is made.
    void configuration()
    {
        QFETCH(QVariant, feed);
        QFETCH(QVariant, key);
        QFETCH(bool, valid);
        Rig rig;
        QVariantMap information;
        if (feed.isValid())
            information.insert("SUFeedURL", feed.typeId() == QMetaType::QString
                                                ? QVariant(feed.toString().arg(rig.peer.origin().mid(8)))
                                                : feed);
        if (key.isValid())
            information.insert("SUPublicEDKey", key);
        QCOMPARE(NativeUpdater::validConfiguration(information), valid);

        rig.settings().setValue("updates.automaticallyCheck", true); // a check would be due at once
        NativeUpdater updater(rig.options(information));
        NativeUpdateCommands commands(updater);
        QCOMPARE(updater.isConfigured(), valid);
        if (valid) {
            QVERIFY(rig.peer.waitForRequests(1)); // the same rig would have seen any traffic
            return;
        }
        commands.checkForUpdates()->trigger();
        commands.automaticallyCheck()->trigger();
        updater.setAutomaticallyChecksForUpdates(true);
        QTest::qWait(100);
        for (QAction *action : commands.actions())
            QVERIFY(!action->isEnabled() && !action->isChecked());
        QCOMPARE(rig.peer.connectionsAccepted(), 0);
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
        row("newer by a fourth number", "{\"version\":\"0.9.0.1\"}", "own", 200, Kind::Available);
        row("http notes not offered", "{\"version\":\"1.0\",\"notes\":\"http://example.org/1.0\"}", "own", 200,
            Kind::Available);
        row("equal", "{\"version\":\"0.9.0\"}", "own", 200, Kind::UpToDate);
        row("equal without the zero", "{\"version\":\"0.9\"}", "own", 200, Kind::UpToDate);
        row("older", "{\"version\":\"0.8.12\"}", "own", 200, Kind::UpToDate);
        row("unsigned", newer, "none", 200, Kind::Failed);
        row("foreign key", newer, "foreign", 200, Kind::Failed);
        row("signature over other bytes", newer, "tampered", 200, Kind::Failed);
        row("pre-release version", "{\"version\":\"1.0-beta\"}", "own", 200, Kind::Failed);
        row("version a number", "{\"version\":2}", "own", 200, Kind::Failed);
        row("no version", "{\"notes\":\"https://example.org/\"}", "own", 200, Kind::Failed);
        row("not JSON", "version 2", "own", 200, Kind::Failed);
        row("redirect", newer, "own", 302, Kind::Failed);
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
        const QByteArray body = signing == u"none"      ? payload
                                : signing == u"foreign" ? Signer().feed(payload)
                                : signing == u"own"     ? rig.signer.feed(payload)
                                                        : rig.signer.feed(payload).replace("0.10.0", "0.11.0");
        rig.peer.route("GET", "/feed", PeerAnswer(status).withBody(body).header("Location", "/elsewhere"));
        rig.peer.route("GET", "/elsewhere", PeerAnswer(200).withBody(body));

        NativeUpdater updater(rig.options());
        QList<NativeUpdateResult> results;
        connect(&updater, &NativeUpdater::announced, this, [&](const NativeUpdateResult &r) { results.append(r); });
        updater.checkForUpdates();
        QVERIFY(!updater.canCheckForUpdates());
        updater.checkForUpdates(); // ignored while one runs
        QTRY_COMPARE(results.size(), 1);
        QVERIFY(updater.canCheckForUpdates());
        QCOMPARE(rig.peer.requests().size(), 1);
        QCOMPARE(rig.peer.requests().at(0).target, QByteArray("/feed?channel=stable"));

        const NativeUpdateResult &result = results.at(0);
        QCOMPARE(int(result.kind), kind);
        QCOMPARE(result.notes, notes);
        QCOMPARE(result.error.isEmpty(), kind != int(Kind::Failed));
        std::unique_ptr<QMessageBox> dialog(NativeUpdateCommands::resultDialog(result, nullptr));
        if (kind == int(Kind::Available))
            QVERIFY(dialog->text().contains(result.version));
        const auto buttons = dialog->buttons();
        QCOMPARE(std::any_of(buttons.begin(), buttons.end(), [](QAbstractButton *b) { return b->text() == u"Release Notes"; }),
                 !notes.isEmpty());
    }

    // An updater that goes away mid-check lets go of the connection and announces nothing.
    void destroyedWhileChecking()
    {
        Rig rig;
        rig.peer.route("GET", "/feed", PeerAnswer::never());
        auto updater = std::make_unique<NativeUpdater>(rig.options());
        connect(updater.get(), &NativeUpdater::announced, this, [] { QFAIL("announced after it was gone"); });
        updater->checkForUpdates();
        QVERIFY(rig.peer.waitForRequests(1));
        updater.reset();
        QVERIFY(rig.peer.waitForAllClosed());
        QTest::qWait(50);
    }

    // A description from outside is shown as written, never read as markup.
    void dialogShowsTextAsWritten()
    {
        NativeUpdateResult failed;
        failed.error = QStringLiteral("<b>Bold</b> & more");
        std::unique_ptr<QMessageBox> dialog(NativeUpdateCommands::resultDialog(failed, nullptr));
        const auto labels = dialog->findChildren<QLabel *>();
        QVERIFY(std::any_of(labels.begin(), labels.end(), [](QLabel *label) {
            return label->text().contains(u"&lt;b&gt;Bold&lt;/b&gt; &amp; more");
        }));
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
        QVERIFY(toggle->isEnabled() && !toggle->isChecked());

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
    }
};

QTEST_MAIN(NativeUpdaterTest)
#include "native_updater_test.moc"
