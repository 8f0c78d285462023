#include "loopback_peer.h"
#include "native_http.h"
#include "run_task.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

using namespace std::chrono_literals;

namespace {

const QString tooLarge = QStringLiteral("The server response is too large.");
const QString invalidPath = QStringLiteral("Invalid server path.");

// What ended a task: empty for success, "cancelled", "timeout", "transport", or our own sentence.
QString outcomeOf(std::exception_ptr error)
{
    if (!error)
        return {};
    try {
        std::rethrow_exception(error);
    } catch (const CancellationError &) {
        return QStringLiteral("cancelled");
    } catch (const TransportError &e) {
        return e.kind() == TransportError::Kind::TimedOut ? QStringLiteral("timeout") : QStringLiteral("transport");
    } catch (const NativeClientError &e) {
        return e.description();
    }
}

template <typename T>
QString outcomeOf(QCoro::Task<T> task)
{
    return outcomeOf(taskFailure(std::move(task)));
}

std::unique_ptr<NativeHTTP> clientFor(const LoopbackPeer &peer, std::optional<NativeSession> credential = {},
                                      NativeTimeouts timeouts = {}, const QString &host = QStringLiteral("127.0.0.1"))
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
        const QList<std::pair<QString, QString>> rows = {
            {" \t https://calendar.example/ \n", "https://calendar.example"},
            {"https://calendar.example:8443", "https://calendar.example:8443"},
            {"https://Calendar.Example", "https://calendar.example"},
            {"http://localhost:8731/", "http://localhost:8731"},
            {"http://127.0.0.1", "http://127.0.0.1"},
            {"http://[::1]:9000", "http://[::1]:9000"},
            {"http://192.168.1.5", ""},
            {"http://calendar.example", ""},
            {"http://LOCALHOST", ""},
            {"http://127.1", ""},
            {"http://[0:0::1]", ""},
            {"HTTPS://calendar.example", ""},
            {"calendar.example", ""},
            {"ftp://calendar.example", ""},
            {"https:calendar.example", ""},
            {"https:///path", ""},
            {"https://calendar.example/calendar", ""},
            {"https://calendar.example//", ""},
            {"https://user@calendar.example", ""},
            {"https://@calendar.example", ""},
            {"https://calendar.example?", ""},
            {"https://calendar.example/#top", ""},
            {"https://calen dar.example", ""},
            {"https://calendar.example:port", ""},
            {"   ", ""},
        };
        for (const auto &[address, origin] : rows)
            QTest::newRow(qPrintable(address.simplified())) << address << origin;
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

    void sendsExactlyTheHeadersItOwns()
    {
        LoopbackPeer peer;
        peer.setHandler([](const RecordedRequest &) {
            return PeerAnswer::json(200, "{}").header("Set-Cookie", "tracker=1").header("Set-Cookie", "corvane_session=x");
        });
        const auto plain = clientFor(peer);
        const auto signedIn = clientFor(peer, NativeSession{"corvane_session", "a=b;c"});
        runTask(get(*plain, "/a"));
        runTask(plain->responseDetails("/b", "POST", QByteArray()));
        runTask(signedIn->responseDetails("/c?x=%2F", "PATCH", QByteArray("{\"k\":1}")));
        runTask(get(*signedIn, "/d"));

        struct Expected {
            QByteArray method, target, contentType, cookie, body;
        };
        const QList<Expected> expected = {
            {"GET", "/a", {}, {}, {}},
            {"POST", "/b", "application/json", {}, {}},
            {"PATCH", "/c?x=%2F", "application/json", "corvane_session=a=b;c", "{\"k\":1}"},
            {"GET", "/d", {}, "corvane_session=a=b;c", {}},
        };
        QCOMPARE(peer.requests().size(), expected.size());
        const auto listOf = [](const QByteArray &value) { return value.isNull() ? QList<QByteArray>{} : QList{value}; };
        for (qsizetype i = 0; i < expected.size(); ++i) {
            const RecordedRequest &r = peer.requests().at(i);
            QCOMPARE(r.method, expected[i].method);
            QCOMPARE(r.target, expected[i].target);
            QCOMPARE(r.headerValues("Origin"), QList<QByteArray>{peer.origin().toUtf8()});
            QCOMPARE(r.headerValues("Accept"), QList<QByteArray>{"application/json"});
            QCOMPARE(r.headerValues("Content-Type"), listOf(expected[i].contentType));
            QCOMPARE(r.headerValues("Cookie"), listOf(expected[i].cookie));
            QCOMPARE(r.body, expected[i].body);
        }
    }

