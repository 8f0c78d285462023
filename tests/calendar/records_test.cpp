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
bool decodes(const QByteArray &text) { Record record; return decode(text, record); }

// Decodes `record` as the record type named `type`.
bool decodesAs(const QString &type, const QJsonObject &record)
{
    const QByteArray text = QJsonDocument(record).toJson(QJsonDocument::Compact);
    return type == "events" ? decodes<CalendarEvents>(text) : type == "event" ? decodes<CalendarEvent>(text)
         : type == "session" ? decodes<CalendarSession>(text) : type == "calendar" ? decodes<TeamCalendar>(text)
         : type == "preview" ? decodes<QuickPreview>(text) : decodes<QuickDraft>(text);
}

} // namespace

class RecordsTest : public QObject {
    Q_OBJECT
private slots:
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
        const auto nested = [](int depth) { // the object itself is the first level
            return "{\"id\":1,\"x\":" + QByteArray(depth - 1, '[') + QByteArray(depth - 1, ']') + "}";
        };
        QVERIFY(decodes<SavedEvent>(nested(1024)) && !decodes<SavedEvent>(nested(1025)));
        const QByteArray events = golden("calendar_events.json");
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
            events.append({.id = i, .status = i % 2 ? QStringLiteral("confirmed") : QString(),
                           .location = i % 5 ? QStringLiteral("Room %1").arg(i % 1500)
                                             : QStringLiteral("Caf\u00e9 \"%1\"").arg(i % 9),
                           .start_local = QStringLiteral("2025-03-%1T10:00").arg(i % 28 + 1, 2, 10, QLatin1Char('0')),
                           .tz = QStringLiteral("Zone/%1").arg(i % 7)});
            items.append(encode(events.last()));
        }
        CalendarEvents decoded;
        QVERIFY(decode("{\"events\":[" + items.join(',') + "]}", decoded));
        QCOMPARE(decoded.events, events);
    }

    void occurs_data()
    {
        QTest::addColumn<CalendarEvent>("event");
        QTest::addColumn<QStringList>("days"); // covered, of the five days from 28 March 2025 in Madrid
        const auto allDay = [](const char *first, const char *end) { // start and end play no part
            return CalendarEvent{.all_day = true, .start = 0, .end = 2000000000, .day_start = first, .day_end = end};
        };
        QTest::newRow("over midnight") << CalendarEvent{.start = 1743199200, .end = 1743206400}
                                       << QStringList{"2025-03-28", "2025-03-29"};
        QTest::newRow("zero length") << CalendarEvent{.start = 1743321600, .end = 1743321600} << QStringList{"2025-03-30"};
        QTest::newRow("all day") << allDay("2025-03-30", "2025-03-31") << QStringList{"2025-03-30"};
        QTest::newRow("all day, malformed end") << allDay("2025-03-31", "x") << QStringList{"2025-03-31", "2025-04-01"};
    }

    // Each day is checked at its first instant, in its middle and at its last second.
    void occurs()
    {
        QFETCH(CalendarEvent, event);
        QFETCH(QStringList, days);
        const GregorianCalendar calendar(QStringLiteral("Europe/Madrid"), 2);
        Instant day = *dates::parseLocal(QStringLiteral("2025-03-28"), true, calendar.zoneId());
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
    add("numbers in unknown members", R"({"x":1.5,"id":5,"y":[2.0,1e999,{"z":-0.0}]})", 5);
    add("largest", R"({"id":9223372036854775807})", INT64_MAX);
    add("smallest", R"({"id":-9223372036854775808})", INT64_MIN);
    add("every escape", R"({"id":5,"warning":"\"\\\/\b\f\n\r\t\u00e9\u001F\uD83D\uDE00"})", 5,
        QStringLiteral("\"\\/\b\f\n\r\t\u00e9\x1f\U0001F600"));
    add("raw text beyond ASCII", "{\"id\":5,\"warning\":\"caf\xC3\xA9 \x7F\"}", 5, QStringLiteral("caf\u00e9 \x7f"));
    add("JSON white space", " \t\r\n{ \"id\" :\n5 , \"warning\" : null }\r\n", 5);
    add("escaped member name", R"({"\u0069d":5})", 5);
    add("repeated member: the last counts", R"({"id":1.5,"id":5,"warning":"a","warning":null})", 5);
    // Refused, among them texts that Qt's parser takes but that are not JSON: a raw control character,
    // an unknown escape, a byte-order mark, a form feed as white space.
    for (const char *text : {"{\"id\":5,\"warning\":\"a\tb\"}", R"({"id":5,"x":"\a"})", "\xEF\xBB\xBF{\"id\":5}",
                             "\f{\"id\":5}", R"({"id":5,})", R"({"id":5} {})", R"([{"id":5}])", R"({"warning":"x"})",
                             R"({"id":5,"id":"5"})", R"({"id":5,"warning":1.5})", R"({"id":1.5})", R"({"id":1e3})",
                             R"({"id":1.})", R"({"id":017})", R"({"id":+1})", R"({"id":9223372036854775808})",
                             R"({"id":-9223372036854775809})", R"({"id":123456789012345678901234567890})"})
        add(text, text, std::nullopt);
}

QTEST_GUILESS_MAIN(RecordsTest)
#include "records_test.moc"
