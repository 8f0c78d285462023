#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <coroutine>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

class QNetworkReply;
class QTimer;

// One reply read as it arrives, for answers that are never held whole (the event stream, the
// download): first the head, then the body piece by piece. Qt's read buffer is bounded to
// `pieceBytes`, so a slow reader holds the sender back instead of growing memory. Only the idle
// limit applies — the wait for more data while the reader waits — because a stream may stay open
// for hours and a download may be large. A stop request aborts the reply. The reader owns the
// reply: on destruction an unfinished one is aborted, so nothing keeps the connection busy.
class ReplyReader {
public:
    ReplyReader(QNetworkReply *reply, std::chrono::milliseconds idle, std::stop_token stop, qint64 pieceBytes);
    ~ReplyReader();
    ReplyReader(const ReplyReader &) = delete;
    ReplyReader &operator=(const ReplyReader &) = delete;

    // Waits for the response head. Throws TransportError (its TimedOut kind after the idle limit) or
    // CancellationError when the reply ends before it.
    QCoro::Task<> head();
    // After head(): the status, or nothing when the answer is not an HTTP response.
    std::optional<qint64> status() const;
    // After head(): the value of a response header (the name compared without regard to case).
    std::optional<QByteArray> header(const QByteArray &name) const;
    // The next piece of the body, or an empty array once the body has ended; throws as head() does,
    // also when the connection fails mid-body.
    QCoro::Task<QByteArray> nextPiece();

private:
    enum class Ending { None, Stopped, TimedOut };
    struct Wake {
        ReplyReader *reader;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> waiting) const noexcept { reader->m_waiting = waiting; }
        void await_resume() const noexcept {}
    };
    void wake();
    void end(Ending ending);
    void throwIfEnded() const;
    [[noreturn]] void throwFailure() const;

    QPointer<QNetworkReply> m_reply;
    qint64 m_pieceBytes;
    Ending m_ending = Ending::None;
    std::unique_ptr<QObject> m_context; // owns the connections and the timer
    QTimer *m_idle = nullptr;
    std::coroutine_handle<> m_waiting;
    std::optional<std::stop_callback<std::function<void()>>> m_onStop;
};
