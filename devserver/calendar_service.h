#pragma once

#include "instant.h"
#include "local_time.h"
#include "records.h"
#include "store.h"

#include <QByteArray>
#include <QString>

#include <stdexcept>

// A request the server refuses: a 4xx status and one plain sentence for the person.
class Refused : public std::runtime_error {
public:
    Refused(int status, QString message);
    int status() const { return m_status; }
    const QString &message() const { return m_message; }

private:
    int m_status;
    QString m_message;
};

// The calendar exchanges for one signed-in user, on top of the store. Every method throws Refused for
// input it does not accept.
class CalendarService {
public:
    explicit CalendarService(Store &store);

    CalendarSession session(const StoredUser &user) const;
    // Every event and occurrence touching [from, to) (local dates in `zone`), ordered by start.
    CalendarEvents events(const StoredUser &user, const QString &from, const QString &to, const QString &zone) const;
    SavedEvent create(const StoredUser &user, const CalendarEvent &event);
    SavedEvent update(const StoredUser &user, qint64 id, const CalendarEvent &event);
    SavedEvent saveQuick(const StoredUser &user, const QuickDraft &draft);
    // One event as listed (its first occurrence for a series); nullopt when it does not exist or cannot be placed.
    std::optional<CalendarEvent> find(qint64 id) const;

private:
    Store &m_store;
};

// A listed row for a stored event (one occurrence when `occurrence` is set); nothing when the
// occurrence falls outside the years the date services place.
std::optional<CalendarEvent> listedEvent(const StoredEvent &event, const LocalDateTime &start, bool repeating,
                          const StoredCalendar &calendar);
