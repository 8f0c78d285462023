#pragma once

#include "instant.h"

#include <QString>

#include <chrono>
#include <optional>

// A wall-clock date and time without a zone, the form events are stored and repeated in.
struct LocalDateTime {
    std::chrono::year_month_day date{};
    int minutes = 0; // minutes since local midnight, 0 … 1439

    // "yyyy-MM-dd" (allDay) or "yyyy-MM-ddTHH:mm"; strict, canonical digits only.
    static std::optional<LocalDateTime> parse(const QString &text, bool allDay);
    QString text(bool allDay) const;

    LocalDateTime plusMinutes(qint64 delta) const;
    LocalDateTime plusDays(int days) const;
    // Whole minutes from `other` to this, counted on the wall clock.
    qint64 minutesSince(const LocalDateTime &other) const;
    unsigned weekday() const; // 0 = Sunday … 6 = Saturday
    int hour() const { return minutes / 60; }
    int minute() const { return minutes % 60; }

    friend auto operator<=>(const LocalDateTime &, const LocalDateTime &) = default;
};

// How a wall-clock time was placed on the time line of a zone.
struct PlacedTime {
    enum class Fit { Exact, Skipped, Repeated };
    Instant instant;
    Fit fit = Fit::Exact;
    LocalDateTime actual; // the wall-clock time the instant shows (differs only when Skipped)
};

// Skipped times move to the first existing time after the gap; repeated times take their first
// instant. Unknown zones mean UTC. Nothing for years outside 0001–9999 (the texts hold four digits)
// or a time the date services cannot place.
std::optional<PlacedTime> placeLocal(const LocalDateTime &local, const QString &zone);
// Nothing for an instant whose local date lies outside the years 0001–9999.
std::optional<LocalDateTime> localAt(Instant instant, const QString &zone);
// The zone's identifier if known, else "UTC".
QString resolvedZone(const QString &zone);
