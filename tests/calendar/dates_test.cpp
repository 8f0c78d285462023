#include "dates.h"

#include <QTest>

#include <thread>

namespace {

const QString madrid = QStringLiteral("Europe/Madrid");

// Local wall-clock text ("yyyy-MM-dd'T'HH:mm") in `zone` to an instant; the text must exist.
Instant at(const char *local, const QString &zone = madrid)
{
    const auto instant = dates::parseLocal(QString::fromLatin1(local), false, zone);
    if (!instant)
        qFatal("no such local time %s", local);
    return *instant;
}

QString local(Instant instant, const QString &zone = madrid) { return dates::formatLocal(instant, false, zone); }

} // namespace

class DatesTest : public QObject {
    Q_OBJECT
private slots:
    void grid_data();
    void grid();
    void weekdayLabels_data();
    void weekdayLabels();
    void format();
    void parse_data();
    void parse();
    void calendarArithmetic();
    void nextTime_data();
    void nextTime();
    void templates_data();
    void templates();
    void zones();
    void usableFromSeveralThreads();
};

void DatesTest::grid_data()
{
    QTest::addColumn<QString>("zone");
    QTest::addColumn<qint64>("weekStart");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");

    QTest::newRow("March 2025, Monday") << madrid << qint64(1) << "2025-03-17T15:45" << "2025-02-24T00:00"
                                        << "2025-04-06T00:00";
    QTest::newRow("March 2025, Sunday") << madrid << qint64(0) << "2025-03-31T23:59" << "2025-02-23T00:00"
                                        << "2025-04-05T00:00";
    QTest::newRow("week start 7 is Sunday") << madrid << qint64(7) << "2025-03-01T00:00" << "2025-02-23T00:00"
                                            << "2025-04-05T00:00";
    QTest::newRow("week start -1 is Saturday") << madrid << qint64(-1) << "2025-03-01T00:00"
                                               << "2025-03-01T00:00" << "2025-04-11T00:00";
    QTest::newRow("smallest week start") << madrid << qint64(INT64_MIN) << "2025-03-01T00:00" << "2025-03-01T00:00"
                                         << "2025-04-11T00:00"; // -2^63 leaves 6: Saturday
    QTest::newRow("non-leap February on the first weekday")
        << madrid << qint64(0) << "2026-02-14T12:00" << "2026-02-01T00:00" << "2026-03-14T00:00";
    QTest::newRow("leap February") << madrid << qint64(4) << "2024-02-29T12:00" << "2024-02-01T00:00"
                                   << "2024-03-13T00:00";
    QTest::newRow("across the autumn change") << madrid << qint64(1) << "2025-10-26T02:30" << "2025-09-29T00:00"
                                              << "2025-11-09T00:00";
    QTest::newRow("unknown zone is UTC") << QStringLiteral("Mars/Olympus") << qint64(1) << "2025-03-01T00:00"
                                         << "2025-02-24T00:00" << "2025-04-06T00:00";
    QTest::newRow("empty zone is UTC") << QString() << qint64(1) << "2025-03-31T23:30" << "2025-02-24T00:00"
                                       << "2025-04-06T00:00";
}

void DatesTest::grid()
{
    QFETCH(QString, zone);
    QFETCH(qint64, weekStart);
    QFETCH(QString, date);
    QFETCH(QString, first);
    QFETCH(QString, last);
    const QString resolved = zones::isKnown(zone) ? zone : QStringLiteral("UTC");
    const GregorianCalendar calendar = calendarDates::calendar(zone, weekStart);
    QCOMPARE(calendar.zoneId(), resolved);

    const Instant when = at(qPrintable(date), resolved);
    const QList<Instant> days = calendarDates::days(zone, weekStart, when);
    QCOMPARE(days.size(), 42);
    QCOMPARE(local(days.first(), resolved), first);
    QCOMPARE(local(days.last(), resolved), last);
    QCOMPARE(calendar.fields(days.first()).weekday, calendar.firstWeekday());
    for (qsizetype i = 0; i < days.size(); ++i) {
        QVERIFY(local(days[i], resolved).endsWith(QStringLiteral("T00:00")));
        if (i == 0)
            continue;
        const auto next = calendar.addDays(days[i - 1], 1);
        QVERIFY(next && calendar.sameDay(*next, days[i]));
    }
    const Instant monthStart = calendarDates::monthStart(zone, weekStart, when);
    QCOMPARE(calendar.fields(monthStart).day, 1);
    QVERIFY(calendar.sameMonth(monthStart, when));
    QVERIFY(days.contains(monthStart));
}

