// The development server's own date-times and its quick-add interpreter, without a server.
#include "dates.h"
#include "local_time.h"
#include "quick_add.h"
#include "quick_cases.h"
#include "recurrence.h"

#include <QRandomGenerator>
#include <QTest>

#include <set>

using namespace std::chrono;

namespace {
std::variant<QuickPreview, quick::Refusal> interpret(const QString &text, const QString &zone = QStringLiteral("Europe/Madrid"))
{
    const std::vector<StoredCalendar> calendars = {{1, QStringLiteral("Team"), 350, true},
                                                   {2, QStringLiteral("Product"), 210, true},
                                                   {3, QStringLiteral("Travel"), 140, true},
                                                   {4, QStringLiteral("Holidays"), 40, false}};
    return quick::interpret(text, zone, quickNow(), calendars, 1);
}

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

class DevServerCoreTest : public QObject {
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

    void quickAddReadings()
    {
        const auto draft = [](const char *text) { return std::get<QuickPreview>(interpret(QString::fromUtf8(text))).draft; };
        // An abbreviated weekday counts only after "on", "next" or "this".
        QCOMPARE(draft("Picnic in the sun").start_local, QStringLiteral("2025-03-12"));
        QCOMPARE(draft("Picnic in the sun").location, QStringLiteral("the sun"));
        QCOMPARE(draft("Picnic on sun").start_local, QStringLiteral("2025-03-16"));
        QCOMPARE(draft("Picnic Sunday").start_local, QStringLiteral("2025-03-16"));

        const auto elsewhere = std::get<QuickPreview>(interpret(QStringLiteral("Lunch tomorrow at 1pm"), QStringLiteral("Mars/Olympus")));
        QCOMPARE(elsewhere.draft.tz, QStringLiteral("UTC"));
        QCOMPARE(elsewhere.assumptions.first(), QStringLiteral("Unknown time zone “Mars/Olympus”: UTC used."));
        // The longest sentence taken (one past is refused in the contract test).
        QCOMPARE(draft(QByteArray(500, 'a').constData()).title.size(), 500);
    }

    // Random sentences from the interpreter's own vocabulary: each gives a refusal or a draft whose times
    // are well formed, exist in the zone and do not run backwards.
    void everyQuickPreviewIsSaveable()
    {
        const QStringList words =
            QStringLiteral("Lunch at on in with for from to every next tomorrow today Friday March 3 30 2:30am 1pm noon midnight "
                           "12 3/14 2/29 all day hour 45 minutes days weekday month Room Ann and Bo Moe's Travel Holidays calendar "
                           "- 2025-03-30 other week between until 0:00 23:59 the of a an").split(QLatin1Char(' '));
        QRandomGenerator random(20250330);
        for (int round = 0; round < 1000; ++round) {
            QStringList sentence;
            for (int i = 0, n = random.bounded(1, 10); i < n; ++i)
                sentence << words[random.bounded(int(words.size()))];
            const QString text = sentence.join(QLatin1Char(' '));
            const auto answer = interpret(text);
            const auto *preview = std::get_if<QuickPreview>(&answer);
            if (!preview)
                continue;
            const QuickDraft &d = preview->draft;
            const auto start = LocalDateTime::parse(d.start_local, d.all_day);
            const auto end = LocalDateTime::parse(d.end_local, d.all_day);
            QVERIFY2(start && end && *start < *end, qPrintable(text));
            QVERIFY2(!d.title.trimmed().isEmpty() && d.calendar_id != 0 && d.calendar_id != 4, qPrintable(text));
            QVERIFY2(d.repeat.isEmpty() || recurrence::quickRule(d.repeat), qPrintable(text));
            const auto placedStart = placeLocal(*start, d.tz), placedEnd = placeLocal(*end, d.tz);
            QVERIFY2(placedStart && placedEnd, qPrintable(text));
            QVERIFY2(d.all_day || (placedStart->fit != PlacedTime::Fit::Skipped && placedEnd->fit != PlacedTime::Fit::Skipped),
                     qPrintable(text));
        }
    }
};

QTEST_GUILESS_MAIN(DevServerCoreTest)
#include "core_test.moc"
