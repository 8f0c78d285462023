#include "dates.h"
#include "records.h"

#include <QRandomGenerator>
#include <QTest>

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
    // Week start INT64_MIN wraps to Saturday: the 42 cells and the weekday labels begin there.
    void grid()
    {
        const QList<Instant> days = calendarDates::days(madrid, INT64_MIN, at("2025-03-01T00:00"));
        QCOMPARE(local(days.first()), QStringLiteral("2025-03-01T00:00"));
        QCOMPARE(local(days.last()), QStringLiteral("2025-04-11T00:00"));
        QCOMPARE(calendarDates::weekdayLabels(madrid, INT64_MIN), (QStringList{"Sa", "So", "Mo", "Di", "Mi", "Do", "Fr"}));
    }

    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("allDay");
        QTest::addColumn<QString>("zone");
        QTest::addColumn<QString>("expectedUtc");
        const auto row = [](const char *text, bool allDay, const char *zone, const char *expectedUtc) {
            QTest::addRow("%s %s", zone, text) << QString::fromUtf8(text) << allDay << zone << expectedUtc;
        };
        row("2025-03-30T03:30", false, "Europe/Madrid", "2025-03-30T01:30");
        row("2025-03-30T02:30", false, "Europe/Madrid", "none"); // the skipped hour
        row("2025-03-30", true, "Europe/Madrid", "2025-03-29T23:00");
        // A date is its day where midnight is skipped (from 01:00 in Santiago) or repeated (the first, Havana).
        row("2025-09-07", true, "America/Santiago", "2025-09-07T04:00");
        row("2025-11-02", true, "America/Havana", "2025-11-02T04:00");
        row("2011-12-30", true, "Pacific/Apia", "none"); // the skipped day
        row("2025-03-30T02:30", false, "Nowhere", "2025-03-30T02:30"); // an unknown zone is UTC
        // Rules of the system's files that ICU's copy (2022e) lacks: no more daylight saving time in
        // Mexico, again in Cairo, moved in Nuuk (to −1:00, the evening before); Dublin's negative one.
        row("2025-07-01T12:00", false, "America/Mexico_City", "2025-07-01T18:00");
        row("2025-07-01T12:00", false, "Africa/Cairo", "2025-07-01T09:00");
        row("2025-04-25T00:30", false, "Africa/Cairo", "none");
        row("2025-07-01T12:00", false, "America/Nuuk", "2025-07-01T13:00");
        row("2025-03-29T23:30", false, "America/Nuuk", "none");
        row("2025-07-01T12:00", false, "Europe/Dublin", "2025-07-01T11:00");
        // Four-digit years from 0001, Gregorian before the 1582 reform too: 1500 is no leap year.
        row("0999-01-01T00:00", false, "UTC", "0999-01-01T00:00");
        row("1582-10-10", true, "UTC", "1582-10-10T00:00");
        for (const char *text :
             {"2025-03-30T10:00x", "2025-3-30T3:30", "2025-02-29T10:00", "10000-01-01T00:00", "1500-02-29T00:00"})
            row(text, false, "Europe/Madrid", "none");
        for (const char *text : {"2025-3-30", "0000-01-01", "1500-02-29", "２０２５-03-30"})
            row(text, true, "Europe/Madrid", "none");
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
        const GregorianCalendar cal(madrid, 2);
        QCOMPARE(*cal.addDays(at("2025-03-29T10:00"), 1) - at("2025-03-29T10:00"), hours(23));
        QVERIFY(cal.dayBounds(at("2025-03-30T23:30")) == std::pair(at("2025-03-30T00:00"), at("2025-03-31T00:00")));
        QVERIFY(!cal.date(2025, 2, 29) && !cal.date(2025, 13, 1) && !cal.date(2025, 4, 0));
        // The next 09:00 is the next day's; a skipped 02:30 is the next existing time, a repeated one the first.
        QCOMPARE(local(cal.nextTime(at("2025-03-30T09:01"), 9, 0, 0)), QStringLiteral("2025-03-31T09:00"));
        QCOMPARE(local(cal.nextTime(at("2025-03-30T00:00"), 2, 30, 0), utc), QStringLiteral("2025-03-30T01:00"));
        QCOMPARE(local(cal.nextTime(at("2025-10-26T00:00"), 2, 30, 0), utc), QStringLiteral("2025-10-26T00:30"));
        QVERIFY(!cal.nextTime(at("2025-03-30T00:00"), 24, 0, 0));
        // Apia skipped 30 December 2011: three days after the 28th is the 31st.
        const QString apia = QStringLiteral("Pacific/Apia");
        QCOMPARE(local(GregorianCalendar(apia, 1).addDays(at("2011-12-28T10:00", apia), 3), apia),
                 QStringLiteral("2011-12-31T10:00"));
    }

    // In the given locale, or without one in the time locale (LC_TIME=de_DE, not LANG); in the given zone.
    void templates()
    {
        const Instant instant = instantFromSeconds(1743299999); // 2025-03-30 01:59:59 UTC
        const auto display = [&](const char *skeleton, const char *locale, const QString &zone = madrid) {
            return dates::formatTemplate(instant, QLatin1String(skeleton), zone, QLatin1String(locale));
        };
        QCOMPARE(display("jm", "en_US"), QStringLiteral("3:59\u202fAM"));
        QCOMPARE(display("jm", ""), QStringLiteral("03:59"));
        QCOMPARE(display("EEEE d MMMM", "en_GB", QStringLiteral("America/New_York")), QStringLiteral("Saturday, 29 March"));
    }

    // The names of the system's database, zones newer than ICU's copy included; not ICU's own names nor
    // the database's other files. A name outside it is UTC; every offered name resolves.
    void zones()
    {
        const QStringList offered = zones::knownIds();
        QVERIFY(offered.contains(madrid) && std::all_of(offered.begin(), offered.end(), zones::isKnown));
        for (const auto &[id, known] : {std::pair{"UTC", true}, {"America/Coyhaique", true}, {"", false}, {"GMT+5", false},
                                        {"posixrules", false}, {"../zoneinfo/UTC", false}}) {
            QVERIFY2(zones::isKnown(QString::fromLatin1(id)) == known, id);
            QCOMPARE(GregorianCalendar(QString::fromLatin1(id), 1).zoneId(), known ? QString::fromLatin1(id) : utc);
        }
    }

    // Read again only when asked to; TZ may name a file; a POSIX rule names no zone.
    void systemZone()
    {
        QString previous = zones::systemId();
        for (const auto &[tz, expected] : {std::pair<const char *, QString>{":America/New_York", "America/New_York"},
                                           {"/usr/share/zoneinfo/posix/Asia/Tokyo", "Asia/Tokyo"},
                                           {"CET-1CEST,M3.5.0,M10.5.0/3", utc}, {"Europe/Madrid", madrid}}) {
            qputenv("TZ", tz);
            QCOMPARE(zones::systemId(), previous);
            zones::refreshSystemZone();
            QCOMPARE(previous = zones::systemId(), expected);
        }
    }

    // Zones with half-hour shifts (Lord Howe), a skipped day (Apia, 30 December 2011) and midnight
    // changes (São Paulo, Havana), at random instants 1950–2100 and every minute around clock changes.
    void randomInstants_data()
    {
        QTest::addColumn<QString>("zone");
        for (const char *zone : {"Europe/Madrid", "Australia/Lord_Howe", "Pacific/Apia", "America/Sao_Paulo", "America/Havana"})
            QTest::newRow(zone) << QString::fromLatin1(zone);
    }

    void randomInstants()
    {
        using namespace std::chrono;
        QFETCH(QString, zone);
        QRandomGenerator random(20111230);
        const auto randomInstant = [&] { return Instant(milliseconds(random.bounded(-631152000'000LL, 4102444800'000LL))); };
        QList<Instant> instants;
        for (int i = 0; i < 1500; ++i)
            instants << randomInstant();
        for (const qint64 change : {1743296400, 1761440400, 1743865200, 1759591800, 1301752800, 1316872800, 1325239200,
                                    1518919200, 1541300400, 1741496400, 1762059600}) {
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
            QCOMPARE(dates::parseLocal(dates::formatLocal(instant, true, zone), true, zone),
                     std::optional(GregorianCalendar(zone, 1).startOfDay(instant)));
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
