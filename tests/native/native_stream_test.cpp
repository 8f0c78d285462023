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

namespace {

const QString tooLarge = QStringLiteral("The live update is too large. Reconnect to refresh it.");
const QString invalidText = QStringLiteral("The live connection returned invalid text.");
const QString refused = QStringLiteral("The live connection was refused. Reconnect to refresh your session.");
const QString badDestination = QStringLiteral("Invalid export destination.");
const QString exportFailed = QStringLiteral("The export could not be completed. Refresh your session and try again.");
const QString streamPath = QStringLiteral("/api/native/stream");

std::unique_ptr<NativeHTTP> clientFor(const LoopbackPeer &peer, NativeTimeouts timeouts = {})
{
    return std::make_unique<NativeHTTP>(NativeHTTP::origin(peer.origin()), NativeSession{"corvane_session", "s1"},
                                        timeouts);
}

PeerAnswer eventStream(QByteArray body, qsizetype chunkBytes = 0, std::chrono::milliseconds pause = 0ms)
{
    PeerAnswer answer = PeerAnswer(200).header("Content-Type", "text/event-stream").withBody(std::move(body));
    answer.withoutContentLength();
    if (chunkBytes > 0)
        answer.inChunks(chunkBytes, pause);
    return answer;
}

struct StreamRun {
    int opened = 0;
    QStringList lines;
    QString outcome;
};

// Runs one stream to its end; `afterLine` may throw or stop it.
StreamRun runStream(const NativeHTTP &http, std::function<void(const StreamRun &)> afterLine = {},
                    std::stop_token stop = {})
{
    StreamRun run;
    run.outcome = outcomeOf(taskFailure(http.stream(
        streamPath,
        [&run]() -> QCoro::Task<> {
            ++run.opened;
            co_return;
        },
        [&run, afterLine](QString line) -> QCoro::Task<> {
            if (run.opened != 1)
                throw std::logic_error("a line before onOpen");
            run.lines << line;
            if (afterLine)
                afterLine(run);
            co_return;
        },
        stop)));
    return run;
}

// Splits `body` one byte at a time through append() (the definition), or in chunks through next().
std::pair<QStringList, QString> split(const QByteArray &body, qsizetype chunkBytes = 0)
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

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
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
        const QByteArray sixLines = (line200k + '\n').repeated(6);
        QByteArray separated;
        for (int i = 0; i < 6; ++i)
            separated += line200k + "\n\n";
        QStringList sixDelivered, separatedDelivered;
        for (int i = 0; i < 6; ++i) {
            if (i < 5)
                sixDelivered << QString::fromLatin1(line200k);
            separatedDelivered << QString::fromLatin1(line200k) << QString();
        }
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
                << ("ok\n" + QByteArray(bad) + "\n") << QStringList{"ok"} << invalidText;
        QTest::newRow("longest line") << (longest.toLatin1() + '\n') << QStringList{longest} << QString();
        QTest::newRow("one byte too long") << ("a\n" + longest.toLatin1() + "y\n") << QStringList{"a"} << tooLarge;
        QTest::newRow("six lines in one event") << sixLines << sixDelivered << tooLarge;
        QTest::newRow("six events") << separated << separatedDelivered << QString();
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

