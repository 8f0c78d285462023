#pragma once

#include "dates.h"
#include "records.h"

#include <QHash>
#include <QList>
#include <QVarLengthArray>

#include <map>
#include <optional>

// The loaded events grouped by the local days they occur on, so that asking for one day costs a
// lookup instead of a pass over every event. Answers exactly what running CalendarEvent::occurs over
// the filtered events would, in the events' order. Main thread only: lookups remember day bounds.
class DayIndex {
public:
    DayIndex(QList<CalendarEvent> events, std::optional<qint64> calendarFilter, GregorianCalendar calendar);

    // The events that pass the filter and occur on the local day of `date`.
    QList<CalendarEvent> eventsOn(Instant date) const;
    // How many they are, without copying them: the month grid counts every cell.
    qsizetype countOn(Instant date) const;

private:
    struct Day {
        Instant following; // start of the next local day
        std::optional<int> key;
    };
    using DayKeys = QVarLengthArray<int, 8>;
    using Positions = QList<qsizetype>; // in m_events, ascending
    const Day *dayAt(Instant dayStart) const;
    std::optional<std::pair<Instant, const Day *>> dayContaining(Instant instant) const;
    std::optional<DayKeys> allDayKeys(const CalendarEvent &event) const;
    std::optional<DayKeys> timedKeys(const CalendarEvent &event) const;
    bool passes(const CalendarEvent &event) const;
    Positions positionsOn(Instant date) const;

    QList<CalendarEvent> m_events;
    std::optional<qint64> m_filter;
    GregorianCalendar m_calendar;
    mutable std::map<qint64, std::optional<Day>> m_days; // by day start (ms); nullopt: bounds unknown
    QHash<int, Positions> m_buckets;                      // by local date yyyymmdd
    QList<qsizetype> m_unbucketed;                        // checked with occurs() on every lookup
};
