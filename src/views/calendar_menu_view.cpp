#include "calendar_menu_view.h"

#include "calendar_agenda.h"
#include "calendar_model.h"
#include "calendar_month_view.h"
#include "calendar_style.h"
#include "loading_bar.h"
#include "preferences.h"
#include "quick_add_view.h"
#include "server_text.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QLabel *secondary(QLabel *label)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, calendarStyle::secondaryText(palette));
    label->setPalette(palette);
    return label;
}

QToolButton *iconButton(const QString &iconName, const QString &fallback, const QString &label, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setIcon(QIcon::fromTheme(iconName, QIcon::fromTheme(fallback)));
    button->setText(label);
    button->setToolTip(label);
    button->setAccessibleName(label);
    button->setToolButtonStyle(button->icon().isNull() ? Qt::ToolButtonTextOnly : Qt::ToolButtonIconOnly);
    button->setAutoRaise(true);
    return button;
}

QFrame *divider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

} // namespace

CalendarMenuView::CalendarMenuView(CalendarModel &model, NativeClient client, Preferences &preferences,
                                   QWidget *parent)
    : QWidget(parent), m_model(model), m_client(std::move(client)), m_preferences(preferences)
{
    setObjectName(QStringLiteral("calendarMenu"));
    setFixedSize(panelSize);

    auto *header = new QHBoxLayout;
    m_title = serverText::label(QString(), this);
    m_title->setObjectName(QStringLiteral("menuTitle"));
    m_title->setFont(calendarStyle::headlineFont(font()));
    header->addWidget(m_title, 1);
    auto *open = iconButton(QStringLiteral("window-new"), QStringLiteral("go-up"), tr("Open Calendar"), this);
    open->setObjectName(QStringLiteral("openCalendar"));
    connect(open, &QToolButton::clicked, this, &CalendarMenuView::openCalendarRequested);
    header->addWidget(open);
    auto *settings = iconButton(QStringLiteral("preferences-system"), QString(), tr("Settings"), this);
    settings->setObjectName(QStringLiteral("menuSettings"));
    connect(settings, &QToolButton::clicked, this, &CalendarMenuView::settingsRequested);
    header->addWidget(settings);

    auto *month = new CalendarMonthView(m_model, calendarStyle::ControlSize::Small, this);
    m_dayTitle = new QLabel(this);
    m_dayTitle->setObjectName(QStringLiteral("menuDayTitle"));
    m_dayTitle->setTextFormat(Qt::PlainText);
    m_dayTitle->setFont(calendarStyle::headlineFont(font()));

    m_loading = new QWidget(this);
    m_loading->setObjectName(QStringLiteral("menuLoading"));
    auto *loadingRow = new QHBoxLayout(m_loading);
    loadingRow->setContentsMargins(0, 0, 0, 0);
    loadingRow->addWidget(new LoadingBar(m_loading), 1);
    loadingRow->addWidget(secondary(serverText::label(tr("Loading events…"), m_loading)), 2);

    m_error = new QWidget(this);
    m_error->setObjectName(QStringLiteral("menuError"));
    auto *errorRow = new QHBoxLayout(m_error);
    errorRow->setContentsMargins(0, 0, 0, 0);
    m_errorText = secondary(serverText::label(QString(), m_error));
    m_errorText->setObjectName(QStringLiteral("menuErrorText"));
    errorRow->addWidget(m_errorText, 1);
    auto *tryAgain = new QPushButton(tr("Try again"), m_error);
    tryAgain->setObjectName(QStringLiteral("menuTryAgain"));
    connect(tryAgain, &QPushButton::clicked, this, &CalendarMenuView::reload);
    errorRow->addWidget(tryAgain, 0, Qt::AlignTop);

    m_noEvents = secondary(serverText::label(tr("No events on this day"), this));
    m_noEvents->setObjectName(QStringLiteral("menuNoEvents"));

    // The panel shows events; "Open Calendar" leads to their details.
    m_events = new CalendarAgendaList(this);
    m_events->viewport()->unsetCursor();

    m_quickAdd = new QuickAddView(m_model, m_client, this);

    auto *footer = new QHBoxLayout;
    m_zone = secondary(serverText::label(QString(), this));
    m_zone->setObjectName(QStringLiteral("menuZone"));
    m_zone->setFont(calendarStyle::captionFont(font()));
    footer->addWidget(m_zone, 1);
    auto *quit = new QPushButton(tr("Quit Calendar"), this);
    quit->setObjectName(QStringLiteral("quitCalendar"));
    connect(quit, &QPushButton::clicked, this, &CalendarMenuView::quitRequested);
    footer->addWidget(quit);

    auto *day = new QVBoxLayout;
    day->setSpacing(12);
    day->addWidget(month);
    day->addWidget(m_dayTitle);
    day->addWidget(m_loading);
    day->addWidget(m_error);
    day->addWidget(m_noEvents);
    day->addWidget(m_events, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(header);
    layout->addLayout(day, 1);
    layout->addWidget(divider(this));
    layout->addWidget(m_quickAdd);
    layout->addLayout(footer);

    connect(&m_model, &CalendarModel::calendarsChanged, this, [this] {
        refreshTitle();
        refreshDay();
    });
    connect(&m_model, &CalendarModel::selectedCalendarChanged, this, [this] {
        refreshTitle();
        refreshDay();
    });
    for (auto signal : {&CalendarModel::eventsChanged, &CalendarModel::loadingChanged, &CalendarModel::errorChanged,
                        &CalendarModel::zoneChanged})
        connect(&m_model, signal, this, &CalendarMenuView::refreshDay);
    connect(&m_model, &CalendarModel::dateChanged, this, [this] {
        const Instant month = m_model.monthStart();
        if (month != m_shownMonth) {
            m_shownMonth = month;
            reload();
        }
        refreshDay();
    });
    connect(&m_model, &CalendarModel::zoneChanged, this, [this] { m_shownMonth = m_model.monthStart(); });
    for (auto signal : {&CalendarModel::quickTextChanged, &CalendarModel::quickSavedNoticeChanged})
        connect(&m_model, signal, this, &CalendarMenuView::refreshQuickAddHeight);
    connect(&m_preferences, &Preferences::changed, this, [this] {
        if (m_model.zone() != CalendarModel::preferredZone(m_preferences))
            reload();
    });

    m_shownMonth = m_model.monthStart();
    refreshTitle();
    refreshDay();
    refreshQuickAddHeight();
}

void CalendarMenuView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    reload();
}

