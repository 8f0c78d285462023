#include "calendar_app.h"
#include "calendar_model.h"
#include "calendar_workspace.h"
#include "memory_secret_store.h"
#include "preferences.h"

#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The window's geometry and the workspace's splitter, as a later run of the app finds them.
class WindowLayoutTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_folder;

    std::unique_ptr<Preferences> preferences() const
    {
        return std::make_unique<Preferences>(
            std::make_unique<QSettings>(m_folder.filePath(QStringLiteral("prefs.ini")), QSettings::IniFormat));
    }
    // The geometry a later run's window gets after this run's window was left at `geometry`.
    QRect reopenedAt(const QRect &geometry) const
    {
        {
            CalendarApp app({.preferences = preferences(), .secrets = std::make_unique<MemorySecretStore>()});
            app.show();
            app.window()->setGeometry(geometry);
            app.window()->close();
        }
        CalendarApp app({.preferences = preferences(), .secrets = std::make_unique<MemorySecretStore>()});
        return app.window()->geometry();
    }

private slots:
    void windowGeometry()
    {
        const QRect placed(40, 30, 900, 700);
        QCOMPARE(reopenedAt(placed), placed);
        // A window left on a screen that is gone comes back on the one there is.
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(screen.intersects(reopenedAt(placed.translated(screen.width() * 4, screen.height() * 4))));
    }

    void splitterSizes()
    {
        auto stored = preferences();
        QSignalSpy changes(stored.get(), &Preferences::changed);
        // No server answers: the workspace's load fails, its layout does not care.
        const NativeClient client = std::make_shared<const NativeHTTP>(QUrl("http://127.0.0.1:9"), std::nullopt);
        const auto shownSplitter = [&](CalendarWorkspace &workspace) {
            workspace.resize(1000, 700);
            workspace.show();
            return workspace.findChild<QSplitter *>();
        };
        CalendarModel model(*stored, std::nullopt, instantNow());
        QList<int> moved;
        {
            CalendarWorkspace workspace(model, client, *stored);
            QSplitter *split = shownSplitter(workspace);
            split->setSizes({400, 600});
            moved = split->sizes();
            emit split->splitterMoved(moved.first(), 1); // as a drag of the handle does
        }
        CalendarWorkspace workspace(model, client, *stored);
        QCOMPARE(shownSplitter(workspace)->sizes(), moved);
        QCOMPARE(changes.count(), 0);
    }
};

QTEST_MAIN(WindowLayoutTest)
#include "window_layout_test.moc"
