// Loads 10,000 events from a loopback peer into CalendarModel, then counts the events of the 42 cells
// of the month grid, as every repaint does. Baselines: for the load, the strict decode of the same
// answer alone; for the repaints, one plain pass of occurs() over the events. The heap the loaded
// events and their day index keep is shown per event, next to the size of their JSON.

#include "calendar_model.h"
#include "loopback_peer.h"
#include "preferences.h"
#include "process_memory.h"
#include "run_task.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

#include <malloc.h>

namespace {

constexpr int eventCount = 10'000;
constexpr int repaints = 50;
constexpr int rebuilds = 21;
constexpr int loads = 9;

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

qint64 median(QList<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

// Bytes of heap the program holds (glibc's count: small blocks and mapped large ones).
qint64 heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
}


void resetPeakResident()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

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

    // The first load fills an empty model: what the heap keeps afterwards, with the index that the
    // first repaint builds, is the events' cost. The peak counts what the load held on the way.
    const qint64 heapBefore = heapInUse();
    malloc_trim(0); // resident memory then counts only the heap in use
    resetPeakResident();
    const qint64 residentBefore = processStatusKiB("VmRSS") * 1024;
    runTask(model.load(client), std::chrono::seconds(60));
    if (model.events().size() != eventCount) {
        std::fprintf(stderr, "load failed: %s\n", qPrintable(model.error()));
        return 1;
    }
    const qint64 peakGrowth = processStatusKiB("VmHWM") * 1024 - residentBefore;
    const qint64 heapEvents = heapInUse() - heapBefore;
    model.dayEvents(model.date());
    const qint64 heapIndexed = heapInUse() - heapBefore;

    // Later loads of the same answer (the model keeps its events when they are equal), each
    // followed by the strict decode of that answer alone.
    QElapsedTimer timer;
    QList<qint64> loadTimes, decodeTimes;
    for (int round = 0; round < loads; ++round) {
        timer.start();
        runTask(model.load(client), std::chrono::seconds(60));
        loadTimes.append(timer.nsecsElapsed());
        timer.start();
        CalendarEvents decoded;
        if (!decode(body, decoded) || !model.error().isEmpty())
            return 1;
        decodeTimes.append(timer.nsecsElapsed());
    }
    const qint64 loadTime = median(loadTimes), decodeTime = median(decodeTimes);
    QList<qint64> transferTimes;
    for (int round = 0; round < loads; ++round) {
        timer.start();
        runTask(client->responseDetails(QStringLiteral("/api/native/events"), "GET", std::nullopt));
        transferTimes.append(timer.nsecsElapsed());
    }
    const qint64 transferTime = median(transferTimes);

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
            shown += model.dayEventCount(cell);
        firstRepaints.append(timer.nsecsElapsed());
    }
    std::sort(firstRepaints.begin(), firstRepaints.end());
    const qint64 firstRepaint = firstRepaints.at(rebuilds / 2);

    timer.restart();
    for (int round = 0; round < repaints; ++round) {
        for (const Instant cell : cells)
            shown += model.dayEventCount(cell);
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

    // What a repaint would cost without the index: a pass per cell plus the result lists.
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

    std::printf("events: %d (%lld bytes of JSON, %lld per event); %lld cell entries counted\n", eventCount,
                static_cast<long long>(body.size()), static_cast<long long>(body.size() / eventCount),
                static_cast<long long>(shown));
    std::printf("strict decode of the answer alone (baseline, median of %d): %.1f ms\n", loads,
                milliseconds(decodeTime));
    std::printf("load from the loopback peer, median of %d: %.1f ms = %.2f x baseline\n", loads,
                milliseconds(loadTime), double(loadTime) / double(decodeTime));
    std::printf("  of which the transfer alone: %.1f ms = %.2f x baseline\n", milliseconds(transferTime),
                double(transferTime) / double(decodeTime));
    std::printf("heap kept per event: %lld bytes loaded, %lld bytes with the day index; resident peak of the "
                "first load: %lld bytes per event\n",
                static_cast<long long>(heapEvents / eventCount), static_cast<long long>(heapIndexed / eventCount),
                static_cast<long long>(peakGrowth / eventCount));
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
