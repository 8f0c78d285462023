#include "loopback_peer.h"
#include "native_update_commands.h"
#include "native_updater.h"

#include <QAction>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using Kind = NativeUpdateResult::Kind;
using namespace std::chrono_literals;

const QDateTime testNow(QDate(2026, 12, 6), QTime(12, 0), Qt::UTC);

// The Ed25519 key this build trusts (one per test run) and feeds signed with it, made by the shipped
// script (with the openssl command), so the script and the updater are held to the same format.
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
        if (!file.open(QIODevice::WriteOnly) || file.write(payload) != payload.size() || !file.flush())
            qFatal("cannot write the feed");
        return runScript({"sign", key, file.fileName()});
    }
    static const Signer &trusted()
    {
        static const Signer signer;
        return signer;
    }
};

// A TLS feed server, a signing key, a settings file and the options that tie them to an updater.
struct Rig {
    LoopbackPeer peer{LoopbackPeer::Tls};
    const Signer &signer = Signer::trusted();
    QTemporaryDir folder;

    QString settingsFile() const { return folder.filePath(QStringLiteral("settings.ini")); }
    QSettings settings() const { return QSettings(settingsFile(), QSettings::IniFormat); }

    NativeUpdater::Options options(std::optional<QVariantMap> information = std::nullopt) const
    {
        const QString feed = peer.origin() + QStringLiteral("/feed?channel=stable");
        return {.information = information.value_or(QVariantMap{{"SUFeedURL", feed}, {"SUPublicEDKey", signer.publicKey}}),
                .currentVersion = QStringLiteral("0.9.0"),
                .settings = [file = settingsFile()] { return std::make_unique<QSettings>(file, QSettings::IniFormat); },
                .now = [] { return testNow; },
                .automaticDelay = 0ms};
    }
};

} // namespace

class NativeUpdaterTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { LoopbackPeer::trustInThisProcess(); }

    // Unconfigured, both items stay disabled whatever is pressed, and not one connection is made.
    void refusesAnInvalidConfiguration()
    {
        Rig rig;
        rig.settings().setValue("updates.automaticallyCheck", true); // a check would be due at once
        const QVariant key = QString::fromLatin1(QByteArray(32, 'k').toBase64());
        const QVariant feed = QStringLiteral("https://%1/feed");
        const QList<std::pair<QVariant, QVariant>> invalid = {
            {"http://%1/feed", key}, {"HTTPS://%1/feed", key}, {"https:///feed", key}, {"https://@%1/feed", key},
            {"https://%1/feed#top", key}, {443, key}, {feed, QString::fromLatin1(QByteArray(33, 'k').toBase64())},
            {feed, QString::fromLatin1(QByteArray(32, char(0xfb)).toBase64(QByteArray::Base64UrlEncoding))}, {feed, 32},
            {{}, {}},
        };
        for (const auto &[feedURL, publicKey] : invalid) {
            QVariantMap information;
            if (feedURL.isValid())
                information.insert("SUFeedURL", feedURL.typeId() == QMetaType::QString
                                                    ? QVariant(feedURL.toString().arg(rig.peer.origin().mid(8)))
                                                    : feedURL);
            if (publicKey.isValid())
                information.insert("SUPublicEDKey", publicKey);
            QVERIFY2(!NativeUpdater::validConfiguration(information), qPrintable(feedURL.toString() + u' ' + publicKey.toString()));
            NativeUpdater updater(rig.options(information));
            NativeUpdateCommands commands(updater);
            QVERIFY(!updater.isConfigured());
            commands.checkForUpdates()->trigger();
            commands.automaticallyCheck()->trigger();
            updater.setAutomaticallyChecksForUpdates(true);
            QTest::qWait(100);
            for (QAction *action : commands.actions())
                QVERIFY(!action->isEnabled() && !action->isChecked());
        }
        QCOMPARE(rig.peer.connectionsAccepted(), 0);
    }

    void check_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("signing"); // own, none, or tampered (signed, then changed)
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("outcome"); // the version offered and its notes, "up to date", or the error
        const QByteArray newer = "{\"version\":\"0.10.0\",\"notes\":\"https://example.org/0.10\"}";
        const QString unreadable = QStringLiteral("The update information could not be read.");
        const auto row = [](const char *name, QByteArray payload, QString signing, int status, QString outcome) {
            QTest::newRow(name) << payload << signing << status << outcome;
        };
        // This build is 0.9.0.
        row("newer (numbers, not text)", newer, "own", 200, "0.10.0 https://example.org/0.10");
        row("newer by a fourth number, http notes", "{\"version\":\"0.9.0.1\",\"notes\":\"http://example.org/1.0\"}", "own",
            200, "0.9.0.1");
        row("older (numbers, not text)", "{\"version\":\"0.8.12\"}", "own", 200, "up to date");
        row("unsigned", newer, "none", 200, "The update information is not signed.");
        row("tampered", newer, "tampered", 200, "The update information\u2019s signature is not valid.");
        row("pre-release version", "{\"version\":\"1.0-beta\"}", "own", 200, unreadable);
        row("not JSON", "version 2", "own", 200, unreadable);
        row("redirect", newer, "own", 302, "The update server sent the check to another address; redirects are not followed.");
        row("500", newer, "own", 500, "The update server answered with status 500.");
        row("oversize", newer + QByteArray(NativeUpdater::maxFeedBytes, ' '), "own", 200, "The server response is too large.");
    }

    // A check the user asks for: one request, one answer, and only a verified newer version is offered.
    void check()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QString, signing);
        QFETCH(int, status);
        QFETCH(QString, outcome);
        Rig rig;
        const QByteArray body = signing == u"none" ? payload
                              : signing == u"own"  ? rig.signer.feed(payload)
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
        const QString told = result.kind == Kind::Available ? (result.version + u' ' + result.notes.toString()).trimmed()
                           : result.kind == Kind::UpToDate  ? QStringLiteral("up to date")
                                                            : result.error;
        QCOMPARE(told, outcome);
        std::unique_ptr<QMessageBox> dialog(NativeUpdateCommands::resultDialog(result, nullptr));
        QVERIFY(result.kind != Kind::Available || dialog->text().contains(result.version));
        const auto buttons = dialog->buttons();
        QCOMPARE(std::any_of(buttons.begin(), buttons.end(), [](QAbstractButton *b) { return b->text() == u"Release Notes"; }),
                 !result.notes.isEmpty());
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
        QStringList announced;
        connect(&updater, &NativeUpdater::announced, this, [&](const NativeUpdateResult &r) { announced << r.version; });
        QVERIFY(!checks || (rig.peer.waitForRequests(1) && QTest::qWaitFor([&] { return updater.canCheckForUpdates(); })));
        QTest::qWait(100);
        QCOMPARE(rig.peer.requests().size(), checks ? 1 : 0);
        QCOMPARE(announced, announces ? QStringList{"0.10.0"} : QStringList());
        if (checks)
            QCOMPARE(rig.settings().value("updates.lastCheck").toString(), testNow.toString(Qt::ISODate));
    }
};

QTEST_MAIN(NativeUpdaterTest)
#include "native_updater_test.moc"
