#pragma once

// A scripted HTTP/1.1 server on 127.0.0.1 for tests: the test chooses every answer, and every
// request is recorded as it arrived. It serves on the calling thread's event loop, so a test must
// wait on a client (runTask, QTest::qWaitFor, QSignalSpy::wait) for it to answer.
//
//   LoopbackPeer peer;                                    // LoopbackPeer(LoopbackPeer::Tls) for https
//   peer.route("GET", "/api/native/session", PeerAnswer::json(200, R"({"ok":true})"));
//   peer.enqueue(PeerAnswer(303).header("Location", "/elsewhere"));
//   QCOMPARE(peer.requests().at(0).header("origin"), peer.origin().toUtf8());
//
// The answer to a request, first match wins: a route with its method (empty: any) and its path
// (without the query), every time; else the oldest queued answer, once; else the handler; else 404.
// Connections stay open between requests unless the answer ends them (no Content-Length, a drop,
// raw bytes).

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

using HeaderList = QList<std::pair<QByteArray, QByteArray>>;

struct RecordedRequest {
    QByteArray method;
    QByteArray target;   // path and query as sent ("/api/x?a=1")
    HeaderList headers;  // in order, values trimmed
    QByteArray body;     // Content-Length bytes
    int connection = 0;  // 1-based number of the TCP connection that carried it

    QByteArray path() const { return target.left(target.indexOf('?') < 0 ? target.size() : target.indexOf('?')); }
    QByteArray query() const { return target.indexOf('?') < 0 ? QByteArray() : target.mid(target.indexOf('?') + 1); }
    // Every value of the header with this name (case-insensitive), in order.
    QList<QByteArray> headerValues(const QByteArray &name) const;
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
    HeaderList headers;                  // sent in order, after Content-Length
    QByteArray body;
    bool contentLength = true;           // send Content-Length unless headers has one; without it the
                                         // body ends when the peer closes
    qsizetype chunkBytes = 0;            // > 0: write the body in pieces of this size
    std::chrono::milliseconds pause{0};  // before every piece, the first included
    std::chrono::milliseconds delay{0};  // before the status line (or the raw bytes)
    std::optional<qsizetype> dropAfter;  // close after this many body bytes
    bool silent = false;                 // never answer; the connection stays open
    std::optional<QByteArray> raw;       // these bytes instead of an HTTP answer, then close

    PeerAnswer() = default;
    explicit PeerAnswer(int status) : status(status) {}

    static PeerAnswer json(int status, QByteArray body)
    {
        return PeerAnswer(status).header("Content-Type", "application/json").withBody(std::move(body));
    }
    static PeerAnswer never()
    {
        PeerAnswer answer;
        answer.silent = true;
        return answer;
    }
    static PeerAnswer rawBytes(QByteArray bytes)
    {
        PeerAnswer answer;
        answer.raw = std::move(bytes);
        return answer;
    }

    PeerAnswer &header(QByteArray name, QByteArray value)
    {
        headers.append({std::move(name), std::move(value)});
        return *this;
    }
    PeerAnswer &withBody(QByteArray bytes)
    {
        body = std::move(bytes);
        return *this;
    }
    PeerAnswer &inChunks(qsizetype bytes, std::chrono::milliseconds pauseBefore)
    {
        chunkBytes = bytes;
        pause = pauseBefore;
        return *this;
    }
    PeerAnswer &dropAfterBytes(qsizetype bytes)
    {
        dropAfter = bytes;
        return *this;
    }
    PeerAnswer &withoutContentLength()
    {
        contentLength = false;
        return *this;
    }
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
    static QSslCertificate certificate();

    quint16 port() const { return m_server->serverPort(); }
    QString origin(const QString &host = QStringLiteral("127.0.0.1")) const; // "http(s)://host:port"

    void route(QByteArray method, QByteArray path, PeerAnswer answer);
    void enqueue(PeerAnswer answer) { m_queue.push_back(std::move(answer)); }
    void setHandler(Handler handler) { m_handler = std::move(handler); }
    // Forgets routes, queue, handler and recorded requests; open connections stay.
    void reset();

    const QList<RecordedRequest> &requests() const { return m_requests; }
    bool waitForRequests(int count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    int connectionsAccepted() const { return m_accepted; }
    // Waits until every accepted connection is closed: the client let go of its transfers.
    bool waitForAllClosed(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    qint64 bodyBytesWritten() const { return m_bodyBytesWritten; }

signals:
    void requestReceived(const RecordedRequest &request);

private:
    struct Connection;
    struct SendPlan;
    void accept(QTcpSocket *socket);
    void readFrom(Connection *connection);
    PeerAnswer answerFor(const RecordedRequest &request);
    void send(Connection *connection, PeerAnswer answer);
    void runSteps(Connection *connection, std::shared_ptr<SendPlan> plan);

    Mode m_mode;
    std::unique_ptr<QTcpServer> m_server;
    struct Route {
        QByteArray method, path;
        PeerAnswer answer;
    };
    QList<Route> m_routes;
    std::deque<PeerAnswer> m_queue;
    Handler m_handler;
    QList<RecordedRequest> m_requests;
    std::vector<std::unique_ptr<Connection>> m_connections;
    int m_accepted = 0;
    qint64 m_bodyBytesWritten = 0;
};
