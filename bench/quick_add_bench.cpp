// Quick add's latency: from the last keystroke of a sentence to its preview painted, against the
// development server on loopback, next to the typing pause alone (a precise 0.35 s timer measured
// in the same run). The difference is what the parse costs the user beyond the pause.
#include "browser_approval.h"
#include "calendar_model.h"
#include "clock.h"
#include "memory_secret_store.h"
#include "native_connection.h"
#include "preferences.h"
#include "quick_add_view.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int rounds = 9;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Notes when a widget is painted.
class PaintWatch : public QObject {
public:
    bool painted = false;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QProcess server;
    server.start(QStringLiteral(TEODAL_DEVSERVER), {"--port", "0", "--database", ":memory:"});
    if (!server.waitForStarted() || !server.waitForReadyRead(10000)) {
        std::fprintf(stderr, "the development server did not start\n");
        return 1;
    }
    const QString origin = QString::fromUtf8(server.readLine()).trimmed();

    QTemporaryDir folder;
    Preferences preferences(std::make_unique<QSettings>(folder.filePath("prefs.ini"), QSettings::IniFormat));
    MemorySecretStore secrets;
    SystemClock clock;
    NativeConnection connection(origin, {preferences, secrets, clock, {}, QStringLiteral("bench")});
    connection.signIn([](QUrl page) { return approveInBrowser(page); });
    if (!QTest::qWaitFor([&] { return connection.client() != nullptr; }, 20000)) {
        std::fprintf(stderr, "sign-in did not complete\n");
        return 1;
    }

    CalendarModel model(preferences, QStringLiteral("Europe/Madrid"), instantNow());
    QuickAddView view(model, connection.client());
    view.resize(440, 480);
    view.show();
    auto *field = view.findChild<QPlainTextEdit *>(QStringLiteral("quickAddText"));
    QWidget *preview = view.findChild<QWidget *>(QStringLiteral("quickAddPreview"));
    PaintWatch watch;
    preview->installEventFilter(&watch);

    std::vector<double> toPreview, pauseAlone;
    const QStringList sentences = {QStringLiteral("Lunch tomorrow at 1pm for an hour"),
                                   QStringLiteral("Team sync every Monday at 9:30")};
    for (int round = 0; round < rounds; ++round) {
        model.setQuickText(QString());
        QTest::qWait(50);
        const QString sentence = sentences.at(round % sentences.size());
        QTest::keyClicks(field, sentence.chopped(1));
        watch.painted = false;
        QElapsedTimer timer;
        timer.start();
        QTest::keyClick(field, sentence.back().toLatin1());
        if (!QTest::qWaitFor([&] { return view.preview() && watch.painted; }, 10000)) {
            std::fprintf(stderr, "no preview for \"%s\": %s\n", qPrintable(sentence), qPrintable(view.error()));
            return 1;
        }
        toPreview.push_back(timer.nsecsElapsed() / 1e6);

        bool fired = false;
        QElapsedTimer pause;
        pause.start();
        QTimer::singleShot(QuickAddView::typingPause, Qt::PreciseTimer, [&] { fired = true; });
        QTest::qWaitFor([&] { return fired; }, 5000);
        pauseAlone.push_back(pause.nsecsElapsed() / 1e6);
    }
    const double total = median(toPreview), baseline = median(pauseAlone);
    std::printf("last keystroke to painted preview: %.1f ms (median of %d)\n", total, rounds);
    std::printf("the typing pause alone:            %.1f ms\n", baseline);
    std::printf("ratio: %.3fx; beyond the pause: %.1f ms\n", total / baseline, total - baseline);

    server.terminate();
    server.waitForFinished(5000);
    return 0;
}
