#pragma once

#include "instant.h"
#include "native_http.h"

#include <QWidget>

class CalendarAgendaList;
class CalendarModel;
class LoadingBar;
class Preferences;
class QLabel;
class QuickAddView;

// The tray panel's calendar, 380 × 640: the filter's calendar name with "Open Calendar" and
// "Settings", a small month grid, the chosen day's events, quick add and a footer with the zone and
// "Quit Calendar". It shares the model with the main window, so a day or a sentence chosen in one
// shows in the other. It loads whenever it is shown, when the month changes, on "Try again", and
// when the preferences change the effective zone; the shell calls reload() when the system zone
// changes.
class CalendarMenuView : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize panelSize{380, 640};
    static constexpr int quietQuickAddHeight = 84; // no sentence and no confirmation
    static constexpr int busyQuickAddHeight = 220;

    CalendarMenuView(CalendarModel &model, NativeClient client, Preferences &preferences, QWidget *parent = nullptr);

    // Starts a load that runs to its end even if the panel goes away.
    void reload();

signals:
    void openCalendarRequested();
    void settingsRequested();
    void quitRequested();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refreshTitle();
    void refreshDay();
    void refreshQuickAddHeight();

    CalendarModel &m_model;
    NativeClient m_client;
    Preferences &m_preferences;
    Instant m_shownMonth{};

    QLabel *m_title = nullptr;
    QLabel *m_dayTitle = nullptr;
    QWidget *m_loading = nullptr;
    QWidget *m_error = nullptr;
    QLabel *m_errorText = nullptr;
    QLabel *m_noEvents = nullptr;
    CalendarAgendaList *m_events = nullptr;
    QuickAddView *m_quickAdd = nullptr;
    QLabel *m_zone = nullptr;
};
