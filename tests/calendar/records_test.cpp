#include "dates.h"
#include "records.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

QByteArray golden(const char *name)
{
    QFile file(QStringLiteral(TEODAL_TEST_DATA "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test data %s", name);
    return file.readAll();
}

QJsonObject object(const char *name) { return QJsonDocument::fromJson(golden(name)).object(); }

template<typename Record>
bool decodes(const QByteArray &text)
{
    Record record;
    return decode(text, record);
}

// Decodes `record` as the record type named `type`.
bool decodesAs(const QString &type, const QJsonObject &record)
{
    const QByteArray text = QJsonDocument(record).toJson(QJsonDocument::Compact);
    return type == "events" ? decodes<CalendarEvents>(text) : type == "event" ? decodes<CalendarEvent>(text)
         : type == "session" ? decodes<CalendarSession>(text) : type == "calendar" ? decodes<TeamCalendar>(text)
         : type == "preview" ? decodes<QuickPreview>(text) : decodes<QuickDraft>(text);
}

qint64 madrid(const char *local)
{
    return secondsSinceEpoch(*dates::parseLocal(QString::fromLatin1(local), false, QStringLiteral("Europe/Madrid")));
}

} // namespace

class RecordsTest : public QObject {
    Q_OBJECT
private slots:
    // Whatever decodes encodes back to an equal record with every member.
    void goldenAnswersDecodeAndEncode()
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
        events.events[0].start = (qint64(1) << 62) + 1; // more than a double holds exactly
        for (const CalendarEvent &event : events.events) {
            CalendarEvent back;
            QVERIFY(decode(encode(event), back) && back == event);
        }
        QCOMPARE(QJsonDocument::fromJson(encode(events.events[0])).object().size(), 18);

