#pragma once

#include "instant.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <memory>
#include <optional>
#include <utility>

// Date and time-zone services over ICU, with the zones' rules from the system's tz database
// (system_zones.h). Zone identifiers are IANA names; an unknown or empty identifier means UTC
// everywhere here.
namespace zones {
// A zone or link of the database ("UTC" included; not ICU's own names such as "GMT+5").
bool isKnown(const QString &id);
// The system's zone (TZ, else /etc/localtime), "UTC" when that names no known zone.
QString systemId();
// Re-reads the system zone (after the system announced a change) so later calls see it.
void refreshSystemZone();
// The database's zones, links left out, sorted.
QStringList knownIds();
} // namespace zones

// A Gregorian calendar with a zone and a first weekday (1 = Sunday … 7 = Saturday). Cheap to copy;
// the ICU objects behind it are cached per zone and first weekday.
class GregorianCalendar {
public:
    struct Fields {
        int year = 0, month = 0, day = 0, weekday = 0; // month 1…12, weekday 1 = Sunday
    };

    GregorianCalendar(const QString &zoneId, int firstWeekday);

    const QString &zoneId() const { return m_zoneId; } // the resolved identifier ("UTC" for unknown)
    int firstWeekday() const { return m_firstWeekday; }

    Fields fields(Instant instant) const;
    // 00:00 of the day, or the first instant of that day where midnight is skipped; dates are
    // proleptic Gregorian (no Julian dates before 1582).
    std::optional<Instant> date(int year, int month, int day) const;
    Instant startOfDay(Instant instant) const;
    // The start of the day that contains `instant` and the start of the next day: 23 or 25 hours
    // apart across a clock change, and the next existing day's start after a skipped date.
    std::pair<Instant, Instant> dayBounds(Instant instant) const;
    // Keeps the local time of day across clock changes.
    std::optional<Instant> addDays(Instant instant, int days) const;
    // Clamps the day to the target month's length.
    std::optional<Instant> addMonths(Instant instant, int months) const;
    bool sameDay(Instant a, Instant b) const;
    bool sameMonth(Instant a, Instant b) const;
    // The first instant at or after `dayStart` whose local time is hour:minute:second; a skipped time
    // gives the next existing one, a repeated time its first occurrence.
    std::optional<Instant> nextTime(Instant dayStart, int hour, int minute, int second) const;

private:
    QString m_zoneId;
    int m_firstWeekday;
};

namespace dates {
// Short stand-alone weekday names of the user's time locale (LC_ALL, LC_TIME, LANG), Sunday first
// ("Sun" … "Sat" in English).
QStringList shortWeekdayNames();
// "yyyy-MM-dd" (all-day) or "yyyy-MM-dd'T'HH:mm" in en_US_POSIX; seconds truncated.
QString formatLocal(Instant instant, bool allDay, const QString &zoneId);
// Strict: the whole text in canonical form with a four-digit year, and a local time that exists in
// the zone. A date-only text gives its day's first instant, later than 00:00 where that is skipped.
std::optional<Instant> parseLocal(QStringView text, bool allDay, const QString &zoneId);
// A localised template ("EEEE d MMMM", "jm", …) in `locale` (ICU name; empty = the user's time
// locale).
QString formatTemplate(Instant instant, const QString &skeleton, const QString &zoneId,
                       const QString &locale = {});
} // namespace dates

// The model's date operations as functions of (zone, weekStart, date).
namespace calendarDates {
GregorianCalendar calendar(const QString &zone, qint64 weekStart);
Instant monthStart(const QString &zone, qint64 weekStart, Instant date);
// The 42 grid days: consecutive days that exist in the zone, from the first weekday on or before the
// month's first day.
QList<Instant> days(const QString &zone, qint64 weekStart, Instant date);
QStringList weekdayLabels(const QString &zone, qint64 weekStart);
} // namespace calendarDates
