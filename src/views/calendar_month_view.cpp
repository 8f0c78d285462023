#include "calendar_month_view.h"

#include "calendar_model.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace {

constexpr int columns = 7;
constexpr int rows = 6;
constexpr int gridSpacing = 4;     // between columns and between rows
constexpr int gridBottomPadding = 12;
constexpr qreal cornerRadius = 9;
constexpr qreal ringWidth = 2;
constexpr int dotSize = 4;
constexpr int dotSpacing = 3;      // between the day number and its dot
constexpr qreal smallestGlyphScale = 0.7;
constexpr qreal cursorInset = 3.5; // the keyboard cursor sits inside today's ring

void moveMonths(CalendarModel &model, int months)
{
    const std::optional<Instant> moved = model.calendar().addMonths(model.date(), months);
    model.setDate(moved.value_or(model.date()));
}

// One day cell as an accessible table cell: label, value, selected state and a press action.
class DayCellAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    DayCellAccessible(CalendarMonthGrid *grid, int index) : m_grid(grid), m_index(index) {}

    bool isValid() const override { return m_grid && m_index < m_grid->cellCount(); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override
    {
        return m_grid ? m_grid->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(m_grid); }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }

    QString text(QAccessible::Text t) const override
    {
        if (!isValid())
            return {};
        switch (t) {
        case QAccessible::Name:
            return m_grid->cellLabel(m_index);
        case QAccessible::Value:
            return m_grid->cellValue(m_index);
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect local = m_grid->cellRect(m_index);
        return QRect(m_grid->mapToGlobal(local.topLeft()), local.size());
    }
    QAccessible::Role role() const override { return QAccessible::Cell; }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        s.focusable = true;
        s.selectable = true;
        s.selected = m_grid->cell(m_index).selected;
        s.focused = m_grid->hasFocus() && m_grid->cursor() == m_index;
        return s;
    }
    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface *>(this);
        return nullptr;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString &name) override
    {
        if (name == pressAction() && isValid())
            m_grid->choose(m_index);
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

    int index() const { return m_index; }

private:
    QPointer<CalendarMonthGrid> m_grid;
    int m_index;
};

// The grid as a table of day cells; the weekday headings are left out (the cells carry full dates).
class MonthGridAccessible : public QAccessibleWidget {
public:
    explicit MonthGridAccessible(CalendarMonthGrid *grid) : QAccessibleWidget(grid, QAccessible::Table) {}
    ~MonthGridAccessible() override
    {
        for (QAccessible::Id id : std::as_const(m_cells))
            QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return grid()->cellCount(); }
    QAccessibleInterface *child(int index) const override
    {
        if (index < 0 || index >= childCount())
            return nullptr;
        auto found = m_cells.constFind(index);
        if (found != m_cells.constEnd())
            return QAccessible::accessibleInterface(*found);
        auto *cell = new DayCellAccessible(grid(), index);
        m_cells.insert(index, QAccessible::registerAccessibleInterface(cell));
        return cell;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        for (auto it = m_cells.constBegin(); it != m_cells.constEnd(); ++it) {
            if (QAccessible::accessibleInterface(it.value()) == child)
                return it.key();
        }
        return -1;
    }
    QAccessibleInterface *childAt(int x, int y) const override
    {
        return child(grid()->cellAt(grid()->mapFromGlobal(QPoint(x, y))));
    }
    QAccessibleInterface *focusChild() const override
    {
        return grid()->hasFocus() ? child(grid()->cursor()) : nullptr;
    }

private:
    CalendarMonthGrid *grid() const { return static_cast<CalendarMonthGrid *>(widget()); }
    mutable QHash<int, QAccessible::Id> m_cells;
};

QAccessibleInterface *monthGridAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("CalendarMonthGrid") && object && object->isWidgetType())
        return new MonthGridAccessible(static_cast<CalendarMonthGrid *>(object));
    return nullptr;
}

void notifyAccessibility(QWidget *widget, QAccessible::Event type, int child)
{
    if (!QAccessible::isActive() || child < 0)
        return;
    QAccessibleEvent event(widget, type);
    event.setChild(child);
    QAccessible::updateAccessibility(&event);
}

} // namespace

