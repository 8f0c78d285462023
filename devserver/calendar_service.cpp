#include "calendar_service.h"

#include "dates.h"
#include "recurrence.h"

#include <QStringList>

#include <algorithm>
#include <map>

namespace {
// The client asks for a 42-day grid; a year is plenty and keeps series expansion bounded.
constexpr qint64 longestRangeDays = 366;
constexpr qint64 longestEventMinutes = 366 * 24 * 60;
constexpr qsizetype longestTitle = 500;
constexpr qsizetype longestText = 10'000;
constexpr qsizetype mostAttendees = 50;

const QStringList statuses = {QStringLiteral("confirmed"), QStringLiteral("tentative"), QStringLiteral("cancelled")};

[[noreturn]] void refuse(int status, const QString &message) { throw Refused(status, message); }

LocalDateTime startOf(const StoredEvent &e) { return *LocalDateTime::parse(e.startLocal, e.allDay); }
LocalDateTime endOf(const StoredEvent &e) { return *LocalDateTime::parse(e.endLocal, e.allDay); }

QString describe(const LocalDateTime &t) { return t.text(false).replace(QLatin1Char('T'), QLatin1Char(' ')); }

// The event's times checked and settled; `warning` says what was adjusted.
struct Schedule {
    QString startLocal, endLocal;
    QString warning;
};

Schedule checkedSchedule(const QString &startText, const QString &endText, bool allDay, const QString &tz)
{
    if (!zones::isKnown(tz))
        refuse(422, QStringLiteral("Choose a known time zone."));
    const auto start = LocalDateTime::parse(startText, allDay);
    const auto end = LocalDateTime::parse(endText, allDay);
    const QString form = allDay ? QStringLiteral("YYYY-MM-DD") : QStringLiteral("YYYY-MM-DDTHH:MM");
    if (!start)
        refuse(422, QStringLiteral("The start must be written as %1.").arg(form));
    if (!end)
        refuse(422, QStringLiteral("The end must be written as %1.").arg(form));
    Schedule schedule{start->text(allDay), end->text(allDay), {}};
    // Listing places both ends, all-day ones too.
    const std::optional<PlacedTime> placed[2] = {placeLocal(*start, tz), placeLocal(*end, tz)};
    if (!placed[0] || !placed[1])
        refuse(422, QStringLiteral("%1 can’t be placed in %2. Use a date in the years 0001 to 9999.")
                        .arg((placed[0] ? *end : *start).text(allDay).replace(QLatin1Char('T'), QLatin1Char(' ')), tz));
    if (allDay) {
        if (!(*start < *end))
            refuse(422, QStringLiteral("An all-day event ends on a later day than it starts."));
        if (end->minutesSince(*start) > longestEventMinutes)
            refuse(422, QStringLiteral("An event can last at most a year."));
        return schedule;
    }
    QStringList notes;
    for (int i = 0; i < 2; ++i) {
        const LocalDateTime &point = i == 0 ? *start : *end;
        if (placed[i]->fit == PlacedTime::Fit::Skipped)
            refuse(422, QStringLiteral("%1 doesn’t exist in %2: the clocks skip that time. Choose another time.")
                            .arg(describe(point), tz));
        if (placed[i]->fit == PlacedTime::Fit::Repeated)
            notes << QStringLiteral("%1 happens twice in %2; the earlier one was used.").arg(describe(point), tz);
    }
    if (placed[1]->instant < placed[0]->instant)
        refuse(422, QStringLiteral("The event ends before it starts."));
    if (end->minutesSince(*start) > longestEventMinutes)
        refuse(422, QStringLiteral("An event can last at most a year."));
    schedule.warning = notes.join(QLatin1Char(' '));
    return schedule;
}

void checkTexts(const QString &title, const QString &location, const QString &notes)
{
    if (title.trimmed().isEmpty())
        refuse(422, QStringLiteral("Give the event a title."));
    if (title.size() > longestTitle)
        refuse(422, QStringLiteral("The title is too long."));
    if (location.size() > longestText || notes.size() > longestText)
        refuse(422, QStringLiteral("The location or the notes are too long."));
}

StoredCalendar writableCalendar(const Store &store, const StoredUser &user, qint64 calendarId)
{
    for (const auto &calendar : store.calendars(user.id)) {
        if (calendar.id != calendarId)
            continue;
        if (!calendar.writable)
            refuse(403, QStringLiteral("%1 is read-only.").arg(calendar.name));
        return calendar;
    }
    refuse(422, QStringLiteral("That calendar doesn’t exist."));
}

SavedEvent saved(qint64 id, const QString &warning)
{
    SavedEvent result;
    result.id = id;
    if (!warning.isEmpty())
        result.warning = warning;
    return result;
}

// Copies what a client may change of an event, with its checked wall-clock times.
void applyEdit(StoredEvent &stored, const CalendarEvent &event, const Schedule &schedule)
{
    stored.calendarId = event.calendar_id;
    stored.status = event.status;
    stored.title = event.title.trimmed();
    stored.location = event.location;
    stored.notes = event.notes;
    stored.allDay = event.all_day;
    stored.startLocal = schedule.startLocal;
    stored.endLocal = schedule.endLocal;
    stored.tz = event.tz;
}

void checkStatusAndTexts(const CalendarEvent &event)
{
    if (!statuses.contains(event.status))
        refuse(422, QStringLiteral("The status must be confirmed, tentative or cancelled."));
    checkTexts(event.title, event.location, event.notes);
}

} // namespace

