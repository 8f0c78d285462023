#pragma once

#include "instant.h"
#include "local_time.h"
#include "records.h"
#include "store.h"

#include <QString>

#include <variant>
#include <vector>

namespace quick {

// Why a sentence could not be read; `message` is shown to the person who typed it.
struct Refusal {
    int status = 422;
    QString message;
};

// Interprets an English sentence ("Lunch tomorrow at 1pm for an hour at Moe's") in `zone` as of
// `now`. Calendars are those the person can see; a named read-only calendar is replaced by the
// default one (or the first writable one), and every such guess is listed in `assumptions`.
std::variant<QuickPreview, Refusal> interpret(const QString &text, const QString &zone, Instant now,
                                              const std::vector<StoredCalendar> &calendars,
                                              qint64 defaultCalendarId);

// "Tuesday, March 3, 2026, 1:00 PM – 2:00 PM" or "Tuesday, March 3, 2026, all day".
QString describeWhen(const LocalDateTime &start, const LocalDateTime &end, bool allDay);
QString clockText(const LocalDateTime &time); // "1:00 PM"
QString dayText(const LocalDateTime &time);   // "Tuesday, March 3, 2026"

} // namespace quick
