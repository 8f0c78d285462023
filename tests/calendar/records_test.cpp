#include "dates.h"
#include "records.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTest>

#include <functional>

namespace {

QByteArray golden(const char *name)
{
    QFile file(QStringLiteral(TEODAL_TEST_DATA "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test data %s", name);
    return file.readAll();
}

QByteArray json(const QJsonObject &object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

template<typename Record>
bool decodes(const QByteArray &text)
{
    Record record;
    return decode(text, record);
}

// Local wall-clock text in Madrid to seconds, for building events.
qint64 madrid(const char *local)
{
    const auto instant = dates::parseLocal(QString::fromLatin1(local), false, QStringLiteral("Europe/Madrid"));
    if (!instant)
        qFatal("bad local time %s", local);
    return secondsSinceEpoch(*instant);
}

} // namespace

class RecordsTest : public QObject {
    Q_OBJECT
private slots:
    void decodesGoldenAnswers();
    void refusesMissingNullAndMistypedMembers_data();
    void refusesMissingNullAndMistypedMembers();
    void integersMustBeExact_data();
    void integersMustBeExact();
    void savedEventWarningIsOptional_data();
    void savedEventWarningIsOptional();
    void survivesHostileInput();
    void encodesEveryMemberAndRoundTrips();
    void identityTellsOccurrencesApart();
    void occurs_data();
    void occurs();
};

void RecordsTest::decodesGoldenAnswers()
{
    CalendarEvents events;
    QVERIFY(decode(golden("calendar_events.json"), events));
    QCOMPARE(events.events.size(), 4);
    const CalendarEvent &first = events.events[0];
    QCOMPARE(first.id, 42);
    QCOMPARE(first.title, QStringLiteral("Planning \"Q2\" ☕"));
    QCOMPARE(first.notes, QStringLiteral("Line one\nline two"));
    QCOMPARE(first.start_local, QStringLiteral("2025-03-29T23:00"));
    QCOMPARE(first.start, madrid("2025-03-29T23:00"));
    QCOMPARE(first.end, madrid("2025-03-30T01:00"));
    QCOMPARE(events.events[1].occurrence, QStringLiteral("20250303T083000Z"));
    QVERIFY(events.events[1].recurring && !events.events[1].writable);
    QCOMPARE(events.events[3].id, std::numeric_limits<qint64>::min());
    QCOMPARE(events.events[3].calendar_id, std::numeric_limits<qint64>::max());
    QVERIFY(events.events[3].all_day);

    CalendarSession session;
    QVERIFY(decode(golden("calendar_session.json"), session));
    QCOMPARE(session.week_start, 1);
    QCOMPARE(session.zone, QStringLiteral("Europe/Madrid"));
    QCOMPARE(session.calendars, (QList<TeamCalendar>{{7, QStringLiteral("Team"), 350, true},
                                                     {9, QStringLiteral("Travel"), -20, false}}));
    QCOMPARE(session.default_calendar_id, 7);

    QuickPreview preview;
    QVERIFY(decode(golden("quick_preview.json"), preview));
    QCOMPARE(preview.draft.repeat, QStringLiteral("FREQ=WEEKLY;BYDAY=MO"));
    QCOMPARE(preview.draft.attendees, (QStringList{QStringLiteral("ana@example.com"), QStringLiteral("Bo")}));
    QCOMPARE(preview.when, QStringLiteral("Monday 31 March, 13:00–14:00"));
    QCOMPARE(preview.assumptions, QStringList{QStringLiteral("“Lunch” is one hour long.")});
}

// Every member of every record, in place inside its golden answer: missing, null, or of another
// JSON type, each fails the whole decode.
void RecordsTest::refusesMissingNullAndMistypedMembers_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("path"); // nested objects leading to the record, "0" indexes an array
    QTest::addColumn<QString>("member");
    QTest::addColumn<QJsonValue>("wrongType");

    const QJsonValue text = QStringLiteral("1"), number = 1, boolean = true, list = QJsonArray{},
                     object = QJsonObject{};
    const QList<std::pair<QString, QJsonValue>> event = {
        {"id", text}, {"calendar_id", text}, {"status", number}, {"title", list}, {"location", boolean},
        {"notes", object}, {"all_day", number}, {"start_local", number}, {"end_local", boolean}, {"tz", list},
        {"start", text}, {"end", boolean}, {"recurring", text}, {"writable", number}, {"calendar_name", number},
        {"occurrence", number}, {"day_start", boolean}, {"day_end", object}};
    const QList<std::pair<QString, QJsonValue>> draft = {
        {"calendar_id", text}, {"title", number}, {"location", list}, {"start_local", boolean},
        {"end_local", number}, {"tz", object}, {"all_day", text}, {"repeat", number},
        {"attendees", QJsonArray{QStringLiteral("a"), 1}}};
    const auto add = [](const char *file, const QStringList &path,
                        const QList<std::pair<QString, QJsonValue>> &members) {
        for (const auto &[member, wrong] : members) {
            QTest::addRow("%s %s/%s", file, qPrintable(path.join('/')), qPrintable(member))
                << QString::fromLatin1(file) << path << member << wrong;
        }
    };
    add("calendar_events.json", {"events", "0"}, event);
    add("calendar_events.json", {"events", "3"}, event);
    add("calendar_events.json", {}, {{"events", object}});
    add("calendar_events.json", {}, {{"events", QJsonArray{1}}});
    add("calendar_session.json", {},
        {{"week_start", text}, {"zone", number}, {"calendars", object}, {"default_calendar_id", boolean}});
    add("calendar_session.json", {"calendars", "1"},
        {{"id", text}, {"name", number}, {"hue", boolean}, {"writable", number}});
    add("quick_preview.json", {"draft"}, draft);
    add("quick_preview.json", {},
        {{"draft", list}, {"when", number}, {"repeat_label", boolean}, {"calendar_name", list},
         {"assumptions", QJsonArray{QJsonValue::Null}}});
}

void RecordsTest::refusesMissingNullAndMistypedMembers()
{
    QFETCH(QString, file);
    QFETCH(QStringList, path);
    QFETCH(QString, member);
    QFETCH(QJsonValue, wrongType);

    // Rebuilds the document with `member` of the record at `path` replaced (or removed).
    const std::function<QJsonValue(const QJsonValue &, qsizetype, std::optional<QJsonValue>)> edit =
        [&](const QJsonValue &node, qsizetype depth, std::optional<QJsonValue> value) -> QJsonValue {
        if (depth == path.size()) {
            QJsonObject record = node.toObject();
            if (value)
                record[member] = *value;
            else
                record.remove(member);
            return record;
        }
        if (node.isArray()) {
            QJsonArray array = node.toArray();
            const int index = path[depth].toInt();
            array[index] = edit(array[index], depth + 1, value);
            return array;
        }
        QJsonObject parent = node.toObject();
        parent[path[depth]] = edit(parent[path[depth]], depth + 1, value);
        return parent;
    };
    const QJsonValue root = QJsonDocument::fromJson(golden(qPrintable(file))).object();
    const auto decodesAs = [&](const QByteArray &text) {
        if (file == QStringLiteral("calendar_events.json"))
            return decodes<CalendarEvents>(text);
        if (file == QStringLiteral("calendar_session.json"))
            return decodes<CalendarSession>(text);
        return decodes<QuickPreview>(text);
    };

    QVERIFY(decodesAs(json(root.toObject())));
    QVERIFY(!decodesAs(json(edit(root, 0, std::nullopt).toObject())));
    QVERIFY(!decodesAs(json(edit(root, 0, QJsonValue(QJsonValue::Null)).toObject())));
    QVERIFY(!decodesAs(json(edit(root, 0, wrongType).toObject())));
}

void RecordsTest::integersMustBeExact_data()
{
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<std::optional<qint64>>("expected");

    QTest::newRow("plain") << QByteArray("17") << std::optional<qint64>(17);
    QTest::newRow("negative zero") << QByteArray("-0") << std::optional<qint64>(0);
    QTest::newRow("largest") << QByteArray("9223372036854775807") << std::optional<qint64>(INT64_MAX);
    QTest::newRow("smallest") << QByteArray("-9223372036854775808") << std::optional<qint64>(INT64_MIN);
    QTest::newRow("beyond double precision") << QByteArray("9007199254740993")
                                             << std::optional<qint64>(9007199254740993LL);
    QTest::newRow("fraction") << QByteArray("1.5") << std::optional<qint64>();
    QTest::newRow("zero fraction") << QByteArray("1.0") << std::optional<qint64>();
    QTest::newRow("tiny fraction") << QByteArray("1.0000000000000001") << std::optional<qint64>();
    QTest::newRow("exponent") << QByteArray("1e3") << std::optional<qint64>();
    QTest::newRow("one past largest") << QByteArray("9223372036854775808") << std::optional<qint64>();
    QTest::newRow("one past smallest") << QByteArray("-9223372036854775809") << std::optional<qint64>();
    QTest::newRow("huge") << QByteArray("123456789012345678901234567890") << std::optional<qint64>();
    QTest::newRow("leading zero") << QByteArray("017") << std::optional<qint64>();
    QTest::newRow("text") << QByteArray("\"17\"") << std::optional<qint64>();
}

void RecordsTest::integersMustBeExact()
{
    QFETCH(QByteArray, number);
    QFETCH(std::optional<qint64>, expected);
    SavedEvent saved;
    const bool ok = decode("{\"id\":" + number + ",\"warning\":null}", saved);
    QCOMPARE(ok, expected.has_value());
    if (expected)
        QCOMPARE(saved.id, *expected);
}

void RecordsTest::savedEventWarningIsOptional_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<std::optional<QString>>("warning");

