#include "native_http.h"
#include "native_stream_lines.h"
#include "reply_reader.h"

#include <QNetworkRequest>

namespace {

// Bytes taken from the network per step: large enough that splitting runs over long spans, small
// enough to keep the held memory far below the line limit.
constexpr qint64 streamPieceBytes = 64 * 1024;

// The content type's first ";"-separated piece that is not empty, without surrounding spaces and
// tabs and in lower case, must be text/event-stream; parameters such as a charset do not matter.
bool isEventStream(const std::optional<QByteArray> &contentType)
{
    if (!contentType)
        return false;
    for (const QByteArray &piece : contentType->split(';')) {
        if (piece.isEmpty())
            continue;
        qsizetype begin = 0, end = piece.size();
        while (begin < end && (piece[begin] == ' ' || piece[begin] == '\t'))
            ++begin;
        while (end > begin && (piece[end - 1] == ' ' || piece[end - 1] == '\t'))
            --end;
        return piece.sliced(begin, end - begin).toLower() == "text/event-stream";
    }
    return false;
}

} // namespace

QCoro::Task<> NativeHTTP::stream(QString path, std::function<QCoro::Task<>()> onOpen,
                                 std::function<QCoro::Task<>(QString line)> onLine, std::stop_token stop) const
{
    const QNetworkRequest request = getRequest(path, "text/event-stream");
    if (stop.stop_requested())
        throw CancellationError();
    // The reader aborts the transfer on every way out of this function.
    ReplyReader reader(send(request), idleTimeout(), stop, streamPieceBytes);
    co_await reader.head();
    if (reader.status() != 200 || !isEventStream(reader.header("Content-Type")))
        throw NativeClientError::liveRefused();
    if (stop.stop_requested())
        throw CancellationError();
    if (onOpen)
        co_await onOpen();

    NativeStreamLines lines;
    for (;;) {
        const QByteArray piece = co_await reader.nextPiece();
        if (piece.isEmpty())
            co_return; // the server ended the stream; an unterminated last line is dropped
        QByteArrayView rest(piece);
        while (!rest.isEmpty()) {
            if (stop.stop_requested())
                throw CancellationError();
            std::optional<QString> line = lines.next(rest);
            if (!line)
                break;
            if (onLine)
                co_await onLine(std::move(*line));
        }
    }
}
