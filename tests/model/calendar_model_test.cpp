#include "calendar_model.h"
#include "loopback_peer.h"
#include "preferences.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

const Instant march15 = instantFromSeconds(1742040000); // 2025-03-15T12:00:00Z
const QByteArray sessionPath = "/api/native/session", eventsPath = "/api/native/events";

// A model on a fresh preferences file, and a client for a loopback peer.
struct Rig {
    QTemporaryDir folder;
    Preferences preferences{std::make_unique<QSettings>(folder.filePath("p.ini"), QSettings::IniFormat)};
    LoopbackPeer peer;
    NativeClient client;
    std::unique_ptr<CalendarModel> model;

    explicit Rig(std::optional<QString> zone = QStringLiteral("Europe/Madrid"), Instant date = march15,
                 NativeTimeouts timeouts = {})
        : client(std::make_shared<const NativeHTTP>(NativeHTTP::origin(peer.origin()), std::nullopt, timeouts)),
          model(std::make_unique<CalendarModel>(preferences, std::move(zone), date))
    {
    }
    QByteArray target(int i) const { return peer.requests().at(i).target; }
};

QByteArray session(qint64 weekStart, const QByteArray &calendars = R"([{"id":1,"name":"A","hue":0,"writable":true}])")
{
    return R"({"week_start":)" + QByteArray::number(weekStart) + R"(,"zone":"UTC","calendars":)" + calendars
        + R"(,"default_calendar_id":9})";
}

CalendarEvent timed(qint64 id, qint64 calendar, qint64 start = 1742040000, qint64 end = 1742043600)
{
    return CalendarEvent{.id = id, .calendar_id = calendar, .start = start, .end = end};
}

QByteArray eventsJson(const QList<CalendarEvent> &events)
{
    QByteArrayList items;
    for (const CalendarEvent &e : events)
        items.append(encode(e));
    return R"({"events":[)" + items.join(',') + "]}";
}

void serve(LoopbackPeer &peer, const QByteArray &sessionBody = session(1), const QList<CalendarEvent> &events = {})
{
    peer.route("GET", sessionPath, PeerAnswer::json(200, sessionBody));
    peer.route("GET", eventsPath, PeerAnswer::json(200, eventsJson(events)));
}

PeerAnswer slow(int status, QByteArray body, std::chrono::milliseconds delay)
{
    PeerAnswer answer = PeerAnswer::json(status, std::move(body));
    answer.delay = delay;
    return answer;
}

QJsonObject json(const QByteArray &bytes) { return QJsonDocument::fromJson(bytes).object(); }

const QString cancelled = CancellationError().description();

// Runs `task` to its end on the event loop; returns the description of what it threw, if anything.
QString outcome(QCoro::Task<> task)
{
    std::exception_ptr error;
    bool done = false;
    auto watch = [](QCoro::Task<> task, std::exception_ptr &error, bool &done) -> QCoro::Task<> {
        try {
            co_await std::move(task);
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
    };
    auto watching = watch(std::move(task), error, done);
    if (!QTest::qWaitFor([&] { return done; }, 5000))
        qFatal("task did not finish");
    return error ? describeError(error) : QString();
}

} // namespace

class CalendarModelTest : public QObject {
    Q_OBJECT
private slots:
    void loadRequests_data();
    void loadRequests();
    void failedLoads_data();
    void failedLoads();
    void overlappingLoads_data();
    void overlappingLoads();
    void outlivedByModel_data();
    void outlivedByModel();
    void dayEventsFollowFilterAndZone();
    void save_data();
    void save();
    void saveQuick_data();
    void saveQuick();
    void saveQuickPressedTwice();
};

void CalendarModelTest::loadRequests_data()
{
    QTest::addColumn<QString>("zone"); // null: follow the preference
    QTest::addColumn<int>("weekStart");
    QTest::addColumn<QByteArray>("query");
    QTest::newRow("Monday") << "Europe/Madrid" << 1 << QByteArray("from=2025-02-24&to=2025-04-07&zone=Europe%2FMadrid");
    QTest::newRow("Sunday") << "Europe/Madrid" << 0 << QByteArray("from=2025-02-23&to=2025-04-06&zone=Europe%2FMadrid");
    QTest::newRow("7 is Sunday") << "Etc/GMT+5" << 7 << QByteArray("from=2025-02-23&to=2025-04-06&zone=Etc%2FGMT%2B5");
    QTest::newRow("preference") << QString() << 1 << QByteArray("from=2025-02-24&to=2025-04-07&zone=America%2FNew_York");
}

