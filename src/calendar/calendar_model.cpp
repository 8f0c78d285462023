#include "calendar_model.h"

#include "day_index.h"
#include "errors.h"
#include "preferences.h"

#include <QPointer>
#include <QUrl>
#include <QUuid>

#include <functional>

namespace {

const QString sessionPath = QStringLiteral("/api/native/session");
const QString eventsPath = QStringLiteral("/api/native/events");
const QString quickPath = QStringLiteral("/api/native/quick");
const QByteArray get = QByteArrayLiteral("GET");
const QByteArray post = QByteArrayLiteral("POST");

// QUrl turns escaped unreserved characters ("-", ".", "_", "~") back into themselves, so those
// travel as they are; everything else that is not an ASCII letter or digit is sent as upper-case %XX
// of its UTF-8 bytes.
QString encodedZone(const QString &zone)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(zone));
}

// Stores `value` and, when that changed the field, runs `changed` and then emits `signal`.
template <typename T>
void write(CalendarModel *model, T &field, T value, void (CalendarModel::*signal)(),
           const std::function<void()> &changed = {})
{
    if (field == value)
        return;
    field = std::move(value);
    if (changed)
        changed();
    (model->*signal)();
}

} // namespace

struct CalendarModel::State {
    explicit State(Preferences &preferences) : preferences(preferences) {}

    Preferences &preferences;
    Instant date;
    std::optional<qint64> selectedCalendar;
    QList<TeamCalendar> calendars;
    QList<CalendarEvent> events;
    QString zone;
    bool loading = false;
    QString error;
    QString notice;
    QString quickText;
    QString quickSavedNotice;
    bool quickSaving = false;

    qint64 weekStart = 1;
    qint64 defaultCalendar = 0;
    QUuid generation = QUuid::createUuid();
    bool active = true;
    std::optional<QString> fixedZone;

    // Built on the first dayEvents() after events, zone, weekStart or the filter changed.
    mutable std::optional<DayIndex> dayIndex;

    const std::function<void()> forgetIndex = [this] { dayIndex.reset(); };

    QString effectiveZone() const { return fixedZone.value_or(CalendarModel::preferredZone(preferences)); }
};

CalendarModel::CalendarModel(Preferences &preferences, std::optional<QString> zone, Instant date, QObject *parent)
    : QObject(parent), d(std::make_unique<State>(preferences))
{
    d->fixedZone = std::move(zone);
    d->zone = d->effectiveZone();
    d->date = date;
}

CalendarModel::~CalendarModel() = default;

QString CalendarModel::preferredZone(const Preferences &preferences)
{
    const QString stored = preferences.timeZoneOverride();
    if (!stored.isEmpty() && zones::isKnown(stored))
        return stored;
    return zones::systemId();
}

Instant CalendarModel::date() const { return d->date; }
std::optional<qint64> CalendarModel::selectedCalendar() const { return d->selectedCalendar; }
const QList<TeamCalendar> &CalendarModel::calendars() const { return d->calendars; }
const QList<CalendarEvent> &CalendarModel::events() const { return d->events; }
QString CalendarModel::zone() const { return d->zone; }

std::optional<QString> CalendarModel::selectedCalendarName() const
{
    if (d->selectedCalendar) {
        for (const TeamCalendar &calendar : d->calendars)
            if (calendar.id == *d->selectedCalendar)
                return calendar.name;
    }
    return std::nullopt;
}
bool CalendarModel::loading() const { return d->loading; }
QString CalendarModel::error() const { return d->error; }
QString CalendarModel::notice() const { return d->notice; }
QString CalendarModel::quickText() const { return d->quickText; }
QString CalendarModel::quickSavedNotice() const { return d->quickSavedNotice; }
bool CalendarModel::quickSaving() const { return d->quickSaving; }
qint64 CalendarModel::weekStart() const { return d->weekStart; }

void CalendarModel::setDate(Instant date)
{
    write(this, d->date, date, &CalendarModel::dateChanged);
}

