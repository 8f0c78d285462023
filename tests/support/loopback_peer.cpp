#include "loopback_peer.h"

#include <QProcess>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTest>
#include <QTimer>

namespace {

// The server side of TLS: one self-signed certificate for localhost, 127.0.0.1 and ::1 per test
// process, made with the openssl command-line tool, which writes the key and the certificate to its
// output.
const QSslConfiguration &serverConfiguration()
{
    static const QSslConfiguration made = [] {
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
                      {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days",
                       "2", "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1",
                       "-keyout", "/dev/stdout", "-out", "/dev/stdout"});
        if (!openssl.waitForFinished(30'000) || openssl.exitCode() != 0)
            qFatal("openssl could not make a test certificate: %s", openssl.readAllStandardError().constData());
        const QByteArray pem = openssl.readAllStandardOutput();
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificate(QSslCertificate(pem, QSsl::Pem));
        configuration.setPrivateKey(QSslKey(pem, QSsl::Ec));
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
        if (configuration.localCertificate().isNull() || configuration.privateKey().isNull())
            qFatal("the test certificate does not load");
        return configuration;
    }();
    return made;
}

} // namespace

struct LoopbackPeer::Connection {
    QTcpSocket *socket = nullptr;
    QByteArray buffer;
    bool answering = false; // an answer is being written; later requests wait in the buffer
    bool finished = false;  // the peer closed it or went silent: nothing more is read
};

LoopbackPeer::LoopbackPeer(Mode mode, QObject *parent) : QObject(parent), m_mode(mode)
{
    // A TLS connection is handed over once its handshake is done.
    if (mode == Tls) {
        auto *server = new QSslServer;
        server->setSslConfiguration(serverConfiguration());
        m_server.reset(server);
    } else {
        m_server = std::make_unique<QTcpServer>();
    }
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection())
            accept(socket);
    });
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        qFatal("the loopback peer cannot listen: %s", qPrintable(m_server->errorString()));
}

LoopbackPeer::~LoopbackPeer()
{
    m_server->close();
    for (auto &connection : m_connections) {
        QObject::disconnect(connection->socket, nullptr, this, nullptr);
        connection->socket->abort();
        delete connection->socket;
    }
}

void LoopbackPeer::trustInThisProcess()
{
    const QSslCertificate certificate = serverConfiguration().localCertificate();
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    if (configuration.caCertificates().contains(certificate))
        return;
    configuration.addCaCertificate(certificate);
    QSslConfiguration::setDefaultConfiguration(configuration);
}

// A route for the same method and path replaces the earlier one in its place.
void LoopbackPeer::route(QByteArray method, QByteArray path, PeerAnswer answer)
{
    for (Route &r : m_routes)
        if (r.method == method && r.path == path)
            return void(r.answer = std::move(answer));
    m_routes.append({std::move(method), std::move(path), std::move(answer)});
}

void LoopbackPeer::reset()
{
    m_routes.clear();
    m_queue.clear();
    m_handler = nullptr;
    m_requests.clear();
}

bool LoopbackPeer::waitForAllClosed(std::chrono::milliseconds timeout)
{
    const auto closed = [](const auto &connection) { return connection->socket->state() == QAbstractSocket::UnconnectedState; };
    return QTest::qWaitFor([&] { return std::all_of(m_connections.begin(), m_connections.end(), closed); }, int(timeout.count()));
}

void LoopbackPeer::accept(QTcpSocket *socket)
{
    socket->setParent(this);
    Connection *c = m_connections.emplace_back(new Connection{socket}).get();
    connect(socket, &QTcpSocket::readyRead, this, [this, c] { readFrom(c); });
    QMetaObject::invokeMethod(this, [this, c] { readFrom(c); }, Qt::QueuedConnection); // what came before
}

void LoopbackPeer::readFrom(Connection *connection)
{
    connection->buffer += connection->socket->readAll();
    while (!connection->answering && !connection->finished) {
        const qsizetype headEnd = connection->buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        RecordedRequest request;
        const QList<QByteArray> lines = connection->buffer.left(headEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        request.method = requestLine.value(0);
        request.target = requestLine.value(1);
        for (const QByteArray &line : lines.mid(1))
            if (const qsizetype colon = line.indexOf(':'); colon > 0)
                request.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
        const qint64 length = request.header("content-length").value_or("0").toLongLong();
        if (connection->buffer.size() < headEnd + 4 + length)
            return;
        request.body = connection->buffer.mid(headEnd + 4, length);
        connection->buffer.remove(0, headEnd + 4 + length);
        m_requests.append(request);
        emit requestReceived(request);
        send(connection, answerFor(request));
    }
}

PeerAnswer LoopbackPeer::answerFor(const RecordedRequest &request)
{
    for (const Route &r : m_routes)
        if ((r.method.isEmpty() || r.method == request.method) && r.path == request.path())
            return r.answer;
    if (!m_queue.isEmpty())
        return m_queue.takeFirst();
    if (m_handler)
        return m_handler(request);
    return PeerAnswer(404).withBody("no answer scripted");
}

void LoopbackPeer::send(Connection *connection, const PeerAnswer &answer)
{
    if (answer.silent) {
        connection->finished = true;
        return;
    }
    const QByteArray body = answer.dropAfter ? answer.body.left(*answer.dropAfter) : answer.body;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + " Status\r\n";
    if (answer.contentLength && RecordedRequest{.headers = answer.headers}.headerValues("content-length").isEmpty())
        head += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
    for (const auto &[name, value] : answer.headers)
        head += name + ": " + value + "\r\n";
    QList<Step> steps{{answer.delay, head + "\r\n"}};
    const qsizetype piece = answer.chunkBytes > 0 ? answer.chunkBytes : std::max<qsizetype>(body.size(), 1);
    for (qsizetype at = 0; at < body.size(); at += piece)
        steps.append({answer.pause, body.mid(at, piece)});
    connection->answering = true;
    runSteps(connection, std::move(steps), answer.dropAfter || !answer.contentLength);
}

// Writes the steps in order, each after its delay, then ends the answer.
void LoopbackPeer::runSteps(Connection *connection, QList<Step> steps, bool close)
{
    QTcpSocket *socket = connection->socket;
    for (qsizetype next = 0; next < steps.size(); ++next) {
        if (socket->state() != QAbstractSocket::ConnectedState)
            return;
        if (const auto delay = std::exchange(steps[next].first, std::chrono::milliseconds(0)); delay.count() > 0) {
            QTimer::singleShot(delay, Qt::PreciseTimer, this,
                               [this, connection, rest = steps.mid(next), close] { runSteps(connection, rest, close); });
            return;
        }
        socket->write(steps[next].second);
    }
    connection->answering = false;
    if (close) {
        connection->finished = true;
        socket->disconnectFromHost();
        return;
    }
    if (!connection->buffer.isEmpty())
        QMetaObject::invokeMethod(this, [this, connection] { readFrom(connection); }, Qt::QueuedConnection);
}
