// Loads 10,000 events from a loopback peer into CalendarModel, then asks dayEvents for the 42 cells
// of the month grid, as every repaint does. Baseline: one plain pass of occurs() over the events.

#include "calendar_model.h"
#include "loopback_peer.h"
#include "preferences.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int eventCount = 10'000;
constexpr int repaints = 50;
constexpr int rebuilds = 21;

QByteArray eventsJson(const GregorianCalendar &calendar, const QList<Instant> &grid)
{
    QRandomGenerator random(42);
    const qint64 first = secondsSinceEpoch(grid.constFirst());
    const qint64 span = secondsSinceEpoch(grid.constLast()) + 86400 - first;
    QByteArrayList items;
    for (int i = 0; i < eventCount; ++i) {
        CalendarEvent event;
        event.id = i + 1;
        event.calendar_id = random.bounded(1, 6);
        event.title = QStringLiteral("Event %1").arg(i);
        event.tz = calendar.zoneId();
        event.start = first + random.bounded(span) / 900 * 900;
        const int kind = random.bounded(100);
        event.end = event.start + (kind < 3 ? random.bounded(2, 5) * 86400 : random.bounded(1, 13) * 900);
        if (kind >= 90) {
            event.all_day = true;
            const Instant day = calendar.startOfDay(instantFromSeconds(event.start));
            event.day_start = dates::formatLocal(day, true, calendar.zoneId());
            event.day_end = dates::formatLocal(*calendar.addDays(day, random.bounded(1, 4)), true, calendar.zoneId());
        }
        event.start_local = dates::formatLocal(instantFromSeconds(event.start), event.all_day, calendar.zoneId());
        event.end_local = dates::formatLocal(instantFromSeconds(event.end), event.all_day, calendar.zoneId());
        items.append(encode(event));
    }
    return R"({"events":[)" + items.join(',') + "]}";
}

double milliseconds(qint64 nanoseconds) { return double(nanoseconds) / 1e6; }

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    Preferences preferences(std::make_unique<QSettings>(folder.filePath("prefs.ini"), QSettings::IniFormat));
    CalendarModel model(preferences, QStringLiteral("Europe/Madrid"), instantFromSeconds(1742040000));

    LoopbackPeer peer;
    peer.route("GET", "/api/native/session",
               PeerAnswer::json(200, R"({"week_start":1,"zone":"UTC","calendars":[],"default_calendar_id":1})"));
    const QByteArray body = eventsJson(model.calendar(), model.days());
    peer.route("GET", "/api/native/events", PeerAnswer::json(200, body));
    auto client = std::make_shared<const NativeHTTP>(NativeHTTP::origin(peer.origin()), std::nullopt);

    QElapsedTimer timer;
    timer.start();
    QCoro::Task<> loading = model.load(client);
    if (!QTest::qWaitFor([&] { return loading.isReady(); }, 60'000) || model.events().size() != eventCount) {
        std::fprintf(stderr, "load failed: %s\n", qPrintable(model.error()));
        return 1;
    }
    const qint64 loadTime = timer.nsecsElapsed();

    // The first repaint after a change of events, zone, week start or filter rebuilds the index;
    // a filter set and cleared again forces that, so the median of several such repaints is shown.
    const QList<Instant> cells = model.days();
    qsizetype shown = 0;
    QList<qint64> firstRepaints;
    for (int round = 0; round < rebuilds; ++round) {
        model.setSelectedCalendar(1);
        model.setSelectedCalendar(std::nullopt);
        timer.restart();
        for (const Instant cell : cells)
            shown += model.dayEvents(cell).size();
        firstRepaints.append(timer.nsecsElapsed());
    }
    std::sort(firstRepaints.begin(), firstRepaints.end());
    const qint64 firstRepaint = firstRepaints.at(rebuilds / 2);

    timer.restart();
    for (int round = 0; round < repaints; ++round) {
        for (const Instant cell : cells)
            shown += model.dayEvents(cell).size();
    }
    const qint64 repaint = timer.nsecsElapsed() / repaints;

    const GregorianCalendar calendar = model.calendar();
    QList<qint64> plainPasses;
    for (const Instant cell : cells) {
        timer.restart();
        for (const CalendarEvent &event : model.events())
            shown += event.occurs(cell, calendar) ? 1 : 0;
        plainPasses.append(timer.nsecsElapsed());
    }
    std::sort(plainPasses.begin(), plainPasses.end());
    const qint64 plainPass = plainPasses.at(plainPasses.size() / 2);

    // What dayEvents would cost per repaint without the index: a pass per cell plus the result lists.
    timer.restart();
    for (const Instant cell : cells) {
        QList<CalendarEvent> day;
        for (const CalendarEvent &event : model.events()) {
            if (event.occurs(cell, calendar))
                day.append(event);
        }
        shown += day.size();
    }
    const qint64 plainRepaint = timer.nsecsElapsed();

    std::printf("events: %d (%lld bytes of JSON), loaded in %.1f ms; %lld cell entries counted\n", eventCount,
                static_cast<long long>(body.size()), milliseconds(loadTime), static_cast<long long>(shown));
    std::printf("one plain pass of occurs() over all events (baseline, median of the 42 cells): %.3f ms\n", milliseconds(plainPass));
    std::printf("42 cells, first repaint after a change (builds the index), median of %d: %.3f ms = %.2f x baseline\n",
                rebuilds, milliseconds(firstRepaint), double(firstRepaint) / double(plainPass));
    std::printf("42 cells, later repaints (mean of %d): %.3f ms = %.3f x baseline\n", repaints, milliseconds(repaint),
                double(repaint) / double(plainPass));
    std::printf("42 cells by the plain definition (a pass and a result list per cell), every repaint: %.3f ms = %.2f x "
                "baseline\n",
                milliseconds(plainRepaint), double(plainRepaint) / double(plainPass));
    return 0;
}