Refused::Refused(int status, QString message)
    : std::runtime_error(message.toStdString()), m_status(status), m_message(std::move(message))
{
}

std::optional<CalendarEvent> listedEvent(const StoredEvent &e, const LocalDateTime &start, bool repeating,
                                         const StoredCalendar &calendar)
{
    CalendarEvent row;
    row.id = e.id;
    row.calendar_id = e.calendarId;
    row.status = e.status;
    row.title = e.title;
    row.location = e.location;
    row.notes = e.notes;
    row.all_day = e.allDay;
    row.tz = e.tz;
    row.recurring = repeating;
    row.writable = calendar.writable;
    row.calendar_name = calendar.name;
    row.occurrence = repeating ? start.text(e.allDay) : QString();
    if (e.allDay) {
        const LocalDateTime end = start.plusDays(int(endOf(e).minutesSince(startOf(e)) / 1440));
        const auto first = placeLocal(start, e.tz);
        const auto last = placeLocal(end, e.tz);
        if (!first || !last)
            return std::nullopt;
        row.start_local = row.day_start = start.text(true);
        row.end_local = row.day_end = end.text(true);
        row.start = secondsSinceEpoch(first->instant);
        row.end = secondsSinceEpoch(last->instant);
    } else {
        // Occurrences keep the wall-clock start and length of the series in its own zone.
        const auto first = placeLocal(start, e.tz);
        const auto last = placeLocal(start.plusMinutes(endOf(e).minutesSince(startOf(e))), e.tz);
        if (!first || !last)
            return std::nullopt;
        row.start_local = first->actual.text(false);
        row.end_local = last->actual.text(false);
        row.start = secondsSinceEpoch(first->instant);
        row.end = std::max(row.start, secondsSinceEpoch(last->instant));
    }
    return row;
}

CalendarService::CalendarService(Store &store) : m_store(store) {}

CalendarSession CalendarService::session(const StoredUser &user) const
{
    CalendarSession session;
    session.week_start = user.weekStart;
    session.zone = user.zone;
    session.default_calendar_id = user.defaultCalendarId;
    for (const auto &calendar : m_store.calendars(user.id))
        session.calendars.append({calendar.id, calendar.name, calendar.hue, calendar.writable});
    return session;
}

