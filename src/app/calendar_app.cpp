#include "calendar_app.h"

#include "app_icon.h"
#include "calendar_menu_view.h"
#include "calendar_model.h"
#include "calendar_settings_view.h"
#include "calendar_tray.h"
#include "calendar_workspace.h"
#include "export_calendar.h"
#include "native_update_commands.h"
#include "native_updater.h"
#include "clock.h"
#include "native_session.h"
#include "native_sign_in_view.h"
#include "preferences.h"
#include "system_time_zone_watcher.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QString productName = QStringLiteral("Teodal Calendar"); // product name, not translated
const QString windowId = QStringLiteral("calendar");           // window identifier and sign-in icon
const QColor accent = QColor::fromRgbF(0.78f, 0.22f, 0.29f);
constexpr QSize minimumContent(780, 650);
constexpr QSize defaultWindow(1080, 800);
constexpr std::chrono::milliseconds zoneWatchDelay(500);
// How long the stored session may take before the window says it is being read: a store that
// answers at once shows the calendar without a flash of the sign-in view in between.
constexpr std::chrono::milliseconds restoreGrace(1000);

constexpr QSize signedOutPanel(380, 480);

QPalette tinted(QPalette palette)
{
    palette.setColor(QPalette::Highlight, accent);
    palette.setColor(QPalette::Link, accent);
    return palette;
}

// Stores the main window's geometry when it closes (to the tray, or for good) and when the app
// quits without closing it (the menu's Quit, the tray's Quit Calendar).
class GeometryKeeper final : public QObject {
public:
    GeometryKeeper(QWidget &window, Preferences &preferences)
        : QObject(&window), m_window(window), m_preferences(preferences)
    {
        window.installEventFilter(this);
        connect(qApp, &QCoreApplication::aboutToQuit, this, &GeometryKeeper::store);
    }

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Close)
            store();
        return false;
    }

private:
    void store() { m_preferences.setWindowGeometry(m_window.saveGeometry()); }

    QWidget &m_window;
    Preferences &m_preferences;
};

CalendarModel *freshModel(Preferences &preferences, QObject *parent)
{
    return new CalendarModel(preferences, std::nullopt, instantNow(), parent);
}

} // namespace

void CalendarApp::describeApplication()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Teodal"));
    QCoreApplication::setApplicationName(QStringLiteral("Calendar"));
    QGuiApplication::setDesktopFileName(QStringLiteral(TEODAL_APPLICATION_ID));
}

CalendarApp::CalendarApp(Services services, QObject *parent)
    : QObject(parent), m_services(std::move(services)), m_updater(std::make_unique<NativeUpdater>())
{
    m_updateCommands = new NativeUpdateCommands(*m_updater, this);
    if (!m_services.preferences)
        m_services.preferences = std::make_unique<Preferences>();
    m_model = freshModel(*m_services.preferences, this);
}

CalendarApp::~CalendarApp()
{
    delete m_updateCommands;
    m_tray.reset();
    delete m_settings;
    m_window.reset();
    delete m_model;
}

NativeConnection &CalendarApp::connection()
{
    if (!m_connection) {
        if (!m_services.secrets)
            m_services.secrets = makeKeychainSecretStore();
        if (!m_services.clock)
            m_services.clock = std::make_unique<SystemClock>();
        if (!m_services.openUrl)
            m_services.openUrl = NativeSignInView::desktopOpenUrl();
        const QString server = m_services.defaultServer.isEmpty() ? QStringLiteral(TEODAL_DEFAULT_SERVER)
                                                                   : m_services.defaultServer;
        m_connection = std::make_unique<NativeConnection>(
            server, NativeConnection::Services{*m_services.preferences, *m_services.secrets, *m_services.clock, {},
                                               QStringLiteral(TEODAL_APPLICATION_ID)});
    }
    return *m_connection;
}

CalendarModel &CalendarApp::model() const
{
    return *m_model;
}

Preferences &CalendarApp::preferences() const
{
    return *m_services.preferences;
}

