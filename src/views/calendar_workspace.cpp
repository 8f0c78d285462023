#include "calendar_workspace.h"

#include "calendar_agenda.h"
#include "calendar_live_updates.h"
#include "calendar_model.h"
#include "calendar_month_view.h"
#include "calendar_style.h"
#include "event_details_dialog.h"
#include "event_editor.h"
#include "loading_bar.h"
#include "calendar_settings_view.h"
#include "quick_add_view.h"
#include "preferences.h"
#include "server_text.h"

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QSplitter>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int sidebarMinimumWidth = 220;
constexpr int sidebarIdealWidth = 260;
constexpr int sidebarMaximumWidth = 340;
constexpr int progressPadding = 8;
constexpr int calendarDotSize = 12;
constexpr int sidebarRowSpacing = 3;
constexpr QSize quickAddSheetSize(440, 540);

QLabel *plainLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

void makeSecondary(QWidget *widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, calendarStyle::secondaryText(palette));
    widget->setPalette(palette);
}

QIcon dotIcon(const QColor &colour)
{
    QPixmap pixmap(calendarDotSize, calendarDotSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(1, 1, calendarDotSize - 2, calendarDotSize - 2));
    return QIcon(pixmap);
}

QLabel *themeIcon(const QString &name, int side, QWidget *parent)
{
    auto *image = new QLabel(parent);
    image->setTextFormat(Qt::PlainText);
    const QIcon icon = QIcon::fromTheme(name);
    if (icon.isNull())
        image->hide();
    else
        image->setPixmap(icon.pixmap(side, side));
    return image;
}

// A centred "nothing to show" block: icon, title, description.
QWidget *unavailablePanel(const QString &iconName, const QString &title, QLabel *description, QWidget *parent)
{
    auto *panel = new QWidget(parent);
    auto *layout = new QVBoxLayout(panel);
    layout->setContentsMargins(16, 24, 16, 24);
    layout->addWidget(themeIcon(iconName, 40, panel), 0, Qt::AlignHCenter);
    QLabel *heading = plainLabel(title, panel);
    heading->setFont(calendarStyle::titleFont(panel->font()));
    heading->setAlignment(Qt::AlignHCenter);
    layout->addWidget(heading);
    description->setParent(panel);
    description->setAlignment(Qt::AlignHCenter);
    makeSecondary(description);
    layout->addWidget(description);
    return panel;
}

// Shows calendar names with break opportunities inside very long words; the items keep the names
// as received.
class BreakableItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->text = serverText::breakable(option->text);
    }
};

std::optional<qint64> filterOf(const QListWidgetItem *item)
{
    const QVariant id = item->data(Qt::UserRole);
    if (!id.isValid() || id.toLongLong() == 0)
        return std::nullopt;
    return id.toLongLong();
}

} // namespace

CalendarWorkspace::CalendarWorkspace(CalendarModel &model, NativeClient client, Preferences &preferences,
                                     QWidget *parent)
    : QWidget(parent), m_model(model), m_client(std::move(client)), m_preferences(preferences)
{
    setObjectName(QStringLiteral("workspace"));

    auto *split = new QSplitter(Qt::Horizontal, this);
    split->setChildrenCollapsible(false);
    split->addWidget(buildSidebar());
    split->addWidget(buildDetail());
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({sidebarIdealWidth, 4 * sidebarIdealWidth});
    split->restoreState(m_preferences.splitterState()); // the sidebar width of the last run
    connect(split, &QSplitter::splitterMoved, this,
            [this, split] { m_preferences.setSplitterState(split->saveState()); });

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(split);

    connect(&m_model, &CalendarModel::calendarsChanged, this, [this] {
        rebuildCalendars();
        refreshNewEvent();
        refreshTitle();
        rebuildAgenda();
    });
    connect(&m_model, &CalendarModel::selectedCalendarChanged, this, [this] {
        showFilter();
        refreshTitle();
        rebuildAgenda();
    });
    connect(&m_model, &CalendarModel::eventsChanged, this, &CalendarWorkspace::rebuildAgenda);
    connect(&m_model, &CalendarModel::dateChanged, this, &CalendarWorkspace::dateChanged);
    connect(&m_model, &CalendarModel::zoneChanged, this, [this] {
        // Only a load or a clear writes the zone, and either already brings the events of the new
        // month boundaries; no second load for the same change.
        m_shownMonth = m_model.monthStart();
        m_zone->setText(serverText::breakable(m_model.zone()));
        m_zone->setAccessibleName(m_model.zone());
        rebuildAgenda();
    });
    for (auto signal : {&CalendarModel::noticeChanged, &CalendarModel::loadingChanged, &CalendarModel::errorChanged})
        connect(&m_model, signal, this, &CalendarWorkspace::refreshStatus);

    connect(&m_preferences, &Preferences::changed, this, &CalendarWorkspace::preferencesChanged);

    // Window-wide, so it works wherever the focus is, even after the focused row was rebuilt.
    auto *refreshKey = new QShortcut(QKeySequence::Refresh, this);
    refreshKey->setContext(Qt::WindowShortcut);
    connect(refreshKey, &QShortcut::activated, this, &CalendarWorkspace::reload);

    m_shownMonth = m_model.monthStart();
    rebuildCalendars();
    refreshNewEvent();
    refreshTitle();
    refreshStatus();
    rebuildAgenda();
}

