#include "server.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <pthread.h>

int main(int argc, char **argv)
{
    // SIGINT and SIGTERM are taken by sigwait below; every thread started from here inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("teodal-devserver"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Development calendar server for Teodal Calendar."));
    parser.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Port on 127.0.0.1 (0 picks a free one)."),
                                  QStringLiteral("port"), QStringLiteral("8731"));
    const QCommandLineOption database(QStringLiteral("database"),
                                      QStringLiteral("SQLite file, or :memory: for a throw-away database."),
                                      QStringLiteral("path"), QStringLiteral("teodal-devserver.sqlite"));
    const QCommandLineOption certificate(QStringLiteral("tls-cert"), QStringLiteral("PEM certificate for HTTPS."),
                                         QStringLiteral("file"));
    const QCommandLineOption key(QStringLiteral("tls-key"), QStringLiteral("PEM private key for HTTPS."),
                                 QStringLiteral("file"));
    const QCommandLineOption lifetime(QStringLiteral("session-lifetime"),
                                      QStringLiteral("Seconds a session lasts (default 30 days)."),
                                      QStringLiteral("seconds"), QStringLiteral("2592000"));
    parser.addOptions({port, database, certificate, key, lifetime});
    parser.process(app);

    ServerOptions options;
    bool portOk = false, lifetimeOk = false;
    options.port = parser.value(port).toInt(&portOk);
    options.sessionLifetimeSeconds = parser.value(lifetime).toLongLong(&lifetimeOk);
    options.database = parser.value(database);
    options.tlsCertificate = parser.value(certificate);
    options.tlsKey = parser.value(key);
    if (!portOk || options.port < 0 || options.port > 65535 || !lifetimeOk || options.sessionLifetimeSeconds < 1 ||
        options.tlsCertificate.isEmpty() != options.tlsKey.isEmpty()) {
        std::fprintf(stderr, "teodal-devserver: give a port 0-65535, a positive session lifetime, and both "
                             "--tls-cert and --tls-key or neither.\n");
        return 2;
    }

    try {
        DevServer server(options);
        server.start();
        std::printf("%s\n", server.origin().toUtf8().constData());
        std::fflush(stdout);
        int received = 0;
        sigwait(&stopSignals, &received);
        server.stop();
    } catch (const std::exception &error) {
        std::fprintf(stderr, "teodal-devserver: %s\n", error.what());
        return 1;
    }
    return 0;
}
