#include "model_support.h"

#include <QSignalSpy>

using namespace std::chrono_literals;

class ModelSaveTest : public QObject {
    Q_OBJECT
private slots:
    void save_data();
    void save();
    void interruptedSave_data();
    void interruptedSave();
    void saveQuick_data();
    void saveQuick();
    void saveQuickTwice();
    void newEvent_data();
    void newEvent();

private:
    static void serveCalendar(LoopbackPeer &peer);
};

void ModelSaveTest::serveCalendar(LoopbackPeer &peer)
{
    peer.route("GET", "/api/native/session",
               PeerAnswer::json(200, sessionJson(1, R"([{"id":4,"name":"Read","hue":0,"writable":false},)"
                                                    R"({"id":5,"name":"Write","hue":0,"writable":true}])", 9)));
    peer.route("GET", "/api/native/events", PeerAnswer::json(200, eventsJson({})));
}

void ModelSaveTest::save_data()
{
    QTest::addColumn<qint64>("id");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("thrown");
    QTest::addColumn<QString>("notice");
    QTest::newRow("create") << qint64(0) << 200 << QByteArray(R"({"id":31})") << QByteArray("/api/native/events")
                            << QString() << QString();
    QTest::newRow("update, warning") << qint64(17) << 200 << QByteArray(R"({"id":17,"warning":"Overlaps."})")
                                     << QByteArray("/api/native/events/17") << QString() << "Overlaps.";
    QTest::newRow("negative id") << qint64(-3) << 200 << QByteArray(R"({"id":-3,"warning":null})")
                                 << QByteArray("/api/native/events/-3") << QString() << QString();
    QTest::newRow("401") << qint64(17) << 401 << QByteArray() << QByteArray("/api/native/events/17")
                         << NativeClientError::sessionEnded().description() << "Before.";
    QTest::newRow("undecodable") << qint64(0) << 200 << QByteArray(R"({"warning":"x"})")
                                 << QByteArray("/api/native/events") << NativeClientError::unsupportedResponse().description()
                                 << "Before.";
}

// A save posts the whole event and reloads after success only; the notice follows the answer.
void ModelSaveTest::save()
{
    QFETCH(qint64, id);
    QFETCH(int, status);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, path);
    QFETCH(QString, thrown);
    QFETCH(QString, notice);
    ModelRig rig;
    serveCalendar(rig.peer);
    rig.peer.route("POST", "/api/native/events", PeerAnswer::json(200, R"({"id":1,"warning":"Before."})"));
    QVERIFY(!finish(rig.model->save(CalendarEvent(), rig.client)));
    QCOMPARE(rig.model->notice(), "Before.");
    rig.peer.reset();
    serveCalendar(rig.peer);
    rig.peer.route("POST", path, PeerAnswer::json(status, answer));

    CalendarEvent event = timedEvent(id, 5, 1742040000, 1742043600);
    event.title = QStringLiteral("Review");
    QCOMPARE(::thrown(finish(rig.model->save(event, rig.client))), thrown);

    const RecordedRequest &post = rig.peer.requests().at(0);
    QCOMPARE(post.method, "POST");
    QCOMPARE(post.target, path);
    QCOMPARE(jsonObject(post.body), jsonObject(encode(event)));
    QCOMPARE(rig.peer.requests().size(), thrown.isEmpty() ? 3 : 1);
    if (thrown.isEmpty())
        QCOMPARE(rig.peer.requests().at(1).target, "/api/native/session");
    QCOMPARE(rig.model->notice(), notice);
}

void ModelSaveTest::interruptedSave_data()
{
    QTest::addColumn<bool>("quick");
    QTest::addColumn<bool>("deleteModel");
    QTest::newRow("save, cleared") << false << false;
    QTest::newRow("save, deleted") << false << true;
    QTest::newRow("quick save, cleared") << true << false;
    QTest::newRow("quick save, deleted") << true << true;
}

// Sign-out while the write is in flight: the save fails with the cancellation error, nothing is
// reloaded or written, and a cleared model refuses the next save at once.
void ModelSaveTest::interruptedSave()
{
    QFETCH(bool, quick);
    QFETCH(bool, deleteModel);
    ModelRig rig;
    serveCalendar(rig.peer);
    PeerAnswer slow = PeerAnswer::json(200, R"({"id":3,"warning":"Late."})");
    slow.delay = 200ms;
    rig.peer.route("POST", quick ? "/api/native/quick" : "/api/native/events", slow);
    rig.model->setQuickText(QStringLiteral("Lunch"));
    const auto start = [&] {
        return quick ? rig.model->saveQuick(QuickPreview(), rig.client) : rig.model->save(CalendarEvent(), rig.client);
    };

    QCoro::Task<> pending = start();
    QVERIFY(rig.peer.waitForRequests(1));
    if (deleteModel)
        rig.model.reset();
    else
        rig.model->clear();
    QVERIFY(isCancellation(finish(std::move(pending))));
    QTest::qWait(50);
    QCOMPARE(rig.peer.requests().size(), 1);
    if (deleteModel)
        return;

    QVERIFY(rig.model->notice().isEmpty());
    QVERIFY(rig.model->quickSavedNotice().isEmpty());
    QVERIFY(!rig.model->quickSaving());
    QVERIFY(isCancellation(finish(start())));
    QCOMPARE(rig.peer.requests().size(), 1);
}

