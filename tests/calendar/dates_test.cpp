#include "dates.h"
#include "records.h"

#include <QRandomGenerator>
#include <QTest>
#include <QTimeZone>

#include <algorithm>

namespace {

const QString madrid = QStringLiteral("Europe/Madrid");
const QString utc = QStringLiteral("UTC");

// Wall-clock text ("yyyy-MM-dd'T'HH:mm") to an instant; the local time must exist.
Instant at(const QString &local, const QString &zone = madrid)
{
    return dates::parseLocal(local, false, zone).value_or(Instant::min());
}

QString local(std::optional<Instant> instant, const QString &zone = madrid)
{
    return instant ? dates::formatLocal(*instant, false, zone) : QStringLiteral("none");
}

} // namespace

class DatesTest : public QObject {
    Q_OBJECT
private slots:
    void grid_data()
    {
        QTest::addColumn<QString>("zone");
        QTest::addColumn<qint64>("weekStart");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("first"); // first and last cells
        QTest::addColumn<QString>("last");
        const auto row = [](const char *name, qint64 weekStart, const char *date, const char *first, const char *last,
                            const QString &zone = madrid) { QTest::newRow(name) << zone << weekStart << date << first << last; };
        row("March 2025, Monday", 1, "2025-03-17T15:45", "2025-02-24", "2025-04-06");
        row("week start 7 is Sunday", 7, "2025-03-31T23:59", "2025-02-23", "2025-04-05");
        row("smallest week start is Saturday", INT64_MIN, "2025-03-01T00:00", "2025-03-01", "2025-04-11");
        row("non-leap February on the first weekday", 0, "2026-02-14T12:00", "2026-02-01", "2026-03-14");
        row("unknown zone is UTC", 1, "2025-03-31T23:30", "2025-02-24", "2025-04-06", QStringLiteral("Mars/Olympus"));
    }

    void grid()
    {
        QFETCH(QString, zone);
        QFETCH(qint64, weekStart);
        QFETCH(QString, date);
        QFETCH(QString, first);
        QFETCH(QString, last);
        const GregorianCalendar calendar = calendarDates::calendar(zone, weekStart);
        const QString resolved = calendar.zoneId();
        QCOMPARE(resolved, zones::isKnown(zone) ? zone : utc);
        const QList<Instant> days = calendarDates::days(zone, weekStart, at(date, resolved));
        QCOMPARE(days.size(), 42);
        QCOMPARE(local(days.first(), resolved), first + QStringLiteral("T00:00"));
        QCOMPARE(local(days.last(), resolved), last + QStringLiteral("T00:00"));
        const QStringList labels = calendarDates::weekdayLabels(zone, weekStart);
        for (int i = 0; i < 7; ++i)
            QCOMPARE(labels.value(i), dates::shortWeekdayNames()[calendar.fields(days[i]).weekday - 1]);
    }

    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("allDay");
        QTest::addColumn<QString>("zone");
        QTest::addColumn<QString>("expectedUtc");
        const QString none = QStringLiteral("none");

