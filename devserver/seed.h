#pragma once

#include "instant.h"

class Store;

// Fills an empty store with a small team, its calendars and a few dozen events around the month of
// `now` (Europe/Madrid), including a weekly series whose occurrence falls on a local time that the
// nearest clock change skips. Does nothing when the store already has users.
void seedStore(Store &store, Instant now);

// Adds `count` generated events to the 42 days of the month grid (weeks from Monday) around `now`'s
// month, spread over the first user's calendars with varied titles, lengths, locations, statuses and
// zones: a busy team's month for trying the views and measuring the load. Adds them on every call.
void seedBusyMonth(Store &store, Instant now, int count);