// Session first, then the events of the 42-day grid; each write announced in order.
void CalendarModelTest::loadRequests()
{
    QFETCH(QString, zone);
    QFETCH(int, weekStart);
    QFETCH(QByteArray, query);
    Rig rig(zone.isNull() ? std::nullopt : std::optional(zone));
    rig.preferences.setTimeZoneOverride(QStringLiteral("America/New_York"));
    const QList<CalendarEvent> events{timed(7, 1)};
    serve(rig.peer, session(weekStart), events);
    QStringList writes;
    for (auto [signal, name] : {std::pair{&CalendarModel::loadingChanged, "loading"},
                                {&CalendarModel::calendarsChanged, "calendars"},
                                {&CalendarModel::eventsChanged, "events"}, {&CalendarModel::errorChanged, "error"}})
        connect(rig.model.get(), signal, this, [&writes, name] { writes.append(name); });

    QCOMPARE(outcome(rig.model->load(rig.client)), QString());
    QCOMPARE(rig.peer.requests().size(), 2);
    QCOMPARE(rig.target(0), sessionPath);
    QCOMPARE(rig.target(1), eventsPath + "?" + query);
    QCOMPARE(writes, QStringList({"loading", "calendars", "events", "loading"}));
    QCOMPARE(rig.model->events(), events);
}

void CalendarModelTest::failedLoads_data()
{
    QTest::addColumn<PeerAnswer>("sessionAnswer");
    QTest::addColumn<QByteArray>("eventsBody");
    QTest::addColumn<QString>("error"); // empty: any description
    const QByteArray noEvents = eventsJson({});
    QTest::newRow("404") << PeerAnswer(404) << noEvents << NativeClientError::featureMissing().description();
    QTest::newRow("303") << PeerAnswer(303) << noEvents << NativeClientError::sessionEnded().description();
    QTest::newRow("stalled") << PeerAnswer::never() << noEvents << QString();
    QTest::newRow("session undecodable") << PeerAnswer::json(200, R"({"week_start":1})") << noEvents
                                         << NativeClientError::unsupportedResponse().description();
    QTest::newRow("events undecodable") << PeerAnswer::json(200, session(1, "[]")) << QByteArray(R"({"events":[{"id":1}]})")
                                        << NativeClientError::unsupportedResponse().description();
}

// A failure empties the events and shows its sentence; a failed session request sends no events
// request and keeps the calendars of the last good session.
void CalendarModelTest::failedLoads()
{
    QFETCH(PeerAnswer, sessionAnswer);
    QFETCH(QByteArray, eventsBody);
    QFETCH(QString, error);
    Rig rig(QStringLiteral("UTC"), march15, NativeTimeouts{300ms, 2s});
    serve(rig.peer, session(1), {timed(7, 1)});
    outcome(rig.model->load(rig.client));
    rig.peer.reset();
    rig.peer.route("GET", sessionPath, sessionAnswer);
    rig.peer.route("GET", eventsPath, PeerAnswer::json(200, eventsBody));

    QCOMPARE(outcome(rig.model->load(rig.client)), QString());
    const bool sessionFailed = rig.peer.requests().size() == 1;
    QCOMPARE(sessionFailed, eventsBody == eventsJson({}));
    QCOMPARE(rig.model->calendars().size(), sessionFailed ? 1 : 0);
    QVERIFY(rig.model->events().isEmpty());
    QVERIFY(!rig.model->error().isEmpty());
    QVERIFY(error.isEmpty() || rig.model->error() == error);
    QVERIFY(!rig.model->loading());
}

void CalendarModelTest::overlappingLoads_data()
{
    QTest::addColumn<bool>("firstAnswersLast");
    QTest::newRow("first answers last") << true;
    QTest::newRow("first answers first") << false;
}