    void acceptsOnlyAnEventStream_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("contentType"); // empty: none sent
        QTest::addColumn<bool>("accepted");
        QTest::newRow("charset parameter") << 200 << QByteArray("text/event-stream; charset=utf-8") << true;
        QTest::newRow("capitals") << 200 << QByteArray("Text/Event-Stream") << true;
        QTest::newRow("json") << 200 << QByteArray("application/json") << false;
        QTest::newRow("no content type") << 200 << QByteArray() << false;
        QTest::newRow("stream as a parameter") << 200 << QByteArray("text/plain; text/event-stream") << false;
        for (int status : {204, 206, 302, 401, 500})
            QTest::newRow(qPrintable(QString::number(status))) << status << QByteArray("text/event-stream") << false;
    }

    void acceptsOnlyAnEventStream()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, contentType);
        QFETCH(bool, accepted);
        LoopbackPeer peer;
        PeerAnswer answer = PeerAnswer(status).header("Location", "/elsewhere").withBody("data: x\n\n");
        if (!contentType.isEmpty())
            answer.header("Content-Type", contentType);
        peer.enqueue(answer);
        const StreamRun run = runStream(*clientFor(peer));
        QCOMPARE(run.outcome, accepted ? QString() : refused);
        QCOMPARE(run.opened, accepted ? 1 : 0);
        QCOMPARE(run.lines, accepted ? QStringList({"data: x", ""}) : QStringList());
        QCOMPARE(peer.requests().size(), 1); // the redirect is not followed
        const RecordedRequest &sent = peer.requests().at(0);
        QCOMPARE(sent.method, QByteArray("GET"));
        QCOMPARE(sent.headerValues("Accept"), QList<QByteArray>{"text/event-stream"});
        QCOMPARE(sent.headerValues("Cookie"), QList<QByteArray>{"corvane_session=s1"});
        QCOMPARE(sent.headerValues("Origin"), QList<QByteArray>{peer.origin().toUtf8()});
    }

    // Every way a stream ends lets go of the connection. The stream outlives the whole-request
    // limit of ordinary requests; only a silence longer than the idle limit ends it.
    void endsOnEveryExit_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<int>("linesBefore"); // lines delivered before the end
        QTest::addColumn<QString>("outcome");
        QTest::newRow("outlives the whole-request limit") << "trickle" << 8 << QString();
        QTest::newRow("silent past the idle limit") << "stall" << 1 << "timeout";
        QTest::newRow("dropped mid-line") << "drop" << 1 << "transport";
        QTest::newRow("action throws") << "throw" << 1 << "the caller failed";
        QTest::newRow("stopped in an action") << "stop" << 1 << "cancelled";
    }

    void endsOnEveryExit()
    {
        QFETCH(QString, ending);
        QFETCH(int, linesBefore);
        QFETCH(QString, outcome);
        LoopbackPeer peer;
        if (ending == u"trickle")
            peer.enqueue(eventStream(QByteArray("data: 1\n").repeated(8), 8, 100ms));
        else if (ending == u"drop") // the announced length is never reached
            peer.enqueue(PeerAnswer(200).header("Content-Type", "text/event-stream").withBody("a\nbcdef\n").dropAfterBytes(4));
        else // one line, then silence: the announced length is never reached and the connection stays
            peer.enqueue(PeerAnswer(200).header("Content-Type", "text/event-stream").header("Content-Length", "1000").withBody("a\nb"));
        std::stop_source stop;
        const auto afterLine = [&](const StreamRun &) {
            if (ending == u"throw")
                throw std::runtime_error("the caller failed");
            if (ending == u"stop")
                stop.request_stop();
        };
        const StreamRun run = runStream(*clientFor(peer, {.idle = 500ms, .whole = 300ms}), afterLine, stop.get_token());
        QCOMPARE(run.outcome, outcome);
        QCOMPARE(run.lines.size(), linesBefore);
        QVERIFY(peer.waitForAllClosed());
    }

    void downloadRefusals_data()
    {
        QTest::addColumn<QString>("destination"); // "%1": the test folder
        QTest::addColumn<int>("status");          // 0: nothing may be sent
        QTest::addColumn<QString>("outcome");
        QTest::newRow("https destination") << "https://127.0.0.1/x.ics" << 0 << badDestination;
        QTest::newRow("file on another host") << "file://server/share/x.ics" << 0 << badDestination;
        QTest::newRow("folder, not a file") << "file://%1/" << 0 << badDestination;
        QTest::newRow("missing folder") << "file://%1/missing/x.ics" << 0 << "file: No such file or directory";
        for (int status : {204, 206, 302, 401, 500})
            QTest::newRow(qPrintable(QString::number(status))) << "file://%1/x.ics" << status << exportFailed;
        QTest::newRow("dropped mid-body") << "file://%1/x.ics" << 200 << "transport";
    }

    // A refused download sends nothing when it can tell in advance, and leaves nothing behind.
    void downloadRefusals()
    {
        QFETCH(QString, destination);
        QFETCH(int, status);
        QFETCH(QString, outcome);
        QTemporaryDir folder;
        LoopbackPeer peer;
        PeerAnswer answer = PeerAnswer(status).header("Location", "/elsewhere").withBody(QByteArray(100'000, 'x'));
        if (QTest::currentDataTag() == QByteArray("dropped mid-body"))
            answer.dropAfterBytes(50'000);
        peer.enqueue(answer);
        const auto http = clientFor(peer);
        const QUrl target(QString(destination).replace(QStringLiteral("%1"), folder.path()));
        QCOMPARE(outcomeOf(taskFailure(http->download("/api/native/export.ics", target))), outcome);
        QCOMPARE(peer.requests().size(), status ? 1 : 0);
        QCOMPARE(entriesOf(folder.path()), QStringList());
    }

    // Under an umask that grants everyone everything, the file is still the owner's alone; a second
    // download to the same name is refused and leaves the first file as it was.
    void downloadSavesAnOwnerOnlyFile_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("3 MB in pieces") << QByteArray(3'000'000, 'v');
    }

    void downloadSavesAnOwnerOnlyFile()
    {
        QFETCH(QByteArray, body);
        QTemporaryDir folder;
        LoopbackPeer peer;
        peer.enqueue(PeerAnswer(200).header("Content-Type", "text/calendar").withBody(body).inChunks(100'000, 0ms));
        peer.enqueue(PeerAnswer(200).withBody("BEGIN:VCALENDAR second"));
        const auto http = clientFor(peer);
        const mode_t previous = umask(0);
        const QUrl target = QUrl::fromLocalFile(folder.filePath("calendar.ics"));
        const QString outcome = outcomeOf(taskFailure(http->download("/x.ics", target)));
        umask(previous);
        QCOMPARE(outcome, QString());
        QCOMPARE(outcomeOf(taskFailure(http->download("/x.ics", target))), "file: File exists");
        QCOMPARE(entriesOf(folder.path()), QStringList{"calendar.ics"});
        struct stat info {};
        QCOMPARE(stat(QFile::encodeName(target.toLocalFile()).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0600));
        QFile saved(target.toLocalFile());
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll() == body);
        QCOMPARE(peer.requests().at(0).headerValues("Accept"), QList<QByteArray>{"application/json"});
    }

    // The file system refusing mid-body (a file-size limit stands in for a full disk), the folder
    // refusing the file, and the caller stopping mid-body all leave the folder as it was.
    void downloadFailuresMidWay_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("disk full") << "full" << "file: File too large";
        QTest::newRow("read-only folder") << "readonly" << "file: Permission denied";
        QTest::newRow("stopped") << "stop" << "cancelled";
    }

    void downloadFailuresMidWay()
    {
        QFETCH(QString, failure);
        QFETCH(QString, outcome);
        if (failure == u"readonly" && geteuid() == 0)
            QSKIP("the superuser writes into read-only folders");
        QTemporaryDir folder;
        LoopbackPeer peer;
        peer.enqueue(PeerAnswer(200).withBody(QByteArray(2'000'000, 'z')).inChunks(100'000, 20ms));
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
        } else {
            QTimer::singleShot(100ms, [&] { stop.request_stop(); });
        }
        const QString result = outcomeOf(taskFailure(
            clientFor(peer)->download("/x.ics", QUrl::fromLocalFile(folder.filePath("x.ics")), stop.get_token())));
        setrlimit(RLIMIT_FSIZE, &previousLimit);
        QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(result, outcome);
        QCOMPARE(entriesOf(folder.path()), QStringList());
        QVERIFY(peer.waitForAllClosed());
    }
};

QTEST_GUILESS_MAIN(NativeStreamTest)
#include "native_stream_test.moc"
