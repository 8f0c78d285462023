// The tray calendar on a real X display, with and without a tray host (see with_tray_host.sh).
#include "calendar_app.h"

#include "calendar_tray.h"
#include "memory_secret_store.h"
#include "native_sign_in_view.h"
#include "preferences.h"

#include <QLabel>
#include <QMainWindow>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

class TrayTest : public QObject {
    Q_OBJECT
private slots:
    void followsThePreferenceAndTheDesktop()
    {
        QTemporaryDir folder;
        auto *preferences = new Preferences(std::make_unique<QSettings>(folder.filePath("prefs.ini"), QSettings::IniFormat));
        CalendarApp app({.preferences = std::unique_ptr<Preferences>(preferences),
                         .secrets = std::make_unique<MemorySecretStore>(),
                         .defaultServer = QStringLiteral("http://127.0.0.1:9")});
        app.show();
        QVERIFY(QTest::qWaitForWindowExposed(app.window()));

        if (qgetenv("TEODAL_TRAY_HOST") != "tray") {
            // No tray: the app runs as a window, and settings say why the calendar is not in a tray.
            QTest::qWait(1000);
            QVERIFY(!app.tray() && QApplication::quitOnLastWindowClosed());
            app.openSettings();
            QVERIFY(app.settingsWindow()->findChild<QLabel *>("noTray"));
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(app.tray(), 5000);
        QVERIFY(app.tray()->icon()->isVisible() && !QApplication::quitOnLastWindowClosed()); // the tray outlives the window

        // A click opens the panel (signed out: the sign-in view); another closes it.
        emit app.tray()->icon()->activated(QSystemTrayIcon::Trigger);
        QTRY_VERIFY(app.tray()->panel() && app.tray()->panel()->isVisible());
        QVERIFY(app.tray()->panel()->findChild<NativeSignInView *>());
        emit app.tray()->icon()->activated(QSystemTrayIcon::Trigger);
        QTRY_VERIFY(!app.tray()->panel());

        preferences->setShowMenuBar(false);
        QVERIFY(!app.tray());
        preferences->setShowMenuBar(true);
        QVERIFY(app.tray() && app.tray()->icon()->isVisible());
    }
};

QTEST_MAIN(TrayTest)
#include "tray_test.moc"
