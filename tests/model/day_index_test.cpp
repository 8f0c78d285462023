#include "day_index.h"

#include <QRandomGenerator>
#include <QTest>

class DayIndexTest : public QObject {
    Q_OBJECT
private slots:
    void matchesPlainDefinition_data()
    {
        QTest::addColumn<QString>("zone");
        QTest::addColumn<qint64>("around"); // seconds since 1970
        QTest::newRow("Madrid, clocks forward") << "Europe/Madrid" << qint64(1743292800);
        QTest::newRow("Madrid, clocks back") << "Europe/Madrid" << qint64(1761436800);
        QTest::newRow("Santiago, midnight skipped") << "America/Santiago" << qint64(1725753600);
        QTest::newRow("Apia, a day skipped") << "Pacific/Apia" << qint64(1325203200);
        QTest::newRow("unknown zone") << "Nowhere/Town" << qint64(1740787200);
    }

    // The index answers, for every day and time of day, exactly what a pass of occurs() over the
    // filtered events gives, in the same order: clock changes, events that end or begin exactly at
    // midnight, zero and negative lengths, long spans, malformed all-day dates and far-away years.
    void matchesPlainDefinition()
    {
        QFETCH(QString, zone);
        QFETCH(qint64, around);
        const GregorianCalendar calendar(zone, 2);
        QRandomGenerator random(20250330);
        const auto pick = [&](const QList<qint64> &choices) { return choices.at(random.bounded(int(choices.size()))); };
        const auto dayStart = [&](qint64 offsetDays) {
            return secondsSinceEpoch(calendar.startOfDay(instantFromSeconds(around + offsetDays * 86400)));
        };
        const QStringList dayTexts{"2025-03-29", "2025-03-30", "2025-03-31", "2025-10-26", "2011-12-29", "2011-12-31",
                                   "2024-09-07", "2024-09-09", "2025-01-01", "2026-01-01"};
        const QStringList malformed{"2025-3-30", "", "2025-02-30"};
        const auto dayText = [&] {
            const QStringList &texts = random.bounded(20) == 0 ? malformed : dayTexts;
            return texts.at(random.bounded(int(texts.size())));
        };

        QList<CalendarEvent> events;
        for (int i = 0; i < 300; ++i) {
            const int calendarId = random.bounded(1, 4);
            const bool allDay = random.bounded(5) == 0;
            const QString first = dayText(), end = dayText();
            const qint64 start = dayStart(random.bounded(-12, 12)) + pick({0, 0, -1, 1, qint64(random.bounded(86400))});
            const qint64 length = random.bounded(50) == 0 ? 80 * 86400
                : pick({0, 3600, 82800, 86400, 90000, -3600, 5 * 86400, qint64(random.bounded(3 * 86400))});
            events.append(CalendarEvent{.id = i, .calendar_id = calendarId, .all_day = allDay, .start = start,
                                        .end = start + length, .day_start = first, .day_end = end});
        }
        events.append(CalendarEvent{.id = 1000, .calendar_id = 3, .start = -9'000'000'000'000'000, .end = 9'000'000'000'000'000});

        for (const std::optional<qint64> filter : {std::optional<qint64>(), std::optional<qint64>(2)}) {
            const DayIndex index(events, filter, calendar);
            QList<qint64> queries;
            for (int day = -15; day <= 15; ++day)
                queries << dayStart(day) << dayStart(day) + random.bounded(86400) << dayStart(day) - 1;
            queries << -15'000'000'000 << 300'000'000'000;
            for (const qint64 query : queries) {
                QList<CalendarEvent> expected;
                for (const CalendarEvent &event : events) {
                    if ((!filter || event.calendar_id == *filter) && event.occurs(instantFromSeconds(query), calendar))
                        expected.append(event);
                }
                QVERIFY2(index.eventsOn(instantFromSeconds(query)) == expected,
                         qPrintable(QStringLiteral("differs at %1 (filter %2)").arg(query).arg(filter.value_or(-1))));
            }
        }
    }
};

QTEST_GUILESS_MAIN(DayIndexTest)
#include "day_index_test.moc"
