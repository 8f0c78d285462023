#include "local_time.h"
#include "native_http.h"
#include "quick_cases.h"
#include "records.h"
#include "run_task.h"
#include "server.h"

#include <httplib.h>

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

#include <atomic>
#include <map>

namespace {
const QString madrid = QStringLiteral("Europe/Madrid");
const QString verifier = QStringLiteral("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk");

QString base64url(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString challengeFor(const QString &v) { return base64url(QCryptographicHash::hash(v.toUtf8(), QCryptographicHash::Sha256)); }

QByteArray object(std::initializer_list<std::pair<QString, QJsonValue>> members)
{
    QJsonObject o;
    for (const auto &[k, v] : members)
        o.insert(k, v);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

struct Answer {
    int status = 0;
    QByteArray body;
    std::string contentType;
};

// The approval page's one form, as a browser would read it.
struct ApprovalForm {
    QString code;
    std::map<QString, QString> hidden;
    QStringList users;
    QStringList decisions;
};

ApprovalForm readForm(const QByteArray &html)
{
    const QString page = QString::fromUtf8(html);
    ApprovalForm form;
    form.code = QRegularExpression(QStringLiteral("id=\"code\">([^<]+)<")).match(page).captured(1);
    auto hidden = QRegularExpression(QStringLiteral("<input type=\"hidden\" name=\"(\\w+)\" value=\"([^\"]*)\">")).globalMatch(page);
    while (hidden.hasNext()) {
        const auto m = hidden.next();
        form.hidden[m.captured(1)] = m.captured(2);
    }
    auto options = QRegularExpression(QStringLiteral("<option value=\"(\\d+)\">")).globalMatch(page);
    while (options.hasNext())
        form.users << options.next().captured(1);
    auto buttons = QRegularExpression(QStringLiteral("name=\"decision\" value=\"(\\w+)\"")).globalMatch(page);
    while (buttons.hasNext())
        form.decisions << buttons.next().captured(1);
    return form;
}
} // namespace

class ContractTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void signInThroughTheApprovalPage();
    void signInRefusals_data();
    void signInRefusals();
    void eventsAcrossTheClockChange();
    void createAndUpdate();
    void saveRefusals_data();
    void saveRefusals();
    void quickParseAndSave();
    void badRequestsAreRefusedPlainly_data();
    void badRequestsAreRefusedPlainly();
    void sessionsEnd();

private:
    Answer call(const char *method, const QString &path, const QByteArray &body = {},
                const QString &contentType = QStringLiteral("application/json"), bool withCookie = true);
    QString startSignIn(const QString &challenge);
    Answer submit(const ApprovalForm &form, const QString &decision, const QString &user,
                  const QString &origin = {});
    void signIn(const QString &user = QStringLiteral("1"));
    template <typename T>
    T fetch(const char *method, const QString &path, const QByteArray &body = {});

    std::atomic<qint64> m_secondsLater{0};
    std::unique_ptr<DevServer> m_server;
    std::optional<NativeSession> m_session;
};

void ContractTest::init()
{
    ServerOptions options;
    options.port = 0;
    options.sessionLifetimeSeconds = 3600;
    const Instant base = *dates::parseLocal(u"2025-03-20T10:00", false, madrid);
    options.now = [this, base] { return base + std::chrono::seconds(m_secondsLater.load()); };
    m_secondsLater = 0;
    m_server = std::make_unique<DevServer>(options);
    m_server->start();
    m_session.reset();
}

void ContractTest::cleanup() { m_server.reset(); }

// Every API exchange goes through the client's own transport, as the app sends it.
Answer ContractTest::call(const char *method, const QString &path, const QByteArray &body, const QString &contentType,
                          bool withCookie)
{
    const NativeHTTP client(QUrl(m_server->origin()), withCookie ? m_session : std::nullopt);
    const bool get = std::string(method) == "GET";
    const NativeResponse answer = runTask(client.responseDetails(path, method, get ? std::nullopt : std::optional(body), contentType));
    return {int(answer.status), answer.data, answer.header(u"content-type").value_or(QString()).toStdString()};
}

template <typename T>
T ContractTest::fetch(const char *method, const QString &path, const QByteArray &body)
{
    const NativeHTTP client(QUrl(m_server->origin()), m_session);
    const bool get = std::string(method) == "GET";
    try {
        return runTask(client.request<T>(path, method, get ? std::nullopt : std::optional(body)));
    } catch (...) {
        qFatal("%s %s failed: %s", method, qPrintable(path), qPrintable(describeError(std::current_exception())));
    }
}

QString ContractTest::startSignIn(const QString &challenge)
{
    const Answer answer = call("POST", QStringLiteral("/native/request"), object({{"challenge", challenge}}), "application/json", false);
    return QJsonDocument::fromJson(answer.body).object().value(QStringLiteral("id")).toString();
}

Answer ContractTest::submit(const ApprovalForm &form, const QString &decision, const QString &user, const QString &origin)
{
    httplib::Client browser("localhost", m_server->port());
    httplib::Params fields{{"decision", decision.toStdString()}, {"user", user.toStdString()}};
    for (const auto &[name, value] : form.hidden)
        fields.emplace(name.toStdString(), value.toStdString());
    const httplib::Headers headers{{"Origin", (origin.isEmpty() ? m_server->origin() : origin).toStdString()}};
    const auto result = browser.Post("/native/start", headers, fields);
    return result ? Answer{result->status, QByteArray::fromStdString(result->body), {}} : Answer{};
}

ApprovalForm pageOf(int port, const QString &id)
{
    httplib::Client browser("localhost", port);
    const auto page = browser.Get(("/native/start?id=" + id).toStdString());
    return page && page->status == 200 ? readForm(QByteArray::fromStdString(page->body)) : ApprovalForm{};
}

void ContractTest::signIn(const QString &user)
{
    const QString id = startSignIn(challengeFor(verifier));
    submit(pageOf(m_server->port(), id), QStringLiteral("approve"), user);
    const Answer answer = call("POST", QStringLiteral("/native/exchange"), object({{"id", id}, {"verifier", verifier}}), "application/json", false);
    NativeSession session;
    QVERIFY(decode(answer.body, session));
    m_session = session;
}

void ContractTest::signInThroughTheApprovalPage()
{
    const QString id = startSignIn(challengeFor(verifier));
    QCOMPARE(id.size(), 43);
    QCOMPARE(base64url(QByteArray::fromBase64(id.toLatin1(), QByteArray::Base64UrlEncoding)), id);
    const QByteArray exchange = object({{"id", id}, {"verifier", verifier}});
    QCOMPARE(call("POST", QStringLiteral("/native/exchange"), exchange).status, 202);

    const ApprovalForm form = pageOf(m_server->port(), id);
    const QString hex = QString::fromLatin1(QCryptographicHash::hash(id.toUtf8(), QCryptographicHash::Sha256).left(4).toHex()).toUpper();
    QCOMPARE(form.code, hex.left(4) + QLatin1Char('-') + hex.mid(4));
    QCOMPARE(form.hidden.at(QStringLiteral("id")), id);
    QCOMPARE(form.users, (QStringList{"1", "2", "3", "4"}));
    QCOMPARE(form.decisions, (QStringList{"deny", "approve"}));
    QCOMPARE(submit(form, QStringLiteral("approve"), QStringLiteral("2")).status, 200);

    const QByteArray wrongVerifier = object({{"id", id}, {"verifier", QString(verifier).replace(0, 1, QLatin1Char('e'))}});
    QCOMPARE(call("POST", QStringLiteral("/native/exchange"), wrongVerifier).status, 400);
    const Answer granted = call("POST", QStringLiteral("/native/exchange"), exchange);
    QCOMPARE(granted.status, 200);
    const QJsonObject session = QJsonDocument::fromJson(granted.body).object();
    QCOMPARE(session.value(QStringLiteral("name")).toString(), QStringLiteral("corvane_session"));
    QCOMPARE(session.value(QStringLiteral("value")).toString().size(), 43);
    QCOMPARE(call("POST", QStringLiteral("/native/exchange"), exchange).status, 410);

    m_session = NativeSession{session.value(QStringLiteral("name")).toString(), session.value(QStringLiteral("value")).toString()};
    const auto calendarSession = fetch<CalendarSession>("GET", QStringLiteral("/api/native/session"));
    QCOMPARE(calendarSession.zone, QStringLiteral("Europe/London"));
    QCOMPARE(calendarSession.calendars.size(), 4);
    QCOMPARE(calendarSession.calendars.last().writable, false);
    QCOMPARE(calendarSession.default_calendar_id, calendarSession.calendars.first().id);
}

void ContractTest::signInRefusals_data()
{
    QTest::addColumn<QString>("decision");
    QTest::addColumn<QString>("origin");
    QTest::addColumn<bool>("forgedToken");
    QTest::addColumn<qint64>("wait");
    QTest::addColumn<int>("formStatus");
    QTest::addColumn<int>("exchangeStatus");
    QTest::newRow("denied") << "deny" << "" << false << qint64(0) << 200 << 403;
    QTest::newRow("another site's form") << "approve" << "http://evil.example" << false << qint64(0) << 403 << 202;
    QTest::newRow("forged form token") << "approve" << "" << true << qint64(0) << 403 << 202;
    QTest::newRow("approved after five minutes") << "approve" << "" << false << qint64(300) << 410 << 410;
}

void ContractTest::signInRefusals()
{
    QFETCH(QString, decision);
    QFETCH(QString, origin);
    QFETCH(bool, forgedToken);
    QFETCH(qint64, wait);
    const QString id = startSignIn(challengeFor(verifier));
    ApprovalForm form = pageOf(m_server->port(), id);
    if (forgedToken)
        form.hidden[QStringLiteral("csrf")] = challengeFor(QStringLiteral("guess"));
    m_secondsLater = wait;
    QTEST(submit(form, decision, QStringLiteral("1"), origin).status, "formStatus");
    QTEST(call("POST", QStringLiteral("/native/exchange"), object({{"id", id}, {"verifier", verifier}})).status,
          "exchangeStatus");
}

void ContractTest::eventsAcrossTheClockChange()
{
    signIn();
    const auto events = fetch<CalendarEvents>(
        "GET", QStringLiteral("/api/native/events?from=2025-02-24&to=2025-04-07&zone=Europe%2FMadrid")).events;
    const qint64 from = secondsSinceEpoch(*dates::parseLocal(u"2025-02-24", true, madrid));
    const qint64 to = secondsSinceEpoch(*dates::parseLocal(u"2025-04-07", true, madrid));
    QSet<QString> identities;
    for (qsizetype i = 0; i < events.size(); ++i) {
        const CalendarEvent &e = events[i];
        QVERIFY2(e.all_day ? e.day_start < QLatin1String("2025-04-07") && e.day_end > QLatin1String("2025-02-24")
                           : e.start < to && e.end > from,
                 qPrintable(e.identity()));
        QVERIFY(e.all_day == !e.day_start.isEmpty());
        QVERIFY(!e.recurring || !e.occurrence.isEmpty());
        QVERIFY(i == 0 || events[i - 1].start <= e.start);
        identities.insert(e.identity());
        if (!e.all_day)
            QCOMPARE(dates::formatLocal(instantFromSeconds(e.start), false, e.tz), e.start_local);
    }
    QCOMPARE(identities.size(), events.size());

    // The weekly 02:30 job keeps its wall-clock time; on 30 March 02:30 does not exist in Madrid.
    QStringList maintenance;
    for (const auto &e : events)
        if (e.title == QLatin1String("Server maintenance"))
            maintenance << e.start_local + QLatin1Char('@') + QString::number(e.start);
    QCOMPARE(maintenance, (QStringList{"2025-03-16T02:30@1742088600", "2025-03-23T02:30@1742693400",
                                       "2025-03-30T03:00@1743296400", "2025-04-06T02:30@1743899400"}));

    const auto kinds = [&](auto predicate) { return std::count_if(events.begin(), events.end(), predicate); };
    QVERIFY(kinds([](const auto &e) { return e.status == QLatin1String("tentative"); }) > 0);
    QVERIFY(kinds([](const auto &e) { return e.status == QLatin1String("cancelled"); }) > 0);
    QVERIFY(kinds([](const auto &e) {
                return e.all_day &&
                       LocalDateTime::parse(e.day_end, true)->minutesSince(*LocalDateTime::parse(e.day_start, true)) > 1440;
            }) > 0);
    QVERIFY(kinds([](const auto &e) { return e.tz != QLatin1String("Europe/Madrid"); }) > 0);
    QVERIFY(kinds([](const auto &e) { return !e.writable; }) > 0);
}

void ContractTest::createAndUpdate()
{
    signIn();
    CalendarEvent event;
    event.calendar_id = 1;
    event.title = QStringLiteral("Clock change breakfast");
    event.start_local = QStringLiteral("2025-03-30T09:00");
    event.end_local = QStringLiteral("2025-03-30T10:00");
    event.tz = madrid;
    const auto created = fetch<SavedEvent>("POST", QStringLiteral("/api/native/events"), encode(event));
    QVERIFY(!created.warning);

    const auto listed = [&](qint64 id) {
        for (const auto &e : fetch<CalendarEvents>(
                 "GET", QStringLiteral("/api/native/events?from=2025-03-24&to=2025-04-07&zone=America%2FNew_York")).events)
            if (e.id == id)
                return e;
        return CalendarEvent{};
    };
    CalendarEvent stored = listed(created.id);
    QCOMPARE(stored.start, qint64(1743318000)); // 07:00 UTC: Madrid is already on summer time
    QCOMPARE(stored.calendar_name, QStringLiteral("Team"));

    stored.title = QStringLiteral("Clock change brunch");
    stored.start_local = QStringLiteral("2025-03-30T11:00");
    stored.end_local = QStringLiteral("2025-03-30T12:30");
    stored.status = QStringLiteral("tentative");
    QVERIFY(!fetch<SavedEvent>("POST", QStringLiteral("/api/native/events/%1").arg(created.id), encode(stored)).warning);
    const CalendarEvent changed = listed(created.id);
    QCOMPARE(changed.title, QStringLiteral("Clock change brunch"));
    QCOMPARE(changed.end - changed.start, qint64(5400));
    QCOMPARE(changed.status, QStringLiteral("tentative"));

    // Moving one occurrence of a series moves the whole series by the same wall-clock shift.
    CalendarEvent planning;
    for (const auto &e : fetch<CalendarEvents>(
             "GET", QStringLiteral("/api/native/events?from=2025-03-24&to=2025-03-25&zone=Europe%2FMadrid")).events)
        if (e.title == QLatin1String("Weekly planning"))
            planning = e;
    planning.start_local = QStringLiteral("2025-03-24T11:00");
    planning.end_local = QStringLiteral("2025-03-24T12:00");
    QVERIFY(fetch<SavedEvent>("POST", QStringLiteral("/api/native/events/%1").arg(planning.id), encode(planning)).warning);
    QCOMPARE(listed(planning.id).start_local, QStringLiteral("2025-03-24T11:00"));

    // A local time that happens twice is accepted with a warning.
    event.start_local = QStringLiteral("2025-10-26T02:30");
    event.end_local = QStringLiteral("2025-10-26T03:30");
    QVERIFY(fetch<SavedEvent>("POST", QStringLiteral("/api/native/events"), encode(event)).warning);
}

void ContractTest::saveRefusals_data()
{
    QTest::addColumn<QString>("member");
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<int>("status");
    QTest::newRow("unknown calendar") << "calendar_id" << QJsonValue(99) << 422;
    QTest::newRow("read-only calendar") << "calendar_id" << QJsonValue(4) << 403;
    QTest::newRow("unreadable start") << "start_local" << QJsonValue("2025-03-30 09:00") << 422;
    QTest::newRow("skipped start") << "start_local" << QJsonValue("2025-03-30T02:30") << 422;
    QTest::newRow("end before start") << "end_local" << QJsonValue("2025-03-30T08:59") << 422;
    QTest::newRow("unknown zone") << "tz" << QJsonValue("Mars/Olympus") << 422;
    QTest::newRow("unknown status") << "status" << QJsonValue("maybe") << 422;
    QTest::newRow("blank title") << "title" << QJsonValue("  ") << 422;
    QTest::newRow("new event with an id") << "id" << QJsonValue(5) << 422;
    QTest::newRow("wrong type") << "all_day" << QJsonValue("no") << 400;
    QTest::newRow("missing member") << "occurrence" << QJsonValue(QJsonValue::Undefined) << 400;
}

void ContractTest::saveRefusals()
{
    QFETCH(QString, member);
    QFETCH(QJsonValue, value);
    signIn();
    CalendarEvent event;
    event.calendar_id = 1;
    event.title = QStringLiteral("Breakfast");
    event.start_local = QStringLiteral("2025-03-30T09:00");
    event.end_local = QStringLiteral("2025-03-30T10:00");
    event.tz = madrid;
    QJsonObject body = QJsonDocument::fromJson(encode(event)).object();
    if (value.isUndefined())
        body.remove(member);
    else
        body.insert(member, value);
    const Answer answer = call("POST", QStringLiteral("/api/native/events"), QJsonDocument(body).toJson());
    QTEST(answer.status, "status");
    QVERIFY(answer.contentType.starts_with("text/plain"));
}

void ContractTest::quickParseAndSave()
{
    m_secondsLater = secondsSinceEpoch(quickNow()) - secondsSinceEpoch(*dates::parseLocal(u"2025-03-20T10:00", false, madrid));
    signIn();
    for (const QuickCase &expected : quickCases()) {
        const auto preview = fetch<QuickPreview>("POST", QStringLiteral("/api/native/quick/parse"),
                                                 object({{"text", expected.text}, {"zone", madrid}}));
        QCOMPARE(preview.draft, expected.draft);
        QCOMPARE(preview.when, expected.when);
        QCOMPARE(preview.assumptions, expected.assumptions);
        const auto saved = fetch<SavedEvent>("POST", QStringLiteral("/api/native/quick"), encode(preview.draft));
        const QString day = preview.draft.start_local.left(10);
        const QString next = dates::formatLocal(*dates::parseLocal(day, true, madrid) + std::chrono::hours(36), true, madrid);
        const auto events = fetch<CalendarEvents>(
            "GET", QStringLiteral("/api/native/events?from=%1&to=%2&zone=Europe%2FMadrid").arg(day, next)).events;
        QVERIFY2(std::any_of(events.begin(), events.end(),
                             [&](const CalendarEvent &e) {
                                 return e.id == saved.id && e.start_local == expected.draft.start_local &&
                                        e.recurring == !expected.draft.repeat.isEmpty();
                             }),
                 qPrintable(expected.text));
    }
    QCOMPARE(call("POST", QStringLiteral("/api/native/quick/parse"), object({{"text", "   "}, {"zone", madrid}})).status, 400);
    QuickDraft readOnly = quickCases().front().draft;
    readOnly.calendar_id = 4;
    QCOMPARE(call("POST", QStringLiteral("/api/native/quick"), encode(readOnly)).status, 403);
    QuickDraft everySecond = quickCases().front().draft;
    everySecond.repeat = QStringLiteral("FREQ=SECONDLY");
    QCOMPARE(call("POST", QStringLiteral("/api/native/quick"), encode(everySecond)).status, 422);
}

void ContractTest::badRequestsAreRefusedPlainly_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("contentType");
    QTest::addColumn<int>("status");
    const QByteArray huge(200'000, 'x');
    QTest::newRow("malformed event") << QByteArray("POST") << "/api/native/events" << QByteArray("{\"id\":") << "application/json" << 400;
    QTest::newRow("array for a sentence") << QByteArray("POST") << "/api/native/quick/parse" << QByteArray("[]") << "application/json" << 400;
    QTest::newRow("number for text") << QByteArray("POST") << "/api/native/quick/parse" << QByteArray("{\"text\":1,\"zone\":\"UTC\"}") << "application/json" << 400;
    QTest::newRow("huge body") << QByteArray("POST") << "/api/native/quick/parse" << huge << "application/json" << 413;
    QTest::newRow("form post to the API") << QByteArray("POST") << "/api/native/quick" << QByteArray("a=b") << "application/x-www-form-urlencoded" << 415;
    QTest::newRow("malformed challenge") << QByteArray("POST") << "/native/request" << QByteArray("{\"challenge\":\"abc\"}") << "application/json" << 400;
    QTest::newRow("malformed exchange") << QByteArray("POST") << "/native/exchange" << QByteArray("null") << "application/json" << 400;
    QTest::newRow("range backwards") << QByteArray("GET") << "/api/native/events?from=2025-03-02&to=2025-03-01&zone=UTC" << QByteArray() << "" << 400;
    QTest::newRow("range unreadable") << QByteArray("GET") << "/api/native/events?from=March&to=2025-03-01&zone=UTC" << QByteArray() << "" << 400;
    QTest::newRow("event id too large") << QByteArray("POST") << "/api/native/events/99999999999999999999" << QByteArray("{}") << "application/json" << 404;
    QTest::newRow("unknown path") << QByteArray("GET") << "/api/native/nothing" << QByteArray() << "" << 404;
}

void ContractTest::badRequestsAreRefusedPlainly()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(QString, contentType);
    signIn();
    const Answer answer = call(method.constData(), path, body, contentType);
    QTEST(answer.status, "status");
    QVERIFY(!answer.body.contains('{'));
    QVERIFY(!answer.body.contains(m_session->value.toUtf8()));
}

void ContractTest::sessionsEnd()
{
    signIn();
    QCOMPARE(call("GET", QStringLiteral("/api/native/session")).status, 200);
    const auto session = m_session;
    m_session = NativeSession{QStringLiteral("corvane_session"), challengeFor(QStringLiteral("unknown"))};
    QCOMPARE(call("GET", QStringLiteral("/api/native/session")).status, 401);
    m_session = session;
    QCOMPARE(call("POST", QStringLiteral("/signout"), {}).status, 204);
    QCOMPARE(call("GET", QStringLiteral("/api/native/session")).status, 401);

    signIn();
    m_secondsLater = 3600;
    QCOMPARE(call("GET", QStringLiteral("/api/native/events?from=2025-03-01&to=2025-03-02&zone=UTC")).status, 401);
}

QTEST_GUILESS_MAIN(ContractTest)
#include "contract_test.moc"