// Only the most recently started load writes, and only it switches `loading` off.
void CalendarModelTest::overlappingLoads()
{
    QFETCH(bool, firstAnswersLast);
    Rig rig;
    int received = 0;
    rig.peer.setHandler([&](const RecordedRequest &request) {
        const bool first = ++received <= (firstAnswersLast ? 1 : 2);
        const qint64 id = first ? 1 : 2;
        return slow(200,
                    request.path() == sessionPath
                        ? session(1, R"([{"id":)" + QByteArray::number(id) + R"(,"name":"C","hue":0,"writable":true}])")
                        : eventsJson({timed(id, id)}),
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

// The per-day answer changes with the calendar filter and with the zone that decides where days begin.
void CalendarModelTest::dayEventsFollowFilterAndZone()
{
    Rig rig(std::nullopt);
    rig.preferences.setTimeZoneOverride(QStringLiteral("UTC"));
    // 23:30 to 23:45 UTC on the 15th: already the 16th in Madrid.
    const QList<CalendarEvent> events{timed(1, 1, 1742081400, 1742082300), timed(2, 2, 1742081400, 1742082300)};
    serve(rig.peer, session(1), events);
    outcome(rig.model->load(rig.client));
    QCOMPARE(rig.model->dayEvents(march15), events);
    rig.model->setSelectedCalendar(2);
    QCOMPARE(rig.model->dayEvents(march15), QList{events.at(1)});
    rig.model->setSelectedCalendar(std::nullopt);
    rig.preferences.setTimeZoneOverride(QStringLiteral("Europe/Madrid"));
    outcome(rig.model->load(rig.client));
    QVERIFY(rig.model->dayEvents(march15).isEmpty());
    QCOMPARE(rig.model->dayEvents(march15 + std::chrono::days(1)), events);
}

void CalendarModelTest::save_data()
{
    QTest::addColumn<qint64>("id");
    QTest::addColumn<PeerAnswer>("answer");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("thrown");
    QTest::addColumn<QString>("notice");
    QTest::newRow("create") << qint64(0) << PeerAnswer::json(200, R"({"id":31})") << eventsPath << QString() << QString();
    QTest::newRow("update, warning") << qint64(17) << PeerAnswer::json(200, R"({"id":17,"warning":"Overlaps."})")
                                     << eventsPath + "/17" << QString() << "Overlaps.";
    QTest::newRow("401") << qint64(-3) << PeerAnswer(401) << eventsPath + "/-3"
                         << NativeClientError::sessionEnded().description() << "Before.";
}

// A save posts the whole event and reloads after success only; the notice follows the answer.
void CalendarModelTest::save()
{
    QFETCH(qint64, id);
    QFETCH(PeerAnswer, answer);
    QFETCH(QByteArray, path);
    QFETCH(QString, thrown);
    QFETCH(QString, notice);
    Rig rig;
    serve(rig.peer);
    rig.peer.route("POST", eventsPath, PeerAnswer::json(200, R"({"id":1,"warning":"Before."})"));
    outcome(rig.model->save(CalendarEvent(), rig.client));
    rig.peer.reset();
    serve(rig.peer);
    rig.peer.route("POST", path, answer);

    const CalendarEvent edited = timed(id, 5);
    QCOMPARE(outcome(rig.model->save(edited, rig.client)), thrown);
    QCOMPARE(rig.peer.requests().at(0).method, "POST");
    QCOMPARE(rig.target(0), path);
    QCOMPARE(json(rig.peer.requests().at(0).body), json(encode(edited)));
    QCOMPARE(rig.peer.requests().size(), thrown.isEmpty() ? 3 : 1);
    QCOMPARE(rig.model->notice(), notice);
}

void CalendarModelTest::outlivedByModel_data()
{
    QTest::addColumn<int>("operation"); // 0 load, 1 save, 2 quick save
    QTest::addColumn<bool>("deleted");
    for (int operation : {0, 1, 2}) {
        const QByteArray name = QByteArrayList{"load", "save", "quick save"}.at(operation);
        QTest::newRow(name + ", cleared") << operation << false;
        QTest::newRow(name + ", deleted") << operation << true;
    }
}

// Sign-out while a request is in flight: the answer writes nothing, nothing is reloaded, a save fails
// with the cancellation error, and a cleared model sends nothing more.
void CalendarModelTest::outlivedByModel()
{
    QFETCH(int, operation);
    QFETCH(bool, deleted);
    Rig rig;
    serve(rig.peer);
    rig.peer.route("", operation == 0 ? sessionPath : operation == 1 ? eventsPath : "/api/native/quick",
                   slow(200, operation == 0 ? session(1) : R"({"id":3,"warning":"Late."})", 200ms));
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
        return;
    QVERIFY(rig.model->calendars().isEmpty() && rig.model->notice().isEmpty() && !rig.model->loading());
    QSignalSpy loading(rig.model.get(), &CalendarModel::loadingChanged);
    QCOMPARE(outcome(start()), operation == 0 ? QString() : cancelled);
    QCOMPARE(rig.peer.requests().size(), 1);
    QCOMPARE(loading.size(), 0);
}

void CalendarModelTest::saveQuick_data()
{
    QTest::addColumn<QString>("startLocal");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("notice");
    QTest::addColumn<qint64>("date"); // 0: unchanged
    QTest::newRow("added") << "2025-04-02T13:00" << QByteArray(R"({"id":8})") << "Added Lunch." << qint64(1743591600);
    QTest::newRow("warning") << "2025-04-02T13:00" << QByteArray(R"({"id":8,"warning":"Busy."})") << "Busy."
                             << qint64(1743591600);
    QTest::newRow("skipped hour") << "2025-03-30T02:30" << QByteArray(R"({"id":8})") << "Added Lunch." << qint64(0);
}

// A quick save posts the nine draft members only, consumes the text, confirms, moves to the new
// event's day when its start reads, and reloads that month.
void CalendarModelTest::saveQuick()
{
    QFETCH(QString, startLocal);
    QFETCH(QByteArray, answer);
    QFETCH(QString, notice);
    QFETCH(qint64, date);
    Rig rig;
    serve(rig.peer);
    rig.peer.route("POST", "/api/native/quick", PeerAnswer::json(200, answer));
    rig.model->setQuickText(QStringLiteral("Lunch at 1pm"));
    QuickPreview preview{{5, "Lunch", "Canteen", startLocal, "2025-04-02T14:00", "Europe/Madrid", false, "", {"ana"}},
                         "Wednesday 13:00", "", "Team", {"An hour."}};
    QSignalSpy saving(rig.model.get(), &CalendarModel::quickSavingChanged);

    QCOMPARE(outcome(rig.model->saveQuick(preview, rig.client)), QString());
    QCOMPARE(rig.target(0), "/api/native/quick");
    QCOMPARE(json(rig.peer.requests().at(0).body), json(encode(preview.draft)));
    QCOMPARE(json(rig.peer.requests().at(0).body).size(), 9);
    QCOMPARE(rig.peer.requests().size(), 3);
    QVERIFY(rig.target(2).contains(date ? "from=2025-03-31&" : "from=2025-02-24&"));
    QVERIFY(rig.model->quickText().isEmpty());
    QCOMPARE(rig.model->quickSavedNotice(), notice);
    QCOMPARE(rig.model->notice(), notice);
    QCOMPARE(rig.model->date(), date ? instantFromSeconds(date) : march15);
    QCOMPARE(saving.size(), 2);
    QVERIFY(!rig.model->quickSaving());
}

// The second press fails at once and sends nothing; the failed first save keeps the text and does
// not reload.
void CalendarModelTest::saveQuickPressedTwice()
{
    Rig rig;
    serve(rig.peer);
    rig.peer.route("POST", "/api/native/quick", slow(500, "{}", 100ms));
    rig.model->setQuickText(QStringLiteral("Lunch"));
    QCoro::Task<> first = rig.model->saveQuick(QuickPreview(), rig.client);
    QCOMPARE(outcome(rig.model->saveQuick(QuickPreview(), rig.client)), cancelled);
    QCOMPARE(outcome(std::move(first)), NativeClientError::notCompleted(500).description());
    QCOMPARE(rig.peer.requests().size(), 1);
    QCOMPARE(rig.model->quickText(), "Lunch");
    QVERIFY(!rig.model->quickSaving());
}

QTEST_GUILESS_MAIN(CalendarModelTest)
#include "calendar_model_test.moc"
