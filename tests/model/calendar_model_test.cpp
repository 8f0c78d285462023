#include "calendar_model.h"
#include "day_index.h"
#include "loopback_peer.h"
#include "preferences.h"
#include "run_task.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

const Instant march15 = instantFromSeconds(1742040000); // 2025-03-15T12:00:00Z
const QByteArray sessionPath = "/api/native/session", eventsPath = "/api/native/events", quickPath = "/api/native/quick";
const QString cancelled = CancellationError().description();
const QString unsupported = QStringLiteral("The server returned an unsupported response.");

// A session with one writable calendar.
QByteArray session(qint64 weekStart, qint64 calendar = 1)
{
    return R"({"week_start":)" + QByteArray::number(weekStart) + R"(,"zone":"UTC","calendars":[{"id":)"
        + QByteArray::number(calendar) + R"(,"name":"C","hue":0,"writable":true}],"default_calendar_id":9})";
}

CalendarEvent timed(qint64 id, qint64 calendar, qint64 start = 1742040000, qint64 end = 1742043600)
{ return CalendarEvent{.id = id, .calendar_id = calendar, .start = start, .end = end}; }

QByteArray eventsJson(const QList<CalendarEvent> &events)
{
    QByteArrayList items;
    for (const CalendarEvent &e : events)
        items.append(encode(e));
    return R"({"events":[)" + items.join(',') + "]}";
}

PeerAnswer slow(int status, QByteArray body, std::chrono::milliseconds delay)
{
    PeerAnswer answer = PeerAnswer::json(status, std::move(body));
    answer.delay = delay;
    return answer;
}

QJsonObject json(const QByteArray &bytes) { return QJsonDocument::fromJson(bytes).object(); }

// Runs `task` to its end; returns the description of what it threw, if anything.
QString outcome(QCoro::Task<> task)
{
    const std::exception_ptr error = taskFailure(std::move(task), 5s);
    return error ? describeError(error) : QString();
}

// A model on a fresh preferences file, and a client for a loopback peer.
struct Rig {
    QTemporaryDir folder;
    Preferences preferences{std::make_unique<QSettings>(folder.filePath("p.ini"), QSettings::IniFormat)};
    LoopbackPeer peer;
    NativeClient client = std::make_shared<const NativeHTTP>(NativeHTTP::origin(peer.origin()), std::nullopt);
    std::unique_ptr<CalendarModel> model;

    explicit Rig(std::optional<QString> zone = QStringLiteral("Europe/Madrid"))
        : model(std::make_unique<CalendarModel>(preferences, std::move(zone), march15))
    {
    }
    QByteArray target(int i) const { return peer.requests().at(i).target; }
    void serve(const QByteArray &sessionBody = session(1), const QList<CalendarEvent> &events = {})
    {
        peer.route("GET", sessionPath, PeerAnswer::json(200, sessionBody));
        peer.route("GET", eventsPath, PeerAnswer::json(200, eventsJson(events)));
    }
};

// A reload after a good one (calendar 1, event 7) that answers the session with calendar 2 and the events
// with event 8 unless told otherwise.
struct LoadCase {
    std::optional<QString> zone = QStringLiteral("Europe/Madrid"); // none: follow the preference
    int sessionStatus = 200;
    int weekStart = 1;
    QByteArray eventsBody = eventsJson({timed(8, 2)});
    QByteArray query = "from=2025-02-24&to=2025-04-07&zone=Europe%2FMadrid"; // of the events request; empty: none sent
    QString error;
};

} // namespace

Q_DECLARE_METATYPE(LoadCase)

class CalendarModelTest : public QObject {
    Q_OBJECT
private slots:
    void load_data()
    {
        QTest::addColumn<LoadCase>("c");
        QTest::newRow("Monday, fixed zone") << LoadCase{};
        QTest::newRow("7 is Sunday, preferred zone")
            << LoadCase{.zone = std::nullopt, .weekStart = 7, .query = "from=2025-02-23&to=2025-04-06&zone=Etc%2FGMT%2B5"};
        QTest::newRow("session 303")
            << LoadCase{.sessionStatus = 303, .query = {}, .error = NativeClientError::sessionEnded().description()};
        QTest::newRow("events undecodable") << LoadCase{.eventsBody = R"({"events":[{"id":1}]})", .error = unsupported};
        // Answers this large are decoded on a worker thread.
        QTest::newRow("large") << LoadCase{.eventsBody = eventsJson({timed(8, 2)}) + QByteArray(300 * 1024, ' ')};
    }

