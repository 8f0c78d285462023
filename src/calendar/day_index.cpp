#include "day_index.h"

#include <QDate>

#include <algorithm>

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

// The date of a text in the exact form "yyyy-MM-dd", or nothing.
std::optional<QDate> canonicalDate(const QString &text)
{
    if (text.size() != 10 || text.at(4) != u'-' || text.at(7) != u'-')
        return std::nullopt;
    int parts[3] = {0, 0, 0};
    for (int i = 0, part = 0; i < 10; ++i) {
        if (i == 4 || i == 7) {
            ++part;
            continue;
        }
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        parts[part] = parts[part] * 10 + (c - u'0');
    }
    const QDate date(parts[0], parts[1], parts[2]);
    return date.isValid() ? std::optional(date) : std::nullopt;
}

} // namespace

DayIndex::DayIndex(QList<CalendarEvent> events, std::optional<qint64> calendarFilter, GregorianCalendar calendar)
    : m_events(std::move(events)), m_filter(calendarFilter), m_calendar(std::move(calendar))
{
    for (qsizetype i = 0; i < m_events.size(); ++i) {
        const CalendarEvent &event = m_events.at(i);
        if (!passes(event))
            continue;
        const auto keys = event.all_day ? allDayKeys(event) : timedKeys(event);
        if (!keys) {
            m_unbucketed.append(i);
            continue;
        }
        for (int key : *keys) {
            Positions &bucket = m_buckets[key];
            if (bucket.isEmpty() || bucket.constLast() != i)
                bucket.append(i);
        }
    }
}

bool DayIndex::passes(const CalendarEvent &event) const
{
    return !m_filter || event.calendar_id == *m_filter;
}

const DayIndex::Day *DayIndex::dayAt(Instant dayStart) const
{
    auto [found, added] = m_days.try_emplace(dayStart.time_since_epoch().count());
    if (added) {
        if (const auto later = m_calendar.addDays(dayStart, 1)) {
            const auto fields = m_calendar.fields(dayStart);
            found->second = Day{m_calendar.startOfDay(*later), dayKey(fields.year, fields.month, fields.day)};
        }
    }
    return found->second ? &*found->second : nullptr;
}

// Local days tile the timeline, so an instant inside a day already seen needs no calendar work;
// most events share a few days.
std::optional<std::pair<Instant, const DayIndex::Day *>> DayIndex::dayContaining(Instant instant) const
{
    const qint64 ms = instant.time_since_epoch().count();
    if (auto after = m_days.upper_bound(ms); after != m_days.begin()) {
        const auto &[start, day] = *std::prev(after);
        if (day && instant < day->following)
            return std::pair{Instant(std::chrono::milliseconds(start)), &*day};
    }
    const Instant start = m_calendar.startOfDay(instant);
    if (const Day *day = dayAt(start))
        return std::pair{start, day};
    return std::nullopt;
}

// An all-day event occurs where day_start <= D < day_end as texts; for canonical dates that is the
// dates from day_start up to the day before day_end.
std::optional<DayIndex::DayKeys> DayIndex::allDayKeys(const CalendarEvent &event) const
{
    const auto first = canonicalDate(event.day_start);
    const auto end = canonicalDate(event.day_end);
    if (!first || !end)
        return std::nullopt;
    const qint64 count = first->daysTo(*end);
    if (count > maxIndexedDays)
        return std::nullopt;
    DayKeys keys;
    for (qint64 i = 0; i < count; ++i) {
        const QDate day = first->addDays(i);
        if (const auto key = dayKey(day.year(), day.month(), day.day()))
            keys.append(*key);
    }
    return keys;
}

// A timed event occurs on the day [S, N) when N > start and S < end: the days from the one holding
// `start` up to the last one that begins before `end` (none when end <= S of that first day).
std::optional<DayIndex::DayKeys> DayIndex::timedKeys(const CalendarEvent &event) const
{
    const auto keyed = [](qint64 seconds) { return seconds > -keyedSecondsLimit && seconds < keyedSecondsLimit; };
    if (!keyed(event.start) || !keyed(event.end) || event.end - event.start > maxIndexedDays * 86400)
        return std::nullopt;
    auto current = dayContaining(instantFromSeconds(event.start));
    if (!current)
        return std::nullopt;
    DayKeys keys;
    for (auto [start, day] = *current; secondsSinceEpoch(start) < event.end;) {
        if (!day || day->following <= start || keys.size() > maxIndexedDays + 1)
            return std::nullopt;
        if (secondsSinceEpoch(day->following) > event.start && day->key)
            keys.append(*day->key);
        start = day->following;
        day = dayAt(start);
    }
    return keys;
}

QList<CalendarEvent> DayIndex::eventsOn(Instant date) const
{
    const Positions positions = positionsOn(date);
    QList<CalendarEvent> result;
    result.reserve(positions.size());
    for (qsizetype position : positions)
        result.append(m_events.at(position));
    return result;
}

qsizetype DayIndex::countOn(Instant date) const { return positionsOn(date).size(); }

DayIndex::Positions DayIndex::positionsOn(Instant date) const
{
    if (m_events.isEmpty())
        return {};
    const auto day = dayContaining(date);
    if (!day || !day->second->key) {
        Positions all;
        for (qsizetype i = 0; i < m_events.size(); ++i) {
            if (passes(m_events.at(i)) && m_events.at(i).occurs(date, m_calendar))
                all.append(i);
        }
        return all;
    }

    const Positions bucket = m_buckets.value(*day->second->key);
    Positions extra;
    for (qsizetype position : m_unbucketed) {
        if (m_events.at(position).occurs(date, m_calendar))
            extra.append(position);
    }
    if (extra.isEmpty())
        return bucket;
    Positions merged(bucket.size() + extra.size());
    std::merge(bucket.cbegin(), bucket.cend(), extra.cbegin(), extra.cend(), merged.begin());
    return merged;
}
