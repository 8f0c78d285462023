#include "dates.h"
#include "records.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTest>

namespace {

QByteArray golden(const QString &name)
{
    QFile file(QStringLiteral(TEODAL_TEST_DATA "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test data %s", qPrintable(name));
    return file.readAll();
}

QJsonObject object(const QByteArray &json) { return QJsonDocument::fromJson(json).object(); }

QJsonValue at(QJsonValue value, const QStringList &path)
{
    for (const QString &step : path)
        value = value.isArray() ? value[step.toInt()] : value[step];
    return value;
}

// Decodes `record` as the record type named `type`.
bool decodesAs(const QString &type, const QJsonObject &record)
{
    const QByteArray text = QJsonDocument(record).toJson(QJsonDocument::Compact);
    CalendarEvents events;
    CalendarEvent event;
    CalendarSession session;
    TeamCalendar calendar;
    QuickPreview preview;
    QuickDraft draft;
    return type == "events" ? decode(text, events) : type == "event" ? decode(text, event)
         : type == "session" ? decode(text, session) : type == "calendar" ? decode(text, calendar)
         : type == "preview" ? decode(text, preview) : decode(text, draft);
}

qint64 madrid(const char *local)
{
    return secondsSinceEpoch(*dates::parseLocal(QString::fromLatin1(local), false, QStringLiteral("Europe/Madrid")));
}

} // namespace

class RecordsTest : public QObject {
    Q_OBJECT
private slots:
    void decodesGoldenAnswers();
    void everyMemberIsRequired_data();
    void everyMemberIsRequired();
    void oneBadElementFailsTheAnswer();
    void savedEvent_data();
    void savedEvent();
    void survivesHostileInput();
    void encodesEveryMember();
    void occurs_data();
    void occurs();
};

void RecordsTest::decodesGoldenAnswers()
{
    CalendarEvents events;
    QVERIFY(decode(golden("calendar_events.json"), events));
    QCOMPARE(events.events.size(), 4);
    QCOMPARE(events.events[0].title, QStringLiteral("Planning \"Q2\" ☕"));
    QCOMPARE(events.events[3].id, std::numeric_limits<qint64>::min());
    QCOMPARE(events.events[3].calendar_id, std::numeric_limits<qint64>::max());
    QCOMPARE(events.events[0].identity(), QStringLiteral("42--1743285600"));
    QCOMPARE(events.events[1].id, events.events[2].id);
    QVERIFY(events.events[1].identity() != events.events[2].identity());

    CalendarSession session;
    QVERIFY(decode(golden("calendar_session.json"), session));
    QCOMPARE(session.calendars, (QList<TeamCalendar>{{7, QStringLiteral("Team"), 350, true},
                                                     {9, QStringLiteral("Travel"), -20, false}}));
    QuickPreview preview;
    QVERIFY(decode(golden("quick_preview.json"), preview));
    QCOMPARE(preview.draft.attendees, (QStringList{QStringLiteral("ana@example.com"), QStringLiteral("Bo")}));
    QCOMPARE(preview.assumptions, QStringList{QStringLiteral("“Lunch” is one hour long.")});
}

void RecordsTest::everyMemberIsRequired_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QJsonObject>("record");
    QTest::addColumn<QString>("member");
    const QStringList unknown = {"attendees_seen", "next_page", "color", "user"};
    const QList<std::tuple<QString, QString, QStringList>> records = {
        {"events", "calendar_events.json", {}},      {"event", "calendar_events.json", {"events", "0"}},
        {"event", "calendar_events.json", {"events", "3"}}, {"session", "calendar_session.json", {}},
        {"calendar", "calendar_session.json", {"calendars", "1"}}, {"preview", "quick_preview.json", {}},
        {"draft", "quick_preview.json", {"draft"}}};
    for (const auto &[type, file, path] : records) {
        const QJsonObject record = at(object(golden(file)), path).toObject();
        for (const QString &member : record.keys()) {
            if (!unknown.contains(member))
                QTest::addRow("%s %s", qPrintable(type), qPrintable(member)) << type << record << member;
        }
    }
}

// Missing, null or of another JSON type, each member fails the whole record.
void RecordsTest::everyMemberIsRequired()
{
    QFETCH(QString, type);
    QFETCH(QJsonObject, record);
    QFETCH(QString, member);
    const QJsonValue original = record[member];
    const QJsonValue otherType = original.isString() ? QJsonValue(1)
                               : original.isArray()  ? QJsonValue(QJsonArray{QJsonValue::Null})
                               : original.isObject() ? QJsonValue(QStringLiteral("{}"))
                                                     : QJsonValue(QStringLiteral("1"));
    QVERIFY(decodesAs(type, record));
    for (const QJsonValue &wrong : {QJsonValue(QJsonValue::Undefined), QJsonValue(QJsonValue::Null), otherType}) {
        QJsonObject changed = record;
        wrong.isUndefined() ? void(changed.remove(member)) : void(changed[member] = wrong);
        QVERIFY(!decodesAs(type, changed));
    }
}

