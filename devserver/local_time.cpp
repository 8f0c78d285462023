#include "local_time.h"

#include "dates.h"
#include "system_zones.h"

#include <unicode/basictz.h>

using namespace std::chrono;

namespace {
sys_days dayOf(const LocalDateTime &t) { return sys_days(t.date); }

// The zone the date services use for `id` (UTC for an unknown one), when it can tell the offsets of
// a wall-clock time; null sends the caller to the date services' own parsing.
const icu::BasicTimeZone *rulesOf(const QString &id)
{
    const icu::TimeZone *zone = ZoneDatabase::system().zone(id);
    return dynamic_cast<const icu::BasicTimeZone *>(zone ? zone : icu::TimeZone::getGMT());
}

// The wall-clock time read as if it were UTC, in ICU's milliseconds.
UDate wallMillis(const LocalDateTime &t)
{
    return (double(dayOf(t).time_since_epoch().count()) * 1440 + t.minutes) * 60'000.0;
}

// The earliest instant showing `local`, and whether a later one shows it too; nothing when the clocks
// skip it. Offsets are read from the zone's rules, which is what formatting and parsing use, so this
// gives what placing through the date services' texts gives at a fraction of the cost.
std::optional<PlacedTime> placeByRules(const icu::BasicTimeZone &zone, const LocalDateTime &local)
{
    const UDate wall = wallMillis(local);
    const auto instantFor = [&](UTimeZoneLocalOption option) -> std::optional<UDate> {
        int32_t raw = 0, dst = 0;
        UErrorCode status = U_ZERO_ERROR;
        zone.getOffsetFromLocal(wall, option, option, raw, dst, status);
        if (U_FAILURE(status))
            return std::nullopt;
        const UDate instant = wall - raw - dst;
        // The instant must show the wall time back: a skipped time shows another one.
        zone.getOffset(instant, false, raw, dst, status);
        return U_SUCCESS(status) && instant + raw + dst == wall ? std::optional(instant) : std::nullopt;
    };
    const auto former = instantFor(UCAL_TZ_LOCAL_FORMER);
    if (!former)
        return std::nullopt;
    const auto latter = instantFor(UCAL_TZ_LOCAL_LATTER);
    PlacedTime placed;
    placed.actual = local;
    placed.instant = Instant(std::chrono::milliseconds(qint64(*former)));
    placed.fit = latter && *latter != *former ? PlacedTime::Fit::Repeated : PlacedTime::Fit::Exact;
    return placed;
}
} // namespace

std::optional<LocalDateTime> LocalDateTime::parse(const QString &text, bool allDay)
{
    // "yyyy-MM-dd" or "yyyy-MM-ddTHH:mm": ASCII digits at fixed places. Listing reads both times of
    // every stored event, so this stays a plain scan.
    if (text.size() != (allDay ? 10 : 16) || text[4] != u'-' || text[7] != u'-' || (!allDay && (text[10] != u'T' || text[13] != u':')))
        return std::nullopt;
    const auto number = [&](qsizetype from, qsizetype count) {
        int value = 0;
        for (qsizetype i = from; i < from + count; ++i) {
            const char16_t c = text[i].unicode();
            if (c < u'0' || c > u'9')
                return -1;
            value = value * 10 + (c - u'0');
        }
        return value;
    };
    const int y = number(0, 4), mo = number(5, 2), d = number(8, 2);
    if (y < 0 || mo < 0 || d < 0)
        return std::nullopt;
    const year_month_day date{year(y), month(unsigned(mo)), day(unsigned(d))};
    if (!date.ok())
        return std::nullopt;
    LocalDateTime result;
    result.date = date;
    if (!allDay) {
        const int h = number(11, 2), m = number(14, 2);
        if (h < 0 || m < 0 || h > 23 || m > 59)
            return std::nullopt;
        result.minutes = h * 60 + m;
    }
    return result;
}

