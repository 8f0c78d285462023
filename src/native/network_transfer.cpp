#include "network_transfer.h"

#include <QCoreApplication>
#include <QNetworkReply>
#include <QStringDecoder>
#include <QThread>

namespace {

// Qt's read buffer: the most held beyond our own body. Each time it fills, Qt's network thread waits
// for this thread to empty it; at 64 KiB the hand-overs of a 4 MiB answer took about half as long
// as decoding it.
constexpr qint64 readChunkBytes = 256 * 1024;

// Errors that Qt derives from a complete answer's status; every other error is a transport failure.
bool comesFromStatus(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ProtocolInvalidOperationError:
    case QNetworkReply::AuthenticationRequiredError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::ContentAccessDenied:
    case QNetworkReply::ContentNotFoundError:
    case QNetworkReply::ContentOperationNotPermittedError:
    case QNetworkReply::ContentConflictError:
    case QNetworkReply::ContentGoneError:
    case QNetworkReply::UnknownContentError:
    case QNetworkReply::InternalServerError:
    case QNetworkReply::OperationNotImplementedError:
    case QNetworkReply::ServiceUnavailableError:
    case QNetworkReply::UnknownServerError:
        return true;
    default:
        return false;
    }
}

// The UTF-8 text of a header name or value, or nothing when the bytes are not UTF-8. Nothing is
// dropped on the way: an incomplete sequence at the end is an error, a leading byte-order mark stays.
std::optional<QString> headerText(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8(bytes);
    if (utf8.hasError())
        return std::nullopt;
    return text;
}

} // namespace

NetworkTransfer::NetworkTransfer(QNetworkReply *reply, qint64 maxBytes, NativeTimeouts timeouts,
                                 std::stop_token stop)
    : m_reply(reply), m_maxBytes(maxBytes), m_context(std::make_unique<QObject>())
{
    reply->setReadBufferSize(std::min(maxBytes + 1, readChunkBytes));
    m_idle = new QTimer(m_context.get());
    m_whole = new QTimer(m_context.get());
    for (auto [timer, limit] : {std::pair{m_idle, timeouts.idle}, std::pair{m_whole, timeouts.whole}}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        timer->setInterval(limit);
        QObject::connect(timer, &QTimer::timeout, m_context.get(), [this] { end(Ending::TimedOut); });
        timer->start();
    }
    const auto activity = [this] { m_idle->start(); };
    QObject::connect(reply, &QNetworkReply::readyRead, m_context.get(), [this] {
        m_idle->start();
        readAvailable();
    });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, m_context.get(), [this] {
        m_idle->start();
        reserveAnnounced();
    });
    QObject::connect(reply, &QNetworkReply::uploadProgress, m_context.get(), activity);
    QObject::connect(reply, &QNetworkReply::finished, m_context.get(), [this] { onFinished(); });

    QObject *context = m_context.get();
    m_onStop.emplace(std::move(stop), [this, context] {
        if (QThread::currentThread() == context->thread())
            end(Ending::Stopped);
        else
            QMetaObject::invokeMethod(context, [this] { end(Ending::Stopped); }, Qt::QueuedConnection);
    });
}

NetworkTransfer::~NetworkTransfer()
{
    m_onStop.reset();
    m_context.reset();
    if (m_reply) {
        if (!m_reply->isFinished())
            m_reply->abort();
        m_reply->deleteLater();
    }
}

bool NetworkTransfer::Finished::await_ready() const noexcept
{
    return !transfer->m_reply || transfer->m_reply->isFinished();
}

// The body is held as it arrived (requests refuse compression, so Qt never inflates it), which
// makes Content-Length comparable whatever Content-Encoding says.
bool NetworkTransfer::bodyIsComplete() const
{
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    return !length.isValid() || m_data.size() == length.toLongLong();
}

void NetworkTransfer::readAvailable()
{
    if (!m_reply || !m_reply->isOpen() || m_ending != Ending::None)
        return;
    const qint64 available = m_reply->bytesAvailable();
    if (available > m_maxBytes - m_data.size()) {
        end(Ending::TooLarge);
        return;
    }
    // Read straight into the body: no piece is copied twice.
    const qsizetype held = m_data.size();
    m_data.resize(held + available);
    const qint64 read = m_reply->read(m_data.data() + held, available);
    m_data.resize(held + std::max<qint64>(read, 0));
}

// Room for the whole body at once when its length is announced and within the limit, so a large
// answer is not copied again each time the buffer grows. A body that then differs in length is
// still read and checked as without the announcement.
void NetworkTransfer::reserveAnnounced()
{
    if (!m_reply || !m_data.isEmpty())
        return;
    bool known = false;
    const qint64 length = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    if (known && length > 0 && length <= m_maxBytes)
        m_data.reserve(length);
}

void NetworkTransfer::end(Ending ending)
{
    if (m_ending != Ending::None || !m_reply || m_reply->isFinished())
        return;
    m_ending = ending;
    m_reply->abort();
}

void NetworkTransfer::onFinished()
{
    readAvailable();
    m_idle->stop();
    m_whole->stop();
    // Resume on a later turn of the event loop: `finished` may be emitted inside abort() or inside the
    // manager's destructor, and the awaiting code may drop the last reference to the client, which
    // would delete the reply while Qt is still inside it.
    if (m_waiting)
        QMetaObject::invokeMethod(
            m_context.get(), [this] { std::exchange(m_waiting, nullptr).resume(); }, Qt::QueuedConnection);
}

NativeResponse NetworkTransfer::response()
{
    switch (m_ending) {
    case Ending::Stopped:
        throw CancellationError();
    case Ending::TimedOut:
        throw TransportError(TransportError::Kind::TimedOut,
                             QCoreApplication::translate("TransportError", "The request timed out."));
    case Ending::TooLarge:
        throw NativeClientError::responseTooLarge();
    case Ending::None:
        break;
    }
    if (!m_reply)
        throw CancellationError();
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = m_reply->error();
    // Only our own aborts cancel a reply: an unmarked one was aborted because its client went away.
    if (error == QNetworkReply::OperationCanceledError)
        throw CancellationError();
    if (error != QNetworkReply::NoError && (!status.isValid() || !comesFromStatus(error)))
        throw TransportError(TransportError::Kind::Failure, m_reply->errorString());
    // Qt keeps the status's error for a 4xx or 5xx answer even when the connection then drops
    // mid-body, so a short body is caught here, in the words Qt uses for the same drop after a 2xx.
    if (error != QNetworkReply::NoError && !bodyIsComplete())
        throw TransportError(TransportError::Kind::Failure, QCoreApplication::translate("QHttp", "Connection closed"));
    if (!status.isValid())
        throw NativeClientError::invalidResponse();

    NativeResponse answer;
    answer.status = status.toLongLong();
    answer.data = std::exchange(m_data, {});
    // A header whose name or value is not text is left out whole; the others are kept unchanged.
    for (const auto &[name, value] : m_reply->rawHeaderPairs()) {
        const std::optional<QString> nameText = headerText(name), valueText = headerText(value);
        if (nameText && valueText)
            answer.headers.insert(nameText->toLower(), *valueText);
    }
    return answer;
}
