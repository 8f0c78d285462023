#include "app_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTemporaryDir>
#include <QTest>

// Which language the interface ends up in for a locale and the catalogue folders on disk.
class AppTranslationsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // A catalogue cut short: its header is right, its tables end early.
        QVERIFY(m_broken.isValid());
        QFile good(QStringLiteral(TEODAL_BUILD_TRANSLATIONS_DIR "/teodal_es.qm"));
        QVERIFY(good.open(QIODevice::ReadOnly));
        QFile broken(m_broken.filePath(QStringLiteral("teodal_es.qm")));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write(good.read(good.size() / 2));
    }

    void language_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QStringList>("dirs");
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("signOut");
        const QString built = QStringLiteral(TEODAL_BUILD_TRANSLATIONS_DIR);
        const QString broken = m_broken.path();
        QTest::newRow("Spanish") << "es_MX" << QStringList{built} << "es" << "Cerrar sesión";
        QTest::newRow("no catalogue: English, Spanish removed") << "de_DE" << QStringList{built} << "" << "Sign out";
        QTest::newRow("English") << "en_US" << QStringList{built} << "" << "Sign out";
        QTest::newRow("broken catalogue") << "es_ES" << QStringList{broken} << "" << "Sign out";
        QTest::newRow("broken, then a good one") << "es_ES" << QStringList{broken, built} << "es" << "Cerrar sesión";
        QTest::newRow("missing folder") << "es_ES" << QStringList{broken + "/none"} << "" << "Sign out";
    }

    void language()
    {
        QFETCH(QString, locale);
        QFETCH(QStringList, dirs);
        QFETCH(QString, language);
        QFETCH(QString, signOut);
        const QString qtDir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
        QCOMPARE(installAppTranslations(QLocale(locale), dirs, qtDir), language);
        QCOMPARE(QCoreApplication::translate("CalendarWorkspace", "Sign out"), signOut);
        // Qt's own texts follow the app's language and stay English with it.
        const QString cancel = QCoreApplication::translate("QPlatformTheme", "Cancel");
        QCOMPARE(cancel == QLatin1String("Cancel"), language.isEmpty());
    }

private:
    QTemporaryDir m_broken;
};

QTEST_GUILESS_MAIN(AppTranslationsTest)
#include "app_translations_test.moc"
