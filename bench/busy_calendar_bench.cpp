// A busy team's month: the app signed in against the development server holding N extra events in
// the viewed month (--seed-events N), against a bare QWidget window of the same size. Each variant is
// launched as a child process of this one, alternating, and the medians are compared (a warm-up
// launch of each comes first; the server then answers the app's unchanged range from its last
// answer, as it does for any client reloading an unchanged month):
//   window mapped   launch to the first painted window
//   events painted  launch to the last repaint once the month has loaded (nothing painted for a
//                   second afterwards: the window has settled)
//   peak memory     VmHWM when settled
//   longest stall   the longest the main thread did not come back to its event loop, measured by a
//                   1 ms precise timer from the start of the load, or the first paint if later
//                   (the bare window: from its first paint), until settled
// Usage: busy_calendar_bench [--launches K] [N …]   (default: 7 launches of 0 100 1000 10000)
// Runs on the display it is given (xvfb-run for a real X server), offscreen when there is none.
#include "browser_approval.h"
#include "calendar_app.h"
#include "calendar_model.h"
#include "clock.h"
#include "memory_secret_store.h"
#include "native_connection.h"
#include "preferences.h"
#include "process_memory.h"

#include <QApplication>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>

namespace {

constexpr int defaultLaunches = 7;
constexpr qint64 quietMs = 1000;      // no paint for this long after loading: settled
constexpr qint64 giveUpMs = 120'000;  // a child that never settles reports nothing
constexpr QSize windowSize(1080, 800); // the app's default window

// CLOCK_MONOTONIC is one clock for every process of the machine: children measure from the
// parent's launch.
qint64 monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}


// In a child: watches paints and the main thread's gaps, and once settled prints
// "<mapped ms> <settled ms> <peak KiB> <longest stall ms> <events>" and quits.
class Probe : public QObject {
public:
    Probe(qint64 launchNs, std::function<bool()> loaded, std::function<qsizetype()> events)
        : m_launchNs(launchNs), m_loaded(std::move(loaded)), m_events(std::move(events))
    {
        qApp->installEventFilter(this);
        m_tick.setTimerType(Qt::PreciseTimer);
        m_tick.setInterval(1);
        connect(&m_tick, &QTimer::timeout, this, [this] { tick(); });
        m_tick.start();
    }

    // Gaps between ticks count as stalls from the first tick after both this call and the first
    // paint (which "window mapped" already measures).
    void startRecording() { m_armed = true; }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            m_lastPaintNs = monotonicNs();
            if (!m_firstPaintNs)
                m_firstPaintNs = m_lastPaintNs;
        }
        return false;
    }

private:
    void tick()
    {
        const qint64 now = monotonicNs();
        if (m_recording)
            m_longestGapNs = std::max(m_longestGapNs, now - m_lastTickNs);
        else
            m_recording = m_armed && m_firstPaintNs;
        m_lastTickNs = now;
        const double sinceLaunch = (now - m_launchNs) / 1e6;
        if (m_done || sinceLaunch > giveUpMs) {
            if (!m_done)
                QCoreApplication::exit(1);
            return;
        }
        if (!m_firstPaintNs || !m_loaded() || (now - m_lastPaintNs) / 1'000'000 < quietMs)
            return;
        m_done = true;
        std::printf("%.1f %.1f %lld %.1f %lld\n", (*m_firstPaintNs - m_launchNs) / 1e6, (m_lastPaintNs - m_launchNs) / 1e6,
                    static_cast<long long>(processStatusKiB("VmHWM")), m_longestGapNs / 1e6,
                    static_cast<long long>(m_events()));
        std::fflush(stdout);
        QCoreApplication::exit(0);
    }

    qint64 m_launchNs;
    std::function<bool()> m_loaded;
    std::function<qsizetype()> m_events;
    QTimer m_tick;
    std::optional<qint64> m_firstPaintNs;
    qint64 m_lastPaintNs = 0;
    qint64 m_lastTickNs = 0;
    qint64 m_longestGapNs = 0;
    bool m_armed = false;
    bool m_recording = false;
    bool m_done = false;
};

int runBare(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Calendar"));
    window.resize(windowSize);
    Probe probe(QByteArray(argv[2]).toLongLong(), [] { return true; }, [] { return qsizetype(0); });
    probe.startRecording();
    window.show();
    return application.exec();
}

// argv: app <launch ns> <server origin> <secret service> <secret account> <session, Base64>
int runApp(int argc, char *argv[])
{
    CalendarApp::describeApplication();
    QApplication application(argc, argv);
    QTemporaryDir folder;
    auto secrets = std::make_unique<MemorySecretStore>();
    secrets->items.insert({QString::fromUtf8(argv[4]), QString::fromUtf8(argv[5])}, QByteArray::fromBase64(argv[6]));
    CalendarApp app({.preferences = std::make_unique<Preferences>(std::make_unique<QSettings>(
                         folder.filePath(QStringLiteral("prefs.ini")), QSettings::IniFormat)),
                     .secrets = std::move(secrets),
                     .defaultServer = QString::fromUtf8(argv[3])});
    bool started = false, loaded = false;
    Probe probe(QByteArray(argv[2]).toLongLong(), [&] { return loaded; }, [&] { return app.model().events().size(); });
    QObject::connect(&app.model(), &CalendarModel::loadingChanged, &probe, [&] {
        if (app.model().loading()) {
            started = true;
            probe.startRecording();
        } else if (started && !app.model().events().isEmpty()) {
            loaded = true;
        }
    });
    app.show();
    return application.exec();
}

