#include "file_system_error.h"
#include "loopback_peer.h"
#include "native_http.h"
#include "native_stream_lines.h"
#include "run_task.h"
#include "task_outcome.h"

#include <QDir>
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

const QString tooLarge = QStringLiteral("The live update is too large. Reconnect to refresh it.");
const QString refused = QStringLiteral("The live connection was refused. Reconnect to refresh your session.");
const QString badDestination = QStringLiteral("Invalid export destination.");

std::unique_ptr<NativeHTTP> clientFor(const LoopbackPeer &peer, NativeTimeouts timeouts = {})
{
    return std::make_unique<NativeHTTP>(NativeHTTP::origin(peer.origin()), NativeSession{"corvane_session", "s1"},
                                        timeouts);
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
    run.outcome = outcomeOf(taskFailure(http.stream(
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
        stop)));
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

class NativeStreamTest : public QObject {
    Q_OBJECT

private slots:
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
        QTest::newRow("one byte too long") << ("a\n" + longest.toLatin1() + "y\n") << QStringList{"a"} << tooLarge;
        QTest::newRow("six lines in one event") << (line200k + '\n').repeated(6)
                                                << QStringList(5, QString::fromLatin1(line200k)) << tooLarge;
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
        const StreamRun run = runStream(*clientFor(peer));
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
        QTest::newRow("json") << answer(200, "application/json") << "" << QStringList() << refused;
        QTest::newRow("no content type") << answer(200, {}) << "" << QStringList() << refused;
        QTest::newRow("stream as a parameter") << answer(200, "text/plain; text/event-stream") << "" << QStringList() << refused;
        for (int status : {204, 206, 302, 401, 500})
            QTest::newRow(qPrintable(QString::number(status))) << answer(status, "text/event-stream") << "" << QStringList()
                                                               << refused;

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
        const StreamRun run = runStream(*clientFor(peer, {.idle = 500ms, .whole = 300ms}), afterLine, stop.get_token());
        QCOMPARE(run.outcome, outcome);
        QCOMPARE(run.opened, outcome == refused ? 0 : 1);
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
        const auto http = clientFor(peer);
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
        const QString result = outcomeOf(taskFailure(http->download("/x.ics", target, stop.get_token())));
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
        QCOMPARE(outcomeOf(taskFailure(http->download("/x.ics", target))), "file: File exists");
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

QTEST_GUILESS_MAIN(NativeStreamTest)
#include "native_stream_test.moc"