    // A reload asks for the session, then for the events of the 42-day grid. A failure empties the
    // events and shows its sentence; a failed session request sends no events request and keeps the
    // calendars of the last good session.
    void load()
    {
        QFETCH(LoadCase, c);
        Rig rig(c.zone);
        rig.preferences.setTimeZoneOverride(QStringLiteral("Etc/GMT+5"));
        rig.serve(session(1), {timed(7, 1)});
        outcome(rig.model->load(rig.client));
        rig.peer.reset();
        rig.peer.route("GET", sessionPath, PeerAnswer::json(c.sessionStatus, session(c.weekStart, 2)));
        rig.peer.route("GET", eventsPath, PeerAnswer::json(200, c.eventsBody));

        QCOMPARE(outcome(rig.model->load(rig.client)), QString());
        QCOMPARE(rig.target(0), sessionPath);
        QCOMPARE(rig.peer.requests().size(), c.query.isEmpty() ? 1 : 2);
        if (!c.query.isEmpty())
            QCOMPARE(rig.target(1), eventsPath + "?" + c.query);
        QCOMPARE(rig.model->calendars().at(0).id, c.sessionStatus == 200 ? 2 : 1);
        QCOMPARE(rig.model->events(), c.error.isEmpty() ? QList{timed(8, 2)} : QList<CalendarEvent>());
        QCOMPARE(rig.model->dayEvents(march15), rig.model->events());
        QCOMPARE(rig.model->error(), c.error);
        QVERIFY(!rig.model->loading());
    }

    // Only the most recently started load writes, and only it switches `loading` off, whichever
    // answers first.
    void overlappingLoads()
    {
        for (const bool firstAnswersLast : {true, false}) {
            Rig rig;
            int received = 0;
            rig.peer.setHandler([&](const RecordedRequest &request) {
                const bool first = ++received <= (firstAnswersLast ? 1 : 2);
                const qint64 id = first ? 1 : 2;
                return slow(200, request.path() == sessionPath ? session(1, id) : eventsJson({timed(id, id)}),
                            first == firstAnswersLast ? 400ms : 0ms);
            });
            QList<bool> loadingWrites;
            connect(rig.model.get(), &CalendarModel::loadingChanged, this, [&] { loadingWrites.append(rig.model->loading()); });

            QCoro::Task<> first = rig.model->load(rig.client);
            QVERIFY(rig.peer.waitForRequests(firstAnswersLast ? 1 : 2));
            QCoro::Task<> second = rig.model->load(rig.client);
            QVERIFY(QTest::qWaitFor([&] { return first.isReady() || second.isReady(); }, 5000));
            QCOMPARE(rig.model->loading(), !second.isReady());
            QCOMPARE(rig.model->events(), second.isReady() ? QList{timed(2, 2)} : QList<CalendarEvent>());
            QVERIFY(QTest::qWaitFor([&] { return first.isReady() && second.isReady(); }, 5000));
            QCOMPARE(rig.model->events(), QList{timed(2, 2)});
            QCOMPARE(rig.model->calendars().at(0).id, 2);
            QCOMPARE(loadingWrites, QList<bool>({true, false}));
        }
    }

    // The per-day answer follows the zone that decides where days begin.
    void dayEventsFollowTheZone()
    {
        Rig rig(std::nullopt);
        rig.preferences.setTimeZoneOverride(QStringLiteral("UTC"));
        const QList<CalendarEvent> late{timed(1, 1, 1742081400, 1742082300)}; // 23:30 UTC: the 16th in Madrid
        rig.serve(session(1), late);
        outcome(rig.model->load(rig.client));
        QCOMPARE(rig.model->dayEvents(march15), late);
        rig.preferences.setTimeZoneOverride(QStringLiteral("Europe/Madrid"));
        outcome(rig.model->load(rig.client));
        QVERIFY(rig.model->dayEvents(march15).isEmpty());
        QCOMPARE(rig.model->dayEvents(march15 + std::chrono::days(1)), late);
    }