struct Launch {
    double mappedMs = 0, settledMs = 0, stallMs = 0;
    qint64 peakKiB = 0, events = 0;
};

std::optional<Launch> launch(const QString &program, QStringList arguments)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    arguments.insert(1, QString::number(monotonicNs()));
    child.start(program, arguments);
    if (!child.waitForFinished(int(giveUpMs + 10'000)) || child.exitCode() != 0)
        return std::nullopt;
    const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
    if (fields.size() != 5)
        return std::nullopt;
    return Launch{fields[0].toDouble(), fields[1].toDouble(), fields[3].toDouble(), fields[2].toLongLong(),
                  fields[4].toLongLong()};
}

template <typename T>
T median(QList<T> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

// A development server with `seeded` extra events, and one signed-in session on it.
struct Server {
    QProcess process;
    QString origin;
    MemorySecretStore::Key key;
    QByteArray session;
};

bool startSignedIn(Server &server, int seeded)
{
    server.process.start(QStringLiteral(TEODAL_DEVSERVER),
                         {"--port", "0", "--database", ":memory:", "--seed-events", QString::number(seeded)});
    if (!server.process.waitForStarted() || !server.process.waitForReadyRead(60'000))
        return false;
    server.origin = QString::fromUtf8(server.process.readLine()).trimmed();
    QTemporaryDir folder;
    Preferences preferences(std::make_unique<QSettings>(folder.filePath(QStringLiteral("prefs.ini")), QSettings::IniFormat));
    MemorySecretStore secrets;
    SystemClock clock;
    // The app's own identifier, so the stored item is the one the app looks for.
    NativeConnection connection(server.origin, {preferences, secrets, clock, {}, QStringLiteral(TEODAL_APPLICATION_ID)});
    connection.signIn([](QUrl page) { return approveInBrowser(page); });
    if (!QTest::qWaitFor([&] { return connection.client() != nullptr; }, 30'000) || secrets.items.size() != 1)
        return false;
    server.key = secrets.items.begin().key();
    server.session = secrets.items.begin().value();
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "bare") == 0)
        return runBare(argc, argv);
    if (argc == 7 && qstrcmp(argv[1], "app") == 0)
        return runApp(argc, argv);

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The server seeds the month around today in Madrid; the app shows it in the same zone.
    qputenv("TZ", "Europe/Madrid");
    QApplication application(argc, argv);
    int launches = defaultLaunches;
    QList<int> sizes;
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--launches") == 0 && i + 1 < argc)
            launches = std::max(1, QByteArray(argv[++i]).toInt());
        else
            sizes << QByteArray(argv[i]).toInt();
    }
    if (sizes.isEmpty())
        sizes = {0, 100, 1000, 10'000};

    const QString self = QString::fromLocal8Bit(argv[0]);
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("xcb"));
    std::printf("platform %s, median of %d launches each, alternating with a bare %dx%d QWidget window\n",
                qPrintable(platform), launches, windowSize.width(), windowSize.height());
    std::printf("%-8s %7s | %-24s | %-24s | %-24s | %-15s\n", "seeded", "listed", "window mapped (ms, x)",
                "events painted (ms, x)", "peak memory (MiB, x)", "longest stall ms");
    for (const int seeded : sizes) {
        Server server;
        if (!startSignedIn(server, seeded)) {
            std::fprintf(stderr, "the development server with %d events did not start or sign in\n", seeded);
            return 1;
        }
        const QStringList bareArguments{QStringLiteral("bare")};
        const QStringList appArguments{QStringLiteral("app"), server.origin, server.key.first, server.key.second,
                                       QString::fromLatin1(server.session.toBase64())};
        launch(self, bareArguments); // warm the file cache and the server
        launch(self, appArguments);
        QList<Launch> bare, app;
        for (int i = 0; i < launches; ++i) {
            const auto b = launch(self, bareArguments);
            const auto a = launch(self, appArguments);
            if (!b || !a) {
                std::fprintf(stderr, "a launch with %d events did not settle\n", seeded);
                return 1;
            }
            bare << *b;
            app << *a;
        }
        const auto of = [](const QList<Launch> &runs, auto field) {
            QList<double> values;
            for (const Launch &run : runs)
                values << double(run.*field);
            return median(values);
        };
        const double bareMapped = of(bare, &Launch::mappedMs), appMapped = of(app, &Launch::mappedMs);
        const double bareSettled = of(bare, &Launch::settledMs), appSettled = of(app, &Launch::settledMs);
        const double bareMiB = of(bare, &Launch::peakKiB) / 1024, appMiB = of(app, &Launch::peakKiB) / 1024;
        std::printf("%-8d %7.0f | %7.0f / %7.0f %6.2fx | %7.0f / %7.0f %6.2fx | %7.1f / %7.1f %6.2fx | %5.1f / %6.1f\n",
                    seeded, of(app, &Launch::events), bareMapped, appMapped, appMapped / bareMapped, bareSettled,
                    appSettled, appSettled / bareSettled, bareMiB, appMiB, appMiB / bareMiB, of(bare, &Launch::stallMs),
                    of(app, &Launch::stallMs));
        std::fflush(stdout);
        server.process.terminate();
        server.process.waitForFinished(5000);
    }
    std::printf("(bare / app, then app / bare; the stall column is bare / app)\n");
    return 0;
}