// One malformed element fails the list, and with it the whole answer.
void RecordsTest::oneBadElementFailsTheAnswer()
{
    QJsonObject events = object(golden("calendar_events.json"));
    QJsonArray list = events["events"].toArray();
    QJsonObject last = list.last().toObject();
    last.remove("occurrence");
    list.replace(list.size() - 1, last);
    events["events"] = list;
    QVERIFY(!decodesAs("events", events));

    QJsonObject session = object(golden("calendar_session.json"));
    session["calendars"] = QJsonArray{session["calendars"][0], 7};
    QVERIFY(!decodesAs("session", session));
}

void RecordsTest::savedEvent_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<std::optional<qint64>>("id"); // absent: the decode fails
    QTest::addColumn<std::optional<QString>>("warning");
    const auto add = [](const char *name, const char *text, std::optional<qint64> id,
                        std::optional<QString> warning = {}) {
        QTest::newRow(name) << QByteArray(text) << id << warning;
    };
    add("id only", R"({"id":5})", 5);
    add("null warning", R"({"id":5,"warning":null})", 5);
    add("warning", R"({"id":5,"warning":"a\"1.5 -9223372036854775809 \\"})", 5,
        QStringLiteral("a\"1.5 -9223372036854775809 \\"));
    add("numbers in unknown members", R"({"x":1.5,"id":5,"y":[2.0,1e999,{"z":-0.0}]})", 5);
    add("largest", R"({"id":9223372036854775807})", INT64_MAX);
    add("smallest", R"({"id":-9223372036854775808})", INT64_MIN);
    add("beyond double precision", R"({"id":9007199254740993})", 9007199254740993LL);
    add("negative zero", R"({"id":-0})", 0);
    const char *refused[] = {R"({"warning":"x"})", R"({"id":null})", R"({"id":5,"warning":1.5})",
                             R"({"id":5,"warning":[]})", R"({"id":"5"})", R"({"id":true})", R"({"id":1.5})",
                             R"({"id":1.0})", R"({"id":1.0000000000000001})", R"({"id":1e3})", R"({"id":1.})",
                             R"({"id":017})", R"({"id":+1})", R"({"id":9223372036854775808})",
                             R"({"id":-9223372036854775809})", R"({"id":123456789012345678901234567890})"};
    for (const char *text : refused)
        add(text, text, std::nullopt);
}

void RecordsTest::savedEvent()
{
    QFETCH(QByteArray, text);
    QFETCH(std::optional<qint64>, id);
    QFETCH(std::optional<QString>, warning);
    SavedEvent saved;
    QCOMPARE(decode(text, saved), id.has_value());
    if (id) {
        QCOMPARE(saved.id, *id);
        QCOMPARE(saved.warning, warning);
    }
}

void RecordsTest::survivesHostileInput()
{
    const QByteArray events = golden("calendar_events.json");
    SavedEvent saved;
    for (const QByteArray &text : {QByteArray(), QByteArray("[]"), QByteArray("{\"id\":1,}"), events.left(900),
                                   "{\"id\":1,\"x\":" + QByteArray(100000, '[') + QByteArray(100000, ']') + "}"})
        QVERIFY(!decode(text, saved));

    QByteArray padded = "{\"id\":1,\"pad\":[";
    while (padded.size() < 4 * 1024 * 1024 - 16)
        padded += "1.25,-7,\"\\\"9\",";
    QVERIFY(decode(padded + "0]}", saved));

    // Random damage never crashes, and whatever still decodes encodes back to itself.
    QRandomGenerator random(20250330);
    for (int round = 0; round < 2000; ++round) {
        QByteArray damaged = events;
        for (int edits = 1 + random.bounded(3); edits > 0; --edits) {
            const qsizetype at = random.bounded(damaged.size());
            if (random.bounded(2))
                damaged[at] = "-0.5e9\"[{}]\\ x"[random.bounded(14)];
            else
                damaged.remove(at, 1 + random.bounded(8));
        }
        CalendarEvents decoded;
        if (decode(damaged, decoded)) {
            for (const CalendarEvent &event : decoded.events) {
                CalendarEvent again;
                QVERIFY(decode(encode(event), again) && again == event);
            }
        }
    }
}

