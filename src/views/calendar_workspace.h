#pragma once

#include "native_http.h"
#include "records.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class CalendarAgendaList;
class CalendarModel;
class CalendarMonthView;
class EventDetailsDialog;
class EventEditor;
class LoadingBar;
class Preferences;
class QAction;
class QDialog;
class QLabel;
class QListWidget;
class QPushButton;
class QToolBar;
class QVBoxLayout;

// The signed-in main window content: a sidebar with the calendar filter, the zone, "Settings" and
// "Sign out"; a detail column with "Quick add", "New event", the month grid, the model's notice,
// progress and load error, and the chosen day's agenda; the details dialog, the editor, quick add and
// settings. It decides when the calendar is reloaded: when first shown, when the shown month
// changes, on Refresh (toolbar or the platform's refresh key) and "Try again", and when the
// preferences change the effective zone; the shell calls reload() when the system zone changes.
class CalendarWorkspace : public QWidget {
    Q_OBJECT
public:
    CalendarWorkspace(CalendarModel &model, NativeClient client, Preferences &preferences,
                      QWidget *parent = nullptr);
    ~CalendarWorkspace() override;

    // The detail column's toolbar.
    QToolBar *toolBar() const { return m_toolBar; }
    // "Quick add" (Ctrl+K): the quick add sheet.
    QAction *quickAddAction() const { return m_quickAdd; }
    // "New event": enabled while some loaded calendar is writable.
    QAction *newEventAction() const { return m_newEvent; }
    QAction *refreshAction() const { return m_refresh; }

    CalendarMonthView *monthView() const { return m_monthView; }
    // The chosen day's events.
    CalendarAgendaList *agendaList() const;
    // The open details dialog, if any.
    EventDetailsDialog *detailsDialog() const;
    // The open editor, if any.
    EventEditor *editor() const;
    // The open quick add and settings sheets, if any.
    QDialog *quickAddSheet() const;
    QDialog *settingsSheet() const;

    // Shows the details of an event; an open dialog for another event is replaced.
    void inspect(const CalendarEvent &event);
    // Opens the editor on a copy of `event`. An editor already open for the same id is raised
    // instead; one for another id is replaced.
    void edit(const CalendarEvent &event);
    // Starts a load that runs to its end even if the workspace goes away.
    void reload();

signals:
    void signOutRequested();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWidget *buildSidebar();
    QWidget *buildDetail();
    void rebuildCalendars();
    void showFilter();
    void filterChosen();
    void dateChanged();
    void refreshTitle();
    void refreshStatus();
    void rebuildAgenda();
    void preferencesChanged();
    void openQuickAdd();
    void openSettings();
    void detailsClosed();
    void refreshNewEvent();
    void present(QDialog *dialog);

    CalendarModel &m_model;
    NativeClient m_client;
    Preferences &m_preferences;
    std::optional<CalendarEvent> m_pendingEdit;
    Instant m_shownMonth{};
    bool m_appeared = false;

    QListWidget *m_calendars = nullptr;
    QLabel *m_zone = nullptr;
    QLabel *m_title = nullptr;
    QToolBar *m_toolBar = nullptr;
    QAction *m_quickAdd = nullptr;
    QAction *m_newEvent = nullptr;
    QAction *m_refresh = nullptr;
    CalendarMonthView *m_monthView = nullptr;
    QWidget *m_notice = nullptr;
    QLabel *m_noticeText = nullptr;
    LoadingBar *m_progress = nullptr;
    QWidget *m_errorPanel = nullptr;
    QLabel *m_errorText = nullptr;
    QWidget *m_agenda = nullptr;
    QLabel *m_agendaHeader = nullptr;
    QWidget *m_noEvents = nullptr;
    CalendarAgendaList *m_agendaList = nullptr;
    QPointer<EventDetailsDialog> m_details;
    QPointer<EventEditor> m_editor;
    QPointer<QDialog> m_quickAddSheet;
    QPointer<QDialog> m_settingsSheet;
};