CalendarWorkspace::~CalendarWorkspace() = default;

QWidget *CalendarWorkspace::buildSidebar()
{
    auto *sidebar = new QWidget;
    sidebar->setObjectName(QStringLiteral("sidebar"));
    sidebar->setMinimumWidth(sidebarMinimumWidth);
    sidebar->setMaximumWidth(sidebarMaximumWidth);

    m_calendars = new QListWidget(sidebar);
    m_calendars->setObjectName(QStringLiteral("calendarFilter"));
    m_calendars->setAccessibleName(tr("Calendar"));
    m_calendars->setSelectionMode(QAbstractItemView::SingleSelection);
    m_calendars->setWordWrap(true);
    m_calendars->setTextElideMode(Qt::ElideNone);
    m_calendars->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_calendars->setFrameShape(QFrame::NoFrame);
    m_calendars->setSpacing(sidebarRowSpacing);
    m_calendars->setItemDelegate(new BreakableItemDelegate(m_calendars));
    connect(m_calendars, &QListWidget::itemSelectionChanged, this, &CalendarWorkspace::filterChosen);

    auto *zoneCaption = plainLabel(tr("Time zone"), sidebar);
    zoneCaption->setFont(calendarStyle::footnoteFont(font()));
    m_zone = serverText::label(m_model.zone(), sidebar);
    m_zone->setObjectName(QStringLiteral("timeZone"));
    m_zone->setFont(calendarStyle::footnoteFont(font()));
    makeSecondary(m_zone);
    zoneCaption->setBuddy(m_zone);

    auto *settings = new QPushButton(QIcon::fromTheme(QStringLiteral("preferences-system")), tr("Settings"), sidebar);
    settings->setObjectName(QStringLiteral("settings"));
    connect(settings, &QPushButton::clicked, this, &CalendarWorkspace::openSettings);

    auto *signOut = new QPushButton(tr("Sign out"), sidebar);
    signOut->setObjectName(QStringLiteral("signOut"));
    connect(signOut, &QPushButton::clicked, this, &CalendarWorkspace::signOutRequested);

    auto *zoneRow = new QHBoxLayout;
    zoneRow->addWidget(zoneCaption, 0, Qt::AlignTop);
    zoneRow->addWidget(m_zone, 1);

    auto *layout = new QVBoxLayout(sidebar);
    layout->addWidget(m_calendars, 1);
    layout->addLayout(zoneRow);
    layout->addWidget(settings);
    layout->addWidget(signOut);
    return sidebar;
}

