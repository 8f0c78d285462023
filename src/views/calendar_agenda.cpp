#include "calendar_agenda.h"

#include "calendar_model.h"
#include "calendar_style.h"
#include "server_text.h"

#include <QApplication>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int rowSpacing = 14;
constexpr int verticalPadding = 6;
constexpr int lineSpacing = 5;
constexpr int barWidth = 4;
constexpr qreal barRadius = 2;
constexpr int iconGap = 4;
constexpr int rowsPerBatch = 64; // rows laid out per turn of the event loop

// Digits of one width, so the times of the day line up. Qt 6.4 cannot ask a font for its tabular
// figures (QFont's OpenType feature switches came later), so the time is set in the system's
// fixed-pitch font at the row's size.
QFont timeFont(const QFont &base)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (base.pointSizeF() > 0)
        font.setPointSizeF(base.pointSizeF());
    else
        font.setPixelSize(base.pixelSize());
    return font;
}

bool isCancelled(const CalendarEvent &event)
{
    return event.status == QLatin1String("cancelled");
}

QString badgeIcon(const CalendarEvent &event)
{
    return isCancelled(event) ? QStringLiteral("process-stop") : QStringLiteral("dialog-question");
}

// Where everything of one row goes, for a given width; measured the same way for the height and
// for painting.
struct RowLayout {
    struct Line {
        QRect rect;
        QString text;
        QFont font;
        QString icon; // theme icon in front of the text, or empty
        bool primary = false;
    };
    QList<Line> lines;
    QRect time;
    QFont timeFont;
    int height = 0;
};

RowLayout layoutRow(const CalendarAgendaModel::Row &row, const QFont &base, int width)
{
    RowLayout layout;
    layout.timeFont = timeFont(base);
    const int timeWidth = QFontMetrics(layout.timeFont).horizontalAdvance(row.time);
    const int left = barWidth + rowSpacing;
    // The time keeps a gap from the right edge, where the scroll bar sits.
    const int textWidth = qMax(1, width - left - 2 * rowSpacing - timeWidth);
    int y = verticalPadding;
    const auto add = [&](const QString &text, const QFont &font, const QString &icon, bool primary) {
        const QFontMetrics metrics(font);
        const int indent = icon.isEmpty() || QIcon::fromTheme(icon).isNull() ? 0 : metrics.height() + iconGap;
        const QString shown = serverText::breakable(text);
        const QRect bounds = metrics.boundingRect(QRect(0, 0, textWidth - indent, 1 << 20), Qt::TextWordWrap, shown);
        if (!layout.lines.isEmpty())
            y += lineSpacing;
        layout.lines.append({QRect(left + indent, y, textWidth - indent, bounds.height()), shown, font,
                             indent ? icon : QString(), primary});
        y += bounds.height();
    };
    QFont title = calendarStyle::headlineFont(base);
    title.setStrikeOut(isCancelled(row.event));
    add(row.event.title, title, {}, true);
    const QFont caption = calendarStyle::captionFont(base);
    if (!row.badge.isEmpty())
        add(row.badge, caption, badgeIcon(row.event), false);
    add(row.event.calendar_name, caption, {}, false);
    if (!row.event.location.isEmpty())
        add(row.event.location, base, QStringLiteral("mark-location"), false);
    layout.time = QRect(width - rowSpacing - timeWidth, verticalPadding, timeWidth, QFontMetrics(layout.timeFont).height());
    layout.height = qMax(y, layout.time.bottom() + 1) + verticalPadding;
    return layout;
}

} // namespace

void CalendarAgendaModel::show(const CalendarModel &model, const QList<CalendarEvent> &events)
{
    QList<Row> rows;
    rows.reserve(events.size());
    for (const CalendarEvent &event : events) {
        Row row{event, calendarStyle::calendarColor(model.calendars(), event.calendar_id), {}, {}};
        if (isCancelled(event))
            row.badge = tr("Cancelled");
        else if (event.status == QLatin1String("tentative"))
            row.badge = tr("Tentative");
        row.time = event.all_day ? tr("All day") : model.display(instantFromSeconds(event.start), QStringLiteral("jm"));
        rows.append(std::move(row));
    }
    if (rows == m_rows)
        return;
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int CalendarAgendaModel::rowOf(const QString &identity) const
{
    for (qsizetype i = 0; i < m_rows.size(); ++i)
        if (m_rows.at(i).event.identity() == identity)
            return int(i);
    return -1;
}

int CalendarAgendaModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant CalendarAgendaModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const Row &row = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return row.event.title;
    case Qt::AccessibleTextRole: {
        QStringList parts{row.event.title, row.badge, row.event.calendar_name, row.event.location, row.time};
        parts.removeAll(QString());
        return parts.join(QStringLiteral(", "));
    }
    default:
        return {};
    }
}

