#pragma once

#include "instant.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>

struct ServerOptions {
    QString database = QStringLiteral(":memory:");
    QString host = QStringLiteral("127.0.0.1");
    int port = 8731; // 0 picks a free port
    QString tlsCertificate; // PEM files; both set means HTTPS
    QString tlsKey;
    qint64 sessionLifetimeSeconds = 30 * 24 * 3600;
    int seedEvents = 0; // generated events added to the current month's grid at start (see seedBusyMonth)
    std::chrono::milliseconds liveHeartbeat{15'000}; // the longest an event stream stays silent
    std::function<Instant()> now = instantNow;
};

// The development calendar server: sign-in, calendars, events and quick add over HTTP(S), stored in
// SQLite. start() serves on a thread of its own until stop() or destruction.
class DevServer {
public:
    explicit DevServer(ServerOptions options); // opens (and on first use seeds) the database
    ~DevServer();
    DevServer(const DevServer &) = delete;
    DevServer &operator=(const DevServer &) = delete;

    // Binds and starts serving; throws std::runtime_error when the port or the TLS files fail.
    void start();
    void stop();

    int port() const;
    bool tls() const;
    // "http://localhost:PORT" or "https://localhost:PORT": the address clients should use.
    QString origin() const;
    // "corvane_session" over plain HTTP, "__Host-corvane_session" over TLS.
    QString cookieName() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};