void DatesTest::weekdayLabels_data()
{
    QTest::addColumn<qint64>("weekStart");
    QTest::addColumn<QStringList>("labels");
    const QStringList sunday = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    QTest::newRow("0") << qint64(0) << sunday;
    QTest::newRow("1") << qint64(1) << QStringList{"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    QTest::newRow("6") << qint64(6) << QStringList{"Sat", "Sun", "Mon", "Tue", "Wed", "Thu", "Fri"};
    QTest::newRow("7") << qint64(7) << sunday;
    QTest::newRow("-1") << qint64(-1) << QStringList{"Sat", "Sun", "Mon", "Tue", "Wed", "Thu", "Fri"};
    QTest::newRow("-7") << qint64(-7) << sunday;
}

void DatesTest::weekdayLabels()
{
    QFETCH(qint64, weekStart);
    QFETCH(QStringList, labels);
    QCOMPARE(calendarDates::weekdayLabels(madrid, weekStart), labels);
    QCOMPARE(calendarDates::weekdayLabels(QStringLiteral("Nowhere"), weekStart), labels);
}

void DatesTest::format()
{
    const Instant almostTwo = instantFromSeconds(1743299999); // 2025-03-30 01:59:59 UTC
    QCOMPARE(dates::formatLocal(almostTwo + std::chrono::milliseconds(999), false, QStringLiteral("UTC")),
             QStringLiteral("2025-03-30T01:59"));
    QCOMPARE(dates::formatLocal(almostTwo, false, QStringLiteral("Nowhere")), QStringLiteral("2025-03-30T01:59"));
    QCOMPARE(dates::formatLocal(almostTwo, false, madrid), QStringLiteral("2025-03-30T03:59"));
    QCOMPARE(dates::formatLocal(almostTwo, true, QStringLiteral("America/New_York")), QStringLiteral("2025-03-29"));
    QCOMPARE(dates::formatLocal(Instant(std::chrono::milliseconds(-1)), false, QStringLiteral("UTC")),
             QStringLiteral("1969-12-31T23:59"));
}

void DatesTest::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("allDay");
    QTest::addColumn<QString>("zone");
    QTest::addColumn<QString>("expectedUtc"); // empty: absent

    const QString none;
    const QString utc = QStringLiteral("UTC");
    QTest::newRow("ordinary") << "2025-03-30T03:30" << false << madrid << "2025-03-30T01:30";
    QTest::newRow("skipped") << "2025-03-30T02:30" << false << madrid << none;
    QTest::newRow("skipped half hour") << "2025-10-05T02:15" << false << QStringLiteral("Australia/Lord_Howe")
                                       << none;
    QTest::newRow("skipped day") << "2011-12-30T12:00" << false << QStringLiteral("Pacific/Apia") << none;
    QTest::newRow("all day") << "2025-03-30" << true << madrid << "2025-03-29T23:00";
    QTest::newRow("all day, skipped midnight") << "2018-11-04" << true << QStringLiteral("America/Sao_Paulo")
                                               << none;
    QTest::newRow("all day, timed text") << "2025-03-30T10:00" << true << madrid << none;
    QTest::newRow("timed, all-day text") << "2025-03-30" << false << madrid << none;
    QTest::newRow("unknown zone") << "2025-03-30T02:30" << false << QStringLiteral("Nowhere") << "2025-03-30T02:30";
    QTest::newRow("year 1000") << "1000-01-01T00:00" << false << utc << "1000-01-01T00:00";
    QTest::newRow("year 9999") << "9999-12-31T23:59" << false << utc << "9999-12-31T23:59";
    QTest::newRow("year 10000") << "10000-01-01T00:00" << false << utc << "10000-01-01T00:00";
    QTest::newRow("year 999") << "0999-01-01" << true << utc << "0999-01-01T00:00";
    const char *refused[] = {"", " ", "2025-03-30T10:00x", " 2025-03-30T10:00", "2025-03-30T10:00 ",
                             "2025-3-30T3:30", "2025-03-30T3:30", "25-03-30T10:00", "2025-03-30 10:00",
                             "2025-03-30T10:00:00", "2025-03-30T24:00", "2025-03-30T10:60", "2025-02-29T10:00",
                             "2025-13-01T10:00", "2025-00-10T10:00", "+2025-03-30T10:00", "999-01-01T00:00",
                             "２０２５-03-30T10:00", "2025-03-30t10:00", "2025-03-30T10:00Z", "T", "-"};
    for (const char *text : refused)
        QTest::addRow("refuses \"%s\"", text) << QString::fromUtf8(text) << false << madrid << none;
    QTest::newRow("refuses 2025-3-30") << "2025-3-30" << true << madrid << none;
    QTest::newRow("refuses 2025-03-30x") << "2025-03-30x" << true << madrid << none;
}

