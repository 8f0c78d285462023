#pragma once

#include "native_http.h"
#include "records.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class CalendarModel;
class CalendarMonthView;
class EventDetailsDialog;
class Preferences;
class QAction;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QToolBar;
class QVBoxLayout;

// The signed-in main window content: a sidebar with the calendar filter, the zone, "Settings" and
// "Sign out"; a detail column with the month grid, the model's notice, progress and load error, and
// the chosen day's agenda. It decides when the calendar is reloaded: when first shown, when the
// shown month changes, on Refresh (toolbar or the platform's refresh key) and "Try again", when the
// preferences change the effective zone, and when the system zone changes.
class CalendarWorkspace : public QWidget {
    Q_OBJECT
public:
    CalendarWorkspace(CalendarModel &model, NativeClient client, Preferences &preferences,
                      QWidget *parent = nullptr);
    ~CalendarWorkspace() override;

    // The detail column's toolbar; further items go in front of refreshAction().
    QToolBar *toolBar() const { return m_toolBar; }
    QAction *refreshAction() const { return m_refresh; }

    // Receives the event when "Edit event" was chosen in the details dialog, after that dialog has
    // closed. Without a handler the dialog offers no editing.
    void setEditHandler(std::function<void(const CalendarEvent &)> handler);

    CalendarMonthView *monthView() const { return m_monthView; }
    // The open details dialog, if any.
    EventDetailsDialog *detailsDialog() const { return m_details; }

    // Shows the details of an event; an open dialog for another event is replaced.
    void inspect(const CalendarEvent &event);
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
    void openSettings();
    void detailsClosed();

    CalendarModel &m_model;
    NativeClient m_client;
    Preferences &m_preferences;
    std::function<void(const CalendarEvent &)> m_editHandler;
    std::optional<CalendarEvent> m_pendingEdit;
    Instant m_shownMonth{};
    bool m_appeared = false;

    QListWidget *m_calendars = nullptr;
    QLabel *m_zone = nullptr;
    QLabel *m_title = nullptr;
    QToolBar *m_toolBar = nullptr;
    QAction *m_refresh = nullptr;
    CalendarMonthView *m_monthView = nullptr;
    QWidget *m_notice = nullptr;
    QLabel *m_noticeText = nullptr;
    QProgressBar *m_progress = nullptr;
    QWidget *m_errorPanel = nullptr;
    QLabel *m_errorText = nullptr;
    QWidget *m_agenda = nullptr;
    QLabel *m_agendaHeader = nullptr;
    QWidget *m_noEvents = nullptr;
    QVBoxLayout *m_rows = nullptr;
    QPointer<EventDetailsDialog> m_details;
};