        CalendarSession session;
        QVERIFY(decode(golden("calendar_session.json"), session));
        QCOMPARE(session.calendars, (QList<TeamCalendar>{{7, QStringLiteral("Team"), 350, true},
                                                         {9, QStringLiteral("Travel"), -20, false}}));
        QuickPreview preview;
        QVERIFY(decode(golden("quick_preview.json"), preview));
        QCOMPARE(preview.draft.attendees, (QStringList{QStringLiteral("ana@example.com"), QStringLiteral("Bo")}));
        QuickDraft draft;
        QVERIFY(decode(encode(preview.draft), draft));
        QCOMPARE(draft, preview.draft);
        QCOMPARE(QJsonDocument::fromJson(encode(draft)).object().size(), 9);
    }

    void everyMemberIsRequired_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QJsonObject>("record");
        QTest::addColumn<QString>("member");
        const QJsonObject events = object("calendar_events.json"), session = object("calendar_session.json"),
                          preview = object("quick_preview.json");
        const QList<std::pair<QString, QJsonObject>> records = {
            {"events", events},   {"event", events["events"][0].toObject()},        {"session", session},
            {"preview", preview}, {"calendar", session["calendars"][1].toObject()}, {"draft", preview["draft"].toObject()}};
        const QStringList unknown = {"attendees_seen", "next_page", "color", "user"};
        for (const auto &[type, record] : records) {
            for (const QString &member : record.keys()) {
                if (!unknown.contains(member))
                    QTest::addRow("%s %s", qPrintable(type), qPrintable(member)) << type << record << member;
            }
        }
    }

    // Missing, null or of another JSON type, each member fails the whole record.
    void everyMemberIsRequired()
    {
        QFETCH(QString, type);
        QFETCH(QJsonObject, record);
        QFETCH(QString, member);
        const QJsonValue original = record[member];
        QList<QJsonValue> wrong = {QJsonValue::Undefined, QJsonValue::Null,
                                   original.isString() ? QJsonValue(1) : QJsonValue(QStringLiteral("1"))};
        if (original.isArray()) // one bad element among good ones fails the whole list
            wrong << QJsonArray{original[0], QJsonValue::Null} << QJsonArray{original[0], QJsonObject{}};
        QVERIFY(decodesAs(type, record));
        for (const QJsonValue &value : wrong) {
            QJsonObject changed = record;
            value.isUndefined() ? void(changed.remove(member)) : void(changed[member] = value);
            QVERIFY(!decodesAs(type, changed));
        }
    }

    void savedEvent_data(); // defined below the class: moc cannot read its raw strings
    void savedEvent()
    {
        QFETCH(QByteArray, text);
        QFETCH(std::optional<qint64>, id);
        QFETCH(std::optional<QString>, warning);
        SavedEvent saved;
        QCOMPARE(decode(text, saved), id.has_value());
        QVERIFY(!id || (saved.id == *id && saved.warning == warning));
    }

    // Random damage is the records fuzz target's work; these are the inputs it would take long to reach.
    void survivesHostileInput()
    {
        const QByteArray events = golden("calendar_events.json");
        const auto nested = [](int depth) { // the object itself is the first level
            return "{\"id\":1,\"x\":" + QByteArray(depth - 1, '[') + QByteArray(depth - 1, ']') + "}";
        };
        QVERIFY(decodes<SavedEvent>(nested(1024)));
        for (const QByteArray &text : {QByteArray(), QByteArray("[]"), QByteArray("{\"id\":1,}"), events.left(900), nested(1025)})
            QVERIFY(!decodes<SavedEvent>(text));
        QByteArray padded = "{\"id\":1,\"pad\":[";
        while (padded.size() < 4 * 1024 * 1024 - 16)
            padded += "1.25,-7,\"\\\"9\",";
        QVERIFY(decodes<SavedEvent>(padded + "0]}"));
        for (qsizetype size = 0; size <= events.lastIndexOf('}'); ++size) // every cut ends inside the object
            QVERIFY(!decodes<CalendarEvents>(events.left(size)));
    }

    // Equal texts of one answer share storage; every event still gets its own values, whatever the
    // order in which texts repeat.
    void repeatedTextsKeepTheirValues()
    {
        QList<CalendarEvent> events;
        QByteArrayList items;
        for (int i = 0; i < 3000; ++i) {
            CalendarEvent event;
            event.id = i;
            event.status = i % 2 ? QStringLiteral("confirmed") : QString();
            event.tz = QStringLiteral("Zone/%1").arg(i % 7);
            event.location = i % 5 ? QStringLiteral("Room %1").arg(i % 1500) : QStringLiteral("Caf\u00e9 \"%1\"").arg(i % 9);
            event.start_local = QStringLiteral("2025-03-%1T10:00").arg(i % 28 + 1, 2, 10, QLatin1Char('0'));
            events.append(event);
            items.append(encode(event));
        }
        CalendarEvents decoded;
        QVERIFY(decode("{\"events\":[" + items.join(',') + "]}", decoded));
        QCOMPARE(decoded.events, events);
    }

    void occurs_data()
    {
        QTest::addColumn<QString>("zone");
        QTest::addColumn<CalendarEvent>("event");
        QTest::addColumn<QStringList>("days"); // covered, of five days from 28 March 2025 (2 November 2018)
        const auto timed = [](qint64 start, qint64 end) { return CalendarEvent{.start = start, .end = end}; };
        const auto allDay = [](const char *first, const char *end) { // start and end play no part
            return CalendarEvent{.all_day = true, .start = madrid("2025-03-01T10:00"), .end = madrid("2025-04-30T10:00"),
                                 .day_start = first, .day_end = end};
        };
        const auto row = [](const char *name, CalendarEvent event, QStringList days, const char *zone = "Europe/Madrid") {
            QTest::newRow(name) << QString::fromLatin1(zone) << event << days;
        };
        row("over midnight", timed(madrid("2025-03-28T23:00"), madrid("2025-03-29T01:00")), {"2025-03-28", "2025-03-29"});
        row("ends at midnight", timed(madrid("2025-03-28T22:00"), madrid("2025-03-29T00:00")), {"2025-03-28"});
        row("late on the 23-hour day", timed(madrid("2025-03-30T23:30"), madrid("2025-03-30T23:59")), {"2025-03-30"});
        row("zero length", timed(madrid("2025-03-30T10:00"), madrid("2025-03-30T10:00")), {"2025-03-30"});
        row("all day", allDay("2025-03-30", "2025-03-31"), {"2025-03-30"});
        row("all day, empty dates", allDay("", ""), {});
        row("all day, malformed end", allDay("2025-03-31", "x"), {"2025-03-31", "2025-04-01"});
        // 4 November 2018 began at 01:00 in São Paulo and ended at midnight, not at 01:00 on the 5th.
        row("after a skipped midnight", timed(1541385000, 1541385900), {"2018-11-05"}, "America/Sao_Paulo");
    }

    void occurs()
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
};