    QTest::newRow("id only") << QByteArray(R"({"id":5})") << true << std::optional<QString>();
    QTest::newRow("null warning") << QByteArray(R"({"id":5,"warning":null})") << true << std::optional<QString>();
    QTest::newRow("empty warning") << QByteArray(R"({"id":5,"warning":""})") << true << std::optional<QString>(QString());
    // Number-like text inside strings, escaped quotes included, is left exactly as sent.
    QTest::newRow("numbers in text") << QByteArray(R"({"id":5,"warning":"a\"1.5 -9223372036854775809 \\"})")
                                     << true << std::optional<QString>(QStringLiteral("a\"1.5 -9223372036854775809 \\"));
    QTest::newRow("unknown float members") << QByteArray(R"({"x":1.5,"id":5,"y":[2.0,1e999]})") << true
                                           << std::optional<QString>();
    QTest::newRow("numeric warning") << QByteArray(R"({"id":5,"warning":1.5})") << false << std::optional<QString>();
    QTest::newRow("list warning") << QByteArray(R"({"id":5,"warning":[]})") << false << std::optional<QString>();
    QTest::newRow("warning without id") << QByteArray(R"({"warning":"x"})") << false << std::optional<QString>();
    QTest::newRow("null id") << QByteArray(R"({"id":null})") << false << std::optional<QString>();
}