CalendarMonthGrid::CalendarMonthGrid(CalendarModel &model, calendarStyle::ControlSize size, QWidget *parent)
    : QWidget(parent), m_model(model), m_metrics(calendarStyle::monthMetrics(size)), m_now(instantNow)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(monthGridAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled);

    setObjectName(QStringLiteral("monthGrid"));
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    for (auto signal : {&CalendarModel::dateChanged, &CalendarModel::zoneChanged, &CalendarModel::weekStartChanged,
                        &CalendarModel::calendarsChanged, &CalendarModel::eventsChanged,
                        &CalendarModel::selectedCalendarChanged})
        connect(&m_model, signal, this, &CalendarMonthGrid::refresh);

    // Moves the today ring past midnight without waiting for another change.
    auto *tick = new QTimer(this);
    tick->setInterval(60'000);
    connect(tick, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    tick->start();

    refresh();
}

CalendarMonthGrid::~CalendarMonthGrid() = default;

void CalendarMonthGrid::setClock(std::function<Instant()> now)
{
    m_now = std::move(now);
    update();
}

void CalendarMonthGrid::refresh()
{
    m_calendar = m_model.calendar();
    m_monthStart = m_model.monthStart();
    m_days = m_model.days();
    const int selected = selectedIndex();
    if (selected >= 0)
        m_cursor = selected;
    m_cursor = qBound(0, m_cursor, qMax(0, cellCount() - 1));
    update();
    notifyAccessibility(this, QAccessible::Selection, selected);
}

int CalendarMonthGrid::cellCount() const
{
    return int(qMin<qsizetype>(m_days.size(), columns * rows));
}

int CalendarMonthGrid::selectedIndex() const
{
    for (int i = 0; i < cellCount(); ++i) {
        if (m_calendar->sameDay(m_days[i], m_model.date()))
            return i;
    }
    return -1;
}

CalendarMonthGrid::Cell CalendarMonthGrid::cell(int index) const
{
    Cell c;
    if (index < 0 || index >= cellCount())
        return c;
    c.day = m_days[index];
    c.selected = m_calendar->sameDay(c.day, m_model.date());
    c.today = m_calendar->sameDay(c.day, m_now());
    c.inMonth = m_calendar->sameMonth(c.day, m_monthStart);
    c.count = m_model.dayEventCount(c.day);

    const QColor accent = calendarStyle::accent();
    if (c.selected) {
        c.foreground = Qt::white;
        c.background = accent;
    } else {
        c.foreground = c.inMonth ? palette().color(QPalette::WindowText) : calendarStyle::secondaryText(palette());
        c.background = Qt::transparent;
    }
    c.dot = c.count == 0 ? QColor(Qt::transparent) : c.selected ? QColor(Qt::white) : accent;
    c.ring = c.today ? accent : QColor(Qt::transparent);
    return c;
}

QString CalendarMonthGrid::cellLabel(int index) const
{
    if (index < 0 || index >= cellCount())
        return {};
    const QString date = m_model.display(m_days[index], QStringLiteral("EEEE d MMMM yyyy"));
    // The ring that marks today is only seen; a screen reader hears it in the name.
    return m_calendar->sameDay(m_days[index], m_now()) ? tr("%1, today").arg(date) : date;
}

QString CalendarMonthGrid::cellValue(int index) const
{
    if (index < 0 || index >= cellCount())
        return {};
    // Counted apart: Qt 6.4's lupdate stops on an indexed call inside translate()'s arguments.
    const int count = int(m_model.dayEventCount(m_days[index]));
    return QCoreApplication::translate("CalendarMonthView", "%n events", nullptr, count);
}

QStringList CalendarMonthGrid::headings() const
{
    QStringList labels = m_model.weekdayLabels();
    const QFontMetrics metrics(calendarStyle::captionFont(font()));
    const int columnWidth = (width() - (columns - 1) * gridSpacing) / columns;
    const bool fits = std::all_of(labels.cbegin(), labels.cend(), [&](const QString &label) {
        return metrics.horizontalAdvance(label) <= columnWidth;
    });
    if (!fits) {
        for (QString &label : labels)
            label = label.left(1);
    }
    return labels;
}

int CalendarMonthGrid::headingHeight() const
{
    return QFontMetrics(calendarStyle::captionFont(font())).height();
}

QRect CalendarMonthGrid::cellRect(int index) const
{
    if (index < 0 || index >= columns * rows)
        return {};
    const int row = index / columns;
    const int column = index % columns;
    const int available = width() - (columns - 1) * gridSpacing;
    const int left = column * available / columns + column * gridSpacing;
    const int right = (column + 1) * available / columns + column * gridSpacing;
    const int top = headingHeight() + gridSpacing + row * (m_metrics.cell + gridSpacing);
    return QRect(left, top, right - left, m_metrics.cell);
}

int CalendarMonthGrid::cellAt(QPoint position) const
{
    for (int i = 0; i < cellCount(); ++i) {
        if (cellRect(i).contains(position))
            return i;
    }
    return -1;
}

QSize CalendarMonthGrid::sizeHint() const
{
    const int height = headingHeight() + gridSpacing + rows * m_metrics.cell + (rows - 1) * gridSpacing
                       + gridBottomPadding;
    return QSize(columns * m_metrics.cell + (columns - 1) * gridSpacing, height);
}

QSize CalendarMonthGrid::minimumSizeHint() const
{
    return sizeHint();
}

void CalendarMonthGrid::choose(int index)
{
    if (index < 0 || index >= cellCount())
        return;
    setCursor(index);
    m_model.setDate(m_days[index]);
}

void CalendarMonthGrid::setCursor(int index)
{
    if (index == m_cursor)
        return;
    m_cursor = index;
    update();
    if (hasFocus())
        notifyAccessibility(this, QAccessible::Focus, index);
}

void CalendarMonthGrid::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    painter.setFont(calendarStyle::captionFont(font()));
    painter.setPen(calendarStyle::secondaryText(palette()));
    const QStringList labels = headings();
    for (int column = 0; column < columns && column < labels.size(); ++column) {
        const QRect cell = cellRect(column);
        painter.drawText(QRect(cell.left(), 0, cell.width(), headingHeight()), Qt::AlignCenter, labels[column]);
    }

    const QFont body = font();
    for (int i = 0; i < cellCount(); ++i) {
        const Cell c = cell(i);
        const QRectF box = cellRect(i);

        QPainterPath shape;
        shape.addRoundedRect(box, cornerRadius, cornerRadius);
        painter.fillPath(shape, c.background);
        if (c.ring.alpha() > 0) {
            const qreal inset = ringWidth / 2;
            painter.setPen(QPen(c.ring, ringWidth));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(box.adjusted(inset, inset, -inset, -inset), cornerRadius - inset,
                                    cornerRadius - inset);
        }

        QFont numberFont = body;
        numberFont.setBold(c.today);
        const QString number = QString::number(m_calendar->fields(c.day).day);
        const qreal room = box.width() - 4;
        const qreal wanted = QFontMetricsF(numberFont).horizontalAdvance(number);
        if (wanted > room && numberFont.pointSizeF() > 0)
            numberFont.setPointSizeF(numberFont.pointSizeF() * qMax(smallestGlyphScale, room / wanted));
        const QFontMetricsF numberMetrics(numberFont);

        const qreal contentHeight = numberMetrics.height() + dotSpacing + dotSize;
        const qreal top = box.top() + (box.height() - contentHeight) / 2;
        painter.setFont(numberFont);
        painter.setPen(c.foreground);
        painter.drawText(QRectF(box.left(), top, box.width(), numberMetrics.height()),
                         Qt::AlignCenter | Qt::TextSingleLine, number);

        if (c.dot.alpha() > 0) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(c.dot);
            painter.drawEllipse(QRectF(box.center().x() - dotSize / 2.0, top + numberMetrics.height() + dotSpacing,
                                       dotSize, dotSize));
        }

        if (hasFocus() && i == m_cursor) {
            const QColor cursorColour = c.selected ? QColor(Qt::white) : palette().color(QPalette::Highlight);
            painter.setPen(QPen(cursorColour, 1, Qt::DashLine));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(box.adjusted(cursorInset, cursorInset, -cursorInset, -cursorInset),
                                    cornerRadius - cursorInset, cornerRadius - cursorInset);
        }
    }
}