CalendarAgendaDelegate::CalendarAgendaDelegate(QObject *parent) : QStyledItemDelegate(parent) {}

QSize CalendarAgendaDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const auto *model = qobject_cast<const CalendarAgendaModel *>(index.model());
    if (!model)
        return QStyledItemDelegate::sizeHint(option, index);
    const CalendarAgendaModel::Row &row = model->rows().at(index.row());
    // The list asks without a rectangle: rows are as wide as its viewport.
    const auto *view = qobject_cast<const QAbstractItemView *>(option.widget);
    const int width = option.rect.width() > 0 ? option.rect.width() : view ? view->viewport()->width() : 0;
    Measured &measured = m_heights[row.event.identity()];
    if (measured.width != width)
        measured = {width, layoutRow(row, option.font, width).height};
    return {width, measured.height};
}

void CalendarAgendaDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                   const QModelIndex &index) const
{
    const auto *model = qobject_cast<const CalendarAgendaModel *>(index.model());
    if (!model)
        return QStyledItemDelegate::paint(painter, option, index);
    const CalendarAgendaModel::Row &row = model->rows().at(index.row());

    QStyleOptionViewItem panel = option;
    initStyleOption(&panel, index);
    panel.text.clear();
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &panel, painter, widget);

    painter->save();
    painter->translate(option.rect.topLeft());
    const RowLayout layout = layoutRow(row, option.font, option.rect.width());
    painter->setRenderHint(QPainter::Antialiasing);
    QPainterPath bar;
    bar.addRoundedRect(QRectF(0, 0, barWidth, option.rect.height()), barRadius, barRadius);
    painter->fillPath(bar, row.barColor);

    const bool selected = option.state & QStyle::State_Selected;
    const QColor primary = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    const QColor secondary = selected ? primary : calendarStyle::secondaryText(option.palette);
    for (const RowLayout::Line &line : layout.lines) {
        if (!line.icon.isEmpty()) {
            const int side = QFontMetrics(line.font).height();
            QIcon::fromTheme(line.icon).paint(painter, QRect(line.rect.left() - side - iconGap, line.rect.top(), side, side));
        }
        painter->setFont(line.font);
        painter->setPen(line.primary ? primary : secondary);
        painter->drawText(line.rect, Qt::TextWordWrap, line.text);
    }
    painter->setFont(layout.timeFont);
    painter->setPen(secondary);
    painter->drawText(layout.time, Qt::AlignRight | Qt::AlignTop, row.time);
    painter->restore();

    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.backgroundColor = option.palette.color(QPalette::Window);
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
    }
}

CalendarAgendaList::CalendarAgendaList(QWidget *parent)
    : QListView(parent), m_model(new CalendarAgendaModel(this)), m_delegate(new CalendarAgendaDelegate(this))
{
    setObjectName(QStringLiteral("agendaList"));
    setAccessibleName(tr("Events"));
    setModel(m_model);
    setItemDelegate(m_delegate);
    setSelectionMode(QAbstractItemView::NoSelection);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setResizeMode(QListView::Adjust);
    setLayoutMode(QListView::Batched);
    setBatchSize(rowsPerBatch);
    setFrameShape(QFrame::NoFrame);
    setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_Hover);
    viewport()->setCursor(Qt::PointingHandCursor);
    QPalette transparent = palette();
    transparent.setColor(QPalette::Base, Qt::transparent);
    setPalette(transparent);
    connect(this, &QListView::clicked, this, &CalendarAgendaList::choose);
}

void CalendarAgendaList::showEvents(const CalendarModel &model, const QList<CalendarEvent> &events)
{
    const QModelIndex focused = currentIndex();
    const QString identity = focused.isValid() ? m_model->rows().at(focused.row()).event.identity() : QString();
    m_delegate->forgetHeights();
    m_model->show(model, events);
    if (!identity.isEmpty() && !currentIndex().isValid()) {
        const int row = m_model->rowOf(identity);
        if (row >= 0)
            setCurrentIndex(m_model->index(row));
    }
}

void CalendarAgendaList::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (currentIndex().isValid()) {
            choose(currentIndex());
            return;
        }
        break;
    default:
        break;
    }
    QListView::keyPressEvent(event);
}

void CalendarAgendaList::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        m_delegate->forgetHeights();
    QListView::changeEvent(event);
}

void CalendarAgendaList::choose(const QModelIndex &index)
{
    if (index.isValid())
        emit eventChosen(m_model->rows().at(index.row()).event);
}
