#include "preferences.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class TestPreferences : public QObject {
    Q_OBJECT
private slots:
    void defaultsThenWritesSurviveAReopen()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("Calendar.conf"));
        const auto open = [&] {
            return std::make_unique<Preferences>(std::make_unique<QSettings>(file, QSettings::IniFormat));
        };
        {
            auto preferences = open();
            QCOMPARE(preferences->server(), std::nullopt);
            QCOMPARE(preferences->timeZoneOverride(), QString());
            QCOMPARE(preferences->showMenuBar(), true);

            // Each change is announced after it can be read back, once per write.
            QStringList seen;
            connect(preferences.get(), &Preferences::changed, this, [&] {
                seen << QStringLiteral("%1 %2 %3")
                            .arg(preferences->server().value_or("-"), preferences->timeZoneOverride())
                            .arg(preferences->showMenuBar());
            });
            preferences->setServer(QStringLiteral("https://calendar.example:8443"));
            preferences->setTimeZoneOverride(QStringLiteral("America/New_York"));
            preferences->setShowMenuBar(false);
            preferences->setShowMenuBar(false);
            QCOMPARE(seen, QStringList({"https://calendar.example:8443  1",
                                        "https://calendar.example:8443 America/New_York 1",
                                        "https://calendar.example:8443 America/New_York 0",
                                        "https://calendar.example:8443 America/New_York 0"}));
        }
        auto reopened = open();
        QCOMPARE(reopened->server(), std::optional<QString>("https://calendar.example:8443"));
        QCOMPARE(reopened->timeZoneOverride(), QStringLiteral("America/New_York"));
        QCOMPARE(reopened->showMenuBar(), false);
    }

    void usesTheTeodalCalendarStore()
    {
        QTemporaryDir home;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
        Preferences().setShowMenuBar(false);
        QSettings stored(home.filePath(QStringLiteral("Teodal/Calendar.conf")), QSettings::NativeFormat);
        QCOMPARE(stored.value(QStringLiteral("calendar.showMenuBar")).toBool(), false);
    }
};

QTEST_GUILESS_MAIN(TestPreferences)
#include "test_preferences.moc"
