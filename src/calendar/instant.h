#pragma once

#include <QtGlobal>

#include <chrono>

// A point in time. Records carry whole seconds since 1970; the model's date keeps milliseconds.
using Instant = std::chrono::sys_time<std::chrono::milliseconds>;

inline Instant instantFromSeconds(qint64 seconds) { return Instant(std::chrono::seconds(seconds)); }
// Whole seconds since 1970, rounded toward the past.
inline qint64 secondsSinceEpoch(Instant instant)
{
    return std::chrono::floor<std::chrono::seconds>(instant.time_since_epoch()).count();
}
inline Instant instantNow()
{
    return std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now());
}
