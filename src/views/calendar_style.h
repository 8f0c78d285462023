#pragma once

#include "records.h"

#include <QColor>
#include <QFont>
#include <QList>

class QPalette;

// Colours, fonts and metrics shared by the calendar views.
namespace calendarStyle {

// The app's accent: selected day, event dots, today's ring, events of unknown calendars.
QColor accent();

// The colour of a calendar with this hue in degrees. Hues outside 0…359 wrap around the circle
// (725 → 5, −30 → 330).
QColor hueColor(qint64 hue);
// The colour of the first calendar in `calendars` with this id, or the accent when none has it.
QColor calendarColor(const QList<TeamCalendar> &calendars, qint64 id);

// Failure sentences.
QColor errorText();

// Text of lesser importance (captions, days of adjacent months).
QColor secondaryText(const QPalette &palette);

// Fonts relative to the widget's base font.
QFont titleFont(const QFont &base);    // large bold titles
QFont headlineFont(const QFont &base); // bold row titles
QFont captionFont(const QFont &base);
QFont footnoteFont(const QFont &base);

enum class ControlSize { Regular, Small };

struct MonthMetrics {
    int cell;          // minimum cell height; arrow buttons and "Today" are at least this tall
    int headerPadding; // above and below the month header
};
MonthMetrics monthMetrics(ControlSize size);

} // namespace calendarStyle
