#include "model_support.h"

#include <QSignalSpy>

using namespace std::chrono_literals;

class ModelLoadTest : public QObject {
    Q_OBJECT
private slots:
    void requests_data();
    void requests();
    void failures_data();
    void failures();
    void overlappingLoads_data();
    void overlappingLoads();
    void interruptedLoad_data();
    void interruptedLoad();
    void zoneFollowsPreference_data();
    void zoneFollowsPreference();
    void dayEventsFollowFilterAndZone();
};

void ModelLoadTest::requests_data()
{
    QTest::addColumn<QString>("zone");
    QTest::addColumn<int>("weekStart");
    QTest::addColumn<QByteArray>("target");
    QTest::newRow("Madrid, Monday") << "Europe/Madrid" << 1
                                    << QByteArray("/api/native/events?from=2025-02-24&to=2025-04-07&zone=Europe%2FMadrid");
    QTest::newRow("Sunday") << "Europe/Madrid" << 0
                            << QByteArray("/api/native/events?from=2025-02-23&to=2025-04-06&zone=Europe%2FMadrid");
    QTest::newRow("week start 7") << "Europe/Madrid" << 7
                                  << QByteArray("/api/native/events?from=2025-02-23&to=2025-04-06&zone=Europe%2FMadrid");
    QTest::newRow("negative week start") << "UTC" << -6
                                         << QByteArray("/api/native/events?from=2025-02-24&to=2025-04-07&zone=UTC");
    QTest::newRow("underscore") << "America/New_York" << 1
                                << QByteArray("/api/native/events?from=2025-02-24&to=2025-04-07&zone=America%2FNew_York");
    QTest::newRow("plus") << "Etc/GMT+5" << 1
                          << QByteArray("/api/native/events?from=2025-02-24&to=2025-04-07&zone=Etc%2FGMT%2B5");
    QTest::newRow("unknown zone") << "Mars/Olympus Mons" << 1
                                  << QByteArray("/api/native/events?from=2025-02-24&to=2025-04-07&zone=Mars%2FOlympus%20Mons");
}

void ModelLoadTest::requests()
{
    QFETCH(QString, zone);
    QFETCH(int, weekStart);
    QFETCH(QByteArray, target);
    ModelRig rig(zone);
    const QList<CalendarEvent> events{timedEvent(7, 1, 1742040000, 1742043600)};
    rig.peer.route("GET", "/api/native/session", PeerAnswer::json(200, sessionJson(weekStart)));
    rig.peer.route("GET", "/api/native/events", PeerAnswer::json(200, eventsJson(events)));
    QStringList writes;
    for (auto [signal, name] : {std::pair{&CalendarModel::loadingChanged, "loading"},
                                {&CalendarModel::calendarsChanged, "calendars"},
                                {&CalendarModel::eventsChanged, "events"}, {&CalendarModel::errorChanged, "error"}})
        connect(rig.model.get(), signal, this, [&writes, name] { writes.append(name); });

    QVERIFY(!finish(rig.model->load(rig.client)));

    QCOMPARE(rig.peer.requests().size(), 2);
    QCOMPARE(rig.peer.requests().at(0).method, "GET");
    QCOMPARE(rig.peer.requests().at(0).target, "/api/native/session");
    QCOMPARE(rig.peer.requests().at(1).method, "GET");
    QCOMPARE(rig.peer.requests().at(1).target, target);
    QCOMPARE(writes, QStringList({"loading", "calendars", "events", "loading"}));
    QCOMPARE(rig.model->events(), events);
    QCOMPARE(rig.model->calendars().size(), 1);
}

void ModelLoadTest::failures_data()
{
    QTest::addColumn<int>("sessionStatus"); // 0: the server never answers
    QTest::addColumn<QByteArray>("sessionBody");
    QTest::addColumn<QByteArray>("eventsBody");
    QTest::addColumn<int>("requestCount");
    QTest::addColumn<QString>("error"); // empty: any description
    const QByteArray events = eventsJson({});
    QTest::newRow("404") << 404 << QByteArray() << events << 1 << NativeClientError::featureMissing().description();
    QTest::newRow("303") << 303 << QByteArray() << events << 1 << NativeClientError::sessionEnded().description();
    QTest::newRow("401") << 401 << QByteArray() << events << 1 << NativeClientError::sessionEnded().description();
    QTest::newRow("500") << 500 << QByteArray() << events << 1 << NativeClientError::notCompleted(500).description();
    QTest::newRow("session undecodable") << 200 << QByteArray(R"({"week_start":1})") << events << 1
                                         << NativeClientError::unsupportedResponse().description();
    QTest::newRow("events undecodable") << 200 << sessionJson(1, "[]") << QByteArray(R"({"events":[{"id":1}]})") << 2
                                        << NativeClientError::unsupportedResponse().description();
    QTest::newRow("stalled") << 0 << QByteArray() << events << 1 << QString();
}

