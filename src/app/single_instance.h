#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// One running copy of the app per user session. The first start listens on a local socket in the
// user's runtime folder ($XDG_RUNTIME_DIR); a later start asks that copy to show itself and exits.
// Another user, or another runtime folder, has its own socket and never sees this one.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // name: the socket's file name in the runtime folder (the application id).
    explicit SingleInstance(const QString &name, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this process is now the running copy; false when a running copy took the request
    // to show itself, and this process should end. A socket left by a copy that crashed is taken
    // over; two copies starting together settle on one.
    bool claim();

    // The socket's path.
    QString serverPath() const { return m_path; }

signals:
    // A later start asked for the window.
    void activationRequested();

private:
    bool forwardToRunningCopy();

    QString m_path;
    QLocalServer *m_server = nullptr;
};