    // A save posts the whole event to its own path and reloads after success only; the notice
    // follows the answer ("Before." is left by an earlier save).
    void save()
    {
        for (const auto &[answer, thrown, notice] :
             {std::tuple{PeerAnswer::json(200, R"({"id":17,"warning":"Overlaps."})"), QString(), QStringLiteral("Overlaps.")},
              {PeerAnswer(401), NativeClientError::sessionEnded().description(), QStringLiteral("Before.")}}) {
            Rig rig;
            rig.serve();
            rig.peer.route("POST", eventsPath, PeerAnswer::json(200, R"({"id":1,"warning":"Before."})"));
            outcome(rig.model->save(CalendarEvent(), rig.client));
            rig.peer.reset();
            rig.serve();
            rig.peer.route("POST", eventsPath + "/17", answer);

            QCOMPARE(outcome(rig.model->save(timed(17, 5), rig.client)), thrown);
            QCOMPARE(rig.target(0), eventsPath + "/17");
            QCOMPARE(json(rig.peer.requests().at(0).body), json(encode(timed(17, 5))));
            QCOMPARE(rig.peer.requests().size(), thrown.isEmpty() ? 3 : 1);
            QCOMPARE(rig.model->notice(), notice);
        }
    }

    // Sign-out while the first request is in flight: its answer writes nothing, nothing is reloaded, a
    // save fails with the cancellation error, and a cleared model sends nothing more.
    void outlivedByModel()
    {
        for (const int operation : {0, 1, 2}) { // load, save, quick save
            for (const bool deleted : {false, true}) {
                Rig rig;
                rig.peer.route("", QByteArrayList{sessionPath, eventsPath, quickPath}.at(operation),
                               slow(200, operation == 0 ? session(1) : R"({"id":3,"warning":"Late."})", 200ms));
                rig.serve();
                const auto start = [&] {
                    return operation == 0 ? rig.model->load(rig.client)
                        : operation == 1  ? rig.model->save(CalendarEvent(), rig.client)
                                          : rig.model->saveQuick(QuickPreview(), rig.client);
                };
                QCoro::Task<> pending = start();
                QVERIFY(rig.peer.waitForRequests(1));
                deleted ? rig.model.reset() : rig.model->clear();
                QCOMPARE(outcome(std::move(pending)), operation == 0 ? QString() : cancelled);
                QTest::qWait(50);
                QCOMPARE(rig.peer.requests().size(), 1);
                if (deleted)
                    continue;
                QVERIFY(rig.model->calendars().isEmpty() && rig.model->notice().isEmpty() && !rig.model->loading());
                QSignalSpy loading(rig.model.get(), &CalendarModel::loadingChanged);
                QCOMPARE(outcome(start()), operation == 0 ? QString() : cancelled);
                QCOMPARE(rig.peer.requests().size(), 1);
                QCOMPARE(loading.size(), 0);
            }
        }
    }

    // A quick save posts the draft, consumes the text, confirms, moves to the new event's day when
    // its start reads (not in the skipped hour), and reloads that month.
    void saveQuick()
    {
        for (const auto &[startLocal, answer, notice, date] :
             {std::tuple{"2025-04-02T13:00", R"({"id":8})", "Added Lunch.", qint64(1743591600)},
              {"2025-03-30T02:30", R"({"id":8,"warning":"Busy."})", "Busy.", qint64(0)}}) {
            Rig rig;
            rig.serve();
            rig.peer.route("POST", quickPath, PeerAnswer::json(200, answer));
            rig.model->setQuickText(QStringLiteral("Lunch at 1pm"));
            QuickPreview preview{{5, "Lunch", "Canteen", startLocal, "2025-04-02T14:00", "Europe/Madrid", false, "", {"ana"}},
                                 "Wednesday 13:00", "", "Team", {"An hour."}};

            QCOMPARE(outcome(rig.model->saveQuick(preview, rig.client)), QString());
            QCOMPARE(json(rig.peer.requests().at(0).body), json(encode(preview.draft)));
            QCOMPARE(rig.peer.requests().size(), 3);
            QVERIFY(rig.target(2).contains(date ? "from=2025-03-31&" : "from=2025-02-24&"));
            QVERIFY(rig.model->quickText().isEmpty() && !rig.model->quickSaving());
            QVERIFY(rig.model->quickSavedNotice() == notice && rig.model->notice() == notice);
            QCOMPARE(rig.model->date(), date ? instantFromSeconds(date) : march15);
        }
    }