    void refusesHeaderTextThatWouldSplitTheRequest()
    {
        LoopbackPeer peer;
        for (const QString name : {"corvane_session", "corvane_session\n"}) {
            const auto http = clientFor(peer, NativeSession{name, name.endsWith('\n') ? "v" : "v\r\nX-Injected: 1"});
            QCOMPARE(outcomeOf(get(*http, "/a")), invalidPath);
        }
        QCOMPARE(outcomeOf(clientFor(peer)->responseDetails("/a", "GET /b HTTP/1.1\r\n", {})), invalidPath);
        QCOMPARE(peer.requests().size(), 0);
    }

    void neverFollowsRedirects()
    {
        LoopbackPeer peer;
        peer.route("", "/target", PeerAnswer::json(200, R"({"name":"n","value":"v"})"));
        const auto http = clientFor(peer);
        for (int status : {301, 302, 303, 307, 308}) {
            peer.route("", "/moved", PeerAnswer(status).header("Location", peer.origin().toUtf8() + "/target"));
            const NativeResponse answer = runTask(http->responseDetails("/moved", "POST", QByteArray("{}")));
            QCOMPARE(answer.status, status);
            QCOMPARE(answer.header(u"LOCATION"), peer.origin() + "/target");
        }
        QCOMPARE(peer.requests().size(), 5);
        for (const RecordedRequest &r : peer.requests())
            QCOMPARE(r.path(), QByteArray("/moved"));
    }