        QTest::newRow("after the gap") << "2025-03-30T03:30" << false << madrid << "2025-03-30T01:30";
        QTest::newRow("in the gap") << "2025-03-30T02:30" << false << madrid << none;
        QTest::newRow("half-hour gap") << "2025-10-05T02:15" << false << QStringLiteral("Australia/Lord_Howe") << none;
        QTest::newRow("skipped day") << "2011-12-30T12:00" << false << QStringLiteral("Pacific/Apia") << none;
        QTest::newRow("all day") << "2025-03-30" << true << madrid << "2025-03-29T23:00";
        // A date is its day even where midnight is skipped: Santiago's 7 September 2025 begins at 01:00.
        QTest::newRow("skipped midnight") << "2025-09-07" << true << QStringLiteral("America/Santiago")
                                          << "2025-09-07T04:00";
        QTest::newRow("skipped date") << "2011-12-30" << true << QStringLiteral("Pacific/Apia") << none;
        QTest::newRow("repeated midnight, first") << "2025-11-02" << true << QStringLiteral("America/Havana")
                                                  << "2025-11-02T04:00";
        QTest::newRow("unknown zone") << "2025-03-30T02:30" << false << QStringLiteral("Nowhere") << "2025-03-30T02:30";
        QTest::newRow("year 999") << "0999-01-01T00:00" << false << utc << "0999-01-01T00:00";
        // Gregorian dates before the 1582 reform too: 1500 is no leap year, 10 October 1582 exists.
        QTest::newRow("before the reform") << "1582-10-10" << true << utc << "1582-10-10T00:00";
        for (const char *text : {"", "2025-03-30T10:00x", " 2025-03-30T10:00", "2025-3-30T3:30", "2025-03-30 10:00",
                                 "2025-03-30T10:00:00", "2025-03-30T24:00", "2025-02-29T10:00", "+2025-03-30T10:00",
                                 "999-01-01T00:00", "10000-01-01T00:00", "0000-01-01T00:00", "1500-02-29T00:00",
                                 "２０２５-03-30T10:00", "2025-03-30"})
            QTest::addRow("timed \"%s\"", text) << QString::fromUtf8(text) << false << madrid << none;
        for (const char *text :
             {"2025-03-30T10:00", "2025-3-30", "10000-01-01", "0000-01-01", "1500-02-29", "２０２５-03-30"})
            QTest::addRow("all-day \"%s\"", text) << QString::fromUtf8(text) << true << madrid << none;
    }

    void parse()
    {
        QFETCH(QString, text);
        QFETCH(bool, allDay);
        QFETCH(QString, zone);
        QFETCH(QString, expectedUtc);
        QCOMPARE(local(dates::parseLocal(text, allDay, zone), utc), expectedUtc);
    }

    void calendarArithmetic()
    {
        using namespace std::chrono;
        QCOMPARE(dates::formatLocal(instantFromSeconds(1743299999) + milliseconds(999), false, utc),
                 QStringLiteral("2025-03-30T01:59"));
        QCOMPARE(secondsSinceEpoch(at("1582-10-10T00:00", utc)), -12219724800); // proleptic Gregorian

        const GregorianCalendar cal(madrid, 2);
        QCOMPARE(*cal.addDays(at("2025-03-29T10:00"), 1) - at("2025-03-29T10:00"), hours(23));
        QCOMPARE(local(cal.addMonths(at("2025-01-31T08:00"), 1)), QStringLiteral("2025-02-28T08:00"));
        QVERIFY(cal.dayBounds(at("2025-03-30T23:30")) == std::pair(at("2025-03-30T00:00"), at("2025-03-31T00:00")));
        QVERIFY(!cal.date(2025, 2, 29) && !cal.date(2025, 13, 1) && !cal.date(2025, 4, 0));

        // Searching forward: the next day's 09:00, a skipped 02:30 (the next existing time), a repeated
        // one (the first).
        QCOMPARE(local(cal.nextTime(at("2025-03-30T09:01"), 9, 0, 0)), QStringLiteral("2025-03-31T09:00"));
        QCOMPARE(local(cal.nextTime(at("2025-03-30T00:00"), 2, 30, 0), utc), QStringLiteral("2025-03-30T01:00"));
        QCOMPARE(local(cal.nextTime(at("2025-10-26T00:00"), 2, 30, 0), utc), QStringLiteral("2025-10-26T00:30"));
        QVERIFY(!cal.nextTime(at("2025-03-30T00:00"), 24, 0, 0));

        // Apia skipped 30 December 2011; São Paulo began 4 November 2018 at 01:00.
        const QString apia = QStringLiteral("Pacific/Apia"), saoPaulo = QStringLiteral("America/Sao_Paulo");
        const GregorianCalendar samoa(apia, 1);
        QVERIFY(!samoa.date(2011, 12, 30));
        QCOMPARE(local(samoa.addDays(at("2011-12-28T10:00", apia), 3), apia), QStringLiteral("2011-12-31T10:00"));
        QCOMPARE(local(samoa.dayBounds(at("2011-12-29T10:00", apia)).second, apia), QStringLiteral("2011-12-31T00:00"));
        QCOMPARE(local(GregorianCalendar(saoPaulo, 1).date(2018, 11, 4), saoPaulo), QStringLiteral("2018-11-04T01:00"));
    }

    void templates()
    {
        const Instant instant = instantFromSeconds(1743299999); // 2025-03-30 01:59:59 UTC
        const auto display = [&](const char *skeleton, const char *locale, const QString &zone = madrid) {
            return dates::formatTemplate(instant, QLatin1String(skeleton), zone, QLatin1String(locale));
        };
        QCOMPARE(display("jm", "en_US"), QStringLiteral("3:59\u202fAM"));
        // The user's locale is the time locale (LC_TIME=de_DE), not the messages one (LANG=en_US).
        QCOMPARE(display("jm", ""), QStringLiteral("03:59"));
        QCOMPARE(display("MMMM yyyy", ""), QStringLiteral("März 2025"));
        QCOMPARE(display("jm", "de_DE"), QStringLiteral("03:59"));
        QCOMPARE(display("EEEE d MMMM", "en_US"), QStringLiteral("Sunday, March 30"));
        QCOMPARE(display("EEEE d MMMM", "en_GB", QStringLiteral("America/New_York")), QStringLiteral("Saturday, 29 March"));
        QCOMPARE(display("d MMM yyyy jm", "en_GB"), QStringLiteral("30 Mar 2025, 03:59"));
        QCOMPARE(dates::shortWeekdayNames(), (QStringList{"So", "Mo", "Di", "Mi", "Do", "Fr", "Sa"}));
    }

    void zones_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("known");
        // Zones and links of the system's database, including zones newer than ICU's copy.
        for (const char *id : {"UTC", "Etc/UTC", "Asia/Calcutta", "America/Ciudad_Juarez", "America/Coyhaique"})
            QTest::newRow(id) << QString::fromLatin1(id) << true;
        // ICU's own names and custom offsets, the database's other files, and no name at all.
        for (const char *id : {"", "Etc/Unknown", "GMT+5", "BST", "SystemV/AST4", "posix/Europe/Madrid", "right/UTC",
                               "posixrules", "zone.tab", "Europe", "../zoneinfo/UTC", "europe/madrid"})
            QTest::newRow(id) << QString::fromLatin1(id) << false;
    }

    void zones()
    {
        QFETCH(QString, id);
        QFETCH(bool, known);
        QCOMPARE(zones::isKnown(id), known);
        QCOMPARE(GregorianCalendar(id, 1).zoneId(), known ? id : utc);
    }

    void systemZone()
    {
        // Read again only when asked to; TZ may name a file; a POSIX rule names no zone.
        QCOMPARE(zones::systemId(), madrid);
        const std::pair<const char *, QString> settings[] = {{":America/New_York", "America/New_York"},
                                                             {"/usr/share/zoneinfo/posix/Asia/Tokyo", "Asia/Tokyo"},
                                                             {"CET-1CEST,M3.5.0,M10.5.0/3", utc}};
        QString previous = madrid;
        for (const auto &[tz, expected] : settings) {
            qputenv("TZ", tz);
            QCOMPARE(zones::systemId(), previous);
            zones::refreshSystemZone();
            QCOMPARE(zones::systemId(), expected);
            previous = expected;
        }
        qputenv("TZ", "Europe/Madrid");
        zones::refreshSystemZone();
    }

    void systemRules_data()
    {
        QTest::addColumn<QString>("zone");
        // Rules changed after ICU's copy (2022e), then a few stable ones: a southern, a negative and a
        // half-hour daylight saving time.
        for (const char *zone : {"America/Mexico_City", "America/Asuncion", "Africa/Cairo", "Pacific/Fiji", "America/Nuuk",
                                 "Asia/Almaty", "America/Ciudad_Juarez", "Europe/Madrid", "Australia/Sydney",
                                 "Europe/Dublin", "Australia/Lord_Howe"})
            QTest::newRow(zone) << QString::fromLatin1(zone);
    }

    // The UTC offset around every transition 2020–2030 and twice a year, against QTimeZone, which reads
    // the same system files.
    void systemRules()
    {
        using namespace std::chrono;
        QFETCH(QString, zone);
        const QStringList offered = zones::knownIds(); // every offered name resolves
        QVERIFY(offered.contains(zone) && std::all_of(offered.begin(), offered.end(), zones::isKnown));
        const QTimeZone reference(zone.toLatin1());
        const QDateTime from(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC), to(QDate(2031, 1, 1), QTime(0, 0), Qt::UTC);
        QList<qint64> instants;
        for (const QTimeZone::OffsetData &transition : reference.transitions(from, to))
            instants << transition.atUtc.toSecsSinceEpoch() - 60 << transition.atUtc.toSecsSinceEpoch();
        for (int year = 2020; year <= 2030; ++year) {
            for (const int month : {1, 7})
                instants << QDateTime(QDate(year, month, 1), QTime(12, 0), Qt::UTC).toSecsSinceEpoch();
        }
        for (const qint64 seconds : instants) {
            const Instant instant = instantFromSeconds(seconds);
            const minutes offset = duration_cast<minutes>(at(dates::formatLocal(instant, false, zone), utc) - instant);
            QCOMPARE(offset.count() * 60, reference.offsetFromUtc(QDateTime::fromSecsSinceEpoch(seconds)));
        }
    }

    // Zones with half-hour shifts (Lord Howe), a skipped day (Apia, 30 December 2011) and midnight
    // changes (São Paulo, Havana), at random instants 1950–2100 and every minute around clock changes.
    void randomInstants_data()
    {
        QTest::addColumn<QString>("zone");
        for (const char *zone : {"Europe/Madrid", "America/New_York", "Australia/Lord_Howe", "Pacific/Apia",
                                 "America/Sao_Paulo", "America/Havana", "Asia/Kolkata", "UTC"})
            QTest::newRow(zone) << QString::fromLatin1(zone);
    }

    void randomInstants()
    {
        using namespace std::chrono;
        QFETCH(QString, zone);
        QRandomGenerator random(20111230);
        const auto randomInstant = [&] { return Instant(milliseconds(random.bounded(-631152000'000LL, 4102444800'000LL))); };
        const GregorianCalendar calendar(zone, 1);
        QList<Instant> instants;
        for (int i = 0; i < 1500; ++i)
            instants << randomInstant();
        for (const qint64 change : {1743296400, 1761440400, 1741503600, 1762063200, 1743865200, 1759591800, 1301752800,
                                    1316872800, 1325239200, 1518919200, 1541300400, 1741496400, 1762059600}) {
            for (Instant t = instantFromSeconds(change) - 2h; t < instantFromSeconds(change) + 2h; t += 1min)
                instants << t;
        }
        // Format then parse gives the minute back, or the other instant of a repeated local time; a
        // date gives its day's first instant, midnight or, where that is skipped, later.
        for (const Instant instant : instants) {
            const QString text = dates::formatLocal(instant, false, zone);
            const std::optional<Instant> parsed = dates::parseLocal(text, false, zone);
            QVERIFY2(parsed && (*parsed == floor<minutes>(instant)
                                || (local(parsed, zone) == text && floor<minutes>(*parsed) == *parsed)), qPrintable(text));
            QCOMPARE(dates::parseLocal(dates::formatLocal(instant, true, zone), true, zone), std::optional(calendar.startOfDay(instant)));
        }

        // Every grid is 42 consecutive existing days from its week start, the month start in the first
        // week, each cell its day's start; a day covered exactly by an event is the only one it occurs on.
        const auto civil = [](const GregorianCalendar::Fields &f) { return year{f.year} / f.month / f.day; };
        for (int i = 0; i < 82; ++i) {
            const Instant date = i < 80 ? randomInstant() : at(i == 80 ? "2011-12-15T00:00" : "2018-11-15T00:00", utc);
            const qint64 weekStart = random.bounded(-20, 20);
            const GregorianCalendar grid = calendarDates::calendar(zone, weekStart);
            const QList<Instant> days = calendarDates::days(zone, weekStart, date);
            QCOMPARE(days.size(), 42);
            QCOMPARE(grid.fields(days.first()).weekday, grid.firstWeekday());
            const Instant monthStart = calendarDates::monthStart(zone, weekStart, date);
            QVERIFY(grid.sameMonth(monthStart, date) && days.first(7).contains(monthStart));
            year_month_day expected = civil(grid.fields(days.first()));
            for (qsizetype d = 0; d < days.size(); ++d, expected = sys_days(expected) + std::chrono::days(1)) {
                if (civil(grid.fields(days[d])) != expected) { // only a date the zone skipped is left out
                    QVERIFY(!grid.date(int(expected.year()), int(unsigned(expected.month())), int(unsigned(expected.day()))));
                    expected = sys_days(expected) + std::chrono::days(1);
                    QCOMPARE(civil(grid.fields(days[d])), expected);
                }
                QCOMPARE(days[d], grid.startOfDay(days[d]));
                if (d + 1 < days.size()) {
                    const CalendarEvent event{.start = secondsSinceEpoch(days[d]), .end = secondsSinceEpoch(days[d + 1])};
                    QVERIFY(event.occurs(days[d], grid) && event.occurs(days[d + 1] - seconds(1), grid));
                    QVERIFY(!event.occurs(days[d + 1], grid) && !event.occurs(days[d] - seconds(1), grid));
                }
            }
        }
    }
};

QTEST_GUILESS_MAIN(DatesTest)
#include "dates_test.moc"
