// Runs with the system zone in Kiritimati (UTC+14), far from the New York events edited here, so a
// picker that went through the system zone would show and write other wall-clock times.
#include "event_editor.h"
#include "view_rig.h"
#include "wall_clock_edit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include <functional>

namespace {

const QString newYork = QStringLiteral("America/New_York");

// The instants deliberately disagree with the local texts: they must travel back untouched.
CalendarEvent loaded(const QString &start, const QString &end, const QString &tz = newYork)
{
    return CalendarEvent{.id = 17, .calendar_id = 1, .title = "Standup", .start_local = start, .end_local = end,
                         .tz = tz, .start = 111, .end = 222, .calendar_name = "Team"};
}

struct Rig : ViewRig {
    Rig() : ViewRig(QStringLiteral("Europe/Madrid"))
    {
        serve(sessionJson(2, R"({"id":1,"name":"Team","hue":0,"writable":true},)"
                             R"({"id":2,"name":"Holidays","hue":0,"writable":false},)"
                             R"({"id":3,"name":"Home","hue":0,"writable":true})"));
        peer.route("POST", "/api/native/events/17", PeerAnswer::json(200, R"({"id":17})"));
    }
    std::unique_ptr<EventEditor> open(const CalendarEvent &e)
    {
        auto editor = std::make_unique<EventEditor>(model, client, e);
        editor->show();
        return editor;
    }
    // The event the last save request carried.
    CalendarEvent sent() const
    {
        CalendarEvent e;
        for (const RecordedRequest &r : peer.requests())
            if (r.method == "POST" && !decode(r.body, e))
                qWarning("undecodable save body");
        return e;
    }
};

void pick(EventEditor &editor, const char *picker, QDate day, QTime time)
{
    child<WallClockEdit>(&editor, picker)->setDateTime(QDateTime(day, time, Qt::UTC));
}

// Types at the end of a text field (the dialog selects the title's text when it opens).
void append(EventEditor &editor, const char *field, const QString &text)
{
    auto *edit = child<QLineEdit>(&editor, field);
    QTest::keyClick(edit, Qt::Key_End);
    QTest::keyClicks(edit, text);
}

bool saveEnabled(const EventEditor &editor)
{
    return child(&editor, "save")->isEnabled();
}

} // namespace

class EventEditorTest : public QObject {
    Q_OBJECT
private slots:
    void savesWhatTheUserChanged()
    {
        struct Case {
            const char *name;
            CalendarEvent loaded;
            std::function<void(EventEditor &)> edit;
            QString start, end;
            bool allDay;
        };
        const Case cases[] = {
            {"untouched schedule", loaded("2025-03-12T09:00", "2025-03-12T10:00"), [](EventEditor &e) {
                 append(e, "eventTitle", " moved");
             }, "2025-03-12T09:00", "2025-03-12T10:00", false},
            {"start picked", loaded("2025-03-12T09:00", "2025-03-12T10:00"), [](EventEditor &e) {
                 pick(e, "startsPicker", QDate(2025, 3, 12), QTime(10, 0));
                 QVERIFY(!saveEnabled(e)); // ends when it starts
                 pick(e, "startsPicker", QDate(2025, 3, 12), QTime(9, 59));
             }, "2025-03-12T09:59", "2025-03-12T10:00", false},
            {"skipped time picked", loaded("2025-03-09T01:00", "2025-03-09T05:00"), [](EventEditor &e) {
                 pick(e, "startsPicker", QDate(2025, 3, 9), QTime(2, 30));
             }, "2025-03-09T03:00", "2025-03-09T05:00", false},
            {"all day", loaded("2025-03-12T23:30", "2025-03-13T00:30"), [](EventEditor &e) {
                 child<QCheckBox>(&e, "allDay")->click();
                 QVERIFY(child<WallClockEdit>(&e, "endsPicker")->dateOnly());
             }, "2025-03-12", "2025-03-13", true},
            {"all day and back", loaded("2025-03-12T23:30", "2025-03-13T00:30"), [](EventEditor &e) {
                 child<QCheckBox>(&e, "allDay")->click();
                 child<QCheckBox>(&e, "allDay")->click();
             }, "2025-03-12T00:00", "2025-03-13T00:00", false},
            {"clock-change texts typed", loaded("2025-03-30T02:30", "2025-03-30T03:30", "Europe/Madrid"),
             [](EventEditor &e) {
                 QLineEdit *starts = child<QLineEdit>(&e, "startsText");
                 starts->clear();
                 QTest::keyClicks(starts, "2025-03-30T04:00");
             }, "2025-03-30T04:00", "2025-03-30T03:30", false},
        };
        for (const Case &c : cases) {
            Rig rig;
            auto editor = rig.open(c.loaded);
            c.edit(*editor);
            QVERIFY2(saveEnabled(*editor), c.name);
            QTest::mouseClick(child(editor.get(), "save"), Qt::LeftButton);
            QTRY_VERIFY2(!editor->isVisible(), c.name);

            const CalendarEvent sent = rig.sent();
            QCOMPARE(std::tuple(sent.title, sent.start_local, sent.end_local, sent.all_day, sent.start, sent.end),
                     std::tuple(editor->calendarEvent().title, c.start, c.end, c.allDay, qint64(111), qint64(222)));
        }
    }

