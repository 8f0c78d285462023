#pragma once

#include "errors.h"
#include "native_session.h"

#include <QByteArray>
#include <QCoroFuture>
#include <QCoroTask>
#include <QtConcurrentRun>
#include <QHash>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

class QNetworkReply;
class QNetworkRequest;

struct NativeResponse {
    QByteArray data;
    qint64 status = 0;
    QHash<QString, QString> headers; // names lower-cased

    // Case-insensitive in the name.
    std::optional<QString> header(QStringView name) const;
};

struct NativeTimeouts {
    std::chrono::milliseconds idle{30'000};  // longest wait for more data
    std::chrono::milliseconds whole{60'000}; // whole request
};

class NativeHTTP {
public:
    static constexpr qint64 defaultMaxBytes = 4 * 1024 * 1024; // every calendar request
    static constexpr qint64 largestMaxBytes = qint64(1) << 28;

    // Validates and normalises a typed server address; throws NativeClientError::invalidAddress().
    static QUrl origin(const QString &address);
    // "scheme://host[:port]": the Origin header, the secret store account, the stored address.
    static QString originText(const QUrl &origin);

    NativeHTTP(QUrl origin, std::optional<NativeSession> credential, NativeTimeouts timeouts = {});
    ~NativeHTTP();
    NativeHTTP(const NativeHTTP &) = delete;
    NativeHTTP &operator=(const NativeHTTP &) = delete;

    const QUrl &origin() const { return m_origin; }
    const std::optional<NativeSession> &credential() const { return m_credential; }

    // Any status is returned; transport errors, time-outs and cancellation pass through as their
    // own error types.
    QCoro::Task<NativeResponse> responseDetails(QString path, QByteArray method, std::optional<QByteArray> body,
                                                QString contentType = QStringLiteral("application/json"),
                                                qint64 maxBytes = defaultMaxBytes, std::stop_token stop = {}) const;

    QCoro::Task<std::pair<QByteArray, qint64>> response(QString path, QByteArray method,
                                                        std::optional<QByteArray> body,
                                                        QString contentType = QStringLiteral("application/json"),
                                                        qint64 maxBytes = defaultMaxBytes,
                                                        std::stop_token stop = {}) const;

    // Maps the status to its sentence and decodes the body with `bool decode(const QByteArray&, T&)`,
    // found next to T.
    template <typename T>
    QCoro::Task<T> request(QString path, QByteArray method, std::optional<QByteArray> body,
                           QString contentType = QStringLiteral("application/json"),
                           qint64 maxBytes = defaultMaxBytes, std::stop_token stop = {}) const
    {
        NativeResponse answer = co_await responseDetails(std::move(path), std::move(method), std::move(body),
                                                         std::move(contentType), maxBytes, std::move(stop));
        NativeClientError::throwForStatus(answer.status);
        std::optional<T> value;
        if (answer.data.size() < decodeElsewhereBytes) {
            value = decoded<T>(answer.data);
        } else {
            // A busy month's events take tens of milliseconds to decode: on a worker thread the
            // window keeps answering meanwhile. The worker owns its copy of the data and its result.
            QFuture<std::optional<T>> work = QtConcurrent::run([data = answer.data] { return decoded<T>(data); });
            value = co_await work;
        }
        if (!value)
            throw NativeClientError::unsupportedResponse();
        co_return std::move(*value);
    }

    // A server-sent event stream: onOpen once it is accepted (status 200, text/event-stream), then
    // onLine for every completed line (NativeStreamLines), each awaited before more bytes are read.
    // Returns when the server ends the body; only the idle limit applies, not the whole-request one.
    QCoro::Task<> stream(QString path, std::function<QCoro::Task<>()> onOpen,
                         std::function<QCoro::Task<>(QString line)> onLine, std::stop_token stop = {}) const;

    // Saves the body of a 200 answer at `destination` (a local file that must not exist yet), with
    // owner-only permissions; nothing is left behind on failure. File-system failures throw FileSystemError.
    QCoro::Task<> download(QString path, QUrl destination, std::stop_token stop = {}) const;

private:
    static constexpr qint64 decodeElsewhereBytes = 256 * 1024;

    template <typename T>
    static std::optional<T> decoded(const QByteArray &data)
    {
        T value{};
        if (!decode(data, value))
            return std::nullopt;
        return value;
    }

    // For stream() and download(): a GET built like every request but with its own Accept header,
    // and sending it on this client's manager (the caller owns the reply).
    QNetworkRequest getRequest(const QString &path, const QByteArray &accept) const;
    QNetworkReply *send(const QNetworkRequest &request) const;
    std::chrono::milliseconds idleTimeout() const;

    struct Transport;
    QUrl m_origin;
    std::optional<NativeSession> m_credential;
    std::unique_ptr<Transport> m_transport;
};

// NativeHTTP is immutable and shared by the connection, the model and the views.
using NativeClient = std::shared_ptr<const NativeHTTP>;
