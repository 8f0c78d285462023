#include "quick_add.h"
#include "quick_cases.h"
#include "recurrence.h"

#include "dates.h"

#include <QRandomGenerator>
#include <QTest>

namespace {
std::variant<QuickPreview, quick::Refusal> interpret(const QString &text, const QString &zone = QStringLiteral("Europe/Madrid"))
{
    const std::vector<StoredCalendar> calendars = {{1, QStringLiteral("Team"), 350, true},
                                                   {2, QStringLiteral("Product"), 210, true},
                                                   {3, QStringLiteral("Travel"), 140, true},
                                                   {4, QStringLiteral("Holidays"), 40, false}};
    return quick::interpret(text, zone, quickNow(), calendars, 1);
}
} // namespace

class QuickAddTest : public QObject {
    Q_OBJECT
private slots:
    void readings()
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
    void everyPreviewIsSaveable()
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

QTEST_GUILESS_MAIN(QuickAddTest)
#include "quick_add_test.moc"
