#pragma once

#include "native_http.h"

#include <QByteArray>
#include <QObject>
#include <QUrl>

#include <functional>
#include <optional>

class Clock;
class Preferences;

// The one object that knows whether the app is signed in: holds the typed address, runs the
// browser sign-in flow, stores the session per origin and publishes the signed-in client.
class NativeConnection : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString serverAddress READ serverAddress WRITE setServerAddress NOTIFY serverAddressChanged)
    Q_PROPERTY(bool signedIn READ signedIn NOTIFY clientChanged)
    Q_PROPERTY(bool restoring READ restoring NOTIFY restoringChanged)
    Q_PROPERTY(bool signingIn READ signingIn NOTIFY signingInChanged)
    Q_PROPERTY(QString code READ code NOTIFY codeChanged)
    Q_PROPERTY(QUrl browserURL READ browserURL NOTIFY browserURLChanged)
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)
public:
    // Asks the platform to open the URL in the browser; yields whether it accepted.
    using OpenUrl = std::function<QCoro::Task<bool>(QUrl)>;
    // Fills the buffer with secure random bytes; false when the generator fails.
    using RandomBytes = std::function<bool(QByteArray &)>;

    struct Services {
        Preferences &preferences;
        SecretStore &secrets;
        Clock &clock;
        RandomBytes random;                  // defaults to QRandomGenerator::system()
        QString applicationId;               // names the secret store service
        NativeTimeouts timeouts = {};
    };

    NativeConnection(QString defaultServer, Services services, QObject *parent = nullptr);
    ~NativeConnection() override;

    QString serverAddress() const;
    void setServerAddress(const QString &address);
    NativeClient client() const;
    bool signedIn() const { return client() != nullptr; }
    // True while the stored session of the start-up origin is being read; views show neither the
    // sign-in view nor the calendar until it ends.
    bool restoring() const;
    bool signingIn() const;
    QString code() const;
    QUrl browserURL() const;
    QString error() const;

    void signIn(OpenUrl open);
    void cancel();
    void signOut();

signals:
    void serverAddressChanged();
    void clientChanged();
    void restoringChanged();
    void signingInChanged();
    void codeChanged();
    void browserURLChanged();
    void errorChanged();

private:
    struct State;
    std::unique_ptr<State> d;
};
