#pragma once

#include "instant.h"

#include <QDateTimeEdit>

// A date (and time) picker that shows and edits wall-clock time in a given IANA zone, whatever the
// system's zone is. The edit itself runs in UTC, where every wall-clock value exists once, and the
// date services convert to and from instants in the chosen zone.
class WallClockEdit : public QDateTimeEdit {
    Q_OBJECT
public:
    // `zoneId` unknown or empty means UTC.
    explicit WallClockEdit(const QString &zoneId, QWidget *parent = nullptr);

    Instant instant() const { return m_instant; }
    // Shows `instant` without announcing a change.
    void setInstant(Instant instant);
    // Date only (all-day events) or date with hour and minute.
    void setDateOnly(bool dateOnly);
    bool dateOnly() const { return m_dateOnly; }

signals:
    // The user picked another value. A local time skipped by a clock change becomes the next
    // existing one, a repeated time its first occurrence.
    void instantEdited(Instant instant);

private:
    void wallClockEdited(const QDateTime &wallClock);
    void showInstant();

    QString m_zoneId;
    Instant m_instant{};
    bool m_dateOnly = false;
};