QMainWindow *CalendarApp::window()
{
    if (!m_window) {
        NativeConnection &connection = this->connection();
        m_window = std::make_unique<QMainWindow>();
        m_window->setObjectName(windowId);
        m_window->setWindowTitle(tr("Calendar"));
        m_window->resize(defaultWindow);
        // Where the last run left it; Qt moves a geometry that no current screen shows onto one.
        m_window->restoreGeometry(m_services.preferences->windowGeometry());
        new GeometryKeeper(*m_window, *m_services.preferences);

        auto *frame = new QWidget;
        frame->setObjectName(QStringLiteral("content"));
        frame->setMinimumSize(minimumContent);
        frame->setPalette(tinted(frame->palette()));
        auto *layout = new QVBoxLayout(frame);
        layout->setContentsMargins(0, 0, 0, 0);
        m_window->setCentralWidget(frame);

        buildMenu();
        connect(&connection, &NativeConnection::clientChanged, this, &CalendarApp::showContent);
        connect(&connection, &NativeConnection::restoringChanged, this, &CalendarApp::showContent);
        showContent();
    }
    return m_window.get();
}

void CalendarApp::show()
{
    window()->show();
    // Not needed to draw the first screen, so not paid for before it. The icon's theme lookup and
    // image plugins cost about a tenth of the launch; the window manager takes the icon when it is set.
    QTimer::singleShot(zoneWatchDelay, this, [this] {
        // Every window of the app (main, settings, dialogs) shows our icon.
        QApplication::setWindowIcon(appIcon());
        zoneWatcher();
        followMenuBarPreference();
        connect(m_services.preferences.get(), &Preferences::changed, this, &CalendarApp::followMenuBarPreference);
    });
}

SystemTimeZoneWatcher &CalendarApp::zoneWatcher()
{
    if (!m_zoneWatcher) {
        m_zoneWatcher = new SystemTimeZoneWatcher(this);
        // The watcher has the date services re-read the zone; a shown calendar then reloads in it.
        connect(m_zoneWatcher, &SystemTimeZoneWatcher::changed, this, [this] {
            if (auto *workspace = qobject_cast<CalendarWorkspace *>(m_content.data()))
                workspace->reload();
            if (QWidget *panel = m_tray ? m_tray->panel() : nullptr)
                if (auto *calendar = panel->findChild<CalendarMenuView *>())
                    calendar->reload();
        });
    }
    return *m_zoneWatcher;
}

void CalendarApp::buildMenu()
{
    QMenu *menu = m_window->menuBar()->addMenu(tr("&Calendar"));
    menu->addAction(tr("About Teodal Calendar"), this, [this] {
        QMessageBox::about(m_window.get(), tr("About Teodal Calendar"),
                           tr("Teodal Calendar %1\nA calendar for your team's calendar server.")
                               .arg(QCoreApplication::applicationVersion()));
    });
    menu->addActions(m_updateCommands->actions());
    m_updateCommands->setDialogParent(m_window.get());
    menu->addSeparator();
    QAction *exportAction = menu->addAction(tr("Export Calendar…"), this, [this] {
        if (const NativeClient client = connection().client())
            exportCalendar(m_window.get(), client);
    });
    exportAction->setObjectName(QStringLiteral("exportCalendar"));
    const auto followSignIn = [this, exportAction] { exportAction->setEnabled(bool(connection().client())); };
    connect(&connection(), &NativeConnection::clientChanged, exportAction, followSignIn);
    followSignIn();
    menu->addSeparator();
    QAction *settings = menu->addAction(tr("Settings…"), this, &CalendarApp::openSettings);
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    menu->addSeparator();
    QAction *quit = menu->addAction(tr("Quit"), this, &CalendarApp::quit);
    quit->setShortcut(QKeySequence::Quit);
}