void CalendarMonthGrid::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    m_pressed = cellAt(event->position().toPoint());
}

void CalendarMonthGrid::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(event);
    const int released = cellAt(event->position().toPoint());
    if (released >= 0 && released == m_pressed)
        choose(released);
    m_pressed = -1;
}

void CalendarMonthGrid::keyPressEvent(QKeyEvent *event)
{
    const int last = cellCount() - 1;
    switch (event->key()) {
    case Qt::Key_Left:
        setCursor(qMax(0, m_cursor - 1));
        break;
    case Qt::Key_Right:
        setCursor(qMin(last, m_cursor + 1));
        break;
    case Qt::Key_Up:
        if (m_cursor - columns >= 0)
            setCursor(m_cursor - columns);
        break;
    case Qt::Key_Down:
        if (m_cursor + columns <= last)
            setCursor(m_cursor + columns);
        break;
    case Qt::Key_PageUp:
        emit monthStepRequested(-1);
        break;
    case Qt::Key_PageDown:
        emit monthStepRequested(1);
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        choose(m_cursor);
        break;
    default:
        return QWidget::keyPressEvent(event);
    }
    event->accept();
}

void CalendarMonthGrid::focusInEvent(QFocusEvent *event)
{
    const int selected = selectedIndex();
    if (selected >= 0)
        m_cursor = selected;
    QWidget::focusInEvent(event);
    update();
    notifyAccessibility(this, QAccessible::Focus, m_cursor);
}

