#include "local_time.h"

#include "dates.h"

#include <QRegularExpression>

using namespace std::chrono;

namespace {
sys_days dayOf(const LocalDateTime &t) { return sys_days(t.date); }
} // namespace

std::optional<LocalDateTime> LocalDateTime::parse(const QString &text, bool allDay)
{
    static const QRegularExpression dayForm(QStringLiteral(R"(^(\d{4})-(\d{2})-(\d{2})$)"));
    static const QRegularExpression timeForm(QStringLiteral(R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2})$)"));
    const auto match = (allDay ? dayForm : timeForm).match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const year_month_day date{year(match.captured(1).toInt()), month(match.captured(2).toUInt()),
                              day(match.captured(3).toUInt())};
    if (!date.ok())
        return std::nullopt;
    LocalDateTime result;
    result.date = date;
    if (!allDay) {
        const int h = match.captured(4).toInt();
        const int m = match.captured(5).toInt();
        if (h > 23 || m > 59)
            return std::nullopt;
        result.minutes = h * 60 + m;
    }
    return result;
}

QString LocalDateTime::text(bool allDay) const
{
    QString result = QStringLiteral("%1-%2-%3")
                         .arg(int(date.year()), 4, 10, QLatin1Char('0'))
                         .arg(unsigned(date.month()), 2, 10, QLatin1Char('0'))
                         .arg(unsigned(date.day()), 2, 10, QLatin1Char('0'));
    if (!allDay)
        result += QStringLiteral("T%1:%2").arg(hour(), 2, 10, QLatin1Char('0')).arg(minute(), 2, 10, QLatin1Char('0'));
    return result;
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