void CalendarModel::setSelectedCalendar(std::optional<qint64> id)
{
    write(this, d->selectedCalendar, id, &CalendarModel::selectedCalendarChanged, d->forgetIndex);
}

void CalendarModel::setQuickText(const QString &text)
{
    write(this, d->quickText, text, &CalendarModel::quickTextChanged);
}

void CalendarModel::setQuickSavedNotice(const QString &notice)
{
    write(this, d->quickSavedNotice, notice, &CalendarModel::quickSavedNoticeChanged);
}

QCoro::Task<> CalendarModel::load(NativeClient client)
{
    if (!d->active)
        co_return;
    write(this, d->zone, d->effectiveZone(), &CalendarModel::zoneChanged, d->forgetIndex);
    const QUuid token = QUuid::createUuid();
    d->generation = token;
    write(this, d->loading, true, &CalendarModel::loadingChanged);
    write(this, d->error, QString(), &CalendarModel::errorChanged);

    // The model may be cleared, reloaded or deleted while a request is in flight, and a slot reacting
    // to one of the writes below may do the same: check before every write.
    const QPointer<CalendarModel> self(this);
    const auto current = [&] { return self && self->d->generation == token; };

    std::exception_ptr failure;
    try {
        const CalendarSession session = co_await client->request<CalendarSession>(sessionPath, get, std::nullopt);
        if (!current())
            co_return;
        write(this, d->weekStart, session.week_start, &CalendarModel::weekStartChanged, d->forgetIndex);
        if (!current())
            co_return;
        write(this, d->calendars, session.calendars, &CalendarModel::calendarsChanged);
        if (!current())
            co_return;
        d->defaultCalendar = session.default_calendar_id;

        const QList<Instant> grid = days();
        const Instant first = grid.isEmpty() ? monthStart() : grid.constFirst();
        const Instant last = grid.isEmpty() ? monthStart() : grid.constLast();
        const Instant end = calendar().addDays(last, 1).value_or(last);
        const QString path = eventsPath + QStringLiteral("?from=") + format(first, true)
            + QStringLiteral("&to=") + format(end, true) + QStringLiteral("&zone=") + encodedZone(d->zone);

        CalendarEvents answer = co_await client->request<CalendarEvents>(path, get, std::nullopt);
        if (current())
            write(this, d->events, std::move(answer.events), &CalendarModel::eventsChanged, d->forgetIndex);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure && current()) {
        write(this, d->events, QList<CalendarEvent>(), &CalendarModel::eventsChanged, d->forgetIndex);
        if (current())
            write(this, d->error, describeError(failure), &CalendarModel::errorChanged);
    }
    if (current())
        write(this, d->loading, false, &CalendarModel::loadingChanged);
}

void CalendarModel::clear()
{
    d->active = false;
    write(this, d->quickText, QString(), &CalendarModel::quickTextChanged);
    write(this, d->quickSavedNotice, QString(), &CalendarModel::quickSavedNoticeChanged);
    write(this, d->quickSaving, false, &CalendarModel::quickSavingChanged);
    d->generation = QUuid::createUuid();
    write(this, d->calendars, QList<TeamCalendar>(), &CalendarModel::calendarsChanged);
    write(this, d->events, QList<CalendarEvent>(), &CalendarModel::eventsChanged, d->forgetIndex);
    write(this, d->notice, QString(), &CalendarModel::noticeChanged);
    write(this, d->error, QString(), &CalendarModel::errorChanged);
    write(this, d->loading, false, &CalendarModel::loadingChanged);
    setSelectedCalendar(std::nullopt);
    setDate(instantNow());
    write(this, d->zone, d->effectiveZone(), &CalendarModel::zoneChanged, d->forgetIndex);
}

const DayIndex *CalendarModel::dayIndex() const
{
    if (d->events.isEmpty())
        return nullptr;
    if (!d->dayIndex)
        d->dayIndex.emplace(d->events, d->selectedCalendar, calendar());
    return &*d->dayIndex;
}