    void mapsStatusesToSentences_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("sentence"); // empty: decoded
        const QString unsupported = QStringLiteral("The server returned an unsupported response.");
        const QString ended = QStringLiteral("Your session has ended. Sign out and sign in again.");
        const auto notCompleted = [](int status) {
            return QStringLiteral("The request could not be completed (%1). Your changes have not been confirmed.").arg(status);
        };
        const QByteArray session = R"({"name":"n","value":"v","extra":1})";
        QTest::newRow("200") << 200 << session << QString();
        QTest::newRow("299") << 299 << session << QString();
        QTest::newRow("200 not a record") << 200 << QByteArray(R"({"name":"n"})") << unsupported;
        QTest::newRow("204 empty") << 204 << QByteArray() << unsupported;
        QTest::newRow("300") << 300 << session << notCompleted(300);
        QTest::newRow("302") << 302 << session << notCompleted(302);
        QTest::newRow("303") << 303 << session << ended;
        QTest::newRow("401") << 401 << session << ended;
        QTest::newRow("404") << 404 << session << QStringLiteral("This server does not support this native feature yet.");
        QTest::newRow("500 with text") << 500 << QByteArray("server detail") << notCompleted(500);
    }

    void mapsStatusesToSentences()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, sentence);
        LoopbackPeer peer;
        peer.enqueue(PeerAnswer::json(status, body));
        QCOMPARE(outcomeOf(clientFor(peer)->request<NativeSession>("/s", "GET", {})), sentence);
    }

    void refusesPathsAndLimitsBeforeSending_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<qint64>("maxBytes");
        QTest::addColumn<QString>("sentence");
        const QString limit = QStringLiteral("Invalid response size limit.");
        const qint64 normal = NativeHTTP::defaultMaxBytes;
        QTest::newRow("no slash") << "x" << normal << invalidPath;
        QTest::newRow("other host") << "//evil.example/x" << normal << invalidPath;
        QTest::newRow("absolute url") << "https://evil.example/x" << normal << invalidPath;
        QTest::newRow("space") << "/a b" << normal << invalidPath;
        QTest::newRow("backslash") << "/\\evil.example" << normal << invalidPath;
        QTest::newRow("limit 0") << "/ok" << qint64(0) << limit;
        QTest::newRow("limit -1") << "/ok" << qint64(-1) << limit;
        QTest::newRow("limit 2^28+1") << "/ok" << NativeHTTP::largestMaxBytes + 1 << limit;
        QTest::newRow("bad path and bad limit") << "x" << qint64(0) << limit;
    }

    void refusesPathsAndLimitsBeforeSending()
    {
        QFETCH(QString, path);
        QFETCH(qint64, maxBytes);
        QFETCH(QString, sentence);
        LoopbackPeer peer;
        QCOMPARE(outcomeOf(get(*clientFor(peer), path, maxBytes)), sentence);
        QTest::qWait(20);
        QCOMPARE(peer.connectionsAccepted(), 0);
    }

    void keepsDotSegmentsOnTheOrigin()
    {
        LoopbackPeer peer;
        QCOMPARE(runTask(get(*clientFor(peer), "/a/../../b?q=1", NativeHTTP::largestMaxBytes)).status, 404);
        QCOMPARE(peer.requests().at(0).target, QByteArray("/b?q=1"));
    }

    void holdsTheBodyUnderTheLimit_data()
    {
        QTest::addColumn<qint64>("maxBytes");
        QTest::addColumn<int>("bodyBytes");
        QTest::addColumn<int>("chunkBytes");
        QTest::newRow("exactly the limit") << qint64(1000) << 1000 << 0;
        QTest::newRow("one byte over") << qint64(1000) << 1001 << 0;
        QTest::newRow("one byte over, trickled") << qint64(10) << 11 << 1;
        QTest::newRow("limit 1, two bytes") << qint64(1) << 2 << 0;
        QTest::newRow("over, past the read buffer") << qint64(200'000) << 200'001 << 50'000;
        QTest::newRow("exact, past the read buffer") << qint64(300'000) << 300'000 << 0;
    }

    void holdsTheBodyUnderTheLimit()
    {
        QFETCH(qint64, maxBytes);
        QFETCH(int, bodyBytes);
        QFETCH(int, chunkBytes);
        LoopbackPeer peer;
        peer.enqueue(PeerAnswer(200).withBody(QByteArray(bodyBytes, 'x')).inChunks(chunkBytes, 1ms));
        const auto http = clientFor(peer);
        if (bodyBytes > maxBytes)
            QCOMPARE(outcomeOf(get(*http, "/big", maxBytes)), tooLarge);
        else
            QCOMPARE(runTask(get(*http, "/big", maxBytes)).data, QByteArray(bodyBytes, 'x'));
    }

    void abortsAnOversizedTransferEarly()
    {
        LoopbackPeer peer;
        peer.enqueue(PeerAnswer(200)
                         .header("Content-Length", "1000000000000")
                         .withBody(QByteArray(2'000'000, 'x'))
                         .inChunks(1000, 2ms));
        QCOMPARE(outcomeOf(get(*clientFor(peer), "/huge", 1500)), tooLarge);
        QVERIFY(peer.waitForAllClosed());
        QVERIFY2(peer.bodyBytesWritten() < 20'000, qPrintable(QString::number(peer.bodyBytesWritten())));
    }

    void passesTransportFailuresThrough()
    {
        LoopbackPeer peer;
        peer.enqueue(PeerAnswer(200).withBody(QByteArray(100, 'x')).dropAfterBytes(40));
        peer.enqueue(PeerAnswer(500).withBody(QByteArray(100, 'x')).dropAfterBytes(40));
        peer.route("", "/garbage", PeerAnswer::rawBytes("not http at all\r\n\r\n"));
        const auto http = clientFor(peer);
        for (const QString path : {"/drop", "/drop", "/garbage"})
            QCOMPARE(outcomeOf(get(*http, path)), QStringLiteral("transport"));

        quint16 closedPort = LoopbackPeer().port();
        NativeHTTP refused(NativeHTTP::origin(QStringLiteral("http://127.0.0.1:%1").arg(closedPort)), std::nullopt);
        QCOMPARE(outcomeOf(get(refused, "/x")), QStringLiteral("transport"));
    }

    void timesOut_data()
    {
        QTest::addColumn<int>("idleMs");
        QTest::addColumn<int>("wholeMs");
        QTest::addColumn<bool>("trickle");
        QTest::newRow("no answer") << 250 << 5000 << false;
        QTest::newRow("slow body") << 5000 << 400 << true;
    }

    void timesOut()
    {
        QFETCH(int, idleMs);
        QFETCH(int, wholeMs);
        QFETCH(bool, trickle);
        LoopbackPeer peer;
        peer.enqueue(trickle ? PeerAnswer(200).withBody(QByteArray(100, 'x')).inChunks(1, 50ms) : PeerAnswer::never());
        const auto http = clientFor(peer, {}, NativeTimeouts{std::chrono::milliseconds(idleMs), std::chrono::milliseconds(wholeMs)});
        QElapsedTimer elapsed;
        elapsed.start();
        const std::exception_ptr error = taskFailure(get(*http, "/slow"));
        QCOMPARE(outcomeOf(error), QStringLiteral("timeout"));
        QCOMPARE(describeError(error), QStringLiteral("The request timed out."));
        const int limit = std::min(idleMs, wholeMs);
        QVERIFY(elapsed.elapsed() >= limit);
        QVERIFY(elapsed.elapsed() < limit + 2000);
        QVERIFY(peer.waitForAllClosed());
    }

    void stopsAtOnce()
    {
        LoopbackPeer peer;
        peer.enqueue(PeerAnswer(200).withBody(QByteArray(100, 'x')).inChunks(10, 100ms));
        const auto http = clientFor(peer);
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
    }

    void endsRequestsWhenTheClientGoesAway()
    {
        LoopbackPeer peer;
        peer.enqueue(PeerAnswer::never());
        auto http = clientFor(peer);
        auto task = get(*http, "/s");
        QVERIFY(peer.waitForRequests(1));
        http.reset();
        QCOMPARE(outcomeOf(std::move(task)), QStringLiteral("cancelled"));
    }

    void speaksTls()
    {
        LoopbackPeer peer(LoopbackPeer::Tls);
        peer.enqueue(PeerAnswer::json(200, "{}").header("X-Mixed-Case", "yes"));
        peer.enqueue(PeerAnswer(303).header("Location", "/elsewhere"));
        const QString origin = peer.origin(QStringLiteral("localhost"));
        const auto http = clientFor(peer, NativeSession{"__Host-corvane_session", "s"}, {}, QStringLiteral("localhost"));
        const NativeResponse answer = runTask(get(*http, "/api/native/session"));
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.header(u"x-MIXED-case"), QStringLiteral("yes"));
        QCOMPARE(outcomeOf(http->request<NativeSession>("/x", "POST", QByteArray())),
                 QStringLiteral("Your session has ended. Sign out and sign in again."));
        QCOMPARE(peer.requests().size(), 2);
        for (const RecordedRequest &r : peer.requests()) {
            QCOMPARE(r.header("Origin"), origin.toUtf8());
            QCOMPARE(r.headerValues("Cookie"), QList<QByteArray>{"__Host-corvane_session=s"});
        }
    }
};

QTEST_GUILESS_MAIN(NativeHTTPTest)
#include "native_http_test.moc"