void RecordsTest::savedEventWarningIsOptional()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    QFETCH(std::optional<QString>, warning);
    SavedEvent saved;
    QCOMPARE(decode(text, saved), ok);
    if (ok) {
        QCOMPARE(saved.id, 5);
        QCOMPARE(saved.warning, warning);
    }
}

void RecordsTest::survivesHostileInput()
{
    const QByteArray events = golden("calendar_events.json");
    const QByteArray deep = QByteArray(100000, '[') + QByteArray(100000, ']');
    const QList<QByteArray> refused = {
        {},
        "[]",
        "null",
        "42",
        "{",
        "{\"id\":1",
        "{\"id\":1}}",
        "{\"id\":1,}",
        "{\"id\":-}",
        "{\"id\":1.}",
        "{\"id\":1e}",
        "{\"id\":\"1",
        "{\"id\":1,\"deep\":" + deep + "}",
        events.left(events.size() / 2),
    };
    for (const QByteArray &text : refused)
        QVERIFY2(!decodes<SavedEvent>(text), text.left(40).constData());

    // A huge array of ignored numbers (about 4 MiB), and one of events, still decode.
    QByteArray numbers = "{\"id\":1,\"pad\":[";
    while (numbers.size() < 4 * 1024 * 1024 - 16)
        numbers += "1.25,-7,";
    numbers += "0]}";
    QVERIFY(decodes<SavedEvent>(numbers));

    // Random damage to the golden answer never crashes, and whatever still decodes re-encodes.
    QRandomGenerator random(20250330);
    for (int round = 0; round < 2000; ++round) {
        QByteArray damaged = events;
        for (int edits = 1 + random.bounded(3); edits > 0; --edits) {
            const qsizetype at = random.bounded(damaged.size());
            switch (random.bounded(3)) {
            case 0: damaged[at] = char(random.bounded(256)); break;
            case 1: damaged.remove(at, 1 + random.bounded(8)); break;
            default: damaged.insert(at, "-0.5e9\"[{"[random.bounded(9)]); break;
            }
        }
        CalendarEvents decoded;
        if (decode(damaged, decoded)) {
            for (const CalendarEvent &event : decoded.events) {
                CalendarEvent again;
                QVERIFY(decode(encode(event), again));
                QCOMPARE(again, event);
            }
        }
    }
}

