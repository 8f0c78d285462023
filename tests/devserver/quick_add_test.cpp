#include "quick_add.h"
#include "quick_cases.h"
#include "recurrence.h"

#include "dates.h"

#include <QRandomGenerator>
#include <QTest>

namespace {
std::vector<StoredCalendar> calendars()
{
    return {{1, QStringLiteral("Team"), 350, true},
            {2, QStringLiteral("Product"), 210, true},
            {3, QStringLiteral("Travel"), 140, true},
            {4, QStringLiteral("Holidays"), 40, false}};
}
} // namespace

class QuickAddTest : public QObject {
    Q_OBJECT
private slots:
    void sentences_data();
    void sentences();
    void refusals_data();
    void refusals();
    void unknownZoneFallsBackToUtc();
    void everyPreviewIsSaveable();
    void abbreviatedWeekdaysNeedAQualifier();
};

void QuickAddTest::sentences_data()
{
    QTest::addColumn<QuickCase>("expected");
    for (const QuickCase &c : quickCases())
        QTest::newRow(qPrintable(c.text)) << c;
}

void QuickAddTest::sentences()
{
    QFETCH(QuickCase, expected);
    const auto answer = quick::interpret(expected.text, QStringLiteral("Europe/Madrid"), quickNow(), calendars(), 1);
    const auto *preview = std::get_if<QuickPreview>(&answer);
    if (!preview)
        QFAIL(qPrintable(std::get<quick::Refusal>(answer).message));
    QCOMPARE(preview->draft, expected.draft);
    QCOMPARE(preview->when, expected.when);
    QCOMPARE(preview->assumptions, expected.assumptions);
    QCOMPARE(preview->calendar_name, expected.draft.calendar_id == 3 ? QStringLiteral("Travel") : QStringLiteral("Team"));
    QCOMPARE(preview->repeat_label.isEmpty(), expected.draft.repeat.isEmpty());
}

void QuickAddTest::refusals_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("status");
    QTest::newRow("empty") << "" << 400;
    QTest::newRow("blank") << " \t\n " << 400;
    QTest::newRow("no title") << "tomorrow at 5pm" << 422;
    QTest::newRow("punctuation only") << "?!" << 422;
    QTest::newRow("no such day") << "Meeting on 2/30" << 422;
    QTest::newRow("no such hour") << "Meeting at 13pm" << 422;
    QTest::newRow("too far away") << "Meeting 12/31/9999 for 2 days" << 422;
    QTest::newRow("too long") << QString(600, QLatin1Char('a')) << 413;
}

void QuickAddTest::refusals()
{
    QFETCH(QString, text);
    const auto answer = quick::interpret(text, QStringLiteral("Europe/Madrid"), quickNow(), calendars(), 1);
    const auto *refusal = std::get_if<quick::Refusal>(&answer);
    QVERIFY(refusal);
    QTEST(refusal->status, "status");
    QVERIFY(!refusal->message.isEmpty());
}

void QuickAddTest::unknownZoneFallsBackToUtc()
{
    const auto answer = quick::interpret(QStringLiteral("Lunch tomorrow at 1pm"), QStringLiteral("Mars/Olympus"),
                                         quickNow(), calendars(), 1);
    const auto &preview = std::get<QuickPreview>(answer);
    QCOMPARE(preview.draft.tz, QStringLiteral("UTC"));
    QCOMPARE(preview.assumptions.first(), QStringLiteral("Unknown time zone “Mars/Olympus”: UTC used."));
}

void QuickAddTest::abbreviatedWeekdaysNeedAQualifier()
{
    const auto read = [](const char *text) {
        return std::get<QuickPreview>(quick::interpret(QString::fromUtf8(text), QStringLiteral("Europe/Madrid"), quickNow(),
                                                       calendars(), 1))
            .draft;
    };
    QCOMPARE(read("Picnic in the sun").start_local, QStringLiteral("2025-03-12"));
    QCOMPARE(read("Picnic in the sun").location, QStringLiteral("the sun"));
    QCOMPARE(read("Picnic on sun").start_local, QStringLiteral("2025-03-16"));
    QCOMPARE(read("Picnic Sunday").start_local, QStringLiteral("2025-03-16"));
}

// Random sentences from the interpreter's own vocabulary: each gives a refusal or a draft whose times
// are well formed, exist in the zone and do not run backwards.
void QuickAddTest::everyPreviewIsSaveable()
{
    const QStringList words = {"Lunch", "at", "on", "in", "with", "for", "from", "to", "every", "next", "tomorrow",
                               "today", "Friday", "March", "3", "30", "2:30am", "1pm", "noon", "midnight", "12",
                               "3/14", "2/29", "all", "day", "hour", "45", "minutes", "days", "weekday", "month",
                               "Room", "Ann", "and", "Bo", "Moe's", "Travel", "Holidays", "calendar", "-", "2025-03-30",
                               "other", "week", "between", "until", "0:00", "23:59", "the", "of", "a", "an"};
    QRandomGenerator random(20250330);
    for (int round = 0; round < 1000; ++round) {
        QStringList sentence;
        for (int i = 0, n = random.bounded(1, 10); i < n; ++i)
            sentence << words[random.bounded(int(words.size()))];
        const QString text = sentence.join(QLatin1Char(' '));
        const auto answer = quick::interpret(text, QStringLiteral("Europe/Madrid"), quickNow(), calendars(), 1);
        const auto *preview = std::get_if<QuickPreview>(&answer);
        if (!preview)
            continue;
        const QuickDraft &d = preview->draft;
        const auto start = LocalDateTime::parse(d.start_local, d.all_day);
        const auto end = LocalDateTime::parse(d.end_local, d.all_day);
        QVERIFY2(start && end && *start < *end, qPrintable(text));
        QVERIFY2(!d.title.trimmed().isEmpty() && d.calendar_id != 0 && d.calendar_id != 4, qPrintable(text));
        QVERIFY2(d.repeat.isEmpty() || recurrence::quickRule(d.repeat), qPrintable(text));
        if (!d.all_day)
            QVERIFY2(placeLocal(*start, d.tz).fit != PlacedTime::Fit::Skipped &&
                         placeLocal(*end, d.tz).fit != PlacedTime::Fit::Skipped,
                     qPrintable(text));
    }
}

QTEST_GUILESS_MAIN(QuickAddTest)
#include "quick_add_test.moc"
