#include "quick_add.h"
#include "quick_cases.h"

#include "dates.h"

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

QTEST_GUILESS_MAIN(QuickAddTest)
#include "quick_add_test.moc"