CalendarEvents CalendarService::events(const StoredUser &user, const QString &from, const QString &to,
                                       const QString &zone) const
{
    if (std::any_of(zone.begin(), zone.end(), [](QChar c) { return c.category() == QChar::Other_Control; }))
        refuse(400, QStringLiteral("The zone can’t contain control characters."));
    const auto first = LocalDateTime::parse(from, true);
    const auto last = LocalDateTime::parse(to, true);
    if (!first || !last)
        refuse(400, QStringLiteral("Give the range as from=YYYY-MM-DD and to=YYYY-MM-DD."));
    if (!(*first < *last) || last->minutesSince(*first) > longestRangeDays * 1440)
        refuse(400, QStringLiteral("The range must end after it starts and span at most a year."));
    const QString rangeZone = resolvedZone(zone);
    const auto placedFirst = placeLocal(*first, rangeZone);
    const auto placedLast = placeLocal(*last, rangeZone);
    if (!placedFirst || !placedLast)
        refuse(422, QStringLiteral("The range must lie in the years 0001 to 9999."));
    const qint64 rangeStart = secondsSinceEpoch(placedFirst->instant);
    const qint64 rangeEnd = secondsSinceEpoch(placedLast->instant);

    std::map<qint64, StoredCalendar> calendars;
    std::vector<qint64> ids;
    for (const auto &calendar : m_store.calendars(user.id)) {
        calendars[calendar.id] = calendar;
        ids.push_back(calendar.id);
    }
    const std::vector<StoredEvent> stored = m_store.events(ids);
    CalendarEvents result;
    result.events.reserve(qsizetype(stored.size()));
    // Occurrences past the end of the calendar are not listed.
    const auto touches = [&](const std::optional<CalendarEvent> &listed) {
        if (!listed)
            return false;
        const CalendarEvent &row = *listed;
        if (row.all_day)
            return row.day_start < to && row.day_end > from;
        if (row.start == row.end)
            return row.start >= rangeStart && row.start < rangeEnd;
        return row.start < rangeEnd && row.end > rangeStart;
    };
    for (const StoredEvent &e : stored) {
        const StoredCalendar &calendar = calendars[e.calendarId];
        const LocalDateTime start = startOf(e);
        if (e.rule.isEmpty()) {
            auto row = listedEvent(e, start, false, calendar);
            if (touches(row))
                result.events.append(std::move(*row));
            continue;
        }
        // Wall-clock window wide enough for any zone offset and the event's own length.
        const int lengthDays = int(endOf(e).minutesSince(start) / 1440) + 1;
        for (const LocalDateTime &occurrence :
             recurrence::starts(e.rule, start, e.allDay, first->plusDays(-2 - lengthDays), last->plusDays(2))) {
            auto row = listedEvent(e, occurrence, true, calendar);
            if (touches(row))
                result.events.append(std::move(*row));
        }
    }
    std::stable_sort(result.events.begin(), result.events.end(), [](const CalendarEvent &a, const CalendarEvent &b) {
        return std::tie(a.start, a.id) < std::tie(b.start, b.id);
    });
    return result;
}

SavedEvent CalendarService::create(const StoredUser &user, const CalendarEvent &event)
{
    if (event.id != 0)
        refuse(422, QStringLiteral("A new event has the id 0."));
    writableCalendar(m_store, user, event.calendar_id);
    checkStatusAndTexts(event);
    const Schedule schedule = checkedSchedule(event.start_local, event.end_local, event.all_day, event.tz);
    StoredEvent stored;
    applyEdit(stored, event, schedule);
    Store::Transaction transaction(m_store);
    const qint64 id = m_store.addEvent(stored);
    transaction.commit();
    return saved(id, schedule.warning);
}

