#include "loopback_peer.h"
#include "native_http.h"
#include "run_task.h"
#include "task_outcome.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(PeerAnswer)

namespace {

const QString tooLarge = QStringLiteral("The server response is too large.");
const QString invalidPath = QStringLiteral("Invalid server path.");
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
        // A zone id does not survive the origin text.
        const QStringList refused = {
            "http://192.168.1.5", "http://LOCALHOST", "http://127.1", "http://[0:0::1]", "HTTPS://calendar.example",
            "calendar.example", "ftp://calendar.example", "https:calendar.example", "https:///path",
            "https://calendar.example/calendar", "https://calendar.example//", "https://user@calendar.example",
            "https://@calendar.example", "https://calendar.example?", "https://calendar.example/#top",
            "https://calen dar.example", "https://calendar.example:port", "   ", "https://[fe80::1%25eth0]:8443",
            "https://[::%251]",
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

    void sendsExactlyTheHeadersItOwns_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QString>("host");
        QTest::newRow("http") << false << loopback;
        QTest::newRow("https") << true << QStringLiteral("localhost"); // checked against the certificate
    }

    // Every answer redirects and sets cookies: none is followed, none is kept. A header value is kept
    // whole or, when it is not UTF-8, left out whole.
    void sendsExactlyTheHeadersItOwns()
    {
        QFETCH(bool, tls);
        QFETCH(QString, host);
        LoopbackPeer peer(tls ? LoopbackPeer::Tls : LoopbackPeer::Plain);
        const QString elsewhere = peer.origin(host) + "/elsewhere";
        const QList<int> redirects = {301, 302, 303, 307, 308};
        peer.setHandler([&](const RecordedRequest &) {
            return PeerAnswer(redirects.value(peer.requests().size() - 1, 200))
                .header("Location", elsewhere.toUtf8())
                .header("Set-Cookie", "tracker=1")
                .header("Set-Cookie", "corvane_session=x")
                .header("X-Text", "\xEF\xBB\xBF" "caf\xC3\xA9 \xF0\x9F\x93\x85")
                .header("X-Latin1", "caf\xE9")
                .header("X-Cut", "caf\xC3");
        });
        const auto plain = clientFor(peer, {}, host);
        const auto signedIn = clientFor(peer, NativeSession{"corvane_session", "a=b;c"}, host);
        const NativeResponse answers[] = {
            runTask(get(*plain, "/x/../../a", NativeHTTP::largestMaxBytes)), // dot segments stay on the origin
            runTask(plain->responseDetails("/b", "POST", QByteArray())),
            runTask(signedIn->responseDetails("/c?x=%2F", "PATCH", QByteArray("{\"k\":1}"))),
            runTask(get(*signedIn, "/d")),
            runTask(signedIn->responseDetails("/e", "PUT", QByteArray("1"))),
        };

        const QList<QList<QByteArray>> expected = { // method, target, Content-Type, Cookie, body
            {"GET", "/a", {}, {}, {}},
            {"POST", "/b", "application/json", {}, {}},
            {"PATCH", "/c?x=%2F", "application/json", "corvane_session=a=b;c", "{\"k\":1}"},
            {"GET", "/d", {}, "corvane_session=a=b;c", {}},
            {"PUT", "/e", "application/json", "corvane_session=a=b;c", "1"},
        };
        QCOMPARE(peer.requests().size(), expected.size());
        const auto listOf = [](const QByteArray &value) { return value.isNull() ? QList<QByteArray>{} : QList{value}; };
        for (qsizetype i = 0; i < expected.size(); ++i) {
            QCOMPARE(answers[i].status, redirects[i]);
            QCOMPARE(answers[i].header(u"LOCATION"), elsewhere);
            QCOMPARE(answers[i].header(u"x-text"), QStringLiteral("\uFEFFcaf\u00e9 \U0001F4C5"));
            QVERIFY(!answers[i].header(u"x-latin1") && !answers[i].header(u"x-cut"));
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

    void outcome_data()
    {
        QTest::addColumn<PeerAnswer>("answer"); // status 0: nobody listens on the port
        QTest::addColumn<qint64>("maxBytes");
        QTest::addColumn<QString>("outcome");   // empty: the session decodes
        const QString unsupported = QStringLiteral("The server returned an unsupported response.");
        const QString sessionEnded = QStringLiteral("Your session has ended. Sign out and sign in again.");
        const auto notCompleted = [](int status) {
            return QStringLiteral("The request could not be completed (%1). Your changes have not been confirmed.").arg(status);
        };
        const auto row = [](const char *name, PeerAnswer answer, QString outcome, qint64 maxBytes = NativeHTTP::defaultMaxBytes) {
            QTest::newRow(name) << answer << maxBytes << outcome;
        };
        const QByteArray session = R"({"name":"n","value":"v","extra":1})";
        const auto sized = [](qsizetype bytes) { return QByteArray(R"({"name":"n","value":")") + QByteArray(bytes - 23, 'x') + "\"}"; };
        const QByteArray deflated = qCompress(QByteArray(2000, 'x')).mid(4);

        row("200", PeerAnswer::json(200, session), {});
        row("299", PeerAnswer::json(299, session), {});
        row("200 without a value", PeerAnswer::json(200, R"({"name":"n"})"), unsupported);
        row("204", PeerAnswer(204), unsupported);
        row("300", PeerAnswer::json(300, session), notCompleted(300));
        row("302", PeerAnswer::json(302, session), notCompleted(302));
        row("303", PeerAnswer::json(303, session), sessionEnded);
        row("401", PeerAnswer::json(401, session), sessionEnded);
        row("404", PeerAnswer::json(404, session), "This server does not support this native feature yet.");
        row("500", PeerAnswer::json(500, "server detail"), notCompleted(500));

        row("exactly the limit", PeerAnswer(200).withBody(sized(1000)), {}, 1000);
        row("one byte over", PeerAnswer(200).withBody(sized(1001)), tooLarge, 1000);
        row("one byte over, trickled", PeerAnswer(200).withBody(sized(31)).inChunks(1, 1ms), tooLarge, 30);
        row("one byte over, past Qt's read buffer", PeerAnswer(200).withBody(sized(600'001)).inChunks(150'000, 1ms),
            tooLarge, 600'000);
        row("past Qt's read buffer", PeerAnswer(200).withBody(sized(700'000)), {}, 700'000);

        // A compressed body is not inflated on the way, so its length is checked as it arrived.
        for (const int status : {200, 500}) {
            row(qPrintable(QStringLiteral("%1 cut short").arg(status)),
                PeerAnswer(status).withBody(QByteArray(100, 'x')).dropAfterBytes(40), "transport");
            row(qPrintable(QStringLiteral("%1 compressed, cut short").arg(status)),
                PeerAnswer(status).header("Content-Encoding", "deflate").withBody(deflated).dropAfterBytes(8), "transport");
        }
        row("not HTTP", PeerAnswer::rawBytes("not http at all\r\n\r\n"), "transport");
        row("nobody listening", PeerAnswer(0), "transport");
    }

    void outcome()
    {
        QFETCH(PeerAnswer, answer);
        QFETCH(qint64, maxBytes);
        QFETCH(QString, outcome);
        LoopbackPeer peer;
        // Not a queue: Qt may send a request again on a fresh connection after a drop.
        peer.setHandler([answer](const RecordedRequest &) { return answer; });
        const auto http = answer.status ? clientFor(peer) : clientFor(LoopbackPeer());
        QCOMPARE(outcomeOf(http->request<NativeSession>("/s", "GET", {}, QStringLiteral("application/json"), maxBytes)),
                 outcome);
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

    void abortsAnOversizedTransferEarly()
    {
        LoopbackPeer peer;
        peer.enqueue(
            PeerAnswer(200).header("Content-Length", "1000000000000").withBody(QByteArray(2'000'000, 'x')).inChunks(1000, 2ms));
        QCOMPARE(outcomeOf(get(*clientFor(peer), "/huge", 1500)), tooLarge);
        QVERIFY(peer.waitForAllClosed());
        QVERIFY2(peer.bodyBytesWritten() < 20'000, qPrintable(QString::number(peer.bodyBytesWritten())));
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
