#include "native_http.h"
#include "quick_cases.h"
#include "records.h"
#include "run_task.h"
#include "server.h"

#include <httplib.h>
#include <libical/ical.h>

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <functional>
#include <map>

namespace {
const QString madrid = QStringLiteral("Europe/Madrid");
const QString verifier = QStringLiteral("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk");

QString base64url(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString challengeFor(const QString &v) { return base64url(QCryptographicHash::hash(v.toUtf8(), QCryptographicHash::Sha256)); }

QByteArray object(const QJsonObject &members) { return QJsonDocument(members).toJson(QJsonDocument::Compact); }

CalendarEvent breakfast()
{
    return CalendarEvent{.calendar_id = 1, .title = QStringLiteral("Breakfast"),
                         .start_local = QStringLiteral("2025-03-30T09:00"), .end_local = QStringLiteral("2025-03-30T10:00"),
                         .tz = madrid};
}

CalendarEvent findEvent(const QList<CalendarEvent> &events, const std::function<bool(const CalendarEvent &)> &predicate)
{
    const auto found = std::find_if(events.begin(), events.end(), predicate);
    return found == events.end() ? CalendarEvent{} : *found;
}

struct Answer {
    int status = 0;
    QByteArray body;
    QString contentType;
};

// The approval page's one form, as a browser would read it.
struct ApprovalForm {
    QString code;
    std::map<QString, QString> hidden;
};

} // namespace

class ContractTest : public QObject {
    Q_OBJECT
    std::atomic<qint64> m_secondsLater{0};
    std::unique_ptr<DevServer> m_server;
    std::optional<NativeSession> m_session;

    // A browser on the server's pages; it takes the TLS test's own certificate.
    httplib::Client browser() const
    {
        httplib::Client client(m_server->origin().toStdString());
        client.enable_server_certificate_verification(false);
        return client;
    }

    ApprovalForm pageOf(const QString &id) const
    {
        const auto answer = browser().Get(("/native/start?id=" + id).toStdString());
        if (!answer || answer->status != 200)
            return {};
        const QString page = QString::fromStdString(answer->body);
        ApprovalForm form{QRegularExpression(QStringLiteral("id=\"code\">([^<]+)<")).match(page).captured(1), {}};
        auto hidden = QRegularExpression(QStringLiteral("<input type=\"hidden\" name=\"(\\w+)\" value=\"([^\"]*)\">")).globalMatch(page);
        while (hidden.hasNext()) {
            const auto m = hidden.next();
            form.hidden[m.captured(1)] = m.captured(2);
        }
        return form;
    }

    // Every API exchange goes through the client's own transport, as the app sends it.
    Answer call(const char *method, const QString &path, std::optional<QByteArray> body = {},
                const QString &contentType = QStringLiteral("application/json"))
    {
        const NativeResponse answer =
            runTask(NativeHTTP(QUrl(m_server->origin()), m_session).responseDetails(path, method, body, contentType));
        return {int(answer.status), answer.data, answer.header(u"content-type").value_or(QString())};
    }

    template <typename T>
    T fetch(const char *method, const QString &path, std::optional<QByteArray> body = {})
    {
        try {
            return runTask(NativeHTTP(QUrl(m_server->origin()), m_session).request<T>(path, method, body));
        } catch (...) {
            qFatal("%s %s failed: %s", method, qPrintable(path), qPrintable(describeError(std::current_exception())));
        }
    }

    QList<CalendarEvent> eventsIn(const QString &from, const QString &to, const QString &zone = madrid)
    {
        const QString query = QStringLiteral("/api/native/events?from=%1&to=%2&zone=%3");
        return fetch<CalendarEvents>("GET", query.arg(from, to, QString::fromLatin1(QUrl::toPercentEncoding(zone)))).events;
    }

    QString startSignIn()
    {
        const Answer answer = call("POST", QStringLiteral("/native/request"), object({{"challenge", challengeFor(verifier)}}));
        return QJsonDocument::fromJson(answer.body).object().value(QStringLiteral("id")).toString();
    }

