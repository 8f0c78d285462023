#pragma once

#include "native_http.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <coroutine>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

class QNetworkReply;

// One running reply, read under a byte limit and awaited with `co_await transfer.finished()`. It owns the
// reply: on destruction an unfinished transfer is aborted, so nothing keeps the connection busy.
// The limit holds while bytes arrive: Qt's read buffer is bounded and the transfer is aborted at
// the first byte too many. Time limits and stop requests abort the reply and are reported by
// response() as TransportError(TimedOut) and CancellationError.
class NetworkTransfer {
public:
    NetworkTransfer(QNetworkReply *reply, qint64 maxBytes, NativeTimeouts timeouts, std::stop_token stop);
    ~NetworkTransfer();
    NetworkTransfer(const NetworkTransfer &) = delete;
    NetworkTransfer &operator=(const NetworkTransfer &) = delete;

    struct Finished {
        NetworkTransfer *transfer;
        bool await_ready() const noexcept;
        void await_suspend(std::coroutine_handle<> waiting) const noexcept { transfer->m_waiting = waiting; }
        void await_resume() const noexcept {}
    };
    Finished finished() { return {this}; }

    // After the reply finished: the answer, or the error that ended it.
    NativeResponse response();

private:
    enum class Ending { None, Stopped, TimedOut, TooLarge };
    void readAvailable();
    void reserveAnnounced();
    bool bodyIsComplete() const;
    void end(Ending ending);
    void onFinished();

    QPointer<QNetworkReply> m_reply;
    qint64 m_maxBytes;
    QByteArray m_data;
    Ending m_ending = Ending::None;
    std::unique_ptr<QObject> m_context; // owns the connections and the timers
    QTimer *m_idle = nullptr;
    QTimer *m_whole = nullptr;
    std::coroutine_handle<> m_waiting;
    std::optional<std::stop_callback<std::function<void()>>> m_onStop;
};