void RecordsTest::savedEvent_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<std::optional<qint64>>("id"); // absent: the decode fails
    QTest::addColumn<std::optional<QString>>("warning");
    const auto add = [](const char *name, const char *text, std::optional<qint64> id,
                        std::optional<QString> warning = {}) { QTest::newRow(name) << QByteArray(text) << id << warning; };
    add("id only", R"({"id":5})", 5);
    add("null warning", R"({"id":5,"warning":null})", 5);
    add("numbers in a warning", R"({"id":5,"warning":"a\"1.5 -9223372036854775809 \\"})", 5,
        QStringLiteral("a\"1.5 -9223372036854775809 \\"));
    add("numbers in unknown members", R"({"x":1.5,"id":5,"y":[2.0,1e999,{"z":-0.0}]})", 5);
    add("largest", R"({"id":9223372036854775807})", INT64_MAX);
    add("smallest", R"({"id":-9223372036854775808})", INT64_MIN);
    add("beyond double precision", R"({"id":9007199254740993})", 9007199254740993LL);
    add("every escape", R"({"id":5,"warning":"\"\\\/\b\f\n\r\t\u00e9\u001F\uD83D\uDE00"})", 5,
        QStringLiteral("\"\\/\b\f\n\r\t\u00e9\x1f\U0001F600"));
    add("raw text beyond ASCII", "{\"id\":5,\"warning\":\"caf\xC3\xA9 \x7F\"}", 5, QStringLiteral("caf\u00e9 \x7f"));
    // Texts that Qt's parser takes but that are not JSON.
    add("raw control character", "{\"id\":5,\"warning\":\"a\tb\"}", std::nullopt);
    add("raw control character in a name", "{\"id\":5,\"\x01\":1}", std::nullopt);
    add("unknown escape", R"({"id":5,"x":"\a"})", std::nullopt);
    add("byte-order mark", "\xEF\xBB\xBF{\"id\":5}", std::nullopt);
    add("escaped byte beyond UTF-8", "{\"id\":5,\"x\":\"\\\xE9\"}", std::nullopt);
    add("JSON white space", " \t\r\n{ \"id\" :\n5 , \"warning\" : null }\r\n", 5);
    add("escaped member name", R"({"\u0069d":5})", 5);
    add("repeated member: the last counts", R"({"id":1.5,"id":5,"warning":"a","warning":null})", 5);
    add("repeated member: the last is wrong", R"({"id":5,"id":"5"})", std::nullopt);
    for (const char *text : {"\f{\"id\":5}", R"({"id":5} {})", R"([{"id":5}])", R"({"warning":"x"})",
                             R"({"id":null})", R"({"id":5,"warning":1.5})", R"({"id":1.5})", R"({"id":1.0})",
                             R"({"id":1e3})", R"({"id":1.})", R"({"id":017})", R"({"id":+1})",
                             R"({"id":9223372036854775808})", R"({"id":-9223372036854775809})",
                             R"({"id":123456789012345678901234567890})"})
        add(text, text, std::nullopt);
}

QTEST_GUILESS_MAIN(RecordsTest)
#include "records_test.moc"
