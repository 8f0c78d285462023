#pragma once

#include "records.h"

#include <QAbstractButton>
#include <QColor>

class CalendarModel;

// One event of the day's agenda: a bar in the calendar's colour, the title (struck through when
// cancelled), a status badge, the calendar's name, the location and the start time. Clicking it
// (or Space while focused) emits clicked().
class CalendarAgendaRow : public QAbstractButton {
    Q_OBJECT
public:
    CalendarAgendaRow(const CalendarModel &model, CalendarEvent event, QWidget *parent = nullptr);

    const CalendarEvent &calendarEvent() const { return m_event; }
    QColor barColor() const { return m_barColor; }
    // The badge shown under the title ("Cancelled", "Tentative"), empty when none.
    QString badge() const { return m_badge; }
    QString timeText() const { return m_time; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    CalendarEvent m_event;
    QColor m_barColor;
    QString m_badge;
    QString m_time;
};