// A failed load empties the events and shows the failure; the calendars of the last session stay
// unless this load's session answer arrived.
void ModelLoadTest::failures()
{
    QFETCH(int, sessionStatus);
    QFETCH(QByteArray, sessionBody);
    QFETCH(QByteArray, eventsBody);
    QFETCH(int, requestCount);
    QFETCH(QString, error);
    ModelRig rig(QStringLiteral("UTC"), instantFromSeconds(1742040000), NativeTimeouts{300ms, 2000ms});
    rig.peer.route("GET", "/api/native/session", PeerAnswer::json(200, sessionJson(1)));
    rig.peer.route("GET", "/api/native/events", PeerAnswer::json(200, eventsJson({timedEvent(7, 1, 1742040000, 1742043600)})));
    QVERIFY(!finish(rig.model->load(rig.client)));
    const QList<TeamCalendar> before = rig.model->calendars();

    rig.peer.reset();
    rig.peer.route("GET", "/api/native/session",
                   sessionStatus == 0 ? PeerAnswer::never() : PeerAnswer::json(sessionStatus, sessionBody));
    rig.peer.route("GET", "/api/native/events", PeerAnswer::json(200, eventsBody));
    QVERIFY(!finish(rig.model->load(rig.client)));

    QCOMPARE(rig.peer.requests().size(), requestCount);
    QVERIFY(rig.model->events().isEmpty());
    QCOMPARE(rig.model->calendars().isEmpty(), requestCount == 2);
    if (requestCount == 1)
        QCOMPARE(rig.model->calendars(), before);
    QVERIFY(!rig.model->error().isEmpty());
    if (!error.isEmpty())
        QCOMPARE(rig.model->error(), error);
    QVERIFY(!rig.model->loading());
}

void ModelLoadTest::overlappingLoads_data()
{
    QTest::addColumn<bool>("firstAnswersLast");
    QTest::newRow("first answers last") << true;
    QTest::newRow("first answers first") << false;
}

// Only the most recently started load writes, and only it switches `loading` off.
void ModelLoadTest::overlappingLoads()
{
    QFETCH(bool, firstAnswersLast);
    ModelRig rig;
    const QList<CalendarEvent> firstEvents{timedEvent(1, 1, 1742040000, 1742043600)};
    const QList<CalendarEvent> secondEvents{timedEvent(2, 2, 1742040000, 1742043600)};
    const QByteArray firstCalendars = R"([{"id":1,"name":"First","hue":0,"writable":true}])";
    const QByteArray secondCalendars = R"([{"id":2,"name":"Second","hue":0,"writable":true}])";
    int received = 0;
    rig.peer.setHandler([&](const RecordedRequest &request) {
        const bool first = ++received <= (firstAnswersLast ? 1 : 2);
        PeerAnswer answer = request.path() == "/api/native/session"
            ? PeerAnswer::json(200, sessionJson(1, first ? firstCalendars : secondCalendars))
            : PeerAnswer::json(200, eventsJson(first ? firstEvents : secondEvents));
        if (first == firstAnswersLast)
            answer.delay = 400ms;
        return answer;
    });
    QList<bool> loadingWrites;
    connect(rig.model.get(), &CalendarModel::loadingChanged, this,
            [&] { loadingWrites.append(rig.model->loading()); });

    QCoro::Task<> first = rig.model->load(rig.client);
    QVERIFY(rig.peer.waitForRequests(firstAnswersLast ? 1 : 2));
    QCoro::Task<> second = rig.model->load(rig.client);
    QVERIFY(QTest::qWaitFor([&] { return first.isReady() || second.isReady(); }, 5000));
    QCOMPARE(rig.model->loading(), !second.isReady());
    QCOMPARE(rig.model->events(), second.isReady() ? secondEvents : QList<CalendarEvent>());
    QVERIFY(QTest::qWaitFor([&] { return first.isReady() && second.isReady(); }, 5000));

    QCOMPARE(rig.model->events(), secondEvents);
    QCOMPARE(rig.model->calendars().at(0).name, "Second");
    QCOMPARE(loadingWrites, QList<bool>({true, false}));
    QCOMPARE(rig.peer.requests().size(), firstAnswersLast ? 3 : 4);
}

void ModelLoadTest::interruptedLoad_data()
{
    QTest::addColumn<bool>("deleteModel");
    QTest::newRow("cleared") << false;
    QTest::newRow("deleted") << true;
}

