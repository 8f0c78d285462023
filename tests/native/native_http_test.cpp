#include "loopback_peer.h"
#include "native_http.h"
#include "run_task.h"
#include "task_outcome.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

using namespace std::chrono_literals;

namespace {

const QString tooLarge = QStringLiteral("The server response is too large.");
const QString invalidPath = QStringLiteral("Invalid server path.");
const QString sessionEnded = QStringLiteral("Your session has ended. Sign out and sign in again.");
const QString loopback = QStringLiteral("127.0.0.1");

template <typename T>
QString outcomeOf(QCoro::Task<T> task)
{
    return ::outcomeOf(taskFailure(std::move(task)));
}

std::unique_ptr<NativeHTTP> clientFor(const LoopbackPeer &peer, std::optional<NativeSession> credential = {},
                                      const QString &host = loopback, NativeTimeouts timeouts = {})
{
    return std::make_unique<NativeHTTP>(NativeHTTP::origin(peer.origin(host)), std::move(credential), timeouts);
}

QCoro::Task<NativeResponse> get(const NativeHTTP &http, const QString &path, qint64 maxBytes = NativeHTTP::defaultMaxBytes,
                                std::stop_token stop = {})
{
    return http.responseDetails(path, "GET", std::nullopt, QStringLiteral("application/json"), maxBytes, std::move(stop));
}

// Rows for tests that must hold over plain sockets and over TLS (by host name, checked against the certificate).
void addTransportRows()
{
    QTest::addColumn<bool>("tls");
    QTest::addColumn<QString>("host");
    QTest::newRow("http") << false << loopback;
    QTest::newRow("https") << true << QStringLiteral("localhost");
}

} // namespace

class NativeHTTPTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { LoopbackPeer::trustInThisProcess(); }

    void origin_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("origin"); // empty: refused
        const QList<std::pair<QString, QString>> accepted = {
            {" \t https://calendar.example/ \n", "https://calendar.example"},
            {"https://Calendar.Example:8443", "https://calendar.example:8443"},
            {"http://localhost:8731/", "http://localhost:8731"},
            {"http://[::1]:9000", "http://[::1]:9000"},
        };
        // QUrl lower-cases schemes and hosts and rewrites IP addresses; the rules judge what was written.
        const QStringList refused = {
            "http://192.168.1.5", "http://LOCALHOST", "http://127.1", "http://[0:0::1]", "HTTPS://calendar.example",
            "calendar.example", "ftp://calendar.example", "https:calendar.example", "https:///path",
            "https://calendar.example/calendar", "https://calendar.example//", "https://user@calendar.example",
            "https://@calendar.example", "https://calendar.example?", "https://calendar.example/#top",
            "https://calen dar.example", "https://calendar.example:port", "   ",
            "https://[fe80::1%25eth0]:8443", "https://[::%251]", // a zone id does not survive the origin text
        };
        for (const auto &[address, origin] : accepted)
            QTest::newRow(qPrintable(address.simplified())) << address << origin;
        for (const QString &address : refused)
            QTest::newRow(qPrintable(address.simplified())) << address << QString();
    }

    void origin()
    {
        QFETCH(QString, address);
        QFETCH(QString, origin);
        try {
            QCOMPARE(NativeHTTP::originText(NativeHTTP::origin(address)), origin);
        } catch (const NativeClientError &e) {
            QVERIFY2(origin.isEmpty(), "refused a valid address");
            QCOMPARE(e.description(), QStringLiteral("Enter your server\u2019s HTTPS address, without a page path."));
        }
    }

    void sendsExactlyTheHeadersItOwns_data() { addTransportRows(); }

    void sendsExactlyTheHeadersItOwns()
    {
        QFETCH(bool, tls);
        QFETCH(QString, host);
        LoopbackPeer peer(tls ? LoopbackPeer::Tls : LoopbackPeer::Plain);
        peer.setHandler([](const RecordedRequest &) {
            return PeerAnswer::json(200, "{}").header("Set-Cookie", "tracker=1").header("Set-Cookie", "corvane_session=x");
        });
        const auto plain = clientFor(peer, {}, host);
        const auto signedIn = clientFor(peer, NativeSession{"corvane_session", "a=b;c"}, host);
        runTask(get(*plain, "/x/../../a", NativeHTTP::largestMaxBytes)); // dot segments stay on the origin
        runTask(plain->responseDetails("/b", "POST", QByteArray()));
        runTask(signedIn->responseDetails("/c?x=%2F", "PATCH", QByteArray("{\"k\":1}")));
        runTask(get(*signedIn, "/d"));

        const QList<QList<QByteArray>> expected = { // method, target, Content-Type, Cookie, body
            {"GET", "/a", {}, {}, {}},
            {"POST", "/b", "application/json", {}, {}},
            {"PATCH", "/c?x=%2F", "application/json", "corvane_session=a=b;c", "{\"k\":1}"},
            {"GET", "/d", {}, "corvane_session=a=b;c", {}},
        };
        QCOMPARE(peer.requests().size(), expected.size());
        const auto listOf = [](const QByteArray &value) { return value.isNull() ? QList<QByteArray>{} : QList{value}; };
        for (qsizetype i = 0; i < expected.size(); ++i) {
            const RecordedRequest &r = peer.requests().at(i);
            QCOMPARE(r.method, expected[i][0]);
            QCOMPARE(r.target, expected[i][1]);
            QCOMPARE(r.headerValues("Origin"), QList<QByteArray>{peer.origin(host).toUtf8()});
            QCOMPARE(r.headerValues("Accept"), QList<QByteArray>{"application/json"});
            QCOMPARE(r.headerValues("Content-Type"), listOf(expected[i][2]));
            QCOMPARE(r.headerValues("Cookie"), listOf(expected[i][3]));
            QCOMPARE(r.body, expected[i][4]);
        }
    }

    void neverFollowsRedirects_data() { addTransportRows(); }

    void neverFollowsRedirects()
    {
        QFETCH(bool, tls);
        QFETCH(QString, host);
        LoopbackPeer peer(tls ? LoopbackPeer::Tls : LoopbackPeer::Plain);
        peer.route("", "/target", PeerAnswer::json(200, R"({"name":"n","value":"v"})"));
        const auto http = clientFor(peer, {}, host);
        const QString target = peer.origin(host) + "/target";
        for (int status : {301, 302, 303, 307, 308}) {
            peer.route("", "/moved", PeerAnswer(status).header("Location", target.toUtf8()));
            const NativeResponse answer = runTask(http->responseDetails("/moved", "POST", QByteArray("{}")));
            QCOMPARE(answer.status, status);
            QCOMPARE(answer.header(u"LOCATION"), target);
        }
        QCOMPARE(peer.requests().size(), 5);
        for (const RecordedRequest &r : peer.requests())
            QCOMPARE(r.path(), QByteArray("/moved"));
    }

    // A header value is kept whole or, when it is not UTF-8, left out whole.
    void keepsResponseHeadersThatAreText()
    {
        LoopbackPeer peer;
        peer.enqueue(PeerAnswer(200)
                         .header("X-Text", "\xEF\xBB\xBF" "caf\xC3\xA9 \xF0\x9F\x93\x85")
                         .header("X-Latin1", "caf\xE9")
                         .header("X-Cut", "caf\xC3"));
        const NativeResponse answer = runTask(get(*clientFor(peer), "/h"));
        QCOMPARE(answer.header(u"x-text"), QStringLiteral("\uFEFFcaf\u00e9 \U0001F4C5"));
        QCOMPARE(answer.headers.size(), 2); // with Content-Length
    }

    void mapsStatusesToSentences()
    {
        const QString unsupported = QStringLiteral("The server returned an unsupported response.");
        const auto notCompleted = [](int status) {
            return QStringLiteral("The request could not be completed (%1). Your changes have not been confirmed.").arg(status);
        };
        const QByteArray session = R"({"name":"n","value":"v","extra":1})";
        const struct {
            int status;
            QByteArray body;
            QString sentence; // empty: decoded
        } rows[] = {
            {200, session, {}}, {299, session, {}}, {200, R"({"name":"n"})", unsupported}, {204, {}, unsupported},
            {300, session, notCompleted(300)}, {302, session, notCompleted(302)}, {303, session, sessionEnded},
            {401, session, sessionEnded}, {404, session, "This server does not support this native feature yet."},
            {500, "server detail", notCompleted(500)},
        };
        LoopbackPeer peer;
        const auto http = clientFor(peer);
        for (const auto &[status, body, sentence] : rows) {
            peer.enqueue(PeerAnswer::json(status, body));
            const QString outcome = outcomeOf(http->request<NativeSession>("/s", "GET", {}));
            QVERIFY2(outcome == sentence, qPrintable(QStringLiteral("%1: \"%2\"").arg(status).arg(outcome)));
        }
    }

    void refusesBeforeSending()
    {
        LoopbackPeer peer;
        const auto http = clientFor(peer);
        for (const QString path : {"x", "//evil.example/x", "/a b", "/\\evil.example"})
            QCOMPARE(outcomeOf(get(*http, path)), invalidPath);
        for (const qint64 maxBytes : {qint64(0), qint64(-1), NativeHTTP::largestMaxBytes + 1})
            QCOMPARE(outcomeOf(get(*http, "/ok", maxBytes)), QStringLiteral("Invalid response size limit."));
        // Header text that would end its line early and smuggle in a header or a request of its own.
        QCOMPARE(outcomeOf(http->responseDetails("/a", "GET /b HTTP/1.1\r\n", {})), invalidPath);
        for (const QString name : {"corvane_session", "corvane_session\n"}) {
            const auto signedIn = clientFor(peer, NativeSession{name, name.endsWith('\n') ? "v" : "v\r\nX-Injected: 1"});
            QCOMPARE(outcomeOf(get(*signedIn, "/a")), invalidPath);
        }
        QTest::qWait(20);
        QCOMPARE(peer.connectionsAccepted(), 0);
    }

    void holdsTheBodyUnderTheLimit()
    {
        LoopbackPeer peer;
        const auto http = clientFor(peer);
        const struct {
            qint64 maxBytes;
            int bodyBytes, chunkBytes;
        } rows[] = {
            {1000, 1000, 0}, {1000, 1001, 0}, {10, 11, 1},       // exact, one byte over, one over trickled
            {600'000, 600'001, 150'000}, {700'000, 700'000, 0}, // past Qt's own read buffer
        };
        for (const auto &[maxBytes, bodyBytes, chunkBytes] : rows) {
            peer.enqueue(PeerAnswer(200).withBody(QByteArray(bodyBytes, 'x')).inChunks(chunkBytes, 1ms));
            if (bodyBytes > maxBytes)
                QCOMPARE(outcomeOf(get(*http, "/big", maxBytes)), tooLarge);
            else
                QCOMPARE(runTask(get(*http, "/big", maxBytes)).data, QByteArray(bodyBytes, 'x'));
        }
    }

    void abortsAnOversizedTransferEarly()
    {
        LoopbackPeer peer;
        peer.enqueue(
            PeerAnswer(200).header("Content-Length", "1000000000000").withBody(QByteArray(2'000'000, 'x')).inChunks(1000, 2ms));
        QCOMPARE(outcomeOf(get(*clientFor(peer), "/huge", 1500)), tooLarge);
        QVERIFY(peer.waitForAllClosed());
        QVERIFY2(peer.bodyBytesWritten() < 20'000, qPrintable(QString::number(peer.bodyBytesWritten())));
    }

    void passesTransportFailuresThrough()
    {
        // A body cut short, compressed or not: a compressed one is not inflated on the way, so its
        // length is checked as it arrived.
        const QByteArray deflated = qCompress(QByteArray(2000, 'x')).mid(4);
        // Routes, not a queue: Qt may send a request again on a fresh connection after a drop, and
        // the second try must meet the same answer.
        LoopbackPeer peer;
        QStringList paths;
        for (const int status : {200, 500}) {
            const QByteArray plain = "/plain" + QByteArray::number(status);
            const QByteArray compressed = "/deflate" + QByteArray::number(status);
            peer.route("", plain, PeerAnswer(status).withBody(QByteArray(100, 'x')).dropAfterBytes(40));
            peer.route("", compressed,
                       PeerAnswer(status).header("Content-Encoding", "deflate").withBody(deflated).dropAfterBytes(8));
            paths << QString::fromLatin1(plain) << QString::fromLatin1(compressed);
        }
        peer.route("", "/garbage", PeerAnswer::rawBytes("not http at all\r\n\r\n"));
        const auto http = clientFor(peer);
        for (const QString &path : paths + QStringList{QStringLiteral("/garbage")})
            QVERIFY2(outcomeOf(get(*http, path)) == QLatin1String("transport"), qPrintable(path));

        const auto refused = clientFor(LoopbackPeer()); // nobody listens on its port any more
        QCOMPARE(outcomeOf(get(*refused, "/x")), QStringLiteral("transport"));
    }

    void timesOut()
    {
        // No answer meets the idle limit; a body trickled a byte every 50 ms meets only the whole limit.
        for (const bool trickle : {false, true}) {
            LoopbackPeer peer;
            peer.enqueue(trickle ? PeerAnswer(200).withBody(QByteArray(100, 'x')).inChunks(1, 50ms) : PeerAnswer::never());
            const NativeTimeouts timeouts = trickle ? NativeTimeouts{5000ms, 400ms} : NativeTimeouts{250ms, 5000ms};
            const qint64 limit = std::min(timeouts.idle, timeouts.whole).count();
            QElapsedTimer elapsed;
            elapsed.start();
            const std::exception_ptr error = taskFailure(get(*clientFor(peer, {}, loopback, timeouts), "/slow"));
            QCOMPARE(outcomeOf(error), QStringLiteral("timeout"));
            QCOMPARE(describeError(error), QStringLiteral("The request timed out."));
            QVERIFY(elapsed.elapsed() >= limit);
            QVERIFY(elapsed.elapsed() < limit + 2000);
            QVERIFY(peer.waitForAllClosed());
        }
    }

    void cancels()
    {
        LoopbackPeer peer;
        peer.enqueue(PeerAnswer(200).withBody(QByteArray(100, 'x')).inChunks(10, 100ms));
        peer.enqueue(PeerAnswer::never());
        auto http = clientFor(peer);
        std::stop_source stop;
        QTimer::singleShot(150, [&] { stop.request_stop(); });
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(outcomeOf(get(*http, "/s", 1000, stop.get_token())), QStringLiteral("cancelled"));
        QVERIFY(elapsed.elapsed() < 600);
        QVERIFY(peer.waitForAllClosed());
        QCOMPARE(outcomeOf(get(*http, "/s", 1000, stop.get_token())), QStringLiteral("cancelled"));
        QTest::qWait(20);
        QCOMPARE(peer.requests().size(), 1);

        // A client destroyed mid-request ends what it was waiting for.
        auto task = get(*http, "/s");
        QVERIFY(peer.waitForRequests(2));
        http.reset();
        QCOMPARE(outcomeOf(std::move(task)), QStringLiteral("cancelled"));
    }
};

QTEST_GUILESS_MAIN(NativeHTTPTest)
#include "native_http_test.moc"