void CalendarMonthGrid::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    update();
}

CalendarMonthView::CalendarMonthView(CalendarModel &model, calendarStyle::ControlSize size, QWidget *parent)
    : QWidget(parent), m_model(model), m_metrics(calendarStyle::monthMetrics(size)), m_now(instantNow)
{
    setObjectName(QStringLiteral("monthView"));

    m_title = new QLabel(this);
    m_title->setTextFormat(Qt::PlainText);
    m_title->setFont(calendarStyle::titleFont(font()));
    m_title->setObjectName(QStringLiteral("monthTitle"));

    m_controls = new QWidget(this);
    auto *controls = new QHBoxLayout(m_controls);
    controls->setContentsMargins(0, 0, 0, 0);

    const QString previousName = tr("Previous month");
    m_previous = new QToolButton(m_controls);
    m_previous->setArrowType(Qt::LeftArrow);
    m_previous->setAutoRaise(true);
    m_previous->setToolTip(previousName);
    m_previous->setAccessibleName(previousName);
    m_previous->setObjectName(QStringLiteral("previousMonth"));
    m_previous->setMinimumSize(m_metrics.cell, m_metrics.cell);

    m_today = new QPushButton(tr("Today"), m_controls);
    m_today->setFlat(true);
    m_today->setObjectName(QStringLiteral("today"));
    m_today->setMinimumHeight(m_metrics.cell);

    const QString nextName = tr("Next month");
    m_next = new QToolButton(m_controls);
    m_next->setArrowType(Qt::RightArrow);
    m_next->setAutoRaise(true);
    m_next->setToolTip(nextName);
    m_next->setAccessibleName(nextName);
    m_next->setObjectName(QStringLiteral("nextMonth"));
    m_next->setMinimumSize(m_metrics.cell, m_metrics.cell);

    controls->addWidget(m_previous);
    controls->addWidget(m_today);
    controls->addWidget(m_next);

    m_header = new QGridLayout;
    m_header->setContentsMargins(0, m_metrics.headerPadding, 0, m_metrics.headerPadding);
    m_header->setColumnStretch(1, 1);

    m_grid = new CalendarMonthGrid(model, size, this);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addLayout(m_header);
    column->addWidget(m_grid);

    connect(m_previous, &QToolButton::clicked, this, [this] { move(-1); });
    connect(m_next, &QToolButton::clicked, this, [this] { move(1); });
    connect(m_today, &QPushButton::clicked, this, &CalendarMonthView::showToday);
    connect(m_grid, &CalendarMonthGrid::monthStepRequested, this, &CalendarMonthView::move);
    for (auto signal : {&CalendarModel::dateChanged, &CalendarModel::zoneChanged})
        connect(&m_model, signal, this, &CalendarMonthView::refreshTitle);

    m_stacked = true; // forces the first arrangement below
    arrangeHeader();
    refreshTitle();
}

void CalendarMonthView::setClock(std::function<Instant()> now)
{
    m_now = now;
    m_grid->setClock(std::move(now));
}

void CalendarMonthView::move(int months)
{
    moveMonths(m_model, months);
}

void CalendarMonthView::showToday()
{
    m_model.setDate(m_now());
}

void CalendarMonthView::refreshTitle()
{
    m_title->setText(m_model.display(m_model.monthStart(), QStringLiteral("MMMM yyyy")));
    arrangeHeader();
}

// Title and buttons side by side when they fit, otherwise the buttons under the title.
void CalendarMonthView::arrangeHeader()
{
    const int needed = m_title->sizeHint().width() + m_header->horizontalSpacing() + m_controls->sizeHint().width();
    const bool stack = width() > 0 && needed > width();
    if (stack == m_stacked)
        return;
    m_stacked = stack;
    m_header->removeWidget(m_title);
    m_header->removeWidget(m_controls);
    m_header->addWidget(m_title, 0, 0, Qt::AlignLeft | Qt::AlignVCenter);
    if (stack)
        m_header->addWidget(m_controls, 1, 0, Qt::AlignLeft);
    else
        m_header->addWidget(m_controls, 0, 2, Qt::AlignRight | Qt::AlignVCenter);
}

void CalendarMonthView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    arrangeHeader();
}