QWidget *CalendarWorkspace::buildDetail()
{
    auto *detail = new QWidget;
    detail->setObjectName(QStringLiteral("detail"));

    m_title = plainLabel(tr("Calendar"), detail);
    m_title->setObjectName(QStringLiteral("detailTitle"));
    m_title->setFont(calendarStyle::titleFont(font()));
    m_title->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    m_toolBar = new QToolBar(detail);
    m_toolBar->setObjectName(QStringLiteral("detailToolBar"));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_quickAdd = m_toolBar->addAction(QIcon::fromTheme(QStringLiteral("document-new")), tr("Quick add"));
    m_quickAdd->setObjectName(QStringLiteral("quickAdd"));
    m_quickAdd->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    connect(m_quickAdd, &QAction::triggered, this, &CalendarWorkspace::openQuickAdd);
    m_newEvent = m_toolBar->addAction(QIcon::fromTheme(QStringLiteral("list-add")), tr("New event"));
    m_newEvent->setObjectName(QStringLiteral("newEvent"));
    m_newEvent->setShortcut(QKeySequence::New);
    connect(m_newEvent, &QAction::triggered, this, [this] { edit(m_model.newEvent()); });
    m_refresh = m_toolBar->addAction(QIcon::fromTheme(QStringLiteral("view-refresh")), tr("Refresh"));
    m_refresh->setObjectName(QStringLiteral("refresh"));
    connect(m_refresh, &QAction::triggered, this, &CalendarWorkspace::reload);
    // Qt's button for the actions that do not fit (shown in a narrow window) has no name of its own.
    if (auto *overflow = m_toolBar->findChild<QToolButton *>(QStringLiteral("qt_toolbar_ext_button")))
        overflow->setAccessibleName(tr("More actions"));

    auto *header = new QHBoxLayout;
    header->setContentsMargins(16, 8, 8, 0);
    header->addWidget(m_title, 1);
    header->addWidget(m_toolBar, 0, Qt::AlignRight | Qt::AlignVCenter);

    // The month stays in place; the day's agenda below it scrolls on its own.
    auto *content = new QWidget(detail);
    content->setObjectName(QStringLiteral("detailContent"));
    auto *list = new QVBoxLayout(content);
    list->setContentsMargins(16, 0, 16, 16);

    m_monthView = new CalendarMonthView(m_model, calendarStyle::ControlSize::Regular, content);
    list->addWidget(m_monthView);

    m_notice = new QWidget(content);
    m_notice->setObjectName(QStringLiteral("notice"));
    auto *noticeLayout = new QHBoxLayout(m_notice);
    noticeLayout->addWidget(themeIcon(QStringLiteral("dialog-information"), fontMetrics().height(), m_notice),
                            0, Qt::AlignTop);
    m_noticeText = serverText::label(QString(), m_notice);
    noticeLayout->addWidget(m_noticeText, 1);
    list->addWidget(m_notice);

    m_progress = new LoadingBar(content);
    auto *progressBox = new QVBoxLayout;
    progressBox->setContentsMargins(progressPadding, progressPadding, progressPadding, progressPadding);
    progressBox->addWidget(m_progress);
    list->addLayout(progressBox);

    m_errorText = serverText::label(QString(), content);
    m_errorText->setObjectName(QStringLiteral("loadErrorText"));
    m_errorPanel = unavailablePanel(QStringLiteral("network-error"), tr("Couldn’t load your calendar"), m_errorText,
                                    content);
    m_errorPanel->setObjectName(QStringLiteral("loadError"));
    auto *tryAgain = new QPushButton(tr("Try again"), m_errorPanel);
    tryAgain->setObjectName(QStringLiteral("tryAgain"));
    connect(tryAgain, &QPushButton::clicked, this, &CalendarWorkspace::reload);
    m_errorPanel->layout()->addWidget(tryAgain);
    m_errorPanel->layout()->setAlignment(tryAgain, Qt::AlignHCenter);
    list->addWidget(m_errorPanel, 1);

    m_agenda = new QWidget(content);
    m_agenda->setObjectName(QStringLiteral("agenda"));
    auto *agenda = new QVBoxLayout(m_agenda);
    agenda->setContentsMargins(0, 0, 0, 0);
    m_agendaHeader = plainLabel(QString(), m_agenda);
    m_agendaHeader->setObjectName(QStringLiteral("agendaHeader"));
    m_agendaHeader->setFont(calendarStyle::headlineFont(font()));
    agenda->addWidget(m_agendaHeader);
    m_noEvents = unavailablePanel(QStringLiteral("x-office-calendar"), tr("No events"),
                                  plainLabel(tr("Enjoy the space, or add something to your day."), nullptr),
                                  m_agenda);
    m_noEvents->setObjectName(QStringLiteral("noEvents"));
    agenda->addWidget(m_noEvents);
    m_agendaList = new CalendarAgendaList(m_agenda);
    connect(m_agendaList, &CalendarAgendaList::eventChosen, this, &CalendarWorkspace::inspect);
    agenda->addWidget(m_agendaList, 1);
    agenda->addStretch(0); // keeps "No events" at the top while the list is hidden
    list->addWidget(m_agenda, 1);

    auto *layout = new QVBoxLayout(detail);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(header);
    layout->addWidget(content, 1);
    return detail;
}

