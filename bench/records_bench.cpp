// Decoding a full events answer and placing its events on the 42 grid days, and the cost of one
// cached date format next to building the ICU formatter for every call.
#include "dates.h"
#include "records.h"
#include "thread_seconds.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <unicode/smpdtfmt.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>

namespace {

constexpr qsizetype maxResponseBytes = 4 * 1024 * 1024; // the transport's limit for every answer

// Best of `rounds` runs, in seconds of CPU time.
double best(int rounds, const std::function<void()> &run)
{
    double fastest = 1e9;
    for (int i = 0; i < rounds; ++i) {
        const double start = threadSeconds();
        run();
        fastest = std::min(fastest, threadSeconds() - start);
    }
    return fastest;
}

// About 10,000 events, a tenth all-day, filling the answer limit.
QByteArray eventsAnswer(const QString &zone)
{
    const qint64 march2025 = 1740787200;
    QByteArray text = "{\"events\":[";
    for (int i = 0;; ++i) {
        const bool allDay = i % 10 == 0;
        const qint64 start = march2025 + qint64(i) * 397 % (42 * 86400);
        const qint64 end = start + (allDay ? 86400 : 1800 + i % 7 * 900);
        CalendarEvent event;
        event.id = 100000 + i;
        event.calendar_id = i % 5;
        event.title = QStringLiteral("Event number %1").arg(i);
        event.location = QStringLiteral("Room %1").arg(i % 40);
        event.notes = QString(64, QLatin1Char('n'));
        event.all_day = allDay;
        event.tz = zone;
        event.start = start;
        event.end = end;
        event.start_local = dates::formatLocal(instantFromSeconds(start), allDay, zone);
        event.end_local = dates::formatLocal(instantFromSeconds(end), allDay, zone);
        event.day_start = allDay ? event.start_local : QString();
        event.day_end = allDay ? event.end_local : QString();
        event.recurring = i % 3 == 0;
        event.occurrence = event.recurring ? QString::number(start) : QString();
        event.calendar_name = QStringLiteral("Team");
        const QByteArray element = encode(event);
        if (text.size() + element.size() + 3 > maxResponseBytes)
            break;
        if (i > 0)
            text += ',';
        text += element;
    }
    return text + "]}";
}

} // namespace

int main()
{
    const QString zone = QStringLiteral("Europe/Madrid");
    QByteArray json = eventsAnswer(zone);
    const double mib = double(json.size()) / (1024 * 1024);

    volatile qsizetype sink = 0;
    const double parseOnly = best(5, [&] { sink = QJsonDocument::fromJson(json).object().size(); });
    CalendarEvents decoded;
    const double decodeAll = best(5, [&] {
        if (!decode(json, decoded))
            std::abort();
    });
    std::printf("answer: %.2f MiB, %lld events\n", mib, qlonglong(decoded.events.size()));
    std::printf("QJsonDocument::fromJson alone: %8.2f ms/MiB\n", parseOnly * 1000 / mib);
    std::printf("strict decode:                 %8.2f ms/MiB  (%.2fx fromJson)\n", decodeAll * 1000 / mib,
                decodeAll / parseOnly);

    const QList<Instant> days = calendarDates::days(zone, 1, instantFromSeconds(1742212800));
    const GregorianCalendar calendar = calendarDates::calendar(zone, 1);
    qsizetype hits = 0;
    const double placing = best(3, [&] {
        hits = 0;
        for (const Instant day : days) {
            for (const CalendarEvent &event : decoded.events)
                hits += event.occurs(day, calendar) ? 1 : 0;
        }
    });
    const double calls = double(days.size()) * double(decoded.events.size());
    std::printf("occurs for 42 days:            %8.2f ms  (%.0f ns/call, %lld hits)\n", placing * 1000,
                placing * 1e9 / calls, qlonglong(hits));
    // The same calls with the day changing on every call: each one then computes its day's bounds.
    const double placingByEvent = best(3, [&] {
        for (const CalendarEvent &event : decoded.events) {
            for (const Instant day : days)
                sink = event.occurs(day, calendar);
        }
    });
    std::printf("  the same, event by event:    %8.2f ms  (%.0f ns/call)\n", placingByEvent * 1000,
                placingByEvent * 1e9 / calls);

    constexpr int formatCalls = 20000;
    const Instant instant = instantFromSeconds(1743299999);
    const double format = best(3, [&] {
        for (int i = 0; i < formatCalls; ++i)
            sink = dates::formatLocal(instant + std::chrono::minutes(i), false, zone).size();
    });
    const double display = best(3, [&] {
        for (int i = 0; i < formatCalls; ++i)
            sink = dates::formatTemplate(instant + std::chrono::minutes(i), QStringLiteral("jm"), zone).size();
    });
    const double parse = best(3, [&] {
        for (int i = 0; i < formatCalls; ++i)
            sink = dates::parseLocal(QStringLiteral("2025-03-30T10:00"), false, zone).has_value();
    });
    constexpr int uncachedCalls = 500;
    const double uncached = best(3, [&] {
        for (int i = 0; i < uncachedCalls; ++i) {
            UErrorCode status = U_ZERO_ERROR;
            icu::SimpleDateFormat formatter(icu::UnicodeString(u"yyyy-MM-dd'T'HH:mm"), icu::Locale("en_US_POSIX"),
                                            status);
            std::unique_ptr<icu::TimeZone> timeZone(icu::TimeZone::createTimeZone(u"Europe/Madrid"));
            formatter.setTimeZone(*timeZone);
            icu::UnicodeString text;
            sink = formatter.format(UDate(1743299999000.0 + i * 60000.0), text).length();
        }
    });
    const double formatEach = format * 1e6 / formatCalls, uncachedEach = uncached * 1e6 / uncachedCalls;
    std::printf("cached format:                 %8.2f µs/call  (building the formatter each time: %.2f µs, %.0fx)\n",
                formatEach, uncachedEach, uncachedEach / formatEach);
    std::printf("cached display (\"jm\"):         %8.2f µs/call\n", display * 1e6 / formatCalls);
    std::printf("cached parse:                  %8.2f µs/call\n", parse * 1e6 / formatCalls);
    Q_UNUSED(sink);
    return 0;
}
