#pragma once

#include "instant.h"
#include "store.h"

#include <QByteArray>

#include <vector>

// The events of a user's calendars as one iCalendar text (RFC 5545), written with libical: every
// stored event once, a series as its first occurrence with its RRULE; timed events at their wall
// time in their own zone, with one VTIMEZONE per zone used; all-day events as dates (end exclusive).
// Each event names its calendar in CATEGORIES. Not thread-safe (libical's zone cache): the server
// calls it under its lock.
QByteArray exportCalendars(const std::vector<StoredCalendar> &calendars, const std::vector<StoredEvent> &events,
                           Instant now);