void CalendarWorkspace::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_appeared) {
        m_appeared = true;
        reload();
        // Teammates' saves reach the calendar by themselves while it is shown.
        new CalendarLiveUpdates(m_model, m_client, this);
    }
}

void CalendarWorkspace::reload()
{
    // The model keeps only the newest load's results, so overlapping loads are harmless; the task
    // finishes on its own when dropped here.
    m_model.load(m_client);
}

void CalendarWorkspace::rebuildCalendars()
{
    const QSignalBlocker blocker(m_calendars);
    m_calendars->clear();

    auto *heading = new QListWidgetItem(tr("Calendars"), m_calendars);
    heading->setFlags(Qt::ItemIsEnabled);
    heading->setFont(calendarStyle::captionFont(font()));
    heading->setForeground(calendarStyle::secondaryText(palette()));

    auto *all = new QListWidgetItem(QIcon::fromTheme(QStringLiteral("x-office-calendar")), tr("All calendars"),
                                    m_calendars);
    all->setData(Qt::UserRole, QVariant());

    for (const TeamCalendar &calendar : m_model.calendars()) {
        const QColor colour = calendarStyle::hueColor(calendar.hue);
        auto *item = new QListWidgetItem(dotIcon(colour), calendar.name, m_calendars);
        item->setData(Qt::UserRole, QVariant::fromValue(calendar.id));
        item->setData(Qt::DecorationPropertyRole, colour);
        item->setToolTip(calendar.name);
    }
    showFilter();
}

void CalendarWorkspace::showFilter()
{
    const QSignalBlocker blocker(m_calendars);
    const std::optional<qint64> selected = m_model.selectedCalendar();
    for (int row = 1; row < m_calendars->count(); ++row) {
        QListWidgetItem *item = m_calendars->item(row);
        if (filterOf(item) == selected) {
            m_calendars->setCurrentItem(item);
            return;
        }
    }
    // A chosen calendar that is no longer loaded keeps filtering; no row shows it.
    m_calendars->clearSelection();
}

void CalendarWorkspace::filterChosen()
{
    const QList<QListWidgetItem *> chosen = m_calendars->selectedItems();
    if (chosen.isEmpty()) {
        // The heading or empty space took the selection away: the list keeps showing the filter.
        showFilter();
        return;
    }
    m_model.setSelectedCalendar(filterOf(chosen.first()));
}

void CalendarWorkspace::dateChanged()
{
    const Instant month = m_model.monthStart();
    if (month != m_shownMonth) {
        m_shownMonth = month;
        reload();
    }
    rebuildAgenda();
}

void CalendarWorkspace::refreshTitle()
{
    const QString title = m_model.selectedCalendarName().value_or(tr("Calendar"));
    m_title->setText(serverText::breakable(title));
    m_title->setAccessibleName(title);
}

void CalendarWorkspace::refreshStatus()
{
    m_noticeText->setText(serverText::breakable(m_model.notice()));
    m_noticeText->setAccessibleName(m_model.notice());
    m_notice->setVisible(!m_model.notice().isEmpty());
    m_progress->setVisible(m_model.loading());
    const bool failed = !m_model.error().isEmpty();
    m_errorText->setText(serverText::breakable(m_model.error()));
    m_errorText->setAccessibleName(m_model.error());
    m_errorPanel->setVisible(failed);
    m_agenda->setVisible(!failed);
}

void CalendarWorkspace::rebuildAgenda()
{
    m_agendaHeader->setText(m_model.display(m_model.date(), QStringLiteral("EEEE d MMMM")));
    const QList<CalendarEvent> events = m_model.dayEvents(m_model.date());
    m_noEvents->setVisible(events.isEmpty());
    m_agendaList->setVisible(!events.isEmpty());
    m_agendaList->showEvents(m_model, events);
}

CalendarAgendaList *CalendarWorkspace::agendaList() const
{
    return m_agendaList;
}

void CalendarWorkspace::preferencesChanged()
{
    if (m_model.zone() != CalendarModel::preferredZone(m_preferences))
        reload();
}