QList<CalendarEvent> CalendarModel::dayEvents(Instant date) const
{
    const DayIndex *index = dayIndex();
    return index ? index->eventsOn(date) : QList<CalendarEvent>();
}

qsizetype CalendarModel::dayEventCount(Instant date) const
{
    const DayIndex *index = dayIndex();
    return index ? index->countOn(date) : 0;
}

GregorianCalendar CalendarModel::calendar() const { return calendarDates::calendar(d->zone, d->weekStart); }
Instant CalendarModel::monthStart() const { return calendarDates::monthStart(d->zone, d->weekStart, d->date); }
QList<Instant> CalendarModel::days() const { return calendarDates::days(d->zone, d->weekStart, d->date); }
QStringList CalendarModel::weekdayLabels() const { return calendarDates::weekdayLabels(d->zone, d->weekStart); }

QString CalendarModel::display(Instant date, const QString &skeleton, const std::optional<QString> &zone) const
{
    return dates::formatTemplate(date, skeleton, zone.value_or(d->zone));
}

QString CalendarModel::format(Instant date, bool allDay, const std::optional<QString> &zone) const
{
    return dates::formatLocal(date, allDay, zone.value_or(d->zone));
}

std::optional<Instant> CalendarModel::parse(const QString &text, bool allDay, const QString &zone) const
{
    return dates::parseLocal(text, allDay, zone);
}

CalendarEvent CalendarModel::newEvent() const
{
    qint64 target = d->defaultCalendar;
    if (d->selectedCalendar) {
        for (const TeamCalendar &candidate : d->calendars) {
            if (candidate.id == *d->selectedCalendar && candidate.writable) {
                target = candidate.id;
                break;
            }
        }
    }
    const GregorianCalendar cal = calendar();
    const Instant dayStart = cal.startOfDay(d->date);
    const Instant start = cal.nextTime(dayStart, 9, 0, 0).value_or(dayStart);
    const Instant end = start + std::chrono::seconds(3600);

    CalendarEvent event;
    event.calendar_id = target;
    event.start_local = format(start, false);
    event.end_local = format(end, false);
    event.tz = d->zone;
    return event;
}

QCoro::Task<> CalendarModel::save(CalendarEvent event, NativeClient client)
{
    if (!d->active)
        throw CancellationError();
    const QString path = event.id == 0 ? eventsPath : eventsPath + u'/' + QString::number(event.id);
    const QByteArray body = encode(event);

    const QPointer<CalendarModel> self(this);
    const auto active = [&] { return self && self->d->active; };
    const SavedEvent saved = co_await client->request<SavedEvent>(path, post, body);
    if (!active())
        throw CancellationError();
    co_await load(client);
    if (!active())
        throw CancellationError();
    write(this, d->notice, saved.warning.value_or(QString()), &CalendarModel::noticeChanged);
}

QCoro::Task<> CalendarModel::saveQuick(QuickPreview preview, NativeClient client)
{
    if (!d->active || d->quickSaving)
        throw CancellationError();
    write(this, d->quickSaving, true, &CalendarModel::quickSavingChanged);

    const QPointer<CalendarModel> self(this);
    const auto active = [&] { return self && self->d->active; };
    const auto finish = [&] {
        if (active())
            write(this, d->quickSaving, false, &CalendarModel::quickSavingChanged);
    };
    try {
        const QuickDraft &draft = preview.draft;
        const SavedEvent saved = co_await client->request<SavedEvent>(quickPath, post, encode(draft));
        if (!active())
            throw CancellationError();
        const QString confirmation = saved.warning.value_or(tr("Added %1.").arg(draft.title));
        write(this, d->quickText, QString(), &CalendarModel::quickTextChanged);
        write(this, d->quickSavedNotice, confirmation, &CalendarModel::quickSavedNoticeChanged);
        write(this, d->notice, confirmation, &CalendarModel::noticeChanged);
        if (const auto day = parse(draft.start_local, draft.all_day, draft.tz))
            setDate(*day);
        co_await load(client);
    } catch (...) {
        finish();
        throw;
    }
    finish();
}