    Answer exchange(const QString &id, const QString &v = verifier)
    {
        return call("POST", QStringLiteral("/native/exchange"), object({{"id", id}, {"verifier", v}}));
    }

    int submit(const ApprovalForm &form, const QString &decision, const QString &user, const QString &origin = {})
    {
        httplib::Params fields{{"decision", decision.toStdString()}, {"user", user.toStdString()}};
        for (const auto &[name, value] : form.hidden)
            fields.emplace(name.toStdString(), value.toStdString());
        const httplib::Headers headers{{"Origin", (origin.isEmpty() ? m_server->origin() : origin).toStdString()}};
        const auto result = browser().Post("/native/start", headers, fields);
        return result ? result->status : 0;
    }

    void signIn(const QString &user = QStringLiteral("1"))
    {
        m_session.reset();
        const QString id = startSignIn();
        submit(pageOf(id), QStringLiteral("approve"), user);
        NativeSession session;
        QVERIFY(decode(exchange(id).body, session));
        m_session = session;
    }

    void startServer(int seedEvents, std::chrono::milliseconds liveHeartbeat = std::chrono::seconds(15))
    {
        const Instant base = *dates::parseLocal(u"2025-03-20T10:00", false, madrid);
        m_secondsLater = 0;
        m_server.reset();
        m_server = std::make_unique<DevServer>(ServerOptions{.port = 0, .sessionLifetimeSeconds = 3600, .seedEvents = seedEvents,
                                                             .liveHeartbeat = liveHeartbeat, .now = [this, base] {
            return base + std::chrono::seconds(m_secondsLater.load());
        }});
        m_server->start();
        m_session.reset();
    }

private slots:
    void init() { startServer(0); }

    void cleanup() { m_server.reset(); }

    void signInThroughTheApprovalPage()
    {
        const QString id = startSignIn();
        QCOMPARE(id.size(), 43);
        QCOMPARE(base64url(QByteArray::fromBase64(id.toLatin1(), QByteArray::Base64UrlEncoding)), id);
        QCOMPARE(exchange(id).status, 202);

        const ApprovalForm form = pageOf(id);
        const QByteArray digest = QCryptographicHash::hash(id.toUtf8(), QCryptographicHash::Sha256);
        const QString hex = QString::fromLatin1(digest.left(4).toHex()).toUpper();
        QCOMPARE(form.code, hex.left(4) + QLatin1Char('-') + hex.mid(4));
        QCOMPARE(submit(form, QStringLiteral("approve"), QStringLiteral("2")), 200);

        QCOMPARE(exchange(id, QString(verifier).replace(0, 1, QLatin1Char('e'))).status, 400);
        const Answer granted = exchange(id);
        QCOMPARE(granted.status, 200);
        NativeSession session;
        QVERIFY(decode(granted.body, session));
        QCOMPARE(session.name, QStringLiteral("corvane_session"));
        QCOMPARE(session.value.size(), 43);
        QCOMPARE(exchange(id).status, 410);

        m_session = session;
        const auto calendarSession = fetch<CalendarSession>("GET", QStringLiteral("/api/native/session"));
        QCOMPARE(calendarSession.calendars.size(), 4);
        QCOMPARE(calendarSession.calendars.last().writable, false);
        QCOMPARE(calendarSession.default_calendar_id, calendarSession.calendars.first().id);
    }

    void signInRefusals_data()
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

    void signInRefusals()
    {
        QFETCH(QString, decision);
        QFETCH(QString, origin);
        QFETCH(bool, forgedToken);
        QFETCH(qint64, wait);
        const QString id = startSignIn();
        ApprovalForm form = pageOf(id);
        if (forgedToken)
            form.hidden[QStringLiteral("csrf")] = challengeFor(QStringLiteral("guess"));
        m_secondsLater = wait;
        QTEST(submit(form, decision, QStringLiteral("1"), origin), "formStatus");
        QTEST(exchange(id).status, "exchangeStatus");
    }