void CalendarWorkspace::inspect(const CalendarEvent &event)
{
    if (m_details) {
        if (m_details->calendarEvent().id == event.id) {
            m_details->raise();
            return;
        }
        m_details->close();
    }
    m_pendingEdit.reset();
    auto *details = new EventDetailsDialog(m_model, m_client, event, this);
    connect(details, &EventDetailsDialog::editRequested, this, [this, event] { m_pendingEdit = event; });
    connect(details, &QDialog::finished, this, &CalendarWorkspace::detailsClosed);
    m_details = details;
    present(details);
}

void CalendarWorkspace::detailsClosed()
{
    // The editor opens only once the details are off the screen.
    if (m_pendingEdit)
        edit(*std::exchange(m_pendingEdit, std::nullopt));
}

EventDetailsDialog *CalendarWorkspace::detailsDialog() const
{
    return m_details;
}

EventEditor *CalendarWorkspace::editor() const
{
    return m_editor;
}

void CalendarWorkspace::edit(const CalendarEvent &event)
{
    if (m_editor) {
        if (m_editor->calendarEvent().id == event.id) {
            m_editor->raise();
            m_editor->activateWindow();
            return;
        }
        // A save in flight still completes: the model runs it, not the editor.
        m_editor->hide();
        m_editor->deleteLater();
    }
    auto *editor = new EventEditor(m_model, m_client, event, this);
    m_editor = editor;
    present(editor);
}

void CalendarWorkspace::present(QDialog *dialog)
{
    // Windows do not inherit their parent's palette: give dialogs the workspace's accent.
    dialog->setPalette(palette());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void CalendarWorkspace::refreshNewEvent()
{
    const QList<TeamCalendar> &calendars = m_model.calendars();
    m_newEvent->setEnabled(
        std::any_of(calendars.cbegin(), calendars.cend(), [](const TeamCalendar &c) { return c.writable; }));
}

QDialog *CalendarWorkspace::quickAddSheet() const
{
    return m_quickAddSheet;
}

QDialog *CalendarWorkspace::settingsSheet() const
{
    return m_settingsSheet;
}

namespace {

// The quick add sheet cannot be dismissed while a quick save runs.
class QuickAddSheet : public QDialog {
public:
    QuickAddSheet(CalendarModel &model, QWidget *parent) : QDialog(parent), m_model(model) {}
    void done(int result) override
    {
        if (!m_model.quickSaving())
            QDialog::done(result);
    }

private:
    CalendarModel &m_model;
};

} // namespace

void CalendarWorkspace::openQuickAdd()
{
    if (m_quickAddSheet) {
        m_quickAddSheet->raise();
        m_quickAddSheet->activateWindow();
        return;
    }
    auto *dialog = new QuickAddSheet(m_model, this);
    dialog->setObjectName(QStringLiteral("quickAddSheet"));
    dialog->setWindowTitle(tr("Quick add"));
    dialog->setFixedSize(quickAddSheetSize);
    auto *view = new QuickAddView(m_model, m_client, dialog);
    auto *buttons = new QDialogButtonBox(dialog);
    QPushButton *done = buttons->addButton(tr("Done"), QDialogButtonBox::RejectRole);
    done->setObjectName(QStringLiteral("done"));
    done->setAutoDefault(false);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    const auto refreshDone = [this, done] { done->setEnabled(!m_model.quickSaving()); };
    connect(&m_model, &CalendarModel::quickSavingChanged, done, refreshDone);
    refreshDone();
    auto *layout = new QVBoxLayout(dialog);
    layout->addWidget(view, 1);
    layout->addWidget(buttons);
    m_quickAddSheet = dialog;
    present(dialog);
    view->findChild<QWidget *>(QStringLiteral("quickAddText"))->setFocus();
}

void CalendarWorkspace::openSettings()
{
    if (m_settingsSheet) {
        m_settingsSheet->raise();
        m_settingsSheet->activateWindow();
        return;
    }
    auto *dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("settingsSheet"));
    dialog->setWindowTitle(tr("Settings"));
    auto *buttons = new QDialogButtonBox(dialog);
    QPushButton *done = buttons->addButton(tr("Done"), QDialogButtonBox::AcceptRole);
    done->setObjectName(QStringLiteral("done"));
    done->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    auto *layout = new QVBoxLayout(dialog);
    layout->addWidget(new CalendarSettingsView(m_preferences, dialog));
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_settingsSheet = dialog;
    present(dialog);
}
