#include "loopback_peer.h"
#include "native_http.h"
#include "native_stream_lines.h"
#include "run_task.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(PeerAnswer)

namespace {

const QString tooLarge = QStringLiteral("The server response is too large.");
const QString invalidPath = QStringLiteral("Invalid server path.");
const QString liveTooLarge = QStringLiteral("The live update is too large. Reconnect to refresh it.");
const QString liveRefused = QStringLiteral("The live connection was refused. Reconnect to refresh your session.");
const NativeSession s1{"corvane_session", "s1"};

std::unique_ptr<NativeHTTP> clientFor(const LoopbackPeer &peer, std::optional<NativeSession> credential = {},
                                      NativeTimeouts timeouts = {})
{
    return std::make_unique<NativeHTTP>(NativeHTTP::origin(peer.origin()), std::move(credential), timeouts);
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
    // QUrl lower-cases schemes and hosts; the rules judge what was written. A zone id does not survive
    // the origin text.
    void origin()
    {
        const QString refused = QStringLiteral("Enter your server\u2019s HTTPS address, without a page path.");
        QList<std::pair<QString, QString>> cases = {
            {" \t https://calendar.example/ \n", "https://calendar.example"},
            {"https://Calendar.Example:8443", "https://calendar.example:8443"},
            {"http://[::1]:9000", "http://[::1]:9000"},
        };
        for (const char *address : {"http://192.168.1.5", "http://LOCALHOST", "HTTPS://calendar.example",
                                    "https:calendar.example", "https:///path", "https://calendar.example/calendar",
                                    "https://@calendar.example", "https://calendar.example?", "https://calendar.example/#top",
                                    "https://calendar.example:port", "https://[fe80::1%25eth0]:8443"})
            cases.append({address, refused});
        for (const auto &[address, expected] : cases) {
            try {
                QCOMPARE(NativeHTTP::originText(NativeHTTP::origin(address)), expected);
            } catch (const NativeClientError &e) {
                QCOMPARE(e.description() + u' ' + address, expected + u' ' + address);
            }
        }
    }

    // Every answer redirects and sets a cookie: none is followed, none is kept. A header value is kept
    // whole or, when it is not UTF-8, left out whole.
    void sendsExactlyTheHeadersItOwns()
    {
        LoopbackPeer peer;
        const QString elsewhere = peer.origin() + "/elsewhere";
        peer.setHandler([&](const RecordedRequest &) {
            return PeerAnswer(302).header("Location", elsewhere.toUtf8()).header("Set-Cookie", "corvane_session=x")
                .header("X-Text", "\xEF\xBB\xBF" "caf\xC3\xA9 \xF0\x9F\x93\x85").header("X-Cut", "caf\xC3");
        });
        const auto http = clientFor(peer, NativeSession{"corvane_session", "a=b;c"});
        const QList<NativeResponse> answers = {
            runTask(get(*http, "/x/../../a", NativeHTTP::largestMaxBytes)), // dot segments stay on the origin
            runTask(http->responseDetails("/c?x=%2F", "PATCH", QByteArray("{}")))};
        for (const NativeResponse &answer : answers) {
            QCOMPARE(answer.status, 302);
            QCOMPARE(answer.header(u"LOCATION"), elsewhere);
            QCOMPARE(answer.header(u"x-text"), QStringLiteral("\uFEFFcaf\u00e9 \U0001F4C5"));
            QVERIFY(!answer.header(u"x-cut"));
        }
        QCOMPARE(peer.requests().size(), 2);
        for (const RecordedRequest &r : peer.requests()) {
            QCOMPARE(r.headerValues("Origin"), QList<QByteArray>{peer.origin().toUtf8()});
            QCOMPARE(r.headerValues("Accept"), QList<QByteArray>{"application/json"});
            QCOMPARE(r.headerValues("Cookie"), QList<QByteArray>{"corvane_session=a=b;c"});
        }
        const RecordedRequest &got = peer.requests().at(0), &patched = peer.requests().at(1);
        QCOMPARE(got.method + ' ' + got.target + ' ' + got.body, QByteArray("GET /a "));
        QCOMPARE(got.headerValues("Content-Type"), QList<QByteArray>());
        QCOMPARE(patched.method + ' ' + patched.target + ' ' + patched.body, QByteArray("PATCH /c?x=%2F {}"));
        QCOMPARE(patched.headerValues("Content-Type"), QList<QByteArray>{"application/json"});
    }

    void outcome_data()
    {
        QTest::addColumn<PeerAnswer>("answer"); // status 0: nobody listens on the port
        QTest::addColumn<qint64>("maxBytes");
        QTest::addColumn<QString>("outcome");   // empty: the session decodes
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
        row("300", PeerAnswer::json(300, session), notCompleted(300));
        row("303", PeerAnswer::json(303, session), sessionEnded);
        row("404", PeerAnswer::json(404, session), "This server does not support this native feature yet.");
        // Both bodies outgrow Qt's read buffer and arrive in several reads.
        row("exactly the limit", PeerAnswer(200).withBody(sized(600'000)).inChunks(150'000, 1ms), {}, 600'000);
        row("one byte over", PeerAnswer(200).withBody(sized(600'001)).inChunks(150'000, 1ms), tooLarge, 600'000);
        // Four seconds of body behind an absurd length: nothing is set aside for it, and the transfer
        // ends as soon as it passes the limit.
        row("announced beyond the limit",
            PeerAnswer(200).header("Content-Length", "1000000000000").withBody(QByteArray(2'000'000, 'x')).inChunks(1000, 2ms),
            tooLarge, 1500);
        // A compressed body is not inflated on the way, so its length is checked as it arrived. Qt keeps
        // the error of a 5xx status when its body is then cut short.
        row("compressed, cut short",
            PeerAnswer(200).header("Content-Encoding", "deflate").withBody(deflated).dropAfterBytes(8), "transport");
        row("500 cut short", PeerAnswer(500).withBody(QByteArray(100, 'x')).dropAfterBytes(40), "transport");
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
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(outcomeOf(http->request<NativeSession>("/s", "GET", {}, QStringLiteral("application/json"), maxBytes)),
                 outcome);
        QVERIFY(elapsed.elapsed() < 1500);
    }

    void refusesBeforeSending()
    {
        LoopbackPeer peer;
        const auto http = clientFor(peer);
        for (const QString path : {"x", "//evil.example/x", "/\\evil.example"})
            QCOMPARE(outcomeOf(get(*http, path)), invalidPath);
        for (const qint64 maxBytes : {qint64(0), NativeHTTP::largestMaxBytes + 1})
            QCOMPARE(outcomeOf(get(*http, "/ok", maxBytes)), QStringLiteral("Invalid response size limit."));
        // Text that would end its line early and smuggle in a header or a request of its own.
        QCOMPARE(outcomeOf(http->responseDetails("/a", "GET /b HTTP/1.1\r\n", {})), invalidPath);
        QCOMPARE(outcomeOf(get(*clientFor(peer, NativeSession{"corvane_session", "v\r\nX-Injected: 1"}), "/a")), invalidPath);
        QTest::qWait(20);
        QCOMPARE(peer.connectionsAccepted(), 0);
    }

    // A body trickled a byte every 50 ms never meets the idle limit, only the whole-request one. (A
    // silent server meets the idle limit in the view tests.)
    void timesOut()
    {
        LoopbackPeer peer;
        peer.enqueue(PeerAnswer(200).withBody(QByteArray(100, 'x')).inChunks(1, 50ms));
        QElapsedTimer elapsed;
        elapsed.start();
        const std::exception_ptr error = taskFailure(get(*clientFor(peer, {}, {.idle = 5000ms, .whole = 400ms}), "/slow"));
        QCOMPARE(outcomeOf(error), QStringLiteral("timeout"));
        QCOMPARE(describeError(error), QStringLiteral("The request timed out."));
        QVERIFY(elapsed.elapsed() >= 400 && elapsed.elapsed() < 2400);
        QVERIFY(peer.waitForAllClosed());
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

    // Every way a stream ends lets go of the connection. Small bodies arrive a byte at a time, so line
    // ends fall between packets. The stream outlives the whole-request limit of ordinary requests;
    // only a silence longer than the idle limit ends it.
    void stream_data()
    {
        QTest::addColumn<PeerAnswer>("answer");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("action"); // after each line: "throw" or "stop"
        const auto row = [](const char *name, PeerAnswer answer, QStringList lines, QString outcome = {}, QString action = {}) {
            QTest::newRow(name) << answer << lines << outcome << action;
        };
        const auto body = [](const QByteArray &bytes) {
            return PeerAnswer(200).header("Content-Type", "text/event-stream").withBody(bytes).withoutContentLength()
                .inChunks(bytes.size() < 100 ? 1 : 65'537, bytes.size() < 100 ? 1ms : 0ms);
        };
        const QByteArray line200k(200'000, 'x');
        QStringList sixEvents;
        for (int i = 0; i < 6; ++i)
            sixEvents << QString::fromLatin1(line200k) << QString();
        const QString longest(NativeStreamLines::defaultMaxLineBytes, u'y');
        // CR, CR LF and LF; a byte-order mark dropped on the first line only; an unterminated last line dropped.
        row("line ends and marks", body("\xEF\xBB\xBF" "a\rb\r\n\nc\n\xEF\xBB\xBFx\ndata: caf\xC3\xA9 \xF0\x9F\x93\x85\nlast"),
            {"a", "b", "", "c", QStringLiteral("\uFEFFx"), QStringLiteral("data: caf\u00E9 \U0001F4C5")});
        // Bad bytes are judged when their line ends, each line on its own: lines before them are delivered.
        row("cut-off character", body("ok\n\xE2\x82\n"), {"ok"}, QStringLiteral("The live connection returned invalid text."));
        row("longest line", body(longest.toLatin1() + '\n'), {longest});
        row("one byte too long", body("a\n" + longest.toLatin1() + "y\n"), {"a"}, liveTooLarge);
        row("six lines in one event", body((line200k + '\n').repeated(6)), QStringList(5, QString::fromLatin1(line200k)),
            liveTooLarge);
        row("six events", body((line200k + "\n\n").repeated(6)), sixEvents);

        const auto typed = [](int status, QByteArray contentType) {
            PeerAnswer answer = PeerAnswer(status).withBody("data: x\n\n");
            return contentType.isEmpty() ? answer : answer.header("Content-Type", contentType);
        };
        row("capitals and a parameter", typed(200, "Text/Event-Stream ; charset=utf-8"), {"data: x", ""});
        row("json", typed(200, "application/json"), {}, liveRefused);
        row("no content type", typed(200, {}), {}, liveRefused);
        row("204", typed(204, "text/event-stream"), {}, liveRefused);
        row("206", typed(206, "text/event-stream"), {}, liveRefused);

        // One line, then silence: the announced length is never reached and the connection stays.
        const PeerAnswer stalls =
            PeerAnswer(200).header("Content-Type", "text/event-stream").header("Content-Length", "1000").withBody("a\nb");
        row("outlives the whole-request limit", body(QByteArray("data: 1\n").repeated(8)).inChunks(8, 100ms),
            QStringList(8, QStringLiteral("data: 1")));
        row("silent past the idle limit", stalls, {"a"}, "timeout");
        row("dropped mid-line",
            PeerAnswer(200).header("Content-Type", "text/event-stream").withBody("a\nbcdef\n").dropAfterBytes(4), {"a"},
            "transport");
        row("action throws", stalls, {"a"}, "the caller failed", "throw");
        row("stopped in an action", stalls, {"a"}, "cancelled", "stop");
    }

    void stream()
    {
        QFETCH(PeerAnswer, answer);
        QFETCH(QStringList, lines);
        QFETCH(QString, outcome);
        QFETCH(QString, action);
        LoopbackPeer peer;
        peer.enqueue(answer);
        std::stop_source stop;
        int opened = 0;
        QStringList received;
        const auto onOpen = [&]() -> QCoro::Task<> {
            ++opened;
            co_return;
        };
        const auto onLine = [&](QString line) -> QCoro::Task<> {
            if (opened != 1)
                throw std::logic_error("a line before onOpen");
            received << line;
            if (action == u"throw")
                throw std::runtime_error("the caller failed");
            if (action == u"stop")
                stop.request_stop();
            co_return;
        };
        QCOMPARE(outcomeOf(clientFor(peer, s1, {.idle = 500ms, .whole = 300ms})
                               ->stream(QStringLiteral("/api/native/stream"), onOpen, onLine, stop.get_token())),
                 outcome);
        QCOMPARE(opened, outcome == liveRefused ? 0 : 1);
        QCOMPARE(received, lines);
        QVERIFY(peer.waitForAllClosed());
        QCOMPARE(peer.requests().size(), 1);
        QCOMPARE(peer.requests().at(0).headerValues("Accept"), QList<QByteArray>{"text/event-stream"});
    }

    void download_data()
    {
        QTest::addColumn<QString>("destination"); // "%1": the test folder
        QTest::addColumn<PeerAnswer>("answer");   // status 0: nothing may be sent
        QTest::addColumn<QString>("failure");     // "full": the file system refuses to grow the file; "stop"
        QTest::addColumn<QString>("outcome");     // empty: the body is saved, and a second download is refused
        const QString file = QStringLiteral("file://%1/x.ics");
        const PeerAnswer none(0);
        const QString badDestination = QStringLiteral("Invalid export destination.");
        QTest::newRow("https destination") << "https://127.0.0.1/x.ics" << none << "" << badDestination;
        QTest::newRow("folder, not a file") << "file://%1/" << none << "" << badDestination;
        QTest::newRow("missing folder") << "file://%1/missing/x.ics" << none << "" << "file: No such file or directory";
        for (int status : {302, 401})
            QTest::newRow(qPrintable(QString::number(status)))
                << file << PeerAnswer(status).header("Location", "/elsewhere").withBody(QByteArray(100'000, 'x')) << ""
                << "The export could not be completed. Refresh your session and try again.";
        // A file-size limit stands in for a full disk.
        const PeerAnswer slow = PeerAnswer(200).withBody(QByteArray(2'000'000, 'z')).inChunks(100'000, 20ms);
        QTest::newRow("disk full") << file << slow << "full" << "file: File too large";
        QTest::newRow("stopped") << file << slow << "stop" << "cancelled";
        QTest::newRow("empty") << file << PeerAnswer(200).header("Content-Type", "text/calendar") << "" << "";
    }

    // Nothing is sent when the refusal can be told in advance, and a failed download leaves the folder
    // as it was. Under an umask that grants everyone everything, a saved file is the owner's alone.
    void download()
    {
        QFETCH(QString, destination);
        QFETCH(PeerAnswer, answer);
        QFETCH(QString, failure);
        QFETCH(QString, outcome);
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
            const rlimit small{500'000, previousLimit.rlim_max};
            setrlimit(RLIMIT_FSIZE, &small);
        } else if (failure == u"stop") {
            QTimer::singleShot(100ms, [&] { stop.request_stop(); });
        }
        const mode_t previousMask = umask(0);
        const QString result = outcomeOf(http->download("/x.ics", target, stop.get_token()));
        umask(previousMask);
        setrlimit(RLIMIT_FSIZE, &previousLimit);
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
        QVERIFY(saved.open(QIODevice::ReadOnly) && saved.readAll() == answer.body);
        QCOMPARE(peer.requests().at(0).headerValues("Accept"), QList<QByteArray>{"application/json"});
    }
};

QTEST_GUILESS_MAIN(NativeHTTPTest)
#include "native_http_test.moc"
