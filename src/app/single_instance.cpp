#include "single_instance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

namespace {

const QByteArray request = "show\n";
const QByteArray reply = "ok\n";
constexpr int waitMs = 2000;
// A copy still starting up answers once its event loop runs.
constexpr int replyWaitMs = 10000;

} // namespace

SingleInstance::SingleInstance(const QString &name, QObject *parent) : QObject(parent)
{
    // Qt's runtime location is $XDG_RUNTIME_DIR, or a private folder of the user's when it is unset.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    m_path = QDir(runtime).filePath(name + QStringLiteral(".instance"));
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::forwardToRunningCopy()
{
    QLocalSocket socket;
    socket.connectToServer(m_path);
    if (!socket.waitForConnected(waitMs))
        return false;
    socket.write(request);
    if (!socket.waitForBytesWritten(waitMs))
        return false;
    // The running copy answers once it has taken the request; one that stopped answering is gone.
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(replyWaitMs))
            return false;
    }
    return socket.readLine() == reply;
}

bool SingleInstance::claim()
{
    if (m_server)
        return true;
    // Held while deciding, so two copies starting together do not both take the socket; a lock left
    // by a crashed copy is noticed as stale by the process id it names.
    QLockFile lock(m_path + QStringLiteral(".lock"));
    lock.setStaleLockTime(0);
    if (!lock.tryLock(waitMs * 2))
        return !forwardToRunningCopy();
    if (forwardToRunningCopy())
        return false;

    auto *server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(m_path); // a socket file with nobody behind it, left by a crash
    if (!server->listen(m_path)) {
        // No socket to listen on (no runtime folder, say): run as a copy of its own.
        qWarning("Single instance: cannot listen on %s: %s", qPrintable(m_path), qPrintable(server->errorString()));
        delete server;
        return true;
    }
    m_server = server;
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine())
                    return;
                const bool show = socket->readLine() == request;
                if (show)
                    emit activationRequested();
                socket->write(show ? reply : QByteArray("?\n"));
                socket->disconnectFromServer();
            });
        }
    });
    return true;
}
