// Zones from the system's tz database against ICU's built-in ones: the first use of a zone (reading
// and building it), a later lookup of the cached zone, and the offset and calendar work that every
// date operation asks of a zone.
#include "system_zones.h"
#include "thread_seconds.h"

#include <unicode/gregocal.h>
#include <unicode/timezone.h>

#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

// Best of `rounds` runs, in seconds of CPU time; `prepare` runs before each, untimed.
double best(int rounds, const std::function<void()> &run, const std::function<void()> &prepare = [] {})
{
    double fastest = 1e9;
    for (int i = 0; i < rounds; ++i) {
        prepare();
        const double start = threadSeconds();
        run();
        fastest = std::min(fastest, threadSeconds() - start);
    }
    return fastest;
}

icu::UnicodeString icuText(const QString &text)
{
    return icu::UnicodeString(reinterpret_cast<const UChar *>(text.utf16()), int32_t(text.size()));
}

void print(const char *what, double ours, double icu, const char *unit, double scale)
{
    std::printf("%-28s %9.2f %s  (ICU's built-in zone: %.2f %s, ratio %.2f)\n", what, ours * scale, unit, icu * scale,
                unit, ours / icu);
}

} // namespace

int main()
{
    const QString directory = QStringLiteral("/usr/share/zoneinfo");
    const QStringList ids = {"Europe/Madrid", "America/New_York", "America/Mexico_City", "Australia/Sydney",
                             "Asia/Tokyo",    "Africa/Cairo",     "America/Sao_Paulo",   "Pacific/Apia"};
    std::unique_ptr<ZoneDatabase> database;
    if (!ZoneDatabase(directory).available()) {
        std::printf("No tz database in %s\n", qPrintable(directory));
        return 1;
    }
    volatile qint64 sink = 0;

    const double index = best(5, [&] { database = std::make_unique<ZoneDatabase>(directory); });
    std::printf("%-28s %9.2f ms  (%lld names)\n", "reading tzdata.zi", index * 1e3,
                qlonglong(database->zoneIds().size()));

    // First use: every zone built afresh by a new database, against ICU loading its own.
    const auto buildAll = [&] {
        for (const QString &id : ids)
            sink = sink + (database->zone(id) != nullptr);
    };
    const double build = best(10, buildAll, [&] { database = std::make_unique<ZoneDatabase>(directory); });
    const double icuBuild = best(10, [&] {
        for (const QString &id : ids)
            sink = sink + std::unique_ptr<icu::TimeZone>(icu::TimeZone::createTimeZone(icuText(id)))->getRawOffset();
    });
    print("first use of a zone", build / ids.size(), icuBuild / ids.size(), "µs", 1e6);

    // Later uses find the built zone; the old code built ICU's zone once per thread instead.
    constexpr int lookups = 100000;
    const double lookup = best(5, [&] {
        for (int i = 0; i < lookups; ++i)
            sink = sink + (database->zone(ids[i % ids.size()]) != nullptr);
    });
    print("cached lookup", lookup / lookups, icuBuild / ids.size(), "µs", 1e6);

    // What every calendar operation pays: the offset at an instant, and the fields of an instant.
    constexpr int instants = 200000;
    const auto instantAt = [](int i) { return UDate(qint64(i) * 9973 % 2147483647) * 1000.0; }; // 1970–2038
    const auto offsets = [&](const icu::TimeZone &zone) {
        return best(3, [&] {
            for (int i = 0; i < instants; ++i) {
                int32_t raw = 0, dst = 0;
                UErrorCode status = U_ZERO_ERROR;
                zone.getOffset(instantAt(i), false, raw, dst, status);
                sink = sink + raw + dst;
            }
        });
    };
    const auto fields = [&](const icu::TimeZone &zone) {
        UErrorCode status = U_ZERO_ERROR;
        icu::GregorianCalendar calendar(zone, status);
        return best(3, [&] {
            for (int i = 0; i < instants; ++i) {
                calendar.setTime(instantAt(i), status);
                sink = sink + calendar.get(UCAL_DATE, status);
            }
        });
    };
    double ours = 0, icu = 0, oursFields = 0, icuFields = 0;
    for (const QString &id : ids) {
        const std::unique_ptr<icu::TimeZone> builtIn(icu::TimeZone::createTimeZone(icuText(id)));
        ours += offsets(*database->zone(id));
        icu += offsets(*builtIn);
        oursFields += fields(*database->zone(id));
        icuFields += fields(*builtIn);
    }
    const double calls = double(instants) * double(ids.size());
    print("offset at an instant", ours / calls, icu / calls, "ns", 1e9);
    print("calendar fields of an instant", oursFields / calls, icuFields / calls, "ns", 1e9);
    return 0;
}