    // The grid's weeks (Monday first) across the Madrid clock change, with a busy month seeded in:
    // each event once, in range, in order, at its own wall time, varied as a busy team's are.
    void eventsAcrossTheClockChange()
    {
        const QString from = QStringLiteral("2025-02-24"), to = QStringLiteral("2025-04-07");
        signIn();
        const qsizetype demo = eventsIn(from, to).size();
        startServer(400);
        signIn();
        const auto events = eventsIn(from, to);
        QCOMPARE(events.size(), demo + 400);
        const qint64 start = secondsSinceEpoch(*dates::parseLocal(from, true, madrid));
        const qint64 end = secondsSinceEpoch(*dates::parseLocal(to, true, madrid));
        QSet<QString> identities, statuses, zones;
        QStringList maintenance;
        for (qsizetype i = 0; i < events.size(); ++i) {
            const CalendarEvent &e = events[i];
            QVERIFY2(e.all_day ? e.day_start < to && e.day_end > from : e.start < end && e.end > start, qPrintable(e.identity()));
            QVERIFY(e.all_day == !e.day_start.isEmpty());
            QVERIFY(!e.recurring || !e.occurrence.isEmpty());
            QVERIFY(i == 0 || events[i - 1].start <= e.start);
            identities.insert(e.identity());
            statuses.insert(e.status);
            zones.insert(e.tz);
            if (!e.all_day)
                QCOMPARE(dates::formatLocal(instantFromSeconds(e.start), false, e.tz), e.start_local);
            if (e.title == QLatin1String("Server maintenance"))
                maintenance << e.start_local + QLatin1Char('@') + QString::number(e.start);
        }
        QCOMPARE(identities.size(), events.size());
        QCOMPARE(statuses.size(), 3);
        QVERIFY(zones.size() >= 4);

        // The weekly 02:30 job keeps its wall-clock time; on 30 March 02:30 does not exist in Madrid.
        QCOMPARE(maintenance, (QStringList{"2025-03-16T02:30@1742088600", "2025-03-23T02:30@1742693400",
                                           "2025-03-30T03:00@1743296400", "2025-04-06T02:30@1743899400"}));
    }

    void createAndUpdate()
    {
        signIn();
        const auto listed = [&](qint64 id) {
            return findEvent(eventsIn(QStringLiteral("2025-03-24"), QStringLiteral("2025-04-07"), QStringLiteral("America/New_York")),
                             [id](const CalendarEvent &e) { return e.id == id; });
        };
        CalendarEvent event = breakfast();
        const auto created = fetch<SavedEvent>("POST", QStringLiteral("/api/native/events"), encode(event));
        QVERIFY(!created.warning);
        CalendarEvent stored = listed(created.id);
        QCOMPARE(stored.start, qint64(1743318000)); // 07:00 UTC: Madrid is already on summer time

        stored.title = QStringLiteral("Brunch");
        stored.start_local = QStringLiteral("2025-03-30T11:00");
        stored.end_local = QStringLiteral("2025-03-30T12:30");
        stored.status = QStringLiteral("tentative");
        QVERIFY(!fetch<SavedEvent>("POST", QStringLiteral("/api/native/events/%1").arg(created.id), encode(stored)).warning);
        const CalendarEvent changed = listed(created.id);
        QCOMPARE(changed.title, QStringLiteral("Brunch"));
        QCOMPARE(changed.end - changed.start, qint64(5400));
        QCOMPARE(changed.status, QStringLiteral("tentative"));

        // Moving one occurrence of a series moves the whole series by the same wall-clock shift.
        CalendarEvent planning = findEvent(eventsIn(QStringLiteral("2025-03-24"), QStringLiteral("2025-03-25")),
                                           [](const CalendarEvent &e) { return e.title == QLatin1String("Weekly planning"); });
        planning.start_local = QStringLiteral("2025-03-24T11:00");
        planning.end_local = QStringLiteral("2025-03-24T12:00");
        QVERIFY(fetch<SavedEvent>("POST", QStringLiteral("/api/native/events/%1").arg(planning.id), encode(planning)).warning);
        QCOMPARE(listed(planning.id).start_local, QStringLiteral("2025-03-24T11:00"));

        // A local time that happens twice is accepted with a warning.
        event.start_local = QStringLiteral("2025-10-26T02:30");
        event.end_local = QStringLiteral("2025-10-26T03:30");
        QVERIFY(fetch<SavedEvent>("POST", QStringLiteral("/api/native/events"), encode(event)).warning);

        // Times whose neighbouring hours fall outside the calendar (or its reform) are saved or refused
        // cleanly, and listing the week before year 10000 stops the seeded series there.
        for (const auto &[start, tz, mustSave] : {std::tuple("9999-12-31T23:30", "UTC", true),
                                                  std::tuple("1500-03-01T00:30", "UTC", true), // after a Julian leap day
                                                  std::tuple("1582-10-10T00:00", "Europe/Madrid", false)}) {
            event.start_local = QString::fromLatin1(start);
            event.end_local = event.start_local.left(11) + QStringLiteral("23:59");
            event.tz = QString::fromLatin1(tz);
            const Answer saved = call("POST", QStringLiteral("/api/native/events"), encode(event));
            QVERIFY2(saved.status == 200 || (!mustSave && saved.status == 422), saved.body.constData());
        }
        QCOMPARE(call("GET", QStringLiteral("/api/native/events?from=9999-12-24&to=9999-12-31&zone=UTC")).status, 200);
    }

