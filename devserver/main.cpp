#include "server.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <pthread.h>

namespace {
// Ten times the busiest month the client is measured with; seeding takes about a second per 10,000.
constexpr int mostSeedEvents = 100'000;
} // namespace

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
    const QCommandLineOption seedEvents(
        QStringLiteral("seed-events"),
        QStringLiteral("Add N generated events to the 42 days shown around the current month, across the demo "
                       "calendars, at every start (with --database :memory: the count stays N; at most %1).")
            .arg(mostSeedEvents),
        QStringLiteral("N"), QStringLiteral("0"));
    parser.addOptions({port, database, certificate, key, lifetime, seedEvents});
    parser.process(app);

    ServerOptions options;
    bool portOk = false, lifetimeOk = false, seedOk = false;
    options.port = parser.value(port).toInt(&portOk);
    options.sessionLifetimeSeconds = parser.value(lifetime).toLongLong(&lifetimeOk);
    options.database = parser.value(database);
    options.tlsCertificate = parser.value(certificate);
    options.tlsKey = parser.value(key);
    options.seedEvents = parser.value(seedEvents).toInt(&seedOk);
    if (!portOk || options.port < 0 || options.port > 65535 || !lifetimeOk || options.sessionLifetimeSeconds < 1 ||
        options.tlsCertificate.isEmpty() != options.tlsKey.isEmpty() || !seedOk || options.seedEvents < 0 ||
        options.seedEvents > mostSeedEvents) {
        std::fprintf(stderr, "teodal-devserver: give a port 0-65535, a positive session lifetime, both --tls-cert "
                             "and --tls-key or neither, and 0-%d seeded events.\n", mostSeedEvents);
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