QString LocalDateTime::text(bool allDay) const
{
    if (date.year() < year(0) || date.year() > year(9999)) { // more than four digits: never parses back
        QString wide = QStringLiteral("%1-%2-%3")
                           .arg(int(date.year()))
                           .arg(unsigned(date.month()), 2, 10, QLatin1Char('0'))
                           .arg(unsigned(date.day()), 2, 10, QLatin1Char('0'));
        if (!allDay)
            wide += QStringLiteral("T%1:%2").arg(hour(), 2, 10, QLatin1Char('0')).arg(minute(), 2, 10, QLatin1Char('0'));
        return wide;
    }
    char16_t out[16];
    const auto put = [&](int at, unsigned value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10)
            out[at + i] = char16_t(u'0' + value % 10);
    };
    put(0, unsigned(int(date.year())), 4);
    out[4] = out[7] = u'-';
    put(5, unsigned(date.month()), 2);
    put(8, unsigned(date.day()), 2);
    if (allDay)
        return QString(reinterpret_cast<const QChar *>(out), 10);
    out[10] = u'T';
    put(11, unsigned(hour()), 2);
    out[13] = u':';
    put(14, unsigned(minute()), 2);
    return QString(reinterpret_cast<const QChar *>(out), 16);
}

LocalDateTime LocalDateTime::plusMinutes(qint64 delta) const
{
    const qint64 total = qint64(dayOf(*this).time_since_epoch().count()) * 1440 + minutes + delta;
    const qint64 dayCount = total >= 0 ? total / 1440 : -((-total + 1439) / 1440);
    LocalDateTime result;
    result.date = year_month_day(sys_days(std::chrono::days(dayCount)));
    result.minutes = int(total - dayCount * 1440);
    return result;
}

LocalDateTime LocalDateTime::plusDays(int count) const
{
    LocalDateTime result = *this;
    result.date = year_month_day(dayOf(*this) + std::chrono::days(count));
    return result;
}

qint64 LocalDateTime::minutesSince(const LocalDateTime &other) const
{
    return qint64((dayOf(*this) - dayOf(other)).count()) * 1440 + minutes - other.minutes;
}

unsigned LocalDateTime::weekday() const { return std::chrono::weekday(dayOf(*this)).c_encoding(); }

QString resolvedZone(const QString &zone) { return zones::isKnown(zone) ? zone : QStringLiteral("UTC"); }

std::optional<LocalDateTime> localAt(Instant instant, const QString &zone)
{
    // A year past 9999 formats with five digits and does not parse: such an instant has no local time here.
    return LocalDateTime::parse(dates::formatLocal(instant, false, resolvedZone(zone)), false);
}

std::optional<PlacedTime> placeLocal(const LocalDateTime &local, const QString &zone)
{
    if (local.date.year() < year(1) || local.date.year() > year(9999))
        return std::nullopt;
    const QString id = resolvedZone(zone);
    if (const icu::BasicTimeZone *rules = rulesOf(id))
        if (auto placed = placeByRules(*rules, local))
            return placed;
    PlacedTime placed;
    placed.actual = local;
    if (const auto exact = dates::parseLocal(local.text(false), false, id)) {
        placed.instant = *exact;
        // The same wall time may also be shown by an instant up to two hours away (clocks going back);
        // at the ends of the calendar a neighbour may have no local time at all.
        for (const int offset : {-120, -60, -30, 30, 60, 120}) {
            const Instant other = *exact + minutes(offset);
            if (localAt(other, id) == local) {
                placed.fit = PlacedTime::Fit::Repeated;
                placed.instant = std::min(placed.instant, other);
            }
        }
        return placed;
    }
    // Skipped: the gap ends at the first instant after local midnight showing a later time.
    const GregorianCalendar calendar(id, 1);
    const auto midnight = calendar.date(int(local.date.year()), int(unsigned(local.date.month())),
                                        int(unsigned(local.date.day())));
    std::optional<Instant> found = midnight ? calendar.nextTime(*midnight, local.hour(), local.minute(), 0) : std::nullopt;
    // No gap lasts a day; past that the wall time is read as UTC, and a time even UTC lacks is not placed.
    for (int step = 1; step <= 48 && !found; ++step)
        found = dates::parseLocal(local.plusMinutes(30 * step).text(false), false, id);
    if (!found)
        found = dates::parseLocal(local.text(false), false, QStringLiteral("UTC"));
    const auto actual = found ? localAt(*found, id) : std::nullopt;
    if (!actual)
        return std::nullopt;
    placed.fit = PlacedTime::Fit::Skipped;
    placed.instant = *found;
    placed.actual = *actual;
    return placed;
}