    // The second press fails at once and sends nothing; the failed first save keeps the text and does
    // not reload.
    void saveQuickPressedTwice()
    {
        Rig rig;
        rig.serve();
        rig.peer.route("POST", quickPath, slow(500, "{}", 100ms));
        rig.model->setQuickText(QStringLiteral("Lunch"));
        QCoro::Task<> first = rig.model->saveQuick(QuickPreview(), rig.client);
        QCOMPARE(outcome(rig.model->saveQuick(QuickPreview(), rig.client)), cancelled);
        QCOMPARE(outcome(std::move(first)), NativeClientError::notCompleted(500).description());
        QCOMPARE(rig.peer.requests().size(), 1);
        QCOMPARE(rig.model->quickText(), "Lunch");
        QVERIFY(!rig.model->quickSaving());
    }

    // The index answers, for every day and time of day, exactly what a pass of occurs() over the
    // filtered events gives, in the same order: clock changes, events that end or begin exactly at
    // midnight, zero and negative lengths, long spans, malformed all-day dates and far-away years.
    void dayIndexMatchesPlainDefinition()
    {
        // Madrid's clocks going forward and back, Santiago's skipped midnight, Apia's skipped day.
        for (const auto &[zone, around] : {std::pair{"Europe/Madrid", 1743292800LL}, {"Europe/Madrid", 1761436800LL},
                                       {"America/Santiago", 1725753600LL}, {"Pacific/Apia", 1325203200LL}}) {
            const GregorianCalendar calendar(zone, 2);
            QRandomGenerator random(20250330);
            const auto pick = [&](const QList<qint64> &choices) { return choices.at(random.bounded(int(choices.size()))); };
            const auto dayStart = [&](qint64 offsetDays) {
                return secondsSinceEpoch(calendar.startOfDay(instantFromSeconds(around + offsetDays * 86400)));
            };
            const QStringList dayTexts{"2025-03-29", "2025-03-30", "2025-03-31", "2025-10-26", "2011-12-29", "2011-12-31",
                                       "2024-09-07", "2024-09-09", "2025-01-01", "2026-01-01", "2025-3-30", "", "2025-02-30"};
            const auto dayText = [&] { return dayTexts.at(random.bounded(int(dayTexts.size()))); };
            QList<CalendarEvent> events{{.id = 1000, .calendar_id = 3, .start = -9'000'000'000'000'000,
                                         .end = 9'000'000'000'000'000}};
            for (int i = 0; i < 300; ++i) {
                const qint64 start = dayStart(random.bounded(-12, 12)) + pick({0, 0, -1, 1, qint64(random.bounded(86400))});
                const qint64 length = random.bounded(50) == 0 ? 80 * 86400
                    : pick({0, 3600, 82800, 86400, 90000, -3600, 5 * 86400, qint64(random.bounded(3 * 86400))});
                events.append({.id = i, .calendar_id = random.bounded(1, 4), .all_day = random.bounded(5) == 0,
                               .start = start, .end = start + length, .day_start = dayText(), .day_end = dayText()});
            }

            for (const std::optional<qint64> filter : {std::optional<qint64>(), std::optional<qint64>(2)}) {
                const DayIndex index(events, filter, calendar);
                QList<qint64> queries{-15'000'000'000, 300'000'000'000};
                for (int day = -15; day <= 15; ++day)
                    queries << dayStart(day) << dayStart(day) + random.bounded(86400) << dayStart(day) - 1;
                for (const qint64 query : queries) {
                    QList<CalendarEvent> expected;
                    for (const CalendarEvent &event : events) {
                        if ((!filter || event.calendar_id == *filter) && event.occurs(instantFromSeconds(query), calendar))
                            expected.append(event);
                    }
                    QVERIFY2(index.eventsOn(instantFromSeconds(query)) == expected,
                             qPrintable(QStringLiteral("%1 at %2").arg(zone).arg(query)));
                    QCOMPARE(index.countOn(instantFromSeconds(query)), expected.size());
                }
            }
        }
    }
};

QTEST_GUILESS_MAIN(CalendarModelTest)
#include "calendar_model_test.moc"
