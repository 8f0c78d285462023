#include "day_index.h"

#include <QDate>

namespace {

// An event that covers more days than this is checked on every lookup instead of being entered into
// each of its days, so a few year-long events cannot blow up the index.
constexpr qint64 maxIndexedDays = 64;
// Day keys exist only where the texts "yyyy-MM-dd" of the calendar and of QDate agree and compare in
// date order: four-digit years after the Julian-Gregorian switch.
constexpr int firstKeyedYear = 1600;
constexpr int lastKeyedYear = 9999;
// Seconds of 10000-01-01T00:00:00Z; instants beyond stay far from the overflow of millisecond time.
constexpr qint64 keyedSecondsLimit = 253402300800;

std::optional<int> dayKey(int year, int month, int day)
{
    if (year < firstKeyedYear || year > lastKeyedYear)
        return std::nullopt;
    return year * 10000 + month * 100 + day;
}

std::optional<QDate> canonicalDate(const QString &text)
{
    static const QString pattern = QStringLiteral("yyyy-MM-dd");
    const QDate date = QDate::fromString(text, pattern);
    if (!date.isValid() || date.toString(pattern) != text)
        return std::nullopt;
    return date;
}

} // namespace

// One local day: the start of the next local day, and the day's key.
struct DayIndex::Bounds {
    Instant following;
    std::optional<int> key;
};

// Day bounds computed once per distinct day while the index is built: most events share a few days.
class DayIndex::DayTable {
public:
    explicit DayTable(const GregorianCalendar &calendar) : m_calendar(calendar) {}

    std::optional<Bounds> at(Instant dayStart)
    {
        const qint64 id = dayStart.time_since_epoch().count();
        if (auto found = m_days.constFind(id); found != m_days.cend())
            return *found;
        std::optional<Bounds> bounds;
        if (const auto later = m_calendar.addDays(dayStart, 1)) {
            const auto fields = m_calendar.fields(dayStart);
            bounds = Bounds{m_calendar.startOfDay(*later), dayKey(fields.year, fields.month, fields.day)};
        }
        m_days.insert(id, bounds);
        return bounds;
    }

private:
    const GregorianCalendar &m_calendar;
    QHash<qint64, std::optional<Bounds>> m_days;
};

DayIndex::DayIndex(QList<CalendarEvent> events, std::optional<qint64> calendarFilter, GregorianCalendar calendar)
    : m_events(std::move(events)), m_filter(calendarFilter), m_calendar(std::move(calendar))
{
    DayTable table(m_calendar);
    for (qsizetype i = 0; i < m_events.size(); ++i) {
        const CalendarEvent &event = m_events.at(i);
        if (!passes(event))
            continue;
        const auto keys = event.all_day ? allDayKeys(event) : timedKeys(event, table);
        if (!keys) {
            m_unbucketed.append(i);
            continue;
        }
        for (int key : *keys) {
            QList<qsizetype> &day = m_days[key];
            if (day.isEmpty() || day.constLast() != i)
                day.append(i);
        }
    }
}

bool DayIndex::passes(const CalendarEvent &event) const
{
    return !m_filter || event.calendar_id == *m_filter;
}

// An all-day event occurs where day_start <= D < day_end as texts; for canonical dates that is the
// dates from day_start up to the day before day_end.
std::optional<QList<int>> DayIndex::allDayKeys(const CalendarEvent &event) const
{
    const auto first = canonicalDate(event.day_start);
    const auto end = canonicalDate(event.day_end);
    if (!first || !end)
        return std::nullopt;
    const qint64 count = first->daysTo(*end);
    if (count > maxIndexedDays)
        return std::nullopt;
    QList<int> keys;
    for (qint64 i = 0; i < count; ++i) {
        const QDate day = first->addDays(i);
        if (const auto key = dayKey(day.year(), day.month(), day.day()))
            keys.append(*key);
    }
    return keys;
}

// A timed event occurs on the day [S, N) when N > start and S < end: the days from the one holding
// `start` up to the last one that begins before `end` (none when end <= S of that first day).
std::optional<QList<int>> DayIndex::timedKeys(const CalendarEvent &event, DayTable &table) const
{
    const auto keyed = [](qint64 seconds) { return seconds > -keyedSecondsLimit && seconds < keyedSecondsLimit; };
    if (!keyed(event.start) || !keyed(event.end) || event.end - event.start > maxIndexedDays * 86400)
        return std::nullopt;
    QList<int> keys;
    Instant day = m_calendar.startOfDay(instantFromSeconds(event.start));
    for (qint64 steps = 0; secondsSinceEpoch(day) < event.end; ++steps) {
        const auto bounds = table.at(day);
        if (!bounds || bounds->following <= day || steps > maxIndexedDays + 1)
            return std::nullopt;
        if (secondsSinceEpoch(bounds->following) > event.start && bounds->key)
            keys.append(*bounds->key);
        day = bounds->following;
    }
    return keys;
}

QList<CalendarEvent> DayIndex::eventsOn(Instant date) const
{
    if (m_events.isEmpty())
        return {};
    const auto fields = m_calendar.fields(date);
    const auto key = dayKey(fields.year, fields.month, fields.day);
    if (!key)
        return scan(date);

    static const QList<qsizetype> none;
    const auto found = m_days.constFind(*key);
    const QList<qsizetype> &bucket = found == m_days.cend() ? none : *found;
    QList<CalendarEvent> result;
    result.reserve(bucket.size());
    auto next = bucket.cbegin();
    for (qsizetype other : m_unbucketed) {
        if (!m_events.at(other).occurs(date, m_calendar))
            continue;
        for (; next != bucket.cend() && *next < other; ++next)
            result.append(m_events.at(*next));
        result.append(m_events.at(other));
    }
    for (; next != bucket.cend(); ++next)
        result.append(m_events.at(*next));
    return result;
}

QList<CalendarEvent> DayIndex::scan(Instant date) const
{
    QList<CalendarEvent> result;
    for (const CalendarEvent &event : m_events) {
        if (passes(event) && event.occurs(date, m_calendar))
            result.append(event);
    }
    return result;
}
