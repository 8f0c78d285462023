#include "calendar_style.h"

#include <QPalette>

namespace calendarStyle {

QColor accent()
{
    return QColor::fromRgbF(0.78f, 0.22f, 0.29f, 1.0f);
}

QColor hueColor(qint64 hue)
{
    qint64 degrees = hue % 360;
    if (degrees < 0)
        degrees += 360; // QColor refuses negative hues; the same angle on the circle
    return QColor::fromHsvF(float(degrees) / 360.0f, 0.6f, 0.75f, 1.0f);
}

QColor calendarColor(const QList<TeamCalendar> &calendars, qint64 id)
{
    for (const TeamCalendar &calendar : calendars) {
        if (calendar.id == id)
            return hueColor(calendar.hue);
    }
    return accent();
}

QColor errorText()
{
    return QColor(0xC4, 0x2B, 0x1C);
}

QColor secondaryText(const QPalette &palette)
{
    return palette.color(QPalette::PlaceholderText);
}

static QFont scaled(const QFont &base, double factor, bool bold)
{
    QFont font = base;
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    else
        font.setPixelSize(qMax(1, qRound(font.pixelSize() * factor)));
    font.setBold(bold);
    return font;
}

QFont titleFont(const QFont &base)
{
    return scaled(base, 1.45, true);
}

QFont headlineFont(const QFont &base)
{
    return scaled(base, 1.0, true);
}

QFont captionFont(const QFont &base)
{
    return scaled(base, 0.85, false);
}

QFont footnoteFont(const QFont &base)
{
    return scaled(base, 0.9, false);
}

MonthMetrics monthMetrics(ControlSize size)
{
    if (size == ControlSize::Small)
        return {28, 4};
    return {44, 16};
}

} // namespace calendarStyle
