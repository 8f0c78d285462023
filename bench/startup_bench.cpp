// Start-up cost of the app: the time from launching the process to its first painted window, and
// the resident memory at that moment, for the app's first screen (signed out: the sign-in view)
// against a bare QWidget window of the same size launched the same way. Each variant is launched
// several times, alternating, and the medians are compared.
#include "calendar_app.h"

#include "clock.h"
#include "memory_secret_store.h"
#include "preferences.h"
#include "process_memory.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int launches = 7;


// Reports "<resident KiB>" once the first window has been painted, then quits.
class FirstPaint : public QObject {
public:
    FirstPaint() { qApp->installEventFilter(this); }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            QTimer::singleShot(0, [] {
                std::printf("%lld\n", static_cast<long long>(processStatusKiB("VmRSS")));
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return false;
    }

private:
    bool m_done = false;
};

int runBare(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Calendar"));
    window.resize(1080, 800);
    FirstPaint probe;
    window.show();
    return application.exec();
}

int runApp(int argc, char *argv[])
{
    CalendarApp::describeApplication();
    QApplication application(argc, argv);
    QTemporaryDir folder;
    CalendarApp::Services services;
    services.preferences = std::make_unique<Preferences>(
        std::make_unique<QSettings>(folder.filePath(QStringLiteral("prefs.ini")), QSettings::IniFormat));
    services.secrets = std::make_unique<MemorySecretStore>();
    CalendarApp app(std::move(services));
    FirstPaint probe;
    app.show();
    return application.exec();
}

struct Launch {
    double milliseconds;
    qint64 residentKiB;
};

Launch launch(const QString &program, const QString &mode)
{
    QProcess child;
    QElapsedTimer timer;
    timer.start();
    child.start(program, {mode});
    child.waitForFinished(30000);
    const double elapsed = timer.nsecsElapsed() / 1e6;
    return {elapsed, child.readAllStandardOutput().trimmed().toLongLong()};
}

template <typename T>
T median(QList<T> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "bare") == 0)
        return runBare(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "app") == 0)
        return runApp(argc, argv);

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QString self = QString::fromLocal8Bit(argv[0]);
    QList<double> bareTime, appTime;
    QList<qint64> bareMemory, appMemory;
    launch(self, QStringLiteral("bare")); // warm the file cache
    launch(self, QStringLiteral("app"));
    for (int i = 0; i < launches; ++i) {
        const Launch bare = launch(self, QStringLiteral("bare"));
        const Launch app = launch(self, QStringLiteral("app"));
        bareTime << bare.milliseconds;
        bareMemory << bare.residentKiB;
        appTime << app.milliseconds;
        appMemory << app.residentKiB;
    }
    const double bareMs = median(bareTime), appMs = median(appTime);
    const qint64 bareKiB = median(bareMemory), appKiB = median(appMemory);
    std::printf("platform %s, median of %d launches each, first screen signed out (sign-in view)\n",
                qgetenv("QT_QPA_PLATFORM").isEmpty() ? "default" : qgetenv("QT_QPA_PLATFORM").constData(), launches);
    std::printf("launch to first painted window: bare QWidget %.1f ms, app %.1f ms, ratio %.2f\n", bareMs, appMs,
                appMs / bareMs);
    std::printf("resident memory at first paint: bare QWidget %.1f MiB, app %.1f MiB, ratio %.2f\n",
                bareKiB / 1024.0, appKiB / 1024.0, double(appKiB) / double(bareKiB));
    return 0;
}