void RecordsTest::encodesEveryMemberAndRoundTrips()
{
    const QJsonObject fresh = QJsonDocument::fromJson(encode(CalendarEvent{})).object();
    QCOMPARE(fresh.size(), 18);
    QCOMPARE(fresh.value("id"), QJsonValue(0));
    QCOMPARE(fresh.value("status"), QJsonValue("confirmed"));
    QCOMPARE(fresh.value("writable"), QJsonValue(true));
    QCOMPARE(fresh.value("day_end"), QJsonValue(""));

    CalendarEvents golden;
    QVERIFY(decode(::golden("calendar_events.json"), golden));
    CalendarEvent event = golden.events[0];
    event.start = (qint64(1) << 62) + 1; // beyond what a double holds exactly
    CalendarEvent back;
    QVERIFY(decode(encode(event), back));
    QCOMPARE(back, event);
    QVERIFY(decode(encode(golden.events[3]), back));
    QCOMPARE(back, golden.events[3]);

    QuickPreview preview;
    QVERIFY(decode(::golden("quick_preview.json"), preview));
    const QByteArray draftJson = encode(preview.draft);
    QCOMPARE(QJsonDocument::fromJson(draftJson).object().size(), 9);
    QuickDraft draft;
    QVERIFY(decode(draftJson, draft));
    QCOMPARE(draft, preview.draft);
    QCOMPARE(QJsonDocument::fromJson(encode(QuickDraft{})).object().value("attendees"), QJsonValue(QJsonArray{}));
}

void RecordsTest::identityTellsOccurrencesApart()
{
    CalendarEvent event;
    event.id = 42;
    event.start = 1000;
    QCOMPARE(event.identity(), QStringLiteral("42--1000"));
    event.id = -3;
    event.occurrence = QStringLiteral("x-1");
    QCOMPARE(event.identity(), QStringLiteral("-3-x-1-1000"));

    CalendarEvents events;
    QVERIFY(decode(golden("calendar_events.json"), events));
    QCOMPARE(events.events[1].id, events.events[2].id);
    QVERIFY(events.events[1].identity() != events.events[2].identity());
}

