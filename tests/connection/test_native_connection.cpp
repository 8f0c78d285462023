#include "clock.h"
#include "loopback_peer.h"
#include "memory_secret_store.h"
#include "native_connection.h"
#include "preferences.h"

#include <QCoroSignal>
#include <QCoroTimer>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <numeric>

using namespace std::chrono_literals;

namespace {

const QString appId = QStringLiteral("app.teodal.test");
const QString zeroId = QString(43, QLatin1Char('A'));                    // 32 zero bytes
const QString countingVerifier = QStringLiteral("AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8"); // bytes 0…31
const QString refused = QStringLiteral("Sign-in expired or was refused. Please try again.");

QByteArray jsonOf(const QJsonObject &object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }
QJsonObject bodyOf(const RecordedRequest &request) { return QJsonDocument::fromJson(request.body).object(); }
PeerAnswer begin(const QString &id) { return PeerAnswer::json(200, jsonOf({{"id", id}})); }
PeerAnswer session(const QString &value, const QString &name = QStringLiteral("corvane_session"))
{
    return PeerAnswer::json(200, jsonOf({{"name", name}, {"value", value}}));
}

QStringList logged;
void keepMessage(QtMsgType, const QMessageLogContext &, const QString &text) { logged << text; }

} // namespace

// Time that moves only when the test says so: a sleep ends once advance() has carried the clock to
// its end, or (with CancellationError) soon after its stop token is triggered. Sleeps share the
// state, as they may outlive the clock.
class FakeClock final : public Clock {
    struct Time {
        TimePoint now{std::chrono::hours(1000)};
        QList<TimePoint> ends;
    };
    std::shared_ptr<Time> m_time = std::make_shared<Time>();

public:
    TimePoint now() const override { return m_time->now; }
    QCoro::Task<> sleep(std::chrono::milliseconds duration, std::stop_token stop) override
    {
        const std::shared_ptr<Time> time = m_time;
        const TimePoint end = time->now + duration;
        time->ends.append(end);
        while (time->now < end && !stop.stop_requested())
            co_await QCoro::sleepFor(1ms);
        time->ends.removeOne(end);
        if (stop.stop_requested())
            throw CancellationError();
    }
    void advance(std::chrono::milliseconds by) { m_time->now += by; }
    // Sleeps whose end is still ahead.
    qsizetype sleeping() const { return std::ranges::count_if(m_time->ends, [this](auto end) { return end > now(); }); }
};

// Holds every secret-store operation while closed, so tests see what happens while the store works.
class GatedSecretStore final : public QObject, public SecretStore {
    Q_OBJECT
public:
    explicit GatedSecretStore(SecretStore &inner) : m_inner(inner) {}
    bool closed = false;
    int waiting = 0;
    void open() { closed = false; emit opened(); }
    QCoro::Task<ReadResult> read(QString s, QString a) override { co_await pass(); co_return co_await m_inner.read(s, a); }
    QCoro::Task<bool> write(QString s, QString a, QByteArray d) override
    { co_await pass(); co_return co_await m_inner.write(s, a, d); }
    QCoro::Task<bool> remove(QString s, QString a) override { co_await pass(); co_return co_await m_inner.remove(s, a); }
signals:
    void opened();

private:
    QCoro::Task<> pass()
    {
        for (++waiting; closed;)
            co_await qCoro(this, &GatedSecretStore::opened);
        --waiting;
    }
    SecretStore &m_inner;
};

struct Rig {
    explicit Rig(LoopbackPeer::Mode mode = LoopbackPeer::Plain) : peer(mode)
    {
        QObject::connect(&peer, &LoopbackPeer::requestReceived, &peer, [this](const RecordedRequest &request) {
            if (request.path() == "/native/exchange")
                exchanges.append(clock.now());
        });
    }

