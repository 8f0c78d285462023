#include "dates.h"
#include "local_time.h"

#include <QTest>

#include <set>

using namespace std::chrono;

namespace {
Instant asUtc(const LocalDateTime &t) { return Instant(sys_days(t.date)) + minutes(t.minutes); }

// The offsets from UTC that `zone` uses in the hours around [from, from + days), read by formatting.
std::set<minutes> offsetsAround(const LocalDateTime &from, int days, const QString &zone)
{
    std::set<minutes> offsets;
    for (int h = -30; h <= 24 * days + 30; ++h) {
        const Instant sample = asUtc(from) + hours(h);
        offsets.insert(duration_cast<minutes>(asUtc(*localAt(sample, zone)) - sample));
    }
    return offsets;
}
} // namespace

class LocalTimeTest : public QObject {
    Q_OBJECT
private slots:
    // Placing reads the zone's rules; formatting each instant back must agree for every quarter hour
    // of two days around clock changes of an hour, of half an hour, at midnight, and in no zone.
    void placingAgreesWithFormatting_data()
    {
        QTest::addColumn<QString>("zone");
        QTest::addColumn<QString>("day");
        QTest::newRow("Madrid, forward") << "Europe/Madrid" << "2025-03-30";
        QTest::newRow("Madrid, back") << "Europe/Madrid" << "2025-10-26";
        QTest::newRow("Lord Howe, back half an hour") << "Australia/Lord_Howe" << "2025-04-06";
        QTest::newRow("Lord Howe, forward half an hour") << "Australia/Lord_Howe" << "2025-10-05";
        QTest::newRow("Santiago, midnight skipped") << "America/Santiago" << "2025-09-07";
        QTest::newRow("Santiago, back at midnight") << "America/Santiago" << "2025-04-06";
        QTest::newRow("unknown zone reads as UTC") << "Mars/Olympus" << "2025-03-30";
    }

    void placingAgreesWithFormatting()
    {
        QFETCH(QString, zone);
        QFETCH(QString, day);
        const LocalDateTime first = LocalDateTime::parse(day, true)->plusDays(-1);
        const std::set<minutes> offsets = offsetsAround(first, 2, zone);
        for (int quarter = 0; quarter < 2 * 96; ++quarter) {
            const LocalDateTime local = first.plusMinutes(15 * quarter);
            const auto placed = placeLocal(local, zone);
            QVERIFY(placed);
            // Every instant showing `local`: each offset in use tried, kept when it formats back.
            std::set<Instant> showing;
            for (const minutes offset : offsets)
                if (localAt(asUtc(local) - offset, zone) == local)
                    showing.insert(asUtc(local) - offset);
            const QByteArray where = local.text(false).toLatin1();
            if (showing.empty()) {
                QVERIFY2(placed->fit == PlacedTime::Fit::Skipped && placed->actual > local, where.constData());
                QCOMPARE(localAt(placed->instant, zone), placed->actual);
            } else {
                QVERIFY2(placed->instant == *showing.begin(), where.constData());
                QCOMPARE(placed->fit, showing.size() > 1 ? PlacedTime::Fit::Repeated : PlacedTime::Fit::Exact);
                QCOMPARE(placed->actual, local);
            }
        }
    }

    void textsRoundTripStrictly_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("allDay");
        QTest::addColumn<bool>("valid");
        QTest::newRow("time") << "2025-03-30T02:30" << false << true;
        QTest::newRow("day") << "0001-01-01" << true << true;
        QTest::newRow("leap day") << "2024-02-29" << true << true;
        QTest::newRow("no such day") << "2025-02-29" << true << false;
        QTest::newRow("hour 24") << "2025-03-30T24:00" << false << false;
        QTest::newRow("single-digit month") << "2025-3-30" << true << false;
        QTest::newRow("Arabic-Indic digit") << QString::fromUtf8("2025-03-3\u0660") << true << false;
        QTest::newRow("day where a time is due") << "2025-03-30" << false << false;
        QTest::newRow("trailing text") << "2025-03-30T09:00Z" << false << false;
    }

    void textsRoundTripStrictly()
    {
        QFETCH(QString, text);
        QFETCH(bool, allDay);
        QFETCH(bool, valid);
        const auto parsed = LocalDateTime::parse(text, allDay);
        QCOMPARE(parsed.has_value(), valid);
        if (parsed)
            QCOMPARE(parsed->text(allDay), text);
    }
};

QTEST_GUILESS_MAIN(LocalTimeTest)
#include "local_time_test.moc"