    void quickParseAndSave_data()
    {
        QTest::addColumn<QuickCase>("expected");
        for (const QuickCase &c : quickCases())
            QTest::newRow(qPrintable(c.text)) << c;
    }

    // Each sentence typed at the cases' moment: its whole preview, then the saved event in the listing.
    void quickParseAndSave()
    {
        QFETCH(QuickCase, expected);
        m_secondsLater = secondsSinceEpoch(quickNow()) - secondsSinceEpoch(*dates::parseLocal(u"2025-03-20T10:00", false, madrid));
        signIn();
        const auto preview = fetch<QuickPreview>("POST", QStringLiteral("/api/native/quick/parse"),
                                                 object({{"text", expected.text}, {"zone", madrid}}));
        QCOMPARE(preview.draft, expected.draft);
        QCOMPARE(preview.when, expected.when);
        QCOMPARE(preview.assumptions, expected.assumptions);
        QCOMPARE(preview.calendar_name, expected.draft.calendar_id == 3 ? QStringLiteral("Travel") : QStringLiteral("Team"));
        QCOMPARE(preview.repeat_label.isEmpty(), expected.draft.repeat.isEmpty());
        const auto saved = fetch<SavedEvent>("POST", QStringLiteral("/api/native/quick"), encode(preview.draft));
        const QString day = preview.draft.start_local.left(10);
        const QString next = dates::formatLocal(*dates::parseLocal(day, true, madrid) + std::chrono::hours(36), true, madrid);
        const CalendarEvent e = findEvent(eventsIn(day, next), [&](const CalendarEvent &c) { return c.id == saved.id; });
        QCOMPARE(e.start_local, expected.draft.start_local);
        QCOMPARE(e.recurring, !expected.draft.repeat.isEmpty());
    }