void CalendarMenuView::reload()
{
    // Only the newest load writes its results; the task finishes on its own when dropped here.
    m_model.load(m_client);
}

void CalendarMenuView::refreshTitle()
{
    const QString title = m_model.selectedCalendarName().value_or(tr("All calendars"));
    m_title->setText(serverText::breakable(title));
    m_title->setAccessibleName(title);
}

void CalendarMenuView::refreshDay()
{
    m_dayTitle->setText(m_model.display(m_model.date(), QStringLiteral("EEEE d MMMM")));
    const QList<CalendarEvent> events = m_model.dayEvents(m_model.date());
    const bool failed = !m_model.error().isEmpty();
    m_loading->setVisible(m_model.loading());
    m_errorText->setText(serverText::breakable(m_model.error()));
    m_errorText->setAccessibleName(m_model.error());
    m_error->setVisible(failed);
    m_noEvents->setVisible(!failed && events.isEmpty() && !m_model.loading());
    m_events->setVisible(!events.isEmpty());
    m_events->showEvents(m_model, events);
    m_zone->setText(serverText::breakable(m_model.zone()));
    m_zone->setAccessibleName(m_model.zone());
}

void CalendarMenuView::refreshQuickAddHeight()
{
    const bool busy = !m_model.quickText().isEmpty() || !m_model.quickSavedNotice().isEmpty();
    m_quickAdd->setFixedHeight(busy ? busyQuickAddHeight : quietQuickAddHeight);
}
