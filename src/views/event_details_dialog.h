#pragma once

#include "native_http.h"
#include "records.h"

#include <QDialog>
#include <QUrl>

class CalendarModel;
class QPushButton;

// The read-only details of one event, 480 × 500, closed with "Done". A read-only event links to the
// server's web calendar; a writable one offers "Edit event".
class EventDetailsDialog : public QDialog {
    Q_OBJECT
public:
    EventDetailsDialog(const CalendarModel &model, const NativeClient &client, CalendarEvent event,
                       QWidget *parent = nullptr);

    const CalendarEvent &calendarEvent() const { return m_event; }

    // The event's page on the server's web calendar: the origin with "events/<id>" appended.
    static QUrl webCalendarUrl(const QUrl &origin, qint64 id);

signals:
    // "Edit event" was chosen; the dialog closes right after.
    void editRequested();

private:
    CalendarEvent m_event;
};