    void badRequestsAreRefusedPlainly_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("contentType");
        QTest::addColumn<int>("status");
        const auto row = [](const char *name, const char *method, const char *path, const QByteArray &body, int status,
                            const char *contentType = "application/json") {
            QTest::newRow(name) << QByteArray(method) << QString::fromUtf8(path) << body << QString::fromUtf8(contentType) << status;
        };
        const auto save = [&](const char *name, const char *member, const QJsonValue &value, int status) {
            QJsonObject event = QJsonDocument::fromJson(encode(breakfast())).object();
            event.insert(QString::fromUtf8(member), value);
            row(name, "POST", "/api/native/events", QJsonDocument(event).toJson(), status);
        };
        save("unknown calendar", "calendar_id", 99, 422);
        save("read-only calendar", "calendar_id", 4, 403);
        save("unreadable start", "start_local", "2025-03-30 09:00", 422);
        save("skipped start", "start_local", "2025-03-30T02:30", 422);
        save("end before start", "end_local", "2025-03-30T08:59", 422);
        save("unknown zone", "tz", "Mars/Olympus", 422);
        save("start in the year 0", "start_local", "0000-06-01T09:00", 422);
        save("unknown status", "status", "maybe", 422);
        save("blank title", "title", "  ", 422);
        save("new event with an id", "id", 5, 422);
        save("wrong type", "all_day", "no", 400);
        QuickDraft readOnly = quickCases().front().draft, everySecond = readOnly;
        readOnly.calendar_id = 4;
        everySecond.repeat = QStringLiteral("FREQ=SECONDLY");
        row("quick add to a read-only calendar", "POST", "/api/native/quick", encode(readOnly), 403);
        row("quick add with a rule it never gives", "POST", "/api/native/quick", encode(everySecond), 422);
        const auto parse = [&](const char *name, const QString &text, int status) {
            row(name, "POST", "/api/native/quick/parse", object({{"text", text}, {"zone", madrid}}), status);
        };
        parse("blank sentence", " \t\n ", 400);
        parse("sentence without a title", "tomorrow at 5pm", 422);
        parse("punctuation only", "?!", 422);
        parse("no such day", "Meeting on 2/30", 422);
        parse("no such hour", "Meeting at 13pm", 422);
        parse("sentence too far away", "Meeting 12/31/9999 for 2 days", 422);
        parse("sentence one past 500 characters", QString(501, QLatin1Char('a')), 413);
        row("malformed event", "POST", "/api/native/events", "{\"id\":", 400);
        row("number for text", "POST", "/api/native/quick/parse", "{\"text\":1,\"zone\":\"UTC\"}", 400);
        row("huge body", "POST", "/api/native/quick/parse", QByteArray(200'000, 'x'), 413);
        row("form post to the API", "POST", "/api/native/quick", "a=b", 415, "application/x-www-form-urlencoded");
        row("malformed challenge", "POST", "/native/request", "{\"challenge\":\"abc\"}", 400);
        row("malformed exchange", "POST", "/native/exchange", "null", 400);
        row("range backwards", "GET", "/api/native/events?from=2025-03-02&to=2025-03-01&zone=UTC", {}, 400);
        row("range unreadable", "GET", "/api/native/events?from=March&to=2025-03-01&zone=UTC", {}, 400);
        row("range in the year 0", "GET", "/api/native/events?from=0000-03-01&to=0000-03-02&zone=UTC", {}, 422);
        row("NUL in the zone", "GET", "/api/native/events?from=2025-03-01&to=2025-03-02&zone=Europe%2FMadrid%00x", {}, 400);
        row("tab in the zone", "GET", "/api/native/events?from=2025-03-01&to=2025-03-02&zone=UTC%09", {}, 400);
        row("event id too large", "POST", "/api/native/events/99999999999999999999", "{}", 404);
        row("unknown path", "GET", "/api/native/nothing", {}, 404);
    }

    void badRequestsAreRefusedPlainly()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(QString, contentType);
        signIn();
        const Answer answer = call(method.constData(), path, body, contentType);
        QTEST(answer.status, "status");
        QVERIFY(answer.contentType.startsWith(QLatin1String("text/plain")));
        QVERIFY(!answer.body.isEmpty() && !answer.body.contains('{'));
        QVERIFY(!answer.body.contains(m_session->value.toUtf8()));
    }

    // Raw connections: the answer's start and how soon the server has answered and closed.
    void misbehavingConnectionsAreClosed_data()
    {
        QTest::addColumn<int>("silent"); // connections opened first that never send anything
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("gapMs"); // between single bytes; 0 sends the request at once
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("withinMs");
        const QByteArray get = "GET / HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n";
        QTest::newRow("request behind 64 silent connections") << 64 << get << 0 << QByteArray("HTTP/1.1 200") << 1000;
        QTest::newRow("negative Content-Length")
            << 0 << QByteArray("POST /native/request HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/json\r\n"
                               "Content-Length: -5\r\n\r\n")
            << 0 << QByteArray("HTTP/1.1 400") << 1000;
        QTest::newRow("head never finished") << 0 << QByteArray("GET / HTTP/1.1\r\nHost: localhost\r\n") << 0
                                             << QByteArray("HTTP/1.1 400") << 3000;
        QTest::newRow("head trickled") << 0 << get << 150 << QByteArray() << 3000;
    }

