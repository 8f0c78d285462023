// The live stream's line splitter in network-sized pieces against its one-byte-at-a-time definition,
// and the resident memory of a large export download against the process before it started.
//
//   stream_bench [download MiB, 1024 by default]
#include "native_http.h"
#include "native_stream_lines.h"
#include "process_memory.h"
#include "run_task.h"
#include "thread_seconds.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// Change notices as the server sends them, with a heartbeat comment and some longer, non-ASCII data.
QByteArray streamBody(qsizetype bytes)
{
    QByteArray body;
    body.reserve(bytes + 1024);
    for (int i = 0; body.size() < bytes; ++i) {
        body += ": keep-alive\n\nevent: changed\r\ndata: {\"event_id\":" + QByteArray::number(i) + ",\"calendar_id\":3}\r\n\r\n";
        if (i % 16 == 0)
            body += "data: " + QByteArray(2000, 'x') + " caf\xC3\xA9 \xF0\x9F\x93\x85\n\n";
    }
    return body;
}

// Lines out of `body`, and the CPU seconds it took, through `split`.
template <typename Split>
std::pair<qint64, double> timed(const QByteArray &body, Split split)
{
    NativeStreamLines lines;
    const double start = threadSeconds();
    const qint64 count = split(lines, body);
    return {count, threadSeconds() - start};
}

void splitter()
{
    const QByteArray body = streamBody(64 * 1024 * 1024);
    const double mb = double(body.size()) / 1e6;
    const auto [byByte, byteSeconds] = timed(body, [](NativeStreamLines &lines, const QByteArray &bytes) {
        qint64 count = 0;
        for (const char byte : bytes)
            count += lines.append(byte).has_value();
        return count;
    });
    const auto [chunked, chunkSeconds] = timed(body, [](NativeStreamLines &lines, const QByteArray &bytes) {
        qint64 count = 0;
        for (qsizetype at = 0; at < bytes.size(); at += 64 * 1024) {
            QByteArrayView rest = QByteArrayView(bytes).sliced(at, std::min<qsizetype>(64 * 1024, bytes.size() - at));
            while (lines.next(rest))
                ++count;
        }
        return count;
    });
    std::printf("stream splitter over %.0f MB, %lld lines\n", mb, qlonglong(chunked));
    std::printf("  one byte at a time: %8.1f MB/s\n", mb / byteSeconds);
    std::printf("  64 KiB pieces:      %8.1f MB/s  (%.1fx)\n", mb / chunkSeconds, byteSeconds / chunkSeconds);
    if (byByte != chunked)
        std::printf("  MISMATCH: %lld lines one byte at a time\n", qlonglong(byByte));
}

// Serves one GET with `bytes` of body, written 1 MiB at a time as the socket drains, so the server's
// side of this process holds a few MiB at most.
class BodyServer : public QTcpServer {
public:
    explicit BodyServer(qint64 bytes) : m_bytes(bytes)
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *socket = nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                m_request += socket->readAll();
                if (!m_request.contains("\r\n\r\n") || m_left >= 0)
                    return;
                m_left = m_bytes;
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/calendar\r\nContent-Length: " +
                              QByteArray::number(m_bytes) + "\r\nConnection: close\r\n\r\n");
                feed(socket);
            });
            connect(socket, &QTcpSocket::bytesWritten, socket, [this, socket] { feed(socket); });
        });
    }

private:
    void feed(QTcpSocket *socket)
    {
        static const QByteArray piece(1024 * 1024, 'B');
        while (m_left > 0 && socket->bytesToWrite() < 4 * piece.size()) {
            const qint64 size = std::min<qint64>(m_left, piece.size());
            socket->write(piece.constData(), size);
            m_left -= size;
        }
        if (m_left == 0 && socket->bytesToWrite() == 0)
            socket->disconnectFromHost();
    }

    qint64 m_bytes;
    qint64 m_left = -1;
    QByteArray m_request;
};

void download(qint64 mib)
{
    BodyServer server(mib * 1024 * 1024);
    const NativeHTTP http(NativeHTTP::origin(QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort())),
                          NativeSession{"corvane_session", "bench"});
    QTemporaryDir folder;
    const QString destination = folder.filePath(QStringLiteral("export.ics"));
    const qint64 before = processStatusKiB("VmRSS");
    QElapsedTimer clock;
    clock.start();
    runTask(http.download(QStringLiteral("/api/native/export.ics"), QUrl::fromLocalFile(destination)),
            std::chrono::minutes(30));
    const double seconds = double(clock.elapsed()) / 1000;
    const qint64 peak = processStatusKiB("VmHWM");
    std::printf("download of %lld MiB to a file: %.0f MB/s, file %lld bytes\n", qlonglong(mib),
                double(mib) * 1.048576 / seconds, qlonglong(QFileInfo(destination).size()));
    std::printf("  resident before %.1f MiB, peak during %.1f MiB (%.2fx, +%.1f MiB)\n", double(before) / 1024,
                double(peak) / 1024, double(peak) / double(before), double(peak - before) / 1024);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qint64 mib = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1024;
    // The download runs first: the splitter's 64 MB body would otherwise set the peak.
    download(mib > 0 ? mib : 1024);
    splitter();
    return 0;
}
