#pragma once

#include "instant.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class GregorianCalendar;

// Wire records of the calendar server. Decoding is strict: the text must be JSON by RFC 8259 (UTF-8,
// no byte-order mark, no raw control characters or unknown escapes in strings), every listed member
// is required, null or a wrong JSON type fails the whole decode, integers must be integral and fit
// 64 bits, unknown members are ignored. decode() returns false on any failure and leaves `out`
// unspecified. Equal short texts of one answer (zones, statuses, dates) share their storage.

struct TeamCalendar {
    qint64 id = 0;
    QString name;
    qint64 hue = 0;
    bool writable = false;
    friend bool operator==(const TeamCalendar &, const TeamCalendar &) = default;
};

struct CalendarEvent {
    qint64 id = 0;
    qint64 calendar_id = 0;
    QString status = QStringLiteral("confirmed");
    QString title;
    QString location;
    QString notes;
    bool all_day = false;
    QString start_local;
    QString end_local;
    QString tz;
    qint64 start = 0;
    qint64 end = 0;
    bool recurring = false;
    bool writable = true;
    QString calendar_name;
    QString occurrence;
    QString day_start;
    QString day_end;

    friend bool operator==(const CalendarEvent &, const CalendarEvent &) = default;

    // id "-" occurrence "-" start: keys rows so occurrences of one series stay distinct.
    QString identity() const;
    // Whether the event covers the local day of `date` in `calendar`'s zone.
    bool occurs(Instant date, const GregorianCalendar &calendar) const;
};

struct CalendarEvents {
    QList<CalendarEvent> events;
};

struct CalendarSession {
    qint64 week_start = 1;
    QString zone;
    QList<TeamCalendar> calendars;
    qint64 default_calendar_id = 0;
};

struct SavedEvent {
    qint64 id = 0;
    std::optional<QString> warning;
};

struct QuickDraft {
    qint64 calendar_id = 0;
    QString title;
    QString location;
    QString start_local;
    QString end_local;
    QString tz;
    bool all_day = false;
    QString repeat;
    QStringList attendees;
    friend bool operator==(const QuickDraft &, const QuickDraft &) = default;
};

struct QuickPreview {
    QuickDraft draft;
    QString when;
    QString repeat_label;
    QString calendar_name;
    QStringList assumptions;
};

bool decode(const QByteArray &json, TeamCalendar &out);
bool decode(const QByteArray &json, CalendarEvent &out);
bool decode(const QByteArray &json, CalendarEvents &out);
bool decode(const QByteArray &json, CalendarSession &out);
bool decode(const QByteArray &json, SavedEvent &out);
bool decode(const QByteArray &json, QuickDraft &out);
bool decode(const QByteArray &json, QuickPreview &out);

// Compact JSON with every member (18 for an event, 9 for a draft).
QByteArray encode(const CalendarEvent &event);
QByteArray encode(const QuickDraft &draft);
