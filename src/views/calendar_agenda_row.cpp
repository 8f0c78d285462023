#include "calendar_agenda_row.h"

#include "calendar_model.h"
#include "calendar_style.h"
#include "server_text.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <QStyleOptionFocusRect>
#include <QVBoxLayout>

namespace {

constexpr int rowSpacing = 14;
constexpr int verticalPadding = 6;
constexpr int lineSpacing = 5;
constexpr int barWidth = 4;
constexpr qreal barRadius = 2;

// The coloured bar at the leading edge, as tall as the row.
class ColourBar : public QWidget {
public:
    ColourBar(QColor colour, QWidget *parent) : QWidget(parent), m_colour(colour)
    {
        setFixedWidth(barWidth);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), barRadius, barRadius);
        painter.fillPath(path, m_colour);
    }

private:
    QColor m_colour;
};

QLabel *secondaryLabel(QLabel *label, const QFont &font)
{
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, calendarStyle::secondaryText(palette));
    label->setPalette(palette);
    return label;
}

// A caption with a small icon in front of it, when the icon theme has one.
QWidget *iconLabel(const QString &iconName, QLabel *text, QWidget *parent)
{
    auto *box = new QWidget(parent);
    auto *layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    const QIcon icon = QIcon::fromTheme(iconName);
    if (!icon.isNull()) {
        auto *image = new QLabel(box);
        image->setTextFormat(Qt::PlainText);
        const int side = text->fontMetrics().height();
        image->setPixmap(icon.pixmap(side, side));
        layout->addWidget(image, 0, Qt::AlignTop);
    }
    layout->addWidget(text, 1);
    return box;
}

// Digits of one width, so the times of the day line up. Qt 6.4 cannot ask a font for its tabular
// figures (QFont's OpenType feature switches came with Qt 6.7), so the time is set in the system's
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

} // namespace

CalendarAgendaRow::CalendarAgendaRow(const CalendarModel &model, CalendarEvent event, QWidget *parent)
    : QAbstractButton(parent), m_event(std::move(event))
{
    setObjectName(QStringLiteral("agendaRow"));
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);

    m_barColor = calendarStyle::calendarColor(model.calendars(), m_event.calendar_id);
    if (m_event.status == QLatin1String("cancelled"))
        m_badge = tr("Cancelled");
    else if (m_event.status == QLatin1String("tentative"))
        m_badge = tr("Tentative");
    m_time = m_event.all_day ? tr("All day")
                             : model.display(instantFromSeconds(m_event.start), QStringLiteral("jm"));

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, verticalPadding, 0, verticalPadding);
    row->setSpacing(rowSpacing);
    row->addWidget(new ColourBar(m_barColor, this));

    auto *lines = new QVBoxLayout;
    lines->setSpacing(lineSpacing);
    QLabel *title = serverText::label(m_event.title, this);
    title->setObjectName(QStringLiteral("agendaTitle"));
    QFont titleFont = calendarStyle::headlineFont(font());
    titleFont.setStrikeOut(m_event.status == QLatin1String("cancelled"));
    title->setFont(titleFont);
    lines->addWidget(title);

    const QFont caption = calendarStyle::captionFont(font());
    if (!m_badge.isEmpty()) {
        auto *badge = new QLabel(m_badge, this);
        badge->setTextFormat(Qt::PlainText);
        badge->setObjectName(QStringLiteral("agendaBadge"));
        const QString icon = m_event.status == QLatin1String("cancelled") ? QStringLiteral("process-stop")
                                                                          : QStringLiteral("dialog-question");
        lines->addWidget(iconLabel(icon, secondaryLabel(badge, caption), this));
    }
    lines->addWidget(secondaryLabel(serverText::label(m_event.calendar_name, this), caption));
    if (!m_event.location.isEmpty()) {
        QLabel *location = secondaryLabel(serverText::label(m_event.location, this), font());
        location->setObjectName(QStringLiteral("agendaLocation"));
        lines->addWidget(iconLabel(QStringLiteral("mark-location"), location, this));
    }
    row->addLayout(lines, 1);

    auto *time = new QLabel(m_time, this);
    time->setTextFormat(Qt::PlainText);
    time->setObjectName(QStringLiteral("agendaTime"));
    secondaryLabel(time, timeFont(font()));
    row->addWidget(time, 0, Qt::AlignTop | Qt::AlignRight);

    setAccessibleName(m_event.title);
    setAccessibleDescription(QStringList{m_badge, m_event.calendar_name, m_event.location, m_time}
                                 .filter(QRegularExpression(QStringLiteral("\\S")))
                                 .join(QStringLiteral(", ")));
}

QSize CalendarAgendaRow::sizeHint() const
{
    return layout()->sizeHint();
}

QSize CalendarAgendaRow::minimumSizeHint() const
{
    return layout()->minimumSize();
}

void CalendarAgendaRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (isDown() || underMouse()) {
        QColor shade = palette().color(QPalette::Highlight);
        shade.setAlphaF(isDown() ? 0.18f : 0.08f);
        painter.fillRect(rect(), shade);
    }
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.backgroundColor = palette().color(QPalette::Window);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}
