#pragma once

#include "dates.h"
#include "records.h"

#include <QHash>
#include <QList>

#include <optional>

// The loaded events grouped by the local days they occur on, so that asking for one day costs a
// lookup instead of a pass over every event. Answers exactly what running CalendarEvent::occurs over
// the filtered events would, in the events' order.
class DayIndex {
public:
    DayIndex(QList<CalendarEvent> events, std::optional<qint64> calendarFilter, GregorianCalendar calendar);

    // The events that pass the filter and occur on the local day of `date`.
    QList<CalendarEvent> eventsOn(Instant date) const;

private:
    struct Bounds;
    class DayTable;
    std::optional<QList<int>> allDayKeys(const CalendarEvent &event) const;
    std::optional<QList<int>> timedKeys(const CalendarEvent &event, DayTable &table) const;
    bool passes(const CalendarEvent &event) const;
    QList<CalendarEvent> scan(Instant date) const;

    QList<CalendarEvent> m_events;
    std::optional<qint64> m_filter;
    GregorianCalendar m_calendar;
    QHash<int, QList<qsizetype>> m_days; // yyyymmdd → positions in m_events, ascending
    QList<qsizetype> m_unbucketed;       // positions checked with occurs() on every lookup
};
