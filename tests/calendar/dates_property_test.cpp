#include "dates.h"
#include "records.h"

#include <QRandomGenerator>
#include <QTest>

#include <chrono>

// Random instants in zones with unusual clock changes: half-hour shifts (Lord Howe), a skipped
// day (Apia, 30 December 2011), midnight changes (São Paulo, Havana) and the ordinary ones.
class DatesPropertyTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase_data();
    void formatThenParseRoundTrips();
    void gridsAreFortyTwoConsecutiveDays();
};

namespace {

using namespace std::chrono;

const QStringList zonesUnderTest = {"Europe/Madrid",     "America/New_York", "Australia/Lord_Howe", "Pacific/Apia",
                                    "America/Sao_Paulo", "America/Havana",   "Asia/Kolkata",        "UTC"};

// Clock changes: Madrid, New York, Lord Howe, Apia (three in 2011), São Paulo, Havana.
constexpr qint64 changes[] = {1743296400, 1761440400, 1741503600, 1762063200, 1743865200,
                              1759591800, 1301752800, 1316872800, 1325239200, 1518919200,
                              1541300400, 1741496400, 1762059600};

// 1950 to 2100: after the local mean times whose offsets had seconds.
constexpr qint64 earliest = -631152000, latest = 4102444800;

Instant randomInstant(QRandomGenerator &random)
{
    return Instant(milliseconds(random.bounded(earliest * 1000, latest * 1000)));
}

year_month_day civil(const GregorianCalendar::Fields &fields)
{
    return year{fields.year} / month{unsigned(fields.month)} / day{unsigned(fields.day)};
}

} // namespace

// Every test runs once per zone.
void DatesPropertyTest::initTestCase_data()
{
    QTest::addColumn<QString>("zone");
    for (const QString &zone : zonesUnderTest)
        QTest::newRow(qPrintable(zone)) << zone;
}

void DatesPropertyTest::formatThenParseRoundTrips()
{
    QFETCH_GLOBAL(QString, zone);
    const GregorianCalendar calendar(zone, 1);
    QRandomGenerator random(20111230);
    QList<Instant> instants; // random ones, and every minute around each clock change
    for (int i = 0; i < 1500; ++i)
        instants.append(randomInstant(random));
    for (const qint64 change : changes) {
        for (Instant at = instantFromSeconds(change) - hours(2); at < instantFromSeconds(change) + hours(2); at += 1min)
            instants.append(at);
    }
    for (const Instant instant : instants) {
        const QString text = dates::formatLocal(instant, false, zone);
        const std::optional<Instant> parsed = dates::parseLocal(text, false, zone);
        QVERIFY2(parsed, qPrintable(text));
        if (*parsed != floor<minutes>(instant)) { // only the other instant of a repeated local time
            QCOMPARE(dates::formatLocal(*parsed, false, zone), text);
            QCOMPARE(floor<minutes>(*parsed), *parsed);
        }
        // A date reads back as its day's first instant, midnight or, where that is skipped, later.
        const QString dayText = dates::formatLocal(instant, true, zone);
        QCOMPARE(dates::parseLocal(dayText, true, zone), std::optional<Instant>(calendar.startOfDay(instant)));
    }
}

void DatesPropertyTest::gridsAreFortyTwoConsecutiveDays()
{
    QFETCH_GLOBAL(QString, zone);
    QRandomGenerator random(20111230);
    QList<Instant> dates;
    for (int i = 0; i < 80; ++i)
        dates.append(randomInstant(random));
    for (const char *day : {"2011-12-15", "2018-11-15"}) // Apia's skipped day, São Paulo's skipped midnight
        dates.append(*dates::parseLocal(QString::fromLatin1(day), true, QStringLiteral("UTC")));

    for (const Instant date : dates) {
        const qint64 weekStart = random.bounded(-20, 20);
        const GregorianCalendar calendar = calendarDates::calendar(zone, weekStart);
        const QList<Instant> days = calendarDates::days(zone, weekStart, date);
        QCOMPARE(days.size(), 42);
        QCOMPARE(calendar.fields(days.first()).weekday, calendar.firstWeekday());
        const year_month_day first = civil(calendar.fields(days.first()));
        const Instant monthStart = calendarDates::monthStart(zone, weekStart, date);
        QVERIFY(calendar.sameMonth(monthStart, date) && days.first(7).contains(monthStart));

        // Consecutive existing days, each cell its day's start: only a date the zone skipped
        // entirely (Apia's 30 December 2011) is left out, and no day appears twice.
        year_month_day expected = first;
        for (qsizetype i = 0; i < days.size(); ++i, expected = sys_days(expected) + std::chrono::days(1)) {
            const year_month_day shown = civil(calendar.fields(days[i]));
            if (shown != expected) {
                QVERIFY(!calendar.date(int(expected.year()), int(unsigned(expected.month())),
                                       int(unsigned(expected.day()))));
                expected = sys_days(expected) + std::chrono::days(1);
                QCOMPARE(shown, expected);
            }
            QCOMPARE(days[i], calendar.startOfDay(days[i]));

            // An event covering exactly this day occurs on it and on no neighbour.
            if (i + 1 < days.size()) {
                const CalendarEvent event{.start = secondsSinceEpoch(days[i]), .end = secondsSinceEpoch(days[i + 1])};
                QVERIFY(event.occurs(days[i], calendar) && event.occurs(days[i + 1] - seconds(1), calendar));
                QVERIFY(!event.occurs(days[i + 1], calendar) && !event.occurs(days[i] - seconds(1), calendar));
            }
        }
    }
}

QTEST_GUILESS_MAIN(DatesPropertyTest)
#include "dates_property_test.moc"