    void misbehavingConnectionsAreClosed()
    {
        QFETCH(int, silent);
        QFETCH(QByteArray, request);
        QFETCH(int, gapMs);
        QFETCH(QByteArray, answer);
        QFETCH(int, withinMs);
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < silent; ++i) {
            idle.push_back(std::make_unique<QTcpSocket>());
            idle.back()->connectToHost(QHostAddress::LocalHost, quint16(m_server->port()));
            QVERIFY(idle.back()->waitForConnected(2000));
        }
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, quint16(m_server->port()));
        QVERIFY(client.waitForConnected(2000));
        QElapsedTimer clock;
        clock.start();
        qsizetype sent = 0;
        QByteArray received;
        while (client.state() == QAbstractSocket::ConnectedState && clock.elapsed() < withinMs + 2000) {
            const qsizetype due = gapMs == 0 ? request.size() : std::min(request.size(), clock.elapsed() / gapMs + 1);
            if (sent < due) {
                client.write(request.mid(sent, due - sent));
                client.flush();
                sent = due;
            }
            client.waitForReadyRead(20);
            received += client.readAll();
        }
        QVERIFY2(clock.elapsed() < withinMs, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(received.startsWith(answer), received.constData());
    }

    // The server picks the encoding: gzip when it is accepted, never the library's slow brotli.
    void answersAreGzippedOnlyWhenAccepted_data()
    {
        QTest::addColumn<QByteArray>("accept");
        QTest::addColumn<QByteArray>("encoding");
        QTest::newRow("browser's list") << QByteArray("gzip, deflate, br") << QByteArray("gzip");
        QTest::newRow("anything") << QByteArray("*") << QByteArray("gzip");
        QTest::newRow("brotli only") << QByteArray("br") << QByteArray();
        QTest::newRow("gzip refused") << QByteArray("br, gzip;q=0, *") << QByteArray();
    }

    void answersAreGzippedOnlyWhenAccepted()
    {
        QFETCH(QByteArray, accept);
        QFETCH(QByteArray, encoding);
        signIn();
        const QString path = QStringLiteral("/api/native/events?from=2025-02-24&to=2025-04-07&zone=UTC");
        const QByteArray plain = call("GET", path).body;
        QVERIFY(plain.size() > 4096);
        const httplib::Headers headers{{"Accept-Encoding", accept.toStdString()},
                                       {"Cookie", (m_session->name + QLatin1Char('=') + m_session->value).toStdString()}};
        const auto answer = browser().Get(path.toStdString(), headers); // the client inflates gzip itself
        QVERIFY(answer && answer->status == 200);
        QCOMPARE(QByteArray::fromStdString(answer->get_header_value("Content-Encoding")), encoding);
        QCOMPARE(QByteArray::fromStdString(answer->body), plain);
    }

    void sessionsEnd()
    {
        signIn();
        QCOMPARE(call("GET", QStringLiteral("/api/native/session")).status, 200);
        const auto session = m_session;
        m_session = NativeSession{QStringLiteral("corvane_session"), challengeFor(QStringLiteral("unknown"))};
        QCOMPARE(call("GET", QStringLiteral("/api/native/session")).status, 401);
        m_session = session;
        QCOMPARE(call("POST", QStringLiteral("/signout"), QByteArray()).status, 204);
        QCOMPARE(call("GET", QStringLiteral("/api/native/session")).status, 401);

        signIn();
        m_secondsLater = 3600;
        QCOMPARE(call("GET", QStringLiteral("/api/native/events?from=2025-03-01&to=2025-03-02&zone=UTC")).status, 401);
    }