    void picksShowWallClockOfTheEventsZone()
    {
        // An unknown zone is UTC.
        for (const auto &[tz, seconds] : {std::pair(newYork, 1741784400), {QStringLiteral("Mars/Olympus"), 1741770000}}) {
            Rig rig;
            auto editor = rig.open(loaded("2025-03-12T09:00", "2025-03-12T10:00", tz));
            QCOMPARE(child<WallClockEdit>(editor.get(), "startsPicker")->dateTime(),
                     QDateTime(QDate(2025, 3, 12), QTime(9, 0), Qt::UTC));
            QCOMPARE(editor->start(), instantFromSeconds(seconds));
            QVERIFY(!editor->scheduleChanged());
        }
    }

    void formFollowsTheEvent()
    {
        Rig rig;
        rig.model.load(rig.client);
        QTRY_VERIFY(!rig.model.calendars().isEmpty() && !rig.model.loading());

        auto fresh = rig.open(rig.model.newEvent());
        QCOMPARE(fresh->windowTitle(), QStringLiteral("New event"));
        auto *calendars = child<QComboBox>(fresh.get(), "eventCalendar"); // the writable ones
        QCOMPARE(std::tuple(calendars->count(), calendars->itemText(0), calendars->itemText(1)),
                 std::tuple(2, QString("Team"), QString("Home")));
        QVERIFY(!saveEnabled(*fresh)); // no title yet
        append(*fresh, "eventTitle", "  \t ");
        QVERIFY(!saveEnabled(*fresh));

        // Texts a picker cannot hold open as text fields, with "All day" locked.
        for (const auto &[start, tz] : {std::pair("2025-03-30T02:30", "Europe/Madrid"), {"", "Europe/Madrid"},
                                        {"2025-3-30T09:00", "UTC"}}) {
            auto editor = rig.open(loaded(start, "2025-03-30T03:30", tz));
            QVERIFY(!child<QComboBox>(editor.get(), "eventCalendar"));
            QVERIFY(!child<WallClockEdit>(editor.get(), "startsPicker"));
            QVERIFY(!child<QCheckBox>(editor.get(), "allDay")->isEnabled());
            QVERIFY(child<QLabel>(editor.get(), "clockChangeNote")->isVisible());
            QVERIFY(saveEnabled(*editor));
        }
    }

    void failedSaveKeepsEverything()
    {
        Rig rig;
        rig.peer.route("POST", "/api/native/events/17", PeerAnswer::json(500, "oops"));
        auto editor = rig.open(loaded("2025-03-12T09:00", "2025-03-12T10:00"));
        append(*editor, "eventTitle", " kept");
        QTest::mouseClick(child(editor.get(), "save"), Qt::LeftButton);
        QCOMPARE(child(editor.get(), "save")->text(), QStringLiteral("Saving…"));
        QVERIFY(!child(editor.get(), "cancel")->isEnabled());
        editor->reject(); // Escape while saving does not close
        QTRY_VERIFY(!editor->saving());
        QVERIFY(editor->isVisible() && child<QLabel>(editor.get(), "editorErrorText")->isVisible());
        QCOMPARE(editor->error(),
                 QStringLiteral("The request could not be completed (500). Your changes have not been confirmed."));
        QCOMPARE(editor->calendarEvent().title, QStringLiteral("Standup kept"));
        QVERIFY(saveEnabled(*editor) && child(editor.get(), "cancel")->isEnabled());
    }
};

QTEST_MAIN(EventEditorTest)
#include "event_editor_test.moc"