// Answers that arrive after clear() (or after the shell dropped the model) write nothing, and a
// cleared model sends nothing more.
void ModelLoadTest::interruptedLoad()
{
    QFETCH(bool, deleteModel);
    ModelRig rig;
    rig.peer.route("GET", "/api/native/events", PeerAnswer::json(200, eventsJson({})));
    PeerAnswer slow = PeerAnswer::json(200, sessionJson(1));
    slow.delay = 200ms;
    rig.peer.route("GET", "/api/native/session", slow);

    QCoro::Task<> pending = rig.model->load(rig.client);
    QVERIFY(rig.peer.waitForRequests(1));
    if (deleteModel)
        rig.model.reset();
    else
        rig.model->clear();
    QVERIFY(QTest::qWaitFor([&] { return pending.isReady(); }, 5000));
    QTest::qWait(50);
    QCOMPARE(rig.peer.requests().size(), 1);
    if (deleteModel)
        return;

    QVERIFY(rig.model->calendars().isEmpty());
    QVERIFY(!rig.model->loading());
    QSignalSpy anyWrite(rig.model.get(), &CalendarModel::loadingChanged);
    QVERIFY(!finish(rig.model->load(rig.client)));
    QCOMPARE(rig.peer.requests().size(), 1);
    QCOMPARE(anyWrite.size(), 0);
}

void ModelLoadTest::zoneFollowsPreference_data()
{
    QTest::addColumn<QString>("fixedZone"); // null: none
    QTest::addColumn<QString>("preference");
    QTest::addColumn<QString>("zone");
    QTest::newRow("preference") << QString() << "Asia/Tokyo" << "Asia/Tokyo";
    QTest::newRow("empty preference") << QString() << "" << "Europe/Madrid";
    QTest::newRow("unknown preference") << QString() << "Nowhere/Town" << "Europe/Madrid";
    QTest::newRow("fixed zone wins") << "UTC" << "Asia/Tokyo" << "UTC";
}

// The preference is read again at every load (the test process runs in Europe/Madrid).
void ModelLoadTest::zoneFollowsPreference()
{
    QFETCH(QString, fixedZone);
    QFETCH(QString, preference);
    QFETCH(QString, zone);
    ModelRig rig(fixedZone.isNull() ? std::nullopt : std::optional(fixedZone));
    rig.preferences.setTimeZoneOverride(QStringLiteral("America/Chicago"));
    rig.peer.route("GET", "/api/native/session", PeerAnswer::json(200, sessionJson(1)));
    rig.peer.route("GET", "/api/native/events", PeerAnswer::json(200, eventsJson({})));
    QVERIFY(!finish(rig.model->load(rig.client)));
    rig.preferences.setTimeZoneOverride(preference);
    QVERIFY(!finish(rig.model->load(rig.client)));
    QCOMPARE(rig.model->zone(), zone);
    QVERIFY(rig.peer.requests().at(3).target.endsWith("&zone=" + QUrl::toPercentEncoding(zone)));
}

// The per-day answer changes with the calendar filter and with the zone that decides where days begin.
void ModelLoadTest::dayEventsFollowFilterAndZone()
{
    ModelRig rig(std::nullopt);
    rig.preferences.setTimeZoneOverride(QStringLiteral("UTC"));
    // 2025-03-15 23:30 to 23:45 UTC: still the 15th in UTC, already the 16th in Madrid.
    const QList<CalendarEvent> events{timedEvent(1, 1, 1742081400, 1742082300), timedEvent(2, 2, 1742081400, 1742082300)};
    rig.peer.route("GET", "/api/native/session", PeerAnswer::json(200, sessionJson(1)));
    rig.peer.route("GET", "/api/native/events", PeerAnswer::json(200, eventsJson(events)));
    QVERIFY(!finish(rig.model->load(rig.client)));
    const Instant fifteenthNoon = instantFromSeconds(1742040000);
    QCOMPARE(rig.model->dayEvents(fifteenthNoon), events);

    rig.model->setSelectedCalendar(2);
    QCOMPARE(rig.model->dayEvents(fifteenthNoon), QList<CalendarEvent>({events.at(1)}));
    rig.model->setSelectedCalendar(3);
    QVERIFY(rig.model->dayEvents(fifteenthNoon).isEmpty());
    rig.model->setSelectedCalendar(std::nullopt);

    rig.preferences.setTimeZoneOverride(QStringLiteral("Europe/Madrid"));
    QVERIFY(!finish(rig.model->load(rig.client)));
    QVERIFY(rig.model->dayEvents(fifteenthNoon).isEmpty());
    QCOMPARE(rig.model->dayEvents(fifteenthNoon + std::chrono::days(1)), events);
}

QTEST_GUILESS_MAIN(ModelLoadTest)
#include "model_load_test.moc"
