#include "dates.h"
#include "system_zones.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <chrono>

namespace {

const QString invented = QStringLiteral("Test/Invented");

// A version 2 TZif file (an empty version 1 block, then the 64-bit data and the footer) of one zone:
// +01:00 ("OLD") until 2020, then −02:30 ("NEW"), by default with daylight saving time (−01:30) from
// the third Tuesday of April at 01:30 to the first Friday of September at "26:00", that is Saturday 02:00.
QByteArray inventedZoneFile(const QByteArray &footer = "NEW2:30NDT,M4.3.2/1:30,M9.1.5/26")
{
    const auto bigEndian = [](auto value) {
        QByteArray bytes(sizeof value, '\0');
        qToBigEndian(value, bytes.data());
        return bytes;
    };
    const auto header = [&](quint32 timeCount, quint32 typeCount, quint32 charCount) {
        QByteArray bytes = QByteArray("TZif2") + QByteArray(15, '\0');
        for (const quint32 count : {0u, 0u, 0u, timeCount, typeCount, charCount})
            bytes += bigEndian(count);
        return bytes;
    };
    return header(0, 1, 1) + QByteArray(7, '\0') + header(1, 2, 8) + bigEndian(qint64(1577836800)) + '\1'
        + bigEndian(qint32(3600)) + '\0' + '\0' + bigEndian(qint32(-9000)) + '\0' + '\4' + QByteArray("OLD\0NEW\0", 8)
        + '\n' + footer + '\n';
}

} // namespace

// The date services read their zones from the database under TZDIR: this test writes one with a
// zone no real database has and points TZDIR at it before the first zone is used.
class ZoneDatabaseTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_tzdir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_tzdir.isValid() && QDir(m_tzdir.path()).mkdir(QStringLiteral("Test")));
        for (const char *name : {"Test/Invented", "Test/Alias"}) {
            QFile file(m_tzdir.filePath(QLatin1String(name)));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(inventedZoneFile()) > 0);
        }
        QFile index(m_tzdir.filePath(QStringLiteral("tzdata.zi")));
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write("# version test\nZ Test/Invented 1 - OLD 2020\n-2:30 - NEW\nL Test/Invented Test/Alias\n");
        index.close();
        qputenv("TZDIR", QFile::encodeName(m_tzdir.path()));
        qputenv("TZ", "Test/Invented");
    }

    // Only the names of this database exist, and the system zone is one of them. The offset is the
    // file's around its transition, then the footer's rule in the rest of that year and in later years.
    void inventedZone()
    {
        QCOMPARE(zones::knownIds(), QStringList{invented});
        QVERIFY(zones::isKnown(QStringLiteral("Test/Alias")) && !zones::isKnown(QStringLiteral("Europe/Madrid")));
        QCOMPARE(zones::systemId(), invented);
        for (const auto &[utc, offsetMinutes] :
             {std::pair{"2019-12-31T23:59", 60}, {"2020-01-01T00:00", -150}, {"2020-06-01T00:00", -90},
              {"2031-04-15T03:59", -150}, {"2031-04-15T04:00", -90}, {"2031-09-06T03:29", -90}, {"2031-09-06T03:30", -150}}) {
            const Instant instant = *dates::parseLocal(QString::fromLatin1(utc), false, QStringLiteral("UTC"));
            const QString local = dates::formatLocal(instant, false, invented);
            const Instant back = *dates::parseLocal(local, false, QStringLiteral("UTC"));
            QVERIFY2(back - instant == std::chrono::minutes(offsetMinutes), utc);
        }
    }

    void damagedFiles()
    {
        const QByteArray whole = inventedZoneFile();
        QVERIFY(zoneFromTzif(invented, whole));
        for (qsizetype size = 0; size < whole.size(); ++size)
            QVERIFY2(!zoneFromTzif(invented, whole.first(size)), qPrintable(QString::number(size)));
        // A month, a missing end, a short name, an hour, and a zero-based day ICU cannot say.
        for (const QByteArray footer :
             {"NEW2:30NDT,M13.1.0,M9.1.5", "NEW2:30NDT,M4.3.2", "N2:30", "NEW2:30NDT,M4.3.2/200,J1", "NEW2:30NDT,59,J1"})
            QVERIFY2(!zoneFromTzif(invented, inventedZoneFile(footer)), footer.constData());
        QByteArray badType = whole;
        badType[badType.indexOf("OLD\0NEW") - 2 * 6 - 1] = 7; // the transition's type index, past the two types
        QVERIFY(!zoneFromTzif(invented, badType));
    }

    void withoutDatabase()
    {
        QTemporaryDir empty;
        ZoneDatabase database(empty.path());
        QVERIFY(!database.available());
        QVERIFY(database.zone(QStringLiteral("Europe/Madrid")) && database.zoneIds().contains(QStringLiteral("Europe/Madrid")));
        for (const char *id : {"GMT+5", "BST", "SystemV/AST4", "Etc/Unknown"})
            QVERIFY2(!database.zone(QLatin1String(id)), id);
    }
};

QTEST_GUILESS_MAIN(ZoneDatabaseTest)
#include "zone_database_test.moc"
