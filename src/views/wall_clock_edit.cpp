#include "wall_clock_edit.h"

#include "dates.h"

#include <QLocale>
#include <QSignalBlocker>

namespace {

// The locale's short date with the year in full: two-digit years are ambiguous in an editor.
QString fullYearDateFormat(const QLocale &locale)
{
    QString format = locale.dateFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("yyyy")))
        format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    return format;
}

} // namespace

WallClockEdit::WallClockEdit(const QString &zoneId, QWidget *parent)
    : QDateTimeEdit(parent), m_zoneId(GregorianCalendar(zoneId, 1).zoneId())
{
    setTimeSpec(Qt::UTC);
    setDateTimeRange(QDateTime(QDate(100, 1, 1), QTime(0, 0), Qt::UTC),
                     QDateTime(QDate(9999, 12, 31), QTime(23, 59), Qt::UTC));
    setCalendarPopup(true);
    setDateOnly(false);
    connect(this, &QDateTimeEdit::dateTimeChanged, this, &WallClockEdit::wallClockEdited);
    // A skipped time typed by the user shows as the time it stands for once editing ends.
    connect(this, &QAbstractSpinBox::editingFinished, this, &WallClockEdit::showInstant);
}

void WallClockEdit::setInstant(Instant instant)
{
    m_instant = instant;
    showInstant();
}

void WallClockEdit::setDateOnly(bool dateOnly)
{
    m_dateOnly = dateOnly;
    const QSignalBlocker blocker(this);
    const QString dateFormat = fullYearDateFormat(locale());
    setDisplayFormat(dateOnly ? dateFormat : dateFormat + u' ' + locale().timeFormat(QLocale::ShortFormat));
}

void WallClockEdit::showInstant()
{
    // Date and time are read apart: a QDateTime parsed whole would pass through the system zone.
    const QString local = dates::formatLocal(m_instant, false, m_zoneId);
    const QDate day = QDate::fromString(local.left(10), QStringLiteral("yyyy-MM-dd"));
    const QTime time = QTime::fromString(local.mid(11), QStringLiteral("HH:mm"));
    const QSignalBlocker blocker(this);
    setDateTime(QDateTime(day, time, Qt::UTC));
}

void WallClockEdit::wallClockEdited(const QDateTime &wallClock)
{
    const GregorianCalendar calendar(m_zoneId, 1);
    const QDate day = wallClock.date();
    const QTime time = wallClock.time();
    const std::optional<Instant> dayStart = calendar.date(day.year(), day.month(), day.day());
    if (!dayStart)
        return; // a date the zone skipped entirely: the value shown again when editing ends
    m_instant = m_dateOnly ? *dayStart : calendar.nextTime(*dayStart, time.hour(), time.minute(), 0).value_or(*dayStart);
    emit instantEdited(m_instant);
}
