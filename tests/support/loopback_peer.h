#pragma once

// A scripted HTTP/1.1 server on 127.0.0.1 for tests, serving on the calling thread's event loop:
// the test chooses every answer, and every request is recorded as it arrived. The answer to a
// request, first match wins: a route with its method (empty: any) and its path (without the query),
// every time; else the oldest queued answer, once; else the handler; else 404. Connections stay
// open between requests unless the answer ends them (no Content-Length, a drop).

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

using HeaderList = QList<std::pair<QByteArray, QByteArray>>;

struct RecordedRequest {
    QByteArray method;
    QByteArray target;  // path and query as sent ("/api/x?a=1")
    HeaderList headers; // in order, values trimmed
    QByteArray body;    // Content-Length bytes

    QByteArray path() const { return target.left(target.indexOf('?') < 0 ? target.size() : target.indexOf('?')); }
    QByteArray query() const { return target.indexOf('?') < 0 ? QByteArray() : target.mid(target.indexOf('?') + 1); }
    // Every value of the header with this name (case-insensitive), in order.
    QList<QByteArray> headerValues(const QByteArray &name) const
    {
        QList<QByteArray> values;
        for (const auto &[n, v] : headers)
            if (n.compare(name, Qt::CaseInsensitive) == 0)
                values.append(v);
        return values;
    }
    std::optional<QByteArray> header(const QByteArray &name) const
    {
        const QList<QByteArray> values = headerValues(name);
        return values.isEmpty() ? std::nullopt : std::optional(values.first());
    }
    bool hasHeader(const QByteArray &name) const { return header(name).has_value(); }
};

// One answer; the builders chain: PeerAnswer(200).header("Set-Cookie", "a=b").withBody("{}").inChunks(1, 20ms)
struct PeerAnswer {
    int status = 200;
    HeaderList headers; // sent in order, after Content-Length
    QByteArray body;
    bool contentLength = true;          // send Content-Length unless headers has one; without it the
                                        // body ends when the peer closes
    qsizetype chunkBytes = 0;           // > 0: write the body in pieces of this size
    std::chrono::milliseconds pause{0}; // before every piece, the first included
    std::chrono::milliseconds delay{0}; // before the status line
    std::optional<qsizetype> dropAfter; // close after this many body bytes
    bool silent = false;                // never answer; the connection stays open

    PeerAnswer() = default;
    explicit PeerAnswer(int status) : status(status) {}

    static PeerAnswer json(int status, QByteArray body)
    {
        return PeerAnswer(status).header("Content-Type", "application/json").withBody(std::move(body));
    }
    static PeerAnswer never() { return PeerAnswer().with(&PeerAnswer::silent, true); }

    template <typename Field, typename Value>
    PeerAnswer &with(Field PeerAnswer::*field, Value value)
    {
        this->*field = std::move(value);
        return *this;
    }
    PeerAnswer &header(QByteArray name, QByteArray value)
    {
        headers.append({std::move(name), std::move(value)});
        return *this;
    }
    PeerAnswer &withBody(QByteArray bytes) { return with(&PeerAnswer::body, std::move(bytes)); }
    PeerAnswer &inChunks(qsizetype bytes, std::chrono::milliseconds pauseBefore)
    {
        return with(&PeerAnswer::chunkBytes, bytes).with(&PeerAnswer::pause, pauseBefore);
    }
    PeerAnswer &dropAfterBytes(qsizetype bytes) { return with(&PeerAnswer::dropAfter, std::optional(bytes)); }
    PeerAnswer &withoutContentLength() { return with(&PeerAnswer::contentLength, false); }
};

class LoopbackPeer : public QObject {
    Q_OBJECT
public:
    enum Mode { Plain, Tls };
    using Handler = std::function<PeerAnswer(const RecordedRequest &)>;

    // Tls serves a self-signed certificate for localhost, 127.0.0.1 and ::1, made once per process;
    // clients refuse it until trustInThisProcess() adds it to this process's trusted authorities.
    explicit LoopbackPeer(Mode mode = Plain, QObject *parent = nullptr);
    ~LoopbackPeer() override;
    static void trustInThisProcess();

    quint16 port() const { return m_server->serverPort(); }
    QString origin(const QString &host = QStringLiteral("127.0.0.1")) const // "http(s)://host:port"
    {
        return QStringLiteral("%1://%2:%3").arg(m_mode == Tls ? "https" : "http", host).arg(port());
    }

    void route(QByteArray method, QByteArray path, PeerAnswer answer);
    void enqueue(PeerAnswer answer) { m_queue.push_back(std::move(answer)); }
    void setHandler(Handler handler) { m_handler = std::move(handler); }
    // Forgets routes, queue, handler and recorded requests; open connections stay.
    void reset();

    const QList<RecordedRequest> &requests() const { return m_requests; }
    bool waitForRequests(int count, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        return QTest::qWaitFor([&] { return m_requests.size() >= count; }, int(timeout.count()));
    }
    int connectionsAccepted() const { return int(m_connections.size()); }
    // Waits until every accepted connection is closed: the client let go of its transfers.
    bool waitForAllClosed(std::chrono::milliseconds timeout = std::chrono::seconds(5));

signals:
    void requestReceived(const RecordedRequest &request);

private:
    struct Connection;
    using Step = std::pair<std::chrono::milliseconds, QByteArray>; // written after the delay
    void accept(QTcpSocket *socket);
    void readFrom(Connection *connection);
    PeerAnswer answerFor(const RecordedRequest &request);
    void send(Connection *connection, const PeerAnswer &answer);
    void runSteps(Connection *connection, QList<Step> steps, bool close);

    Mode m_mode;
    std::unique_ptr<QTcpServer> m_server;
    struct Route {
        QByteArray method, path;
        PeerAnswer answer;
    };
    QList<Route> m_routes;
    QList<PeerAnswer> m_queue;
    Handler m_handler;
    QList<RecordedRequest> m_requests;
    std::vector<std::unique_ptr<Connection>> m_connections;
};