void DatesTest::parse()
{
    QFETCH(QString, text);
    QFETCH(bool, allDay);
    QFETCH(QString, zone);
    QFETCH(QString, expectedUtc);
    const std::optional<Instant> parsed = dates::parseLocal(text, allDay, zone);
    QCOMPARE(parsed.has_value(), !expectedUtc.isEmpty());
    if (parsed)
        QCOMPARE(dates::formatLocal(*parsed, false, QStringLiteral("UTC")), expectedUtc);
}

void DatesTest::calendarArithmetic()
{
    const GregorianCalendar calendar(madrid, 2);
    using namespace std::chrono;

    // Either instant of the repeated hour is acceptable; both format back to the same text.
    const auto repeated = dates::parseLocal(QStringLiteral("2025-10-26T02:30"), false, madrid);
    QVERIFY(repeated);
    QCOMPARE(local(*repeated), QStringLiteral("2025-10-26T02:30"));

    QCOMPARE(*calendar.addDays(at("2025-03-29T10:00"), 1) - at("2025-03-29T10:00"), hours(23));
    QCOMPARE(local(*calendar.addDays(at("2025-03-29T10:00"), 1)), QStringLiteral("2025-03-30T10:00"));
    QCOMPARE(local(*calendar.addDays(at("2025-10-27T00:00"), -1)), QStringLiteral("2025-10-26T00:00"));
    QCOMPARE(at("2025-10-27T00:00") - *calendar.addDays(at("2025-10-27T00:00"), -1), hours(25));
    QCOMPARE(local(*calendar.addMonths(at("2025-01-31T08:00"), 1)), QStringLiteral("2025-02-28T08:00"));
    QCOMPARE(local(*calendar.addMonths(at("2024-01-31T08:00"), 1)), QStringLiteral("2024-02-29T08:00"));
    QCOMPARE(local(*calendar.addMonths(at("2025-03-31T08:00"), -13)), QStringLiteral("2024-02-29T08:00"));

    QCOMPARE(local(calendar.startOfDay(at("2025-03-30T23:30"))), QStringLiteral("2025-03-30T00:00"));
    QCOMPARE(local(*calendar.date(2025, 3, 30)), QStringLiteral("2025-03-30T00:00"));
    QVERIFY(!calendar.date(2025, 2, 29));
    QVERIFY(!calendar.date(2025, 13, 1));
    QVERIFY(!calendar.date(2025, 4, 0));

    const QString saoPaulo = QStringLiteral("America/Sao_Paulo");
    const GregorianCalendar brazil(saoPaulo, 1);
    QCOMPARE(local(*brazil.date(2018, 11, 4), saoPaulo), QStringLiteral("2018-11-04T01:00"));
    QCOMPARE(local(brazil.startOfDay(at("2018-11-04T15:00", saoPaulo)), saoPaulo), QStringLiteral("2018-11-04T01:00"));
    QVERIFY(!GregorianCalendar(QStringLiteral("Pacific/Apia"), 1).date(2011, 12, 30));

    QVERIFY(calendar.sameDay(at("2025-03-30T00:00"), at("2025-03-30T23:59")));
    QVERIFY(!calendar.sameDay(at("2025-03-30T23:59"), at("2025-03-31T00:00")));
    QVERIFY(calendar.sameMonth(at("2025-03-01T00:00"), at("2025-03-31T23:59")));
    QVERIFY(!calendar.sameMonth(at("2025-03-31T23:59"), at("2024-03-31T23:59")));
    const GregorianCalendar::Fields fields = calendar.fields(at("2025-03-01T00:30"));
    QCOMPARE((std::array{fields.year, fields.month, fields.day, fields.weekday}), (std::array{2025, 3, 1, 7}));
}

void DatesTest::nextTime_data()
{
    QTest::addColumn<QString>("zone");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("expectedUtc");

    QTest::newRow("same day") << madrid << "2025-03-30T00:00" << QTime(9, 0) << "2025-03-30T07:00";
    QTest::newRow("already past") << madrid << "2025-03-30T10:00" << QTime(9, 0) << "2025-03-31T07:00";
    QTest::newRow("exactly now") << madrid << "2025-03-30T09:00" << QTime(9, 0) << "2025-03-30T07:00";
    QTest::newRow("skipped gives next") << madrid << "2025-03-30T00:00" << QTime(2, 30) << "2025-03-30T01:00";
    QTest::newRow("repeated gives first") << madrid << "2025-10-26T00:00" << QTime(2, 30) << "2025-10-26T00:30";
    QTest::newRow("skipped day gives the next existing time") << QStringLiteral("Pacific/Apia") << "2011-12-29T10:00" << QTime(9, 0)
                                 << "2011-12-30T10:00";
}