    // Saves by anyone in a calendar the person sees arrive as one event each; saves elsewhere do not;
    // a quiet stream sends a comment line within its heartbeat.
    void liveStreamAnnouncesChangesToTheirCalendars()
    {
        startServer(0, std::chrono::milliseconds(300));
        signIn(QStringLiteral("4")); // Dev does not see Travel (3)
        const NativeHTTP viewer(QUrl(m_server->origin()), m_session);
        signIn(QStringLiteral("1"));
        const NativeHTTP writer(QUrl(m_server->origin()), m_session);
        qint64 teamEvent = 0;
        const auto saves = [&]() -> QCoro::Task<> {
            CalendarEvent event = breakfast();
            for (qint64 calendar : {3, 1}) {
                event.calendar_id = calendar;
                teamEvent = (co_await writer.request<SavedEvent>(QStringLiteral("/api/native/events"), "POST", encode(event))).id;
            }
            event.id = teamEvent;
            event.title = QStringLiteral("Brunch");
            co_await writer.request<SavedEvent>(QStringLiteral("/api/native/events/%1").arg(teamEvent), "POST", encode(event));
        };
        QStringList events;
        int comments = 0;
        std::stop_source stop;
        const std::exception_ptr ended = taskFailure(viewer.stream(
            QStringLiteral("/api/native/stream"), saves,
            [&](QString line) -> QCoro::Task<> {
                if (line.startsWith(u':'))
                    ++comments;
                else
                    events << line;
                if (events.size() == 4 && comments > 0)
                    stop.request_stop();
                co_return;
            },
            stop.get_token()));
        QVERIFY(ended);
        QCOMPARE(describeError(ended), CancellationError().description());
        const QString data = QStringLiteral(R"(data: {"calendar_id":1,"event_id":%1,"change":"%2"})");
        QCOMPARE(events, (QStringList{data.arg(teamEvent).arg("created"), "", data.arg(teamEvent).arg("updated"), ""}));
    }

