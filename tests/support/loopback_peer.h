#pragma once

// A scripted HTTP/1.1 server on 127.0.0.1 for tests: every answer is chosen by the test, every
// request is recorded exactly as it arrived. It runs on the calling thread's event loop, so a test
// that awaits a client (QCoro, QTest::qWaitFor, QSignalSpy::wait) lets it serve.
//
//   LoopbackPeer peer;                                    // plain http; LoopbackPeer(Tls) for https
//   peer.route("GET", "/api/native/session", PeerAnswer::json(200, R"({"ok":true})"));
//   peer.enqueue(PeerAnswer(303).header("Location", "/elsewhere"));
//   NativeHTTP http(NativeHTTP::origin(peer.origin()), std::nullopt);
//   ... run the client ...
//   QCOMPARE(peer.requests().at(0).header("origin"), peer.origin().toUtf8());
//
// Choosing the answer for a request, first match wins:
//   1. a route whose method and path match (path without the query, compared exactly;
//      an empty method matches any method); a route answers every matching request;
//   2. the oldest answer left in the queue (enqueue), used once;
//   3. the handler (setHandler), called with the recorded request;
//   4. otherwise 404 with the body "no answer scripted".
//
// Connections are kept alive between requests, as HTTP/1.1 allows, unless the answer ends the
// connection (no Content-Length, `closeAfter`, a drop, or raw bytes).
//
// Drive the client from synchronous test code with runTask()/taskFailure() (run_task.h).

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
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

// One request as it arrived on the socket.
struct RecordedRequest {
    QByteArray method;
    QByteArray target;   // path and query exactly as sent ("/api/x?a=1")
    QByteArray version;  // "HTTP/1.1"
    HeaderList headers;  // every header line in order, name and value as sent (value trimmed)
    QByteArray body;     // as many bytes as Content-Length announced (none without it)
    QByteArray head;     // the raw request line and header lines, up to and including the blank line
    int connection = 0;  // 1-based number of the TCP connection that carried it

    QByteArray path() const;  // target without the query
    QByteArray query() const; // after "?", empty when none
    // Values of every header with this name, compared case-insensitively, in order.
    QList<QByteArray> headerValues(const QByteArray &name) const;
    // The first value, or nothing.
    std::optional<QByteArray> header(const QByteArray &name) const;
    bool hasHeader(const QByteArray &name) const { return header(name).has_value(); }
};

// What the peer sends back for one request. Builder methods return *this so answers read in one line:
//   PeerAnswer(200).header("Set-Cookie", "a=b").withBody("{}").inChunks(1, 20ms)
struct PeerAnswer {
    int status = 200;
    QByteArray reason;                 // empty: "Status" (clients ignore the phrase)
    HeaderList headers;                // sent in this order, after any Content-Length
    QByteArray body;
    bool contentLength = true;         // send "Content-Length: <body size>" unless headers has one;
                                       // without it the body ends when the peer closes
    qsizetype chunkBytes = 0;          // > 0: write the body in pieces of this many bytes
    std::chrono::milliseconds pause{0}; // wait before every body piece (the first one included)
    std::chrono::milliseconds delay{0}; // wait before the status line (or the raw bytes)
    std::optional<qsizetype> dropAfter; // close the connection after this many body bytes
    bool closeAfter = false;           // close the connection once the answer is written
    bool silent = false;               // never answer; the connection stays open until the client leaves
    std::optional<QByteArray> raw;     // write exactly these bytes instead of status, headers and
                                       // body (pieces and pauses still apply), then close

    PeerAnswer() = default;
    explicit PeerAnswer(int status) : status(status) {}

    static PeerAnswer json(int status, QByteArray body);     // with Content-Type: application/json
    static PeerAnswer never();                                // silent
    static PeerAnswer rawBytes(QByteArray bytes);             // raw

    PeerAnswer &header(QByteArray name, QByteArray value);
    PeerAnswer &withBody(QByteArray bytes);
    PeerAnswer &inChunks(qsizetype bytes, std::chrono::milliseconds pauseBefore);
    PeerAnswer &dropAfterBytes(qsizetype bytes);
    PeerAnswer &withoutContentLength();
};

class LoopbackPeer : public QObject {
    Q_OBJECT
public:
    enum Mode { Plain, Tls };
    using Handler = std::function<PeerAnswer(const RecordedRequest &)>;

    // Listens on 127.0.0.1 with a port chosen by the system. Tls uses a self-signed certificate for
    // "localhost", "127.0.0.1" and "::1", generated once per test process; call trustInThisProcess()
    // before the first TLS request, or the client rightly refuses the certificate.
    explicit LoopbackPeer(Mode mode = Plain, QObject *parent = nullptr);
    ~LoopbackPeer() override;

    // Adds the generated certificate to this process's default TLS configuration as a trusted
    // authority. Affects this test process only.
    static void trustInThisProcess();
    static QSslCertificate certificate();

    quint16 port() const;
    // "http://127.0.0.1:<port>" or "https://127.0.0.1:<port>"; host may be "localhost" instead.
    QString origin(const QString &host = QStringLiteral("127.0.0.1")) const;

    void route(QByteArray method, QByteArray path, PeerAnswer answer);
    void enqueue(PeerAnswer answer);
    void setHandler(Handler handler);
    // Drops every route, queued answer, handler and recorded request (open connections stay).
    void reset();

    const QList<RecordedRequest> &requests() const { return m_requests; }
    // Runs the event loop until `count` requests were recorded in total, or the time is up.
    bool waitForRequests(int count, std::chrono::milliseconds timeout = std::chrono::seconds(5));

    int connectionsAccepted() const { return m_accepted; }
    int connectionsOpen() const;
    // Runs the event loop until no accepted connection is open, or the time is up. Shows that the
    // client let go of a transfer (aborted, finished or dropped it).
    bool waitForAllClosed(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Body bytes this peer actually wrote to sockets, over all answers.
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