SavedEvent CalendarService::update(const StoredUser &user, qint64 id, const CalendarEvent &event)
{
    if (event.id != id)
        refuse(422, QStringLiteral("The event’s id doesn’t match its address."));
    auto stored = m_store.event(id);
    const auto visible = m_store.calendars(user.id);
    const bool seen = stored && std::any_of(visible.begin(), visible.end(),
                                            [&](const StoredCalendar &c) { return c.id == stored->calendarId; });
    if (!seen)
        refuse(422, QStringLiteral("That event doesn’t exist any more."));
    writableCalendar(m_store, user, stored->calendarId);
    writableCalendar(m_store, user, event.calendar_id);
    checkStatusAndTexts(event);
    Schedule schedule = checkedSchedule(event.start_local, event.end_local, event.all_day, event.tz);

    QStringList warnings;
    if (!stored->rule.isEmpty() && !event.occurrence.isEmpty()) {
        // An occurrence was edited: the whole series moves by the same wall-clock shift.
        const auto nominal = LocalDateTime::parse(event.occurrence, stored->allDay);
        const auto listed = nominal ? listedEvent(*stored, *nominal, true, {}) : std::nullopt;
        if (!listed || recurrence::starts(stored->rule, startOf(*stored), stored->allDay, *nominal, *nominal, 1).empty())
            refuse(422, QStringLiteral("That occurrence isn’t part of the series."));
        const auto listedStart = LocalDateTime::parse(listed->start_local, stored->allDay);
        const auto newStart = LocalDateTime::parse(schedule.startLocal, event.all_day);
        const auto newEnd = LocalDateTime::parse(schedule.endLocal, event.all_day);
        const LocalDateTime seriesStart = startOf(*stored).plusMinutes(newStart->minutesSince(*listedStart));
        const LocalDateTime seriesEnd = seriesStart.plusMinutes(newEnd->minutesSince(*newStart));
        schedule.startLocal = seriesStart.text(event.all_day);
        schedule.endLocal = seriesEnd.text(event.all_day);
        warnings << QStringLiteral("The change applies to every occurrence of this repeating event.");
    }
    if (!schedule.warning.isEmpty())
        warnings << schedule.warning;

    applyEdit(*stored, event, schedule);
    Store::Transaction transaction(m_store);
    m_store.updateEvent(*stored);
    transaction.commit();
    return saved(id, warnings.join(QLatin1Char(' ')));
}

SavedEvent CalendarService::saveQuick(const StoredUser &user, const QuickDraft &draft)
{
    writableCalendar(m_store, user, draft.calendar_id);
    checkTexts(draft.title, draft.location, {});
    if (!draft.repeat.isEmpty() && !recurrence::quickRule(draft.repeat))
        refuse(422, QStringLiteral("The repeat rule can’t be used."));
    if (draft.attendees.size() > mostAttendees)
        refuse(422, QStringLiteral("Too many attendees."));
    for (const QString &attendee : draft.attendees)
        if (attendee.trimmed().isEmpty() || attendee.size() > 200)
            refuse(422, QStringLiteral("Each attendee needs a name of reasonable length."));
    const Schedule schedule = checkedSchedule(draft.start_local, draft.end_local, draft.all_day, draft.tz);
    StoredEvent stored;
    stored.calendarId = draft.calendar_id;
    stored.title = draft.title.trimmed();
    stored.location = draft.location;
    stored.allDay = draft.all_day;
    stored.startLocal = schedule.startLocal;
    stored.endLocal = schedule.endLocal;
    stored.tz = draft.tz;
    stored.rule = draft.repeat;
    stored.attendees = draft.attendees;
    Store::Transaction transaction(m_store);
    const qint64 id = m_store.addEvent(stored);
    transaction.commit();
    return saved(id, schedule.warning);
}

std::optional<CalendarEvent> CalendarService::find(qint64 id) const
{
    const auto stored = m_store.event(id);
    if (!stored)
        return std::nullopt;
    StoredCalendar calendar;
    calendar.id = stored->calendarId;
    return listedEvent(*stored, startOf(*stored), !stored->rule.isEmpty(), calendar);
}
