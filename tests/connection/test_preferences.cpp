#include "preferences.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class TestPreferences : public QObject {
    Q_OBJECT
private slots:
    void writesAreAnnouncedAndKeptInTheTeodalCalendarStore()
    {
        QTemporaryDir home;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
        auto preferences = std::make_unique<Preferences>();
        QCOMPARE(preferences->server(), std::nullopt);
        QCOMPARE(preferences->timeZoneOverride(), QString());
        QCOMPARE(preferences->showMenuBar(), true);

        // Each write is announced once, after it can be read back, even when it changes nothing.
        QStringList seen;
        connect(preferences.get(), &Preferences::changed, this, [&] {
            seen << QStringLiteral("%1 %2 %3")
                        .arg(preferences->server().value_or("-"), preferences->timeZoneOverride())
                        .arg(preferences->showMenuBar());
        });
        preferences->setServer(QStringLiteral("https://cal.example:8443"));
        preferences->setTimeZoneOverride(QStringLiteral("America/New_York"));
        preferences->setShowMenuBar(false);
        preferences->setShowMenuBar(false);
        QCOMPARE(seen, QStringList({"https://cal.example:8443  1", "https://cal.example:8443 America/New_York 1",
                                    "https://cal.example:8443 America/New_York 0", "https://cal.example:8443 America/New_York 0"}));
        preferences.reset();

        QSettings stored(home.filePath(QStringLiteral("Teodal/Calendar.conf")), QSettings::NativeFormat);
        QCOMPARE(stored.value("native.server"), QVariant("https://cal.example:8443"));
        QCOMPARE(stored.value("calendar.timeZoneOverride"), QVariant("America/New_York"));
        QCOMPARE(stored.value("calendar.showMenuBar").toBool(), false);
    }
};

QTEST_GUILESS_MAIN(TestPreferences)
#include "test_preferences.moc"
