#pragma once

#include <QObject>
#include <QString>

#include <optional>

class QLocalServer;

// One running copy of the app per user session. On the session bus the first start owns the
// application id as a service name and offers org.freedesktop.Application's Activate; a later start
// calls it and exits. Without a session bus the first start listens on a local socket in the user's
// runtime folder ($XDG_RUNTIME_DIR) instead. Another user, another session bus or (without a bus)
// another runtime folder has its own instance and never sees this one.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // name: the application id, as the service name and the socket's file name.
    explicit SingleInstance(const QString &name, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this process is now the running copy; false when a running copy took the request
    // to show itself, and this process should end. A socket left by a copy that crashed is taken
    // over; two copies starting together settle on one.
    bool claim();

    // The socket's path, used where there is no session bus.
    QString serverPath() const { return m_path; }

signals:
    // A later start asked for the window.
    void activationRequested();

private:
    // Over the session bus: nullopt when there is no bus to use.
    std::optional<bool> claimOnSessionBus();
    bool claimSocket();
    bool forwardToRunningCopy();

    QString m_name;
    QString m_path;
    QLocalServer *m_server = nullptr;
    bool m_claimed = false;
};
