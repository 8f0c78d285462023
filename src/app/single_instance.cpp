#include "single_instance.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
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

const QString applicationInterface = QStringLiteral("org.freedesktop.Application");

// The object path the desktop's convention derives from an application id: "/app/teodal/calendar".
QString objectPath(const QString &name)
{
    return u'/' + QString(name).replace(u'.', u'/').replace(u'-', u'_');
}

} // namespace

// The running copy's side of org.freedesktop.Application: Activate shows the window. Files and
// actions are not offered, so Open and ActivateAction are left out.
class ApplicationAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    explicit ApplicationAdaptor(SingleInstance *instance) : QDBusAbstractAdaptor(instance), m_instance(instance) {}

public slots:
    void Activate(const QVariantMap &platformData)
    {
        Q_UNUSED(platformData);
        emit m_instance->activationRequested();
    }

private:
    SingleInstance *m_instance;
};

SingleInstance::SingleInstance(const QString &name, QObject *parent) : QObject(parent), m_name(name)
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
    if (m_claimed)
        return true;
    const std::optional<bool> onBus = claimOnSessionBus();
    m_claimed = onBus.has_value() ? *onBus : claimSocket();
    return m_claimed;
}

std::optional<bool> SingleInstance::claimOnSessionBus()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return std::nullopt;
    // The object is there before the name, so a start that finds the name can always call it.
    auto *adaptor = new ApplicationAdaptor(this);
    if (!bus.registerObject(objectPath(m_name), this)) {
        delete adaptor;
        return std::nullopt;
    }
    // The bus gives the name to one caller only, so two copies starting together settle on one,
    // and it frees the name when its owner's connection ends, crashed or not.
    const auto registered =
        bus.interface()->registerService(m_name, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (registered.isValid() && registered.value() == QDBusConnectionInterface::ServiceRegistered)
        return true;
    bus.unregisterObject(objectPath(m_name));
    delete adaptor;
    QDBusMessage activate =
        QDBusMessage::createMethodCall(m_name, objectPath(m_name), applicationInterface, QStringLiteral("Activate"));
    activate << QVariantMap();
    // A copy still starting up answers once its event loop runs.
    const QDBusMessage answer = bus.call(activate, QDBus::Block, replyWaitMs);
    if (answer.type() == QDBusMessage::ReplyMessage)
        return false;
    qWarning("Single instance: the running copy did not answer: %s", qPrintable(answer.errorMessage()));
    return true;
}

bool SingleInstance::claimSocket()
{
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

#include "single_instance.moc"
