#pragma once

#include "dates.h"
#include "records.h"

#include "native_http.h"

#include <QObject>

#include <optional>

class DayIndex;
class Preferences;

// Everything the calendar views show: the viewed day, calendars, events, the active zone, the state
// of the last load and of quick add. Lives on the main thread; every published field has a change
// signal, emitted in the order the fields are written.
class CalendarModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString zone READ zone NOTIFY zoneChanged)
    Q_PROPERTY(bool loading READ loading NOTIFY loadingChanged)
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)
    Q_PROPERTY(QString notice READ notice NOTIFY noticeChanged)
    Q_PROPERTY(QString quickText READ quickText WRITE setQuickText NOTIFY quickTextChanged)
    Q_PROPERTY(QString quickSavedNotice READ quickSavedNotice WRITE setQuickSavedNotice NOTIFY quickSavedNoticeChanged)
    Q_PROPERTY(bool quickSaving READ quickSaving NOTIFY quickSavingChanged)
    Q_PROPERTY(qint64 weekStart READ weekStart NOTIFY weekStartChanged)
public:
    // `zone`, when given, overrides the preference for the model's whole life.
    CalendarModel(Preferences &preferences, std::optional<QString> zone, Instant date, QObject *parent = nullptr);
    ~CalendarModel() override;

    // The override preference if it names a known zone, else the system zone.
    static QString preferredZone(const Preferences &preferences);

    Instant date() const;
    void setDate(Instant date);
    std::optional<qint64> selectedCalendar() const;
    void setSelectedCalendar(std::optional<qint64> id);
    const QList<TeamCalendar> &calendars() const;
    // The name of the loaded calendar the filter names; nothing without a filter or when no loaded
    // calendar has that id.
    std::optional<QString> selectedCalendarName() const;
    const QList<CalendarEvent> &events() const;
    QString zone() const;
    bool loading() const;
    QString error() const;
    QString notice() const;
    QString quickText() const;
    void setQuickText(const QString &text);
    QString quickSavedNotice() const;
    void setQuickSavedNotice(const QString &notice);
    bool quickSaving() const;
    // The first weekday as the server sent it: 0 Sunday … 6 Saturday (7 counts as Sunday).
    qint64 weekStart() const;

    // Reloads calendars and the events of the visible grid; never throws. Only the most recently
    // started load writes its results.
    QCoro::Task<> load(NativeClient client);
    // Empties the model and makes it inert for good.
    void clear();
    // Loaded events on the local day of `date` that pass the calendar filter, in the server's order.
    QList<CalendarEvent> dayEvents(Instant date) const;
    // How many dayEvents(date) would return, without copying them. Both are served from a per-day
    // index, so the month grid can count every cell on every repaint.
    qsizetype dayEventCount(Instant date) const;

    GregorianCalendar calendar() const;
    Instant monthStart() const;
    QList<Instant> days() const;
    QStringList weekdayLabels() const;
    QString display(Instant date, const QString &skeleton, const std::optional<QString> &zone = {}) const;
    QString format(Instant date, bool allDay, const std::optional<QString> &zone = {}) const;
    std::optional<Instant> parse(const QString &text, bool allDay, const QString &zone) const;

    CalendarEvent newEvent() const;
    // Throw what the request throws, or CancellationError once the model has been cleared.
    QCoro::Task<> save(CalendarEvent event, NativeClient client);
    QCoro::Task<> saveQuick(QuickPreview preview, NativeClient client);

signals:
    void dateChanged();
    void selectedCalendarChanged();
    void calendarsChanged();
    void eventsChanged();
    void zoneChanged();
    void loadingChanged();
    void errorChanged();
    void noticeChanged();
    void quickTextChanged();
    void quickSavedNoticeChanged();
    void quickSavingChanged();
    void weekStartChanged();

private:
    // Built on first use after events, zone, weekStart or the filter changed; null without events.
    const DayIndex *dayIndex() const;

    struct State;
    std::unique_ptr<State> d;
};