    QString origin() const { return peer.origin(QStringLiteral("localhost")); }
    std::unique_ptr<NativeConnection> connection(QString defaultServer = {})
    {
        return std::make_unique<NativeConnection>(defaultServer.isNull() ? origin() : defaultServer,
                                                  NativeConnection::Services{preferences, secrets, clock, random, appId});
    }
    NativeConnection::OpenUrl opener()
    {
        return [this](QUrl url) -> QCoro::Task<bool> {
            clock.advance(browserDelay);
            openedAt = clock.now();
            opened.append(url);
            co_return openResult;
        };
    }
    QByteArray stored() const { return memory.items.value({NativeCredentials::serviceName(appId), origin()}); }
    void script(const QString &id, int pending, PeerAnswer last)
    {
        peer.route("POST", "/native/request", begin(id));
        for (int i = 0; i < pending; ++i)
            peer.enqueue(PeerAnswer(202));
        peer.enqueue(std::move(last));
    }
    bool untilSleeping() { return QTest::qWaitFor([this] { return clock.sleeping() > 0; }); }
    // Runs the flow to its end; fake time moves by `step` only while the flow sleeps.
    bool finish(NativeConnection &connection, std::chrono::milliseconds step = 2s)
    {
        while (connection.signingIn()) {
            QDeadlineTimer deadline(5s);
            while (clock.sleeping() == 0 && connection.signingIn()) {
                if (deadline.hasExpired())
                    return false;
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            }
            if (connection.signingIn())
                clock.advance(step);
        }
        return true;
    }
    std::unique_ptr<NativeConnection> signedIn(QString defaultServer = {})
    {
        auto made = connection(defaultServer);
        made->signIn(opener());
        return finish(*made) ? std::move(made) : nullptr;
    }

    QTemporaryDir dir;
    Preferences preferences{std::make_unique<QSettings>(dir.filePath("prefs.ini"), QSettings::IniFormat)};
    MemorySecretStore memory;
    GatedSecretStore secrets{memory};
    FakeClock clock;
    LoopbackPeer peer;
    NativeConnection::RandomBytes random = [](QByteArray &b) { std::iota(b.begin(), b.end(), char(0)); return true; };
    QString address; // the default server; null: the peer
    bool openResult = true;
    std::chrono::milliseconds browserDelay{0};
    Clock::TimePoint openedAt;
    QList<QUrl> opened;
    QList<Clock::TimePoint> exchanges;
};

using Setup = std::function<void(Rig &)>;
Q_DECLARE_METATYPE(Setup)

