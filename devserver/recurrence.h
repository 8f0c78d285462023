#pragma once

#include "local_time.h"

#include <QString>

#include <vector>

namespace recurrence {
// Whether `rule` is an RRULE this server repeats: FREQ of DAILY, WEEKLY, MONTHLY or YEARLY and the
// common BY parts, INTERVAL, COUNT, UNTIL and WKST.
bool valid(const QString &rule);
// Whether `rule` is one that quick add writes (a frequency, an interval, every weekday): the only
// rules accepted back from clients.
bool quickRule(const QString &rule);
// Wall-clock starts of the series that begins at `first`, from the first one at or after `from` up to
// and including `to`; at most `limit` of them. Times keep their wall-clock value in every
// occurrence; placing them in a zone is the caller's job.
std::vector<LocalDateTime> starts(const QString &rule, const LocalDateTime &first, bool allDay,
                                  const LocalDateTime &from, const LocalDateTime &to, std::size_t limit = 1000);
// "Every week on Tuesday", "Every weekday", "Every month on the 3rd", …; empty for an invalid rule.
QString label(const QString &rule, const LocalDateTime &first);
} // namespace recurrence
