#pragma once

#include "clock.h"
#include "native_connection.h"
#include "native_session.h"
#include "preferences.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

class CalendarModel;
class CalendarTray;
class NativeUpdateCommands;
class NativeUpdater;
class QMainWindow;
class SystemTimeZoneWatcher;

// The application: owns the preferences, the connection and the calendar model for the life of the
// process and shows the main window, whose content is the calendar while the connection has a
// client and the sign-in view otherwise.
class CalendarApp : public QObject {
    Q_OBJECT
public:
    // What the app talks to. Anything left empty gets the real one: the user's preferences, the
    // system keychain, the steady clock, the desktop's browser and the built-in server address.
    struct Services {
        std::unique_ptr<Preferences> preferences;
        std::unique_ptr<SecretStore> secrets;
        std::unique_ptr<Clock> clock;
        NativeConnection::OpenUrl openUrl;
        QString defaultServer;
    };

    // Application id, desktop file name, organisation and application name; call before the
    // QApplication is created.
    static void describeApplication();

    explicit CalendarApp(Services services = {}, QObject *parent = nullptr);
    ~CalendarApp() override;

    // Created on first use, which is when the main window is first built.
    NativeConnection &connection();
    // The current model; replaced by a fresh one at every sign-out.
    CalendarModel &model() const;
    Preferences &preferences() const;
    // The main window, built on first use.
    QMainWindow *window();
    void show();

    // Empties the calendar, ends the session and starts a fresh model for the next sign-in.
    void signOut();

    // The one watcher of the system time zone for the process; show() creates it once the first
    // screen is up, so a change is seen whichever view is shown.
    SystemTimeZoneWatcher &zoneWatcher();

    // The calendar in the system tray while "calendar.showMenuBar" is on and the desktop has a
    // tray; created with the zone watcher, after the first screen. Null otherwise.
    CalendarTray *tray() const { return m_tray.get(); }
    // Brings the main window to the front.
    void openCalendar();
    // The settings window; one at a time, raised when already open.
    void openSettings();
    QWidget *settingsWindow() const { return m_settings; }
    void quit();

signals:
    // model() is a new object; views of the old one are being replaced.
    void modelChanged();

private:
    enum class Content { None, Restoring, SignIn, Workspace };

    void showContent();
    void buildMenu();
    void followMenuBarPreference();
    QWidget *makePanel();
    void replaceContent(QWidget *content, Content kind);

    Services m_services;
    std::unique_ptr<NativeUpdater> m_updater;
    NativeUpdateCommands *m_updateCommands = nullptr;
    CalendarModel *m_model = nullptr;
    std::unique_ptr<NativeConnection> m_connection;
    std::unique_ptr<QMainWindow> m_window;
    QPointer<QWidget> m_content;
    Content m_shown = Content::None;
    bool m_restoreGraceOver = false; // the stored session took long enough to say so
    NativeClient m_shownClient;
    SystemTimeZoneWatcher *m_zoneWatcher = nullptr;
    std::unique_ptr<CalendarTray> m_tray;
    QPointer<QWidget> m_settings;
};