class TestNativeConnection : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { LoopbackPeer::trustInThisProcess(); }

    void signInPollsEveryTwoSecondsStoresTheBodySessionAndRestarts()
    {
        Rig rig;
        rig.script(zeroId, 2, session(countingVerifier).header("Set-Cookie", "corvane_session=" + QByteArray(42, '_') + "8"));
        auto connection = rig.connection(QStringLiteral("https://calendar.example"));
        connection->setServerAddress("  " + rig.origin() + "/ ");
        const QtMessageHandler previous = qInstallMessageHandler(keepMessage);
        connection->signIn(rig.opener());
        const bool finished = rig.finish(*connection, 100ms);
        qInstallMessageHandler(previous);
        QVERIFY(finished);
        QCOMPARE(connection->error(), QString());
        QCOMPARE(rig.opened, QList<QUrl>{QUrl(rig.origin() + "/native/start?id=" + zeroId)});
        QCOMPARE(connection->code(), QStringLiteral("0F00-7385"));
        const auto &requests = rig.peer.requests();
        QCOMPARE(requests.size(), 4);
        for (const RecordedRequest &request : requests)
            QVERIFY(request.method == "POST" && !request.hasHeader("cookie"));
        QCOMPARE(bodyOf(requests[0]), QJsonObject({{"challenge", "6oZqdX5MOLq_qBJ8vppAnT4fk6AP8UiP9zX8-Rev_9A"}}));
        QCOMPARE(bodyOf(requests[3]), QJsonObject({{"id", zeroId}, {"verifier", countingVerifier}}));

        // Each exchange waits a full two seconds after the browser opened or the previous answer came.
        QCOMPARE(rig.exchanges.size(), 3);
        for (qsizetype i = 0; i < rig.exchanges.size(); ++i)
            QCOMPARE((rig.exchanges[i] - (i == 0 ? rig.openedAt : rig.exchanges[i - 1])) / 1ms, 2000);

        const NativeSession expected{"corvane_session", countingVerifier};
        QCOMPARE(connection->client()->credential(), std::optional(expected));
        QCOMPARE(rig.stored(), encode(expected));
        QCOMPARE(rig.preferences.server(), std::optional(rig.origin()));
        // The session lives in the secret store only: not in the preferences file, not in a message.
        QCoreApplication::processEvents();
        QFile preferencesFile(rig.dir.filePath("prefs.ini"));
        QVERIFY(preferencesFile.open(QIODevice::ReadOnly));
        const QByteArray preferencesText = preferencesFile.readAll();
        QVERIFY(preferencesText.contains("localhost") && !preferencesText.contains(countingVerifier.toLatin1()));
        QVERIFY(!logged.join('\n').contains(countingVerifier));

        // A restart is signed in at once, without a request, for this origin but not for another port.
        auto restarted = rig.connection(QStringLiteral("https://calendar.example"));
        QCOMPARE(restarted->client()->credential(), std::optional(expected));

        rig.preferences.setServer(QStringLiteral("http://localhost:%1").arg(rig.peer.port() + 1));
        QVERIFY(!rig.connection()->client());
        QCOMPARE(rig.peer.requests().size(), 4);
    }

    void failures_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<int>("requests");
        QTest::addColumn<bool>("codeShown");
        QTest::addColumn<QString>("error"); // empty: the transport's own description
        const auto start = [](PeerAnswer answer) {
            return Setup([answer](Rig &rig) { rig.peer.route("POST", "/native/request", answer); });
        };
        const auto exchange = [](PeerAnswer answer) { return Setup([answer](Rig &rig) { rig.script(zeroId, 0, answer); }); };
        const QString invalidId = QStringLiteral("Invalid sign-in response.");

        QTest::newRow("address not an origin")
            << Setup([](Rig &rig) { rig.address = QStringLiteral("http://calendar.example"); }) << 0 << false
            << NativeClientError::invalidAddress().description();
        QTest::newRow("random generator fails") << Setup([](Rig &rig) { rig.random = [](QByteArray &) { return false; }; })
                                                << 0 << false << QStringLiteral("Could not start secure sign-in.");
        QTest::newRow("start 500") << start(PeerAnswer(500)) << 1 << false << NativeClientError::notCompleted(500).description();
        QTest::newRow("begin not json") << start(PeerAnswer::json(200, "id")) << 1 << false
                                        << QStringLiteral("The server returned an unsupported response.");
        QTest::newRow("id of 42") << start(begin(zeroId.left(42))) << 1 << false << invalidId;
        QTest::newRow("id spare bits") << start(begin(zeroId.left(42) + "B")) << 1 << false << invalidId;
        QTest::newRow("browser refuses")
            << Setup([](Rig &rig) { rig.script(zeroId, 0, PeerAnswer(202)); rig.openResult = false; }) << 1 << true
            << QStringLiteral("Could not open your browser.");
        // Polling stops 300 seconds after the browser opened, which took 100: after 150 exchanges.
        QTest::newRow("expired") << Setup([](Rig &rig) {
            rig.peer.route("POST", "/native/request", begin(zeroId));
            rig.peer.route("POST", "/native/exchange", PeerAnswer(202));
            rig.browserDelay = 100s;
        }) << 151 << true << QStringLiteral("Sign-in expired. Please try again.");
        QTest::newRow("exchange 500") << exchange(PeerAnswer(500)) << 2 << true << refused;
        QTest::newRow("exchange cut short") << exchange(session(zeroId).dropAfterBytes(5)) << 2 << true << QString();
        QTest::newRow("session only in Set-Cookie")
            << exchange(PeerAnswer::json(200, "{}").header("Set-Cookie", "corvane_session=" + zeroId.toLatin1()))
            << 2 << true << refused;
        QTest::newRow("session value spare bits") << exchange(session(zeroId.left(42) + "B")) << 2 << true << refused;
        QTest::newRow("store refuses") << Setup([](Rig &rig) {
            rig.script(zeroId, 0, session(zeroId));
            rig.memory.failWrites = true;
        }) << 2 << true << QStringLiteral("Could not save this session in Keychain.");
    }

    void failures()
    {
        QFETCH(Setup, setup);
        QFETCH(int, requests);
        QFETCH(bool, codeShown);
        QFETCH(QString, error);
        Rig rig;
        setup(rig);
        auto connection = rig.connection(rig.address);
        connection->signIn(rig.opener());
        QVERIFY(rig.finish(*connection));

        QVERIFY(!connection->error().isEmpty());
        if (!error.isEmpty())
            QCOMPARE(connection->error(), error);
        QCOMPARE(rig.peer.requests().size(), requests);
        QCOMPARE(connection->code(), codeShown ? QStringLiteral("0F00-7385") : QString());
        QCOMPARE(connection->browserURL(), QUrl());
        QVERIFY(!connection->client() && !rig.preferences.server() && rig.memory.items.isEmpty());
    }

    // Over https only the host-only cookie name is taken. Each flow draws a fresh verifier from the
    // default secure generator.
    void httpsNeedsTheHostCookie()
    {
        QStringList challenges;
        for (const QString name : {"__Host-corvane_session", "corvane_session"}) {
            Rig rig(LoopbackPeer::Tls);
            rig.random = {};
            rig.script(zeroId, 0, session(countingVerifier, name));
            const auto connection = rig.signedIn(rig.peer.origin());
            QVERIFY(connection);
            const bool accepted = name.startsWith("__Host-");
            QCOMPARE(connection->signedIn(), accepted);
            QCOMPARE(connection->error(), accepted ? QString() : refused);
            challenges << bodyOf(rig.peer.requests().at(0))["challenge"].toString();
        }
        QVERIFY(challenges[0].size() == 43 && challenges[0] != challenges[1]);
    }

    void cancelWritesNothing_data()
    {
        QTest::addColumn<Setup>("until");
        QTest::newRow("sleeping") << Setup([](Rig &rig) {
            rig.script(zeroId, 1, session(zeroId));
            QVERIFY(rig.untilSleeping());
        });
        QTest::newRow("exchanging") << Setup([](Rig &rig) {
            PeerAnswer late = session(zeroId);
            late.delay = 100ms;
            rig.script(zeroId, 0, late);
            QVERIFY(rig.untilSleeping());
            rig.clock.advance(2s);
            QVERIFY(rig.peer.waitForRequests(2));
        });
        QTest::newRow("saving") << Setup([](Rig &rig) {
            rig.script(zeroId, 0, session(zeroId));
            rig.secrets.closed = true;
            QVERIFY(rig.untilSleeping());
            rig.clock.advance(2s);
            QVERIFY(QTest::qWaitFor([&] { return rig.secrets.waiting > 0; }));
        });
    }

    void cancelWritesNothing()
    {
        QFETCH(Setup, until);
        Rig rig;
        auto connection = rig.connection();
        connection->signIn(rig.opener());
        until(rig);
        connection->cancel();
        QVERIFY(!connection->signingIn() && connection->code().isEmpty() && connection->browserURL().isEmpty());

        int changes = 0;
        for (auto signal : {&NativeConnection::clientChanged, &NativeConnection::errorChanged, &NativeConnection::codeChanged})
            connect(connection.get(), signal, this, [&] { ++changes; });
        const qsizetype sent = rig.peer.requests().size();
        rig.secrets.open();
        for (int i = 0; i < 5; ++i)
            rig.clock.advance(2s);
        QTest::qWait(200);
        QVERIFY(rig.peer.waitForAllClosed());
        QCOMPARE(rig.peer.requests().size(), sent);
        QCOMPARE(changes, 0);
        QVERIFY(connection->error().isEmpty() && !connection->client());
        QVERIFY(!rig.preferences.server() && rig.memory.items.isEmpty());
    }

    void signOutForgetsTheSessionBeforeTellingTheServer()
    {
        Rig rig;
        rig.script(zeroId, 0, session(countingVerifier));
        const auto connection = rig.signedIn();
        QVERIFY(connection && connection->client());

        rig.peer.route("POST", "/signout", PeerAnswer(500));
        rig.secrets.closed = true;
        connection->signOut();
        QVERIFY(!connection->client());
        QTest::qWait(200); // the server must not be told while the store is still deleting
        QCOMPARE(rig.peer.requests().size(), 2);
        rig.secrets.open();
        QVERIFY(rig.peer.waitForRequests(3));
        QVERIFY(rig.stored().isEmpty());
        const RecordedRequest &told = rig.peer.requests().last();
        QCOMPARE(told.target, QByteArray("/signout"));
        QCOMPARE(told.header("cookie"), std::optional("corvane_session=" + countingVerifier.toLatin1()));
        QCOMPARE(rig.preferences.server(), std::optional(rig.origin()));
    }
};

QTEST_GUILESS_MAIN(TestNativeConnection)
#include "test_native_connection.moc"