    // The export leaves out calendars the person does not see, and the file's own VTIMEZONEs place each
    // timed event at its listed instant (titles and wall times are checked in the end-to-end test).
    void exportPlacesEventsByTheirOwnZones()
    {
        signIn(QStringLiteral("4"));
        fetch<SavedEvent>("POST", QStringLiteral("/api/native/events"), encode(breakfast()));
        QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("calendar.ics"));
        runTask(NativeHTTP(QUrl(m_server->origin()), m_session)
                    .download(QStringLiteral("/api/native/export.ics"), QUrl::fromLocalFile(file)));
        QFile saved(file);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        std::unique_ptr<icalcomponent, decltype(&icalcomponent_free)> calendar(
            icalparser_parse_string(saved.readAll().constData()), icalcomponent_free);
        QVERIFY(calendar);
        std::map<qint64, icalcomponent *> exported;
        for (icalcomponent *e = icalcomponent_get_first_component(calendar.get(), ICAL_VEVENT_COMPONENT); e;
             e = icalcomponent_get_next_component(calendar.get(), ICAL_VEVENT_COMPONENT)) {
            QVERIFY(QByteArray(icalcomponent_get_summary(e)) != "Flight MAD → JFK"); // Travel
            exported[QByteArray(icalcomponent_get_uid(e)).split('@').front().toLongLong()] = e;
        }
        int placed = 0;
        for (const CalendarEvent &listed : eventsIn(QStringLiteral("2025-02-24"), QStringLiteral("2025-04-07"))) {
            QVERIFY2(exported[listed.id], qPrintable(listed.title));
            if (listed.recurring || listed.all_day)
                continue; // a series is exported from its first occurrence
            icalproperty *dtstart = icalcomponent_get_first_property(exported[listed.id], ICAL_DTSTART_PROPERTY);
            icalparameter *tzid = icalproperty_get_first_parameter(dtstart, ICAL_TZID_PARAMETER);
            icaltimezone *zone = tzid ? icalcomponent_get_timezone(calendar.get(), icalparameter_get_tzid(tzid))
                                      : icaltimezone_get_utc_timezone();
            QVERIFY2(zone, qPrintable(listed.tz));
            QCOMPARE(qint64(icaltime_as_timet_with_zone(icalproperty_get_dtstart(dtstart), zone)), listed.start);
            ++placed;
        }
        QVERIFY(placed > 5);
    }

    void executablePrintsItsOriginAndStopsOnSignal_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }

    void executablePrintsItsOriginAndStopsOnSignal()
    {
        QFETCH(int, signal);
        QTemporaryDir dir;
        QProcess server;
        server.start(QStringLiteral(TEODAL_DEVSERVER), {"--port", "0", "--database", dir.filePath(QStringLiteral("db.sqlite"))});
        QVERIFY(server.waitForReadyRead(10'000));
        const QString origin = QString::fromUtf8(server.readLine()).trimmed();
        const auto match = QRegularExpression(QStringLiteral("^http://localhost:(\\d+)$")).match(origin);
        QVERIFY2(match.hasMatch(), qPrintable(origin));
        const auto home = httplib::Client("localhost", match.captured(1).toInt()).Get("/");
        QVERIFY(home && home->status == 200);

        ::kill(pid_t(server.processId()), signal);
        QVERIFY(server.waitForFinished(5'000));
        QCOMPARE(server.exitStatus(), QProcess::NormalExit);
        QCOMPARE(server.exitCode(), 0);
    }

    void executableRefusesBadArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("port by name") << QStringList{"--port", "http"};
        QTest::newRow("negative seeded events") << QStringList{"--seed-events", "-1"};
    }

    void executableRefusesBadArguments()
    {
        QFETCH(QStringList, arguments);
        QProcess server;
        server.start(QStringLiteral(TEODAL_DEVSERVER), arguments + QStringList{"--database", ":memory:"});
        QVERIFY(server.waitForFinished(5'000));
        QCOMPARE(server.exitCode(), 2);
    }

    // Over TLS the session cookie carries the __Host- prefix, and only that name opens a session.
    void tlsSessionUsesTheHostCookie()
    {
        QTemporaryDir dir;
        const QString key = dir.filePath(QStringLiteral("key.pem")), certificate = dir.filePath(QStringLiteral("cert.pem"));
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"), {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                                                  "-days", "1", "-subj", "/CN=localhost", "-keyout", key, "-out", certificate});
        QVERIFY(openssl.waitForFinished(30'000) && openssl.exitCode() == 0);
        m_server = std::make_unique<DevServer>(ServerOptions{.port = 0, .tlsCertificate = certificate, .tlsKey = key});
        m_server->start();
        QVERIFY(m_server->origin().startsWith(QLatin1String("https://localhost:")));

        const httplib::Headers origin{{"Origin", m_server->origin().toStdString()}};
        const auto post = [&](const char *path, const QJsonObject &body) {
            const auto answer = browser().Post(path, origin, object(body).toStdString(), "application/json");
            return answer ? QJsonDocument::fromJson(QByteArray::fromStdString(answer->body)).object() : QJsonObject();
        };
        const QString id = post("/native/request", {{"challenge", challengeFor(verifier)}}).value("id").toString();
        QCOMPARE(submit(pageOf(id), QStringLiteral("approve"), QStringLiteral("3")), 200);
        const QJsonObject session = post("/native/exchange", {{"id", id}, {"verifier", verifier}});
        QCOMPARE(session.value("name").toString(), QStringLiteral("__Host-corvane_session"));
        for (const auto &[name, status] : {std::pair("__Host-corvane_session", 200), std::pair("corvane_session", 401)}) {
            httplib::Headers headers = origin;
            headers.emplace("Cookie", name + ("=" + session.value("value").toString().toStdString()));
            const auto answer = browser().Get("/api/native/session", headers);
            QCOMPARE(answer ? answer->status : 0, status);
        }
    }
};

QTEST_GUILESS_MAIN(ContractTest)
#include "contract_test.moc"
