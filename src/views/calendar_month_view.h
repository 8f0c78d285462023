#pragma once

#include "calendar_style.h"
#include "dates.h"
#include "instant.h"

#include <QColor>
#include <QList>
#include <QRect>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class CalendarModel;
class QGridLayout;
class QLabel;
class QToolButton;
class QPushButton;

// The six rows of day cells under their weekday headings, painted in one pass. A click on a cell,
// or Return/Space on the keyboard cursor, chooses that day (sets the model's date). Arrow keys move
// the cursor, Page Up/Page Down step a month. Each cell is an accessible button of its own.
class CalendarMonthGrid : public QWidget {
    Q_OBJECT
public:
    // What one day cell shows; painting and accessibility read the same values.
    struct Cell {
        Instant day;
        bool selected = false;
        bool today = false;
        bool inMonth = false;
        qsizetype count = 0; // the day's events after the calendar filter
        QColor foreground;
        QColor background; // transparent unless selected
        QColor dot;        // transparent when the day has no events
        QColor ring;       // transparent unless today
    };

    CalendarMonthGrid(CalendarModel &model, calendarStyle::ControlSize size, QWidget *parent = nullptr);
    ~CalendarMonthGrid() override;

    int cellCount() const;
    Cell cell(int index) const;
    QRect cellRect(int index) const;
    int cellAt(QPoint position) const; // -1 outside every cell
    int cursor() const { return m_cursor; }
    // The accessible label and value of a cell ("Monday 3 March 2025", "2 events").
    QString cellLabel(int index) const;
    QString cellValue(int index) const;
    // The weekday headings as painted (one character each when the full names do not fit).
    QStringList headings() const;

    void choose(int index);
    void setClock(std::function<Instant()> now);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void monthStepRequested(int offset);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void refresh();
    int headingHeight() const;
    int selectedIndex() const;
    void setCursor(int index);

    CalendarModel &m_model;
    calendarStyle::MonthMetrics m_metrics;
    std::function<Instant()> m_now;
    QList<Instant> m_days;
    std::optional<GregorianCalendar> m_calendar;
    Instant m_monthStart{};
    int m_cursor = 0;
    int m_pressed = -1;
};

// The month containing the model's date: a header with the month title and the "Previous month",
// "Today" and "Next month" buttons, then the day grid. It only reads the model and writes its date;
// the container reloads when the month changes.
class CalendarMonthView : public QWidget {
    Q_OBJECT
public:
    explicit CalendarMonthView(CalendarModel &model,
                               calendarStyle::ControlSize size = calendarStyle::ControlSize::Regular,
                               QWidget *parent = nullptr);

    CalendarMonthGrid *grid() const { return m_grid; }
    // Today's date source, for the "Today" button and the today ring.
    void setClock(std::function<Instant()> now);

    // Moves the date by whole months, keeping the day of the month where it exists.
    void move(int months);
    void showToday();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void refreshTitle();
    void arrangeHeader();

    CalendarModel &m_model;
    calendarStyle::MonthMetrics m_metrics;
    std::function<Instant()> m_now;
    QGridLayout *m_header = nullptr;
    QLabel *m_title = nullptr;
    QWidget *m_controls = nullptr;
    QToolButton *m_previous = nullptr;
    QPushButton *m_today = nullptr;
    QToolButton *m_next = nullptr;
    CalendarMonthGrid *m_grid = nullptr;
    bool m_stacked = false;
};