void CalendarApp::followMenuBarPreference()
{
    const bool wanted = m_services.preferences->showMenuBar() && QSystemTrayIcon::isSystemTrayAvailable();
    if (wanted && !m_tray) {
        m_tray = std::make_unique<CalendarTray>(
            appIcon(), CalendarTray::Actions{[this] { return makePanel(); }, [this] { openCalendar(); },
                                             [this] { openSettings(); }, [this] { quit(); }});
    } else if (!wanted && m_tray) {
        m_tray.reset();
    }
    // With the calendar in the tray, closing the window keeps the app running there.
    QApplication::setQuitOnLastWindowClosed(!m_tray);
}

QWidget *CalendarApp::makePanel()
{
    const NativeClient client = connection().client();
    if (!client) {
        auto *signIn = new NativeSignInView(productName, windowId, connection(), m_services.openUrl);
        signIn->setFixedSize(signedOutPanel);
        return signIn;
    }
    auto *calendar = new CalendarMenuView(*m_model, client, *m_services.preferences);
    calendar->setPalette(tinted(calendar->palette()));
    const auto thenClose = [this](void (CalendarApp::*action)()) {
        return [this, action] {
            (this->*action)();
            if (m_tray)
                m_tray->closePanel();
        };
    };
    connect(calendar, &CalendarMenuView::openCalendarRequested, this, thenClose(&CalendarApp::openCalendar));
    connect(calendar, &CalendarMenuView::settingsRequested, this, thenClose(&CalendarApp::openSettings));
    connect(calendar, &CalendarMenuView::quitRequested, this, &CalendarApp::quit);
    return calendar;
}

void CalendarApp::openCalendar()
{
    QMainWindow *main = window();
    main->show();
    main->raise();
    main->activateWindow();
}

void CalendarApp::openSettings()
{
    if (!m_settings) {
        auto *settings = new CalendarSettingsView(*m_services.preferences);
        settings->setAttribute(Qt::WA_DeleteOnClose);
        m_settings = settings;
    }
    m_settings->show();
    m_settings->raise();
    m_settings->activateWindow();
}

void CalendarApp::quit()
{
    if (m_tray)
        m_tray->closePanel();
    QCoreApplication::quit();
}

void CalendarApp::signOut()
{
    CalendarModel *old = m_model;
    old->clear();
    connection().signOut();
    m_model = freshModel(*m_services.preferences, this);
    // The workspace being replaced still refers to the old model until its own deferred deletion,
    // which was queued first.
    old->deleteLater();
    emit modelChanged();
}

void CalendarApp::showContent()
{
    NativeConnection &connection = this->connection();
    const NativeClient client = connection.client();
    if (connection.restoring() && !client && !m_restoreGraceOver) {
        // Blank at first. Past the grace the sign-in view is shown below: it shows its restoring
        // form until the store answers (or gives up at its own limit), then the address form.
        if (m_shown != Content::Restoring) {
            replaceContent(new QWidget, Content::Restoring);
            QTimer::singleShot(restoreGrace, this, [this] {
                m_restoreGraceOver = true;
                showContent();
            });
        }
        return;
    }
    if (client) {
        if (m_shown == Content::Workspace && m_shownClient == client)
            return;
        auto *workspace = new CalendarWorkspace(*m_model, client, *m_services.preferences);
        connect(workspace, &CalendarWorkspace::signOutRequested, this, &CalendarApp::signOut);
        m_shownClient = client;
        replaceContent(workspace, Content::Workspace);
        return;
    }
    if (m_shown != Content::SignIn)
        replaceContent(new NativeSignInView(productName, windowId, connection, m_services.openUrl), Content::SignIn);
}

void CalendarApp::replaceContent(QWidget *content, Content kind)
{
    QWidget *frame = m_window->centralWidget();
    if (m_content) {
        m_content->hide();
        frame->layout()->removeWidget(m_content);
        m_content->deleteLater();
    }
    if (kind != Content::Workspace)
        m_shownClient.reset();
    m_content = content;
    m_shown = kind;
    frame->layout()->addWidget(content);
    content->setFocus();
}
