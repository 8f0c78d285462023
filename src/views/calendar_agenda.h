#pragma once

#include "records.h"

#include <QAbstractListModel>
#include <QColor>
#include <QListView>
#include <QStyledItemDelegate>

class CalendarModel;

// One day's events as a list model: what each row shows, worked out once when the day is shown.
class CalendarAgendaModel : public QAbstractListModel {
    Q_OBJECT
public:
    struct Row {
        CalendarEvent event;
        QColor barColor; // the event's calendar colour, or the accent for an unknown calendar
        QString badge;   // "Cancelled", "Tentative" or empty
        QString time;    // "All day" or the start time
        friend bool operator==(const Row &, const Row &) = default;
    };

    using QAbstractListModel::QAbstractListModel;

    // Shows `events` with the calendars, zone and locale of `model`. Rows that would not change
    // are left alone, so the view does not repaint.
    void show(const CalendarModel &model, const QList<CalendarEvent> &events);
    const QList<Row> &rows() const { return m_rows; }
    // The row of the event with this identity, or -1.
    int rowOf(const QString &identity) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    // Display: the title; accessible text: the whole row as one sentence.
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    QList<Row> m_rows;
};

// Paints an agenda row: a colour bar, the title (struck through when cancelled), the status badge,
// the calendar, the location and, on the right, the time in digits of one width. Each row's height
// is measured once per width.
class CalendarAgendaDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit CalendarAgendaDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    // Forgets measured heights (the rows or the font changed).
    void forgetHeights() const { m_heights.clear(); }

private:
    struct Measured {
        int width = -1;
        int height = 0;
    };
    mutable QHash<QString, Measured> m_heights; // by event identity
};

// The agenda list: painted rows, laid out only as far as they are seen; a click, Return or Space
// chooses the event under the pointer or the focused one.
class CalendarAgendaList : public QListView {
    Q_OBJECT
public:
    explicit CalendarAgendaList(QWidget *parent = nullptr);

    CalendarAgendaModel *agendaModel() const { return m_model; }
    // Shows the day's events, keeping the focused event focused when it is still there.
    void showEvents(const CalendarModel &model, const QList<CalendarEvent> &events);

signals:
    void eventChosen(const CalendarEvent &event);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void choose(const QModelIndex &index);

    CalendarAgendaModel *m_model;
    CalendarAgendaDelegate *m_delegate;
};
