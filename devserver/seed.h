#pragma once

#include "instant.h"

class Store;

// Fills an empty store with a small team, its calendars and a few dozen events around the month of
// `now` (Europe/Madrid), including a weekly series whose occurrence falls on a local time that the
// nearest clock change skips. Does nothing when the store already has users.
void seedStore(Store &store, Instant now);