void DatesTest::nextTime()
{
    QFETCH(QString, zone);
    QFETCH(QString, from);
    QFETCH(QTime, time);
    QFETCH(QString, expectedUtc);
    const GregorianCalendar calendar(zone, 1);
    const auto next = calendar.nextTime(at(qPrintable(from), zone), time.hour(), time.minute(), time.second());
    QVERIFY(next);
    QCOMPARE(dates::formatLocal(*next, false, QStringLiteral("UTC")), expectedUtc);
    QVERIFY(!calendar.nextTime(at(qPrintable(from), zone), 24, 0, 0));
}

void DatesTest::templates_data()
{
    QTest::addColumn<QString>("skeleton");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("zone");
    QTest::addColumn<QString>("expected");

    QTest::newRow("jm en_US") << "jm" << "en_US" << madrid << QStringLiteral("3:59\u202fAM");
    QTest::newRow("jm en_GB") << "jm" << "en_GB" << madrid << "03:59";
    QTest::newRow("jm de_DE") << "jm" << "de_DE" << madrid << "03:59";
    QTest::newRow("jm unknown zone") << "jm" << "en_GB" << "Nowhere" << "01:59";
    QTest::newRow("day en_US") << "EEEE d MMMM" << "en_US" << madrid << "Sunday, March 30";
    QTest::newRow("day en_GB") << "EEEE d MMMM" << "en_GB" << madrid << "Sunday, 30 March";
    QTest::newRow("day New York") << "EEEE d MMMM" << "en_GB" << "America/New_York" << "Saturday, 29 March";
    QTest::newRow("month") << "MMMM yyyy" << "en_US" << madrid << "March 2025";
    QTest::newRow("full day") << "EEEE d MMMM yyyy" << "en_GB" << madrid << "Sunday, 30 March 2025";
    QTest::newRow("short date time") << "d MMM yyyy jm" << "en_GB" << madrid << "30 Mar 2025, 03:59";
    QTest::newRow("default locale") << "jm" << "" << madrid << QStringLiteral("3:59\u202fAM");
}

void DatesTest::templates()
{
    QFETCH(QString, skeleton);
    QFETCH(QString, locale);
    QFETCH(QString, zone);
    QFETCH(QString, expected);
    const Instant instant = instantFromSeconds(1743299999); // 2025-03-30 01:59:59 UTC
    QCOMPARE(dates::formatTemplate(instant, skeleton, zone, locale), expected);
}

void DatesTest::zones()
{
    QVERIFY(zones::isKnown(madrid));
    QVERIFY(zones::isKnown(QStringLiteral("UTC")));
    QVERIFY(!zones::isKnown(QString()));
    QVERIFY(!zones::isKnown(QStringLiteral("Etc/Unknown")));
    QVERIFY(!zones::isKnown(QStringLiteral("Mars/Olympus")));
    const QStringList ids = zones::knownIds();
    QVERIFY(ids.contains(madrid) && ids.contains(QStringLiteral("Pacific/Apia")));
    QCOMPARE(QSet<QString>(ids.begin(), ids.end()).size(), ids.size());
    for (const QString &id : ids)
        QVERIFY2(zones::isKnown(id), qPrintable(id));

    QCOMPARE(zones::systemId(), madrid);
    qputenv("TZ", "America/New_York");
    QCOMPARE(zones::systemId(), madrid);
    zones::refreshSystemZone();
    QCOMPARE(zones::systemId(), QStringLiteral("America/New_York"));
    qputenv("TZ", "Europe/Madrid");
    zones::refreshSystemZone();
    QCOMPARE(zones::systemId(), madrid);
}

void DatesTest::usableFromSeveralThreads()
{
    const QString zonesToUse[] = {madrid, QStringLiteral("America/New_York"), QStringLiteral("Asia/Kolkata")};
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                const QString &zone = zonesToUse[(t + i) % 3];
                const Instant instant = instantFromSeconds(1700000000 + qint64(i) * 3607);
                const QString text = dates::formatLocal(instant, false, zone);
                const auto back = dates::parseLocal(text, false, zone);
                if (!back || dates::formatLocal(*back, false, zone) != text
                    || dates::formatTemplate(instant, QStringLiteral("jm"), zone, QStringLiteral("en_GB"))
                           != text.right(5)
                    || calendarDates::days(zone, t, instant).size() != 42)
                    ++mismatches;
                if (i % 100 == 0 && t == 0)
                    zones::refreshSystemZone();
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    QCOMPARE(mismatches.load(), 0);
}

QTEST_GUILESS_MAIN(DatesTest)
#include "dates_test.moc"
