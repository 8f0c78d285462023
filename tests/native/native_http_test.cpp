#include "file_system_error.h"
#include "loopback_peer.h"
#include "native_http.h"
#include "native_stream_lines.h"
#include "run_task.h"
#include "task_outcome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(PeerAnswer)

namespace {

const QString tooLarge = QStringLiteral("The server response is too large.");
const QString invalidPath = QStringLiteral("Invalid server path.");
const QString liveTooLarge = QStringLiteral("The live update is too large. Reconnect to refresh it.");
const QString liveRefused = QStringLiteral("The live connection was refused. Reconnect to refresh your session.");
const QString badDestination = QStringLiteral("Invalid export destination.");
const QString loopback = QStringLiteral("127.0.0.1");
const NativeSession s1{"corvane_session", "s1"};

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

PeerAnswer eventStream(QByteArray body, qsizetype chunkBytes, std::chrono::milliseconds pause = 0ms)
{
    return PeerAnswer(200).header("Content-Type", "text/event-stream").withBody(std::move(body)).withoutContentLength()
        .inChunks(chunkBytes, pause);
}

struct StreamRun {
    int opened = 0;
    QStringList lines;
    QString outcome;
};

// Runs one stream to its end; `afterLine` may throw or stop it.
StreamRun runStream(const NativeHTTP &http, std::function<void()> afterLine = {}, std::stop_token stop = {})
{
    StreamRun run;
    run.outcome = outcomeOf(http.stream(
        QStringLiteral("/api/native/stream"),
        [&run]() -> QCoro::Task<> {
            ++run.opened;
            co_return;
        },
        [&run, afterLine](QString line) -> QCoro::Task<> {
            if (run.opened != 1)
                throw std::logic_error("a line before onOpen");
            run.lines << line;
            if (afterLine)
                afterLine();
            co_return;
        },
        stop));
    return run;
}

// Splits `body` one byte at a time through append() (the definition), or in chunks through next().
std::pair<QStringList, QString> split(const QByteArray &body, qsizetype chunkBytes)
{
    NativeStreamLines lines;
    QStringList out;
    try {
        for (qsizetype at = 0; chunkBytes == 0 && at < body.size(); ++at)
            if (std::optional<QString> line = lines.append(body[at]))
                out << *line;
        for (qsizetype at = 0; chunkBytes > 0 && at < body.size(); at += chunkBytes) {
            QByteArrayView rest = QByteArrayView(body).sliced(at, std::min(chunkBytes, body.size() - at));
            while (std::optional<QString> line = lines.next(rest))
                out << *line;
        }
    } catch (const NativeClientError &e) {
        return {out, e.description()};
    }
    return {out, {}};
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

    void splitsLines_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("outcome");
        const QByteArray line200k(200'000, 'x');
        QStringList sixEvents;
        for (int i = 0; i < 6; ++i)
            sixEvents << QString::fromLatin1(line200k) << QString();
        const QString longest(NativeStreamLines::defaultMaxLineBytes, u'y');

        QTest::newRow("CR LF, LF") << QByteArray("a\r\nb\n") << QStringList{"a", "b"} << QString();
        QTest::newRow("CR CR") << QByteArray("a\r\r") << QStringList{"a", ""} << QString();
        QTest::newRow("LF LF") << QByteArray("a\n\n") << QStringList{"a", ""} << QString();
        QTest::newRow("CR then a line") << QByteArray("a\rb\r\n\nc\n") << QStringList{"a", "b", "", "c"} << QString();
        QTest::newRow("mark on the first line") << QByteArray("\xEF\xBB\xBFx\n") << QStringList{"x"} << QString();
        QTest::newRow("mark on a later line")
            << QByteArray("a\n\xEF\xBB\xBFx\n") << QStringList{"a", QStringLiteral("\uFEFFx")} << QString();
        QTest::newRow("unterminated last line") << QByteArray("a\nbc") << QStringList{"a"} << QString();
        QTest::newRow("multi-byte text") << QByteArray("data: caf\xC3\xA9 \xF0\x9F\x93\x85\n")
                                         << QStringList{QStringLiteral("data: caf\u00E9 \U0001F4C5")} << QString();
        // Bad bytes are judged when their line ends: lines before them are delivered.
        for (const char *bad : {"\xC3\x28", "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82", "\xFF"})
            QTest::newRow(qPrintable("invalid " + QByteArray(bad).toHex()))
                << ("ok\n" + QByteArray(bad) + "\n") << QStringList{"ok"}
                << QStringLiteral("The live connection returned invalid text.");
        QTest::newRow("longest line") << (longest.toLatin1() + '\n') << QStringList{longest} << QString();
        QTest::newRow("one byte too long") << ("a\n" + longest.toLatin1() + "y\n") << QStringList{"a"} << liveTooLarge;
        QTest::newRow("six lines in one event") << (line200k + '\n').repeated(6)
                                                << QStringList(5, QString::fromLatin1(line200k)) << liveTooLarge;
        QTest::newRow("six events") << (line200k + "\n\n").repeated(6) << sixEvents << QString();
    }

    // The chunked splitter against its per-byte definition, then over the network in small packets.
    void splitsLines()
    {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, lines);
        QFETCH(QString, outcome);
        for (qsizetype chunk : {qsizetype(0), qsizetype(1), qsizetype(2), qsizetype(3), qsizetype(4096), body.size()})
            QCOMPARE(split(body, chunk), std::pair(lines, outcome));

        LoopbackPeer peer;
        peer.enqueue(eventStream(body, body.size() < 100 ? 1 : 65'537));
        const StreamRun run = runStream(*clientFor(peer, s1));
        QCOMPARE(run.lines, lines);
        QCOMPARE(run.outcome, outcome);
        QVERIFY(peer.waitForAllClosed());
    }

    // Every way a stream ends lets go of the connection. The stream outlives the whole-request limit
    // of ordinary requests; only a silence longer than the idle limit ends it.
    void stream_data()
    {
        QTest::addColumn<PeerAnswer>("answer");
        QTest::addColumn<QString>("action"); // after each line: "throw" or "stop"
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("outcome");
        const auto answer = [](int status, QByteArray contentType) {
            PeerAnswer answer = PeerAnswer(status).header("Location", "/elsewhere").withBody("data: x\n\n");
            return contentType.isEmpty() ? answer : answer.header("Content-Type", contentType);
        };
        const QStringList x = {"data: x", ""};
        QTest::newRow("charset parameter") << answer(200, "text/event-stream; charset=utf-8") << "" << x << "";
        QTest::newRow("capitals") << answer(200, "Text/Event-Stream") << "" << x << "";
        QTest::newRow("json") << answer(200, "application/json") << "" << QStringList() << liveRefused;
        QTest::newRow("no content type") << answer(200, {}) << "" << QStringList() << liveRefused;
        QTest::newRow("stream as a parameter") << answer(200, "text/plain; text/event-stream") << "" << QStringList() << liveRefused;
        for (int status : {204, 206, 302, 401, 500})
            QTest::newRow(qPrintable(QString::number(status))) << answer(status, "text/event-stream") << "" << QStringList()
                                                               << liveRefused;

        // One line, then silence: the announced length is never reached and the connection stays.
        const PeerAnswer stalls =
            PeerAnswer(200).header("Content-Type", "text/event-stream").header("Content-Length", "1000").withBody("a\nb");
        QTest::newRow("outlives the whole-request limit")
            << eventStream(QByteArray("data: 1\n").repeated(8), 8, 100ms) << "" << QStringList(8, QStringLiteral("data: 1")) << "";
        QTest::newRow("silent past the idle limit") << stalls << "" << QStringList{"a"} << "timeout";
        QTest::newRow("dropped mid-line")
            << PeerAnswer(200).header("Content-Type", "text/event-stream").withBody("a\nbcdef\n").dropAfterBytes(4) << ""
            << QStringList{"a"} << "transport";
        QTest::newRow("action throws") << stalls << "throw" << QStringList{"a"} << "the caller failed";
        QTest::newRow("stopped in an action") << stalls << "stop" << QStringList{"a"} << "cancelled";
    }

    void stream()
    {
        QFETCH(PeerAnswer, answer);
        QFETCH(QString, action);
        QFETCH(QStringList, lines);
        QFETCH(QString, outcome);
        LoopbackPeer peer;
        peer.enqueue(answer);
        std::stop_source stop;
        const auto afterLine = [&] {
            if (action == u"throw")
                throw std::runtime_error("the caller failed");
            if (action == u"stop")
                stop.request_stop();
        };
        const StreamRun run = runStream(*clientFor(peer, s1, loopback, {.idle = 500ms, .whole = 300ms}), afterLine, stop.get_token());
        QCOMPARE(run.outcome, outcome);
        QCOMPARE(run.opened, outcome == liveRefused ? 0 : 1);
        QCOMPARE(run.lines, lines);
        QVERIFY(peer.waitForAllClosed());
        QCOMPARE(peer.requests().size(), 1); // no redirect followed
        const RecordedRequest &sent = peer.requests().at(0);
        QCOMPARE(sent.method, QByteArray("GET"));
        QCOMPARE(sent.headerValues("Accept"), QList<QByteArray>{"text/event-stream"});
        QCOMPARE(sent.headerValues("Cookie"), QList<QByteArray>{"corvane_session=s1"});
        QCOMPARE(sent.headerValues("Origin"), QList<QByteArray>{peer.origin().toUtf8()});
    }

    void download_data()
    {
        QTest::addColumn<QString>("destination"); // "%1": the test folder
        QTest::addColumn<PeerAnswer>("answer");   // status 0: nothing may be sent
        QTest::addColumn<QString>("failure");     // the file system refusing ("full", "readonly") or "stop"
        QTest::addColumn<QString>("outcome");     // empty: the body is saved, and a second download is refused
        const QString file = QStringLiteral("file://%1/x.ics");
        const PeerAnswer none(0);
        QTest::newRow("https destination") << "https://127.0.0.1/x.ics" << none << "" << badDestination;
        QTest::newRow("file on another host") << "file://server/share/x.ics" << none << "" << badDestination;
        QTest::newRow("folder, not a file") << "file://%1/" << none << "" << badDestination;
        QTest::newRow("missing folder") << "file://%1/missing/x.ics" << none << "" << "file: No such file or directory";
        for (int status : {204, 206, 302, 401, 500})
            QTest::newRow(qPrintable(QString::number(status)))
                << file << PeerAnswer(status).header("Location", "/elsewhere").withBody(QByteArray(100'000, 'x')) << ""
                << "The export could not be completed. Refresh your session and try again.";
        QTest::newRow("dropped mid-body") << file << PeerAnswer(200).withBody(QByteArray(100'000, 'x')).dropAfterBytes(50'000)
                                          << "" << "transport";
        // A file-size limit stands in for a full disk.
        const PeerAnswer slow = PeerAnswer(200).withBody(QByteArray(2'000'000, 'z')).inChunks(100'000, 20ms);
        QTest::newRow("disk full") << file << slow << "full" << "file: File too large";
        QTest::newRow("read-only folder") << file << slow << "readonly" << "file: Permission denied";
        QTest::newRow("stopped") << file << slow << "stop" << "cancelled";
        for (const QByteArray &body : {QByteArray(), QByteArray(3'000'000, 'v')})
            QTest::newRow(body.isEmpty() ? "empty" : "3 MB in pieces")
                << file << PeerAnswer(200).header("Content-Type", "text/calendar").withBody(body).inChunks(100'000, 0ms)
                << "" << "";
    }

    // Nothing is sent when the refusal can be told in advance, and a failed download leaves the folder
    // as it was. Under an umask that grants everyone everything, a saved file is the owner's alone.
    void download()
    {
        QFETCH(QString, destination);
        QFETCH(PeerAnswer, answer);
        QFETCH(QString, failure);
        QFETCH(QString, outcome);
        if (failure == u"readonly" && geteuid() == 0)
            QSKIP("the superuser writes into read-only folders");
        QTemporaryDir folder;
        const auto entries = [&] {
            return QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        };
        const QUrl target(QString(destination).replace(QStringLiteral("%1"), folder.path()));
        LoopbackPeer peer;
        peer.enqueue(answer);
        peer.enqueue(PeerAnswer(200).withBody("BEGIN:VCALENDAR second"));
        const auto http = clientFor(peer, s1);
        std::stop_source stop;
        rlimit previousLimit{};
        getrlimit(RLIMIT_FSIZE, &previousLimit);
        if (failure == u"full") {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit small = previousLimit;
            small.rlim_cur = 500'000;
            setrlimit(RLIMIT_FSIZE, &small);
        } else if (failure == u"readonly") {
            QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::ExeOwner);
        } else if (failure == u"stop") {
            QTimer::singleShot(100ms, [&] { stop.request_stop(); });
        }
        const mode_t previousMask = umask(0);
        const QString result = outcomeOf(http->download("/x.ics", target, stop.get_token()));
        umask(previousMask);
        setrlimit(RLIMIT_FSIZE, &previousLimit);
        QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(result, outcome);
        QCOMPARE(peer.requests().size(), answer.status ? 1 : 0);
        if (!outcome.isEmpty()) {
            QCOMPARE(entries(), QStringList());
            QVERIFY(failure.isEmpty() || peer.waitForAllClosed()); // a transfer ended midway is let go
            return;
        }
        QCOMPARE(outcomeOf(http->download("/x.ics", target)), "file: File exists");
        QCOMPARE(entries(), QStringList{"x.ics"});
        struct stat info {};
        QCOMPARE(stat(QFile::encodeName(target.toLocalFile()).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0600));
        QFile saved(target.toLocalFile());
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll() == answer.body);
        QCOMPARE(peer.requests().at(0).headerValues("Accept"), QList<QByteArray>{"application/json"});
    }
};

QTEST_GUILESS_MAIN(NativeHTTPTest)
#include "native_http_test.moc"