void ModelSaveTest::saveQuick_data()
{
    QTest::addColumn<QString>("startLocal");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("notice");
    QTest::addColumn<qint64>("date"); // 0: unchanged
    QTest::newRow("added") << "2025-04-02T13:00" << QByteArray(R"({"id":8})") << "Added Lunch." << qint64(1743591600);
    QTest::newRow("warning") << "2025-04-02T13:00" << QByteArray(R"({"id":8,"warning":"Busy then."})") << "Busy then."
                             << qint64(1743591600);
    QTest::newRow("start in the skipped hour") << "2025-03-30T02:30" << QByteArray(R"({"id":8})") << "Added Lunch."
                                               << qint64(0);
    QTest::newRow("start unreadable") << "tomorrow" << QByteArray(R"({"id":8})") << "Added Lunch." << qint64(0);
}

// A quick save posts the nine draft members only, consumes the text, confirms, moves to the new
// event's day when its start reads, and reloads that month.
void ModelSaveTest::saveQuick()
{
    QFETCH(QString, startLocal);
    QFETCH(QByteArray, answer);
    QFETCH(QString, notice);
    QFETCH(qint64, date);
    ModelRig rig;
    serveCalendar(rig.peer);
    rig.peer.route("POST", "/api/native/quick", PeerAnswer::json(200, answer));
    rig.model->setQuickText(QStringLiteral("Lunch at 1pm"));
    const Instant before = rig.model->date();
    QuickPreview preview;
    preview.draft = QuickDraft{5, "Lunch", "Canteen", startLocal, "2025-04-02T14:00", "Europe/Madrid", false, "", {"ana"}};
    preview.when = QStringLiteral("Wednesday 13:00");
    preview.assumptions = QStringList{QStringLiteral("An hour.")};
    QSignalSpy saving(rig.model.get(), &CalendarModel::quickSavingChanged);

    QVERIFY(!finish(rig.model->saveQuick(preview, rig.client)));

    const RecordedRequest &post = rig.peer.requests().at(0);
    QCOMPARE(post.target, "/api/native/quick");
    QCOMPARE(jsonObject(post.body), jsonObject(encode(preview.draft)));
    QCOMPARE(jsonObject(post.body).size(), 9);
    QCOMPARE(rig.peer.requests().size(), 3);
    QVERIFY(rig.peer.requests().at(2).target.startsWith(date ? "/api/native/events?from=2025-03-31&"
                                                             : "/api/native/events?from=2025-02-24&"));
    QVERIFY(rig.model->quickText().isEmpty());
    QCOMPARE(rig.model->quickSavedNotice(), notice);
    QCOMPARE(rig.model->notice(), notice);
    QCOMPARE(rig.model->date(), date ? instantFromSeconds(date) : before);
    QCOMPARE(saving.size(), 2);
    QVERIFY(!rig.model->quickSaving());
}

// A second press while the first quick save runs sends nothing; a failed save keeps the text and
// does not reload.
void ModelSaveTest::saveQuickTwice()
{
    ModelRig rig;
    serveCalendar(rig.peer);
    PeerAnswer refused = PeerAnswer::json(500, "{}");
    refused.delay = 100ms;
    rig.peer.route("POST", "/api/native/quick", refused);
    rig.model->setQuickText(QStringLiteral("Lunch"));

    QCoro::Task<> first = rig.model->saveQuick(QuickPreview(), rig.client);
    QVERIFY(rig.model->quickSaving());
    QVERIFY(isCancellation(finish(rig.model->saveQuick(QuickPreview(), rig.client))));
    QCOMPARE(thrown(finish(std::move(first))), NativeClientError::notCompleted(500).description());
    QCOMPARE(rig.peer.requests().size(), 1);
    QCOMPARE(rig.model->quickText(), "Lunch");
    QVERIFY(rig.model->quickSavedNotice().isEmpty());
    QVERIFY(!rig.model->quickSaving());
}

void ModelSaveTest::newEvent_data()
{
    QTest::addColumn<std::optional<qint64>>("selected");
    QTest::addColumn<qint64>("calendar");
    QTest::newRow("no selection") << std::optional<qint64>() << qint64(9);
    QTest::newRow("writable") << std::optional<qint64>(5) << qint64(5);
    QTest::newRow("read-only") << std::optional<qint64>(4) << qint64(9);
    QTest::newRow("not loaded") << std::optional<qint64>(77) << qint64(9);
}

// 30 March 2025 is 23 hours long in Madrid; the new event still starts at 09:00 local.
void ModelSaveTest::newEvent()
{
    QFETCH(std::optional<qint64>, selected);
    QFETCH(qint64, calendar);
    ModelRig rig(QStringLiteral("Europe/Madrid"), instantFromSeconds(1743364800)); // 22:00 local
    serveCalendar(rig.peer);
    QVERIFY(!finish(rig.model->load(rig.client)));
    rig.model->setSelectedCalendar(selected);

    CalendarEvent expected;
    expected.calendar_id = calendar;
    expected.start_local = QStringLiteral("2025-03-30T09:00");
    expected.end_local = QStringLiteral("2025-03-30T10:00");
    expected.tz = QStringLiteral("Europe/Madrid");
    QCOMPARE(rig.model->newEvent(), expected);
}

QTEST_GUILESS_MAIN(ModelSaveTest)
#include "model_save_test.moc"
