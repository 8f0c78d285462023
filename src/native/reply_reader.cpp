#include "reply_reader.h"

#include "errors.h"

#include <QCoreApplication>
#include <QNetworkReply>
#include <QThread>
#include <QTimer>

ReplyReader::ReplyReader(QNetworkReply *reply, std::chrono::milliseconds idle, std::stop_token stop, qint64 pieceBytes)
    : m_reply(reply), m_pieceBytes(pieceBytes), m_context(std::make_unique<QObject>())
{
    reply->setReadBufferSize(pieceBytes);
    m_idle = new QTimer(m_context.get());
    m_idle->setSingleShot(true);
    m_idle->setTimerType(Qt::PreciseTimer);
    m_idle->setInterval(idle);
    QObject::connect(m_idle, &QTimer::timeout, m_context.get(), [this] { end(Ending::TimedOut); });
    // Data or a head arriving while the reader waits restarts the wait; between waits the timer is
    // off, so a slow consumer never counts against the server.
    const auto activity = [this] {
        if (m_idle->isActive())
            m_idle->start();
        wake();
    };
    QObject::connect(reply, &QNetworkReply::readyRead, m_context.get(), activity);
    QObject::connect(reply, &QNetworkReply::metaDataChanged, m_context.get(), activity);
    QObject::connect(reply, &QNetworkReply::uploadProgress, m_context.get(), activity);
    QObject::connect(reply, &QNetworkReply::finished, m_context.get(), [this] { wake(); });

    QObject *context = m_context.get();
    m_onStop.emplace(std::move(stop), [this, context] {
        if (QThread::currentThread() == context->thread())
            end(Ending::Stopped);
        else
            QMetaObject::invokeMethod(context, [this] { end(Ending::Stopped); }, Qt::QueuedConnection);
    });
}

ReplyReader::~ReplyReader()
{
    m_onStop.reset();
    m_context.reset();
    if (m_reply) {
        if (!m_reply->isFinished())
            m_reply->abort();
        m_reply->deleteLater();
    }
}

// Resumes the waiting code on a later turn of the event loop: the signals come from inside Qt
// (abort() emits finished at once), and the waiting code may end the reader.
void ReplyReader::wake()
{
    if (m_waiting)
        QMetaObject::invokeMethod(
            m_context.get(), [this] {
                if (m_waiting)
                    std::exchange(m_waiting, nullptr).resume();
            },
            Qt::QueuedConnection);
}

void ReplyReader::end(Ending ending)
{
    if (m_ending != Ending::None || !m_reply || m_reply->isFinished())
        return;
    m_ending = ending;
    m_reply->abort();
    wake();
}

void ReplyReader::throwIfEnded() const
{
    switch (m_ending) {
    case Ending::Stopped:
        throw CancellationError();
    case Ending::TimedOut:
        throw TransportError(TransportError::Kind::TimedOut,
                             QCoreApplication::translate("TransportError", "The request timed out."));
    case Ending::None:
        break;
    }
    // An unmarked reply is gone or aborted only because its client went away.
    if (!m_reply)
        throw CancellationError();
}

void ReplyReader::throwFailure() const
{
    throwIfEnded();
    if (m_reply->error() == QNetworkReply::OperationCanceledError)
        throw CancellationError();
    throw TransportError(TransportError::Kind::Failure, m_reply->errorString());
}

QCoro::Task<> ReplyReader::head()
{
    for (;;) {
        throwIfEnded();
        if (m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
            break;
        if (m_reply->isFinished()) {
            if (m_reply->error() != QNetworkReply::NoError)
                throwFailure();
            break; // an answer without an HTTP status
        }
        if (!m_idle->isActive())
            m_idle->start();
        co_await Wake{this};
    }
    m_idle->stop();
}

std::optional<qint64> ReplyReader::status() const
{
    const QVariant status = m_reply ? m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute) : QVariant();
    if (!status.isValid())
        return std::nullopt;
    return status.toLongLong();
}

std::optional<QByteArray> ReplyReader::header(const QByteArray &name) const
{
    if (!m_reply || !m_reply->hasRawHeader(name))
        return std::nullopt;
    return m_reply->rawHeader(name);
}

QCoro::Task<QByteArray> ReplyReader::nextPiece()
{
    for (;;) {
        throwIfEnded();
        if (m_reply->bytesAvailable() > 0) {
            m_idle->stop();
            co_return m_reply->read(m_pieceBytes);
        }
        if (m_reply->isFinished()) {
            m_idle->stop();
            if (m_reply->error() != QNetworkReply::NoError)
                throwFailure();
            co_return QByteArray();
        }
        if (!m_idle->isActive())
            m_idle->start();
        co_await Wake{this};
    }
}