void RecordsTest::encodesEveryMember()
{
    const QJsonObject fresh = QJsonDocument::fromJson(encode(CalendarEvent{})).object();
    QCOMPARE(fresh.size(), 18);
    QCOMPARE(fresh.value("id"), QJsonValue(0));
    QCOMPARE(fresh.value("status"), QJsonValue("confirmed"));
    QCOMPARE(fresh.value("writable"), QJsonValue(true));
    QCOMPARE(QJsonDocument::fromJson(encode(QuickDraft{})).object().size(), 9);

    CalendarEvents events;
    QVERIFY(decode(golden("calendar_events.json"), events));
    events.events[0].start = (qint64(1) << 62) + 1; // more than a double holds exactly
    for (const CalendarEvent &event : events.events) {
        CalendarEvent back;
        QVERIFY(decode(encode(event), back) && back == event);
    }
    QuickPreview preview;
    QuickDraft draft;
    QVERIFY(decode(golden("quick_preview.json"), preview) && decode(encode(preview.draft), draft));
    QCOMPARE(draft, preview.draft);
}

void RecordsTest::occurs_data()
{
    QTest::addColumn<QString>("zone");
    QTest::addColumn<CalendarEvent>("event");
    QTest::addColumn<QStringList>("days"); // which of 28 March to 1 April it covers

    const auto timed = [](qint64 start, qint64 end) {
        CalendarEvent event;
        event.start = start;
        event.end = end;
        return event;
    };
    const auto allDay = [&](const char *first, const char *end) {
        // start and end play no part for all-day events
        CalendarEvent event = timed(madrid("2025-03-01T10:00"), madrid("2025-04-30T10:00"));
        event.all_day = true;
        event.day_start = QLatin1String(first);
        event.day_end = QLatin1String(end);
        return event;
    };
    const QString madridZone = QStringLiteral("Europe/Madrid");
    QTest::newRow("over midnight") << madridZone << timed(madrid("2025-03-28T23:00"), madrid("2025-03-29T01:00"))
                                   << QStringList{"2025-03-28", "2025-03-29"};
    QTest::newRow("ends at midnight") << madridZone << timed(madrid("2025-03-28T22:00"), madrid("2025-03-29T00:00"))
                                      << QStringList{"2025-03-28"};
    QTest::newRow("late on the 23-hour day")
        << madridZone << timed(madrid("2025-03-30T23:30"), madrid("2025-03-30T23:59")) << QStringList{"2025-03-30"};
    QTest::newRow("zero length") << madridZone << timed(madrid("2025-03-30T10:00"), madrid("2025-03-30T10:00"))
                                 << QStringList{"2025-03-30"};
    QTest::newRow("zero length at midnight")
        << madridZone << timed(madrid("2025-03-30T00:00"), madrid("2025-03-30T00:00")) << QStringList{};
    QTest::newRow("all day") << madridZone << allDay("2025-03-30", "2025-03-31") << QStringList{"2025-03-30"};
    QTest::newRow("all day, empty dates") << madridZone << allDay("", "") << QStringList{};
    QTest::newRow("all day, malformed end") << madridZone << allDay("2025-03-31", "x")
                                            << QStringList{"2025-03-31", "2025-04-01"};
    QTest::newRow("unknown zone is UTC") << QStringLiteral("Nowhere") << timed(1743292800 - 60, 1743292800)
                                         << QStringList{"2025-03-29"};
    // 4 November 2018 began at 01:00 in São Paulo and ended at midnight, not at 01:00 on the 5th.
    QTest::newRow("after a skipped midnight") << QStringLiteral("America/Sao_Paulo") << timed(1541385000, 1541385900)
                                              << QStringList{"2018-11-05"};
}

void RecordsTest::occurs()
{
    QFETCH(QString, zone);
    QFETCH(CalendarEvent, event);
    QFETCH(QStringList, days);
    const GregorianCalendar calendar(zone, 2);
    const QString firstDay = event.start < 1600000000 ? QStringLiteral("2018-11-02") : QStringLiteral("2025-03-28");
    Instant day = *dates::parseLocal(firstDay, true, calendar.zoneId());
    for (int i = 0; i < 5; ++i, day = calendar.dayBounds(day).second) {
        const QString name = dates::formatLocal(day, true, calendar.zoneId());
        const Instant last = calendar.dayBounds(day).second - std::chrono::seconds(1);
        for (const Instant at : {day, day + (last - day) / 2, last})
            QVERIFY2(event.occurs(at, calendar) == days.contains(name), qPrintable(name));
    }
}

QTEST_GUILESS_MAIN(RecordsTest)
#include "records_test.moc"