void RecordsTest::occurs_data()
{
    QTest::addColumn<QString>("zone");
    QTest::addColumn<CalendarEvent>("event");
    QTest::addColumn<QStringList>("days"); // the local days it covers, among those probed
    QTest::addColumn<QStringList>("probe");

    const QString madridZone = QStringLiteral("Europe/Madrid");
    const auto timed = [](qint64 start, qint64 end) {
        CalendarEvent event;
        event.start = start;
        event.end = end;
        return event;
    };
    const auto allDay = [](const char *first, const char *end) {
        CalendarEvent event;
        event.all_day = true;
        event.day_start = QString::fromLatin1(first);
        event.day_end = QString::fromLatin1(end);
        event.start = madrid("2025-03-01T10:00"); // start and end play no part for all-day events
        event.end = madrid("2025-04-30T10:00");
        return event;
    };
    const QStringList weekend = {"2025-03-28", "2025-03-29", "2025-03-30", "2025-03-31"};

    QTest::newRow("over midnight") << madridZone << timed(madrid("2025-03-28T23:00"), madrid("2025-03-29T01:00"))
                                   << QStringList{"2025-03-28", "2025-03-29"} << weekend;
    QTest::newRow("ends at midnight") << madridZone
                                      << timed(madrid("2025-03-28T22:00"), madrid("2025-03-29T00:00"))
                                      << QStringList{"2025-03-28"} << weekend;
    QTest::newRow("starts at midnight") << madridZone
                                        << timed(madrid("2025-03-29T00:00"), madrid("2025-03-29T00:30"))
                                        << QStringList{"2025-03-29"} << weekend;
    QTest::newRow("late on the 23-hour day") << madridZone
                                             << timed(madrid("2025-03-30T23:30"), madrid("2025-03-30T23:59"))
                                             << QStringList{"2025-03-30"} << weekend;
    QTest::newRow("zero length") << madridZone << timed(madrid("2025-03-30T10:00"), madrid("2025-03-30T10:00"))
                                 << QStringList{"2025-03-30"} << weekend;
    QTest::newRow("zero length at midnight")
        << madridZone << timed(madrid("2025-03-30T00:00"), madrid("2025-03-30T00:00")) << QStringList{} << weekend;
    QTest::newRow("all day") << madridZone << allDay("2025-03-30", "2025-03-31") << QStringList{"2025-03-30"}
                             << weekend;
    QTest::newRow("all day, two days") << madridZone << allDay("2025-03-29", "2025-03-31")
                                       << QStringList{"2025-03-29", "2025-03-30"} << weekend;
    QTest::newRow("all day, empty dates") << madridZone << allDay("", "") << QStringList{} << weekend;
    QTest::newRow("all day, malformed end") << madridZone << allDay("2025-03-29", "garbage")
                                            << QStringList{"2025-03-29", "2025-03-30", "2025-03-31"} << weekend;
    // 4 November 2018 began at 01:00 in São Paulo: the day before ends at that midnight, not an hour later.
    QTest::newRow("after a skipped midnight")
        << QStringLiteral("America/Sao_Paulo") << timed(1541385000, 1541385900) // 5 Nov 00:30–00:45 local
        << QStringList{"2018-11-05"} << QStringList{"2018-11-03", "2018-11-04", "2018-11-05"};
    QTest::newRow("unknown zone is UTC") << QStringLiteral("Nowhere/Land") << timed(1743292800 - 60, 1743292800)
                                         << QStringList{"2025-03-29"} << QStringList{"2025-03-29", "2025-03-30"};
}

void RecordsTest::occurs()
{
    QFETCH(QString, zone);
    QFETCH(CalendarEvent, event);
    QFETCH(QStringList, days);
    QFETCH(QStringList, probe);
    const GregorianCalendar calendar(zone, 2);
    for (const QString &day : probe) {
        // Probe the day at its first and last minutes as well as at noon.
        const Instant noon = *dates::parseLocal(day + QStringLiteral("T12:00"), false, calendar.zoneId());
        const Instant last = *dates::parseLocal(day + QStringLiteral("T23:59"), false, calendar.zoneId());
        for (const Instant at : {calendar.startOfDay(noon), noon, last})
            QVERIFY2(event.occurs(at, calendar) == days.contains(day), qPrintable(day));
    }
}

QTEST_GUILESS_MAIN(RecordsTest)
#include "records_test.moc"
