#include "server.h"

#include "calendar_export.h"
#include "calendar_service.h"
#include "connections.h"
#include "live_changes.h"
#include "quick_add.h"
#include "seed.h"
#include "sign_in.h"
#include "store.h"

#include <httplib.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <zlib.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

namespace {
constexpr std::size_t largestBody = 64 * 1024;  // events and sentences are small; refuse the rest
constexpr qint64 mostPendingSignIns = 10'000;   // bounds what anonymous requests can store
// Answers shorter than about one packet go out as they are: compressing them saves no round trip.
constexpr std::size_t smallestCompressed = 1400;

const char *const plain = "text/plain; charset=utf-8";
const char *const html = "text/html; charset=utf-8";
const char *const json = "application/json";

void fail(httplib::Response &res, int status, const QString &message)
{
    res.status = status;
    res.set_content(message.toStdString() + "\n", plain);
}

void answerJson(httplib::Response &res, const QByteArray &body, int status = 200)
{
    res.status = status;
    res.set_content(body.constData(), std::size_t(body.size()), json);
}

void answerPage(httplib::Response &res, const QByteArray &body, int status = 200)
{
    res.status = status;
    res.set_header("Content-Security-Policy",
                   "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; frame-ancestors 'none'");
    res.set_header("X-Frame-Options", "DENY");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_content(body.constData(), std::size_t(body.size()), html);
}

// Whether Accept-Encoding names gzip (or "*") with a weight above zero.
bool acceptsGzip(const httplib::Request &req)
{
    std::optional<bool> gzip, any;
    for (const QByteArray &item : QByteArray::fromStdString(req.get_header_value("Accept-Encoding")).split(',')) {
        const QList<QByteArray> parts = item.split(';');
        const QByteArray coding = parts.front().trimmed().toLower();
        bool accepted = true;
        for (qsizetype i = 1; i < parts.size(); ++i) {
            const QByteArray parameter = parts[i].trimmed().toLower();
            if (parameter.startsWith("q="))
                accepted = parameter.mid(2).toDouble() > 0;
        }
        if (coding == "gzip" || coding == "x-gzip")
            gzip = accepted;
        else if (coding == "*")
            any = accepted;
    }
    return gzip.value_or(any.value_or(false));
}

// gzip at zlib's fastest level: the events answer of a busy month (3.7 MB of repetitive JSON)
// shrinks 26 times in about 30 ms; the default level saves a fifth more in about 50 ms.
std::optional<std::string> gzipped(const std::string &data)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return std::nullopt;
    std::string out(deflateBound(&stream, uLong(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return result == Z_STREAM_END ? std::optional(std::move(out)) : std::nullopt;
}

// Sends the answer's body as the server chooses: gzip for a client that accepts it, else as it is.
// The library would otherwise compress every body itself by the client's first choice, which for
// most clients is brotli at its slowest setting: 7 to 14 s of CPU for the 3.7 MB events answer of
// a month with 10,000 events. A body handed over as a sized provider goes out untouched.
void finishBody(const httplib::Request &req, httplib::Response &res)
{
    if (res.body.empty())
        return;
    auto body = std::make_shared<std::string>(std::move(res.body));
    res.body.clear();
    if (body->size() >= smallestCompressed) {
        res.set_header("Vary", "Accept-Encoding");
        if (acceptsGzip(req))
            if (auto packed = gzipped(*body)) {
                *body = std::move(*packed);
                res.set_header("Content-Encoding", "gzip");
            }
    }
    const std::string type = res.get_header_value("Content-Type");
    res.headers.erase("Content-Type");
    res.set_content_provider(body->size(), type, [body](std::size_t offset, std::size_t length, httplib::DataSink &sink) {
        return sink.write(body->data() + offset, length);
    });
}

QString header(const httplib::Request &req, const char *name)
{
    return QString::fromStdString(req.get_header_value(name));
}

QString param(const httplib::Request &req, const char *name)
{
    return req.has_param(name) ? QString::fromStdString(req.get_param_value(name)) : QString();
}

QByteArray body(const httplib::Request &req) { return QByteArray(req.body.data(), qsizetype(req.body.size())); }

// A JSON object body, or nullopt for anything else.
std::optional<QJsonObject> objectBody(const httplib::Request &req)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body(req), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

std::optional<QString> stringMember(const QJsonObject &object, const char *name)
{
    const QJsonValue value = object.value(QLatin1String(name));
    return value.isString() ? std::optional(value.toString()) : std::nullopt;
}

QByteArray sessionJson(const CalendarSession &session)
{
    QJsonArray calendars;
    for (const auto &c : session.calendars)
        calendars.append(QJsonObject{{QStringLiteral("id"), c.id},
                                     {QStringLiteral("name"), c.name},
                                     {QStringLiteral("hue"), c.hue},
                                     {QStringLiteral("writable"), c.writable}});
    return QJsonDocument(QJsonObject{{QStringLiteral("week_start"), session.week_start},
                                     {QStringLiteral("zone"), session.zone},
                                     {QStringLiteral("calendars"), calendars},
                                     {QStringLiteral("default_calendar_id"), session.default_calendar_id}})
        .toJson(QJsonDocument::Compact);
}

QByteArray eventsJson(const CalendarEvents &events)
{
    // Written into one buffer sized for a typical row: a busy month's answer is a few megabytes,
    // and joining pieces afterwards copied it twice.
    QByteArray json = QByteArrayLiteral("{\"events\":[");
    json.reserve(16 + events.events.size() * 400);
    for (const CalendarEvent &event : events.events) {
        if (&event != &events.events.constFirst())
            json.append(',');
        json.append(encode(event));
    }
    return json.append("]}");
}

QByteArray savedJson(const SavedEvent &saved)
{
    QJsonObject object{{QStringLiteral("id"), saved.id}};
    if (saved.warning)
        object.insert(QStringLiteral("warning"), *saved.warning);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray previewJson(const QuickPreview &preview)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("draft"), QJsonDocument::fromJson(encode(preview.draft)).object()},
                                     {QStringLiteral("when"), preview.when},
                                     {QStringLiteral("repeat_label"), preview.repeat_label},
                                     {QStringLiteral("calendar_name"), preview.calendar_name},
                                     {QStringLiteral("assumptions"), QJsonArray::fromStringList(preview.assumptions)}})
        .toJson(QJsonDocument::Compact);
}
} // namespace

struct DevServer::State {
    ServerOptions options;
    std::mutex lock; // one request at a time touches the store and the date services
    Store store;
    CalendarService calendar{store};
    LiveChanges live;
    // The last events answer: a client reloads the same range far more often than anyone writes,
    // and listing a busy month costs about a tenth of a second.
    struct EventsAnswer {
        qint64 revision = 0;
        qint64 userId = 0;
        QString from, to, zone;
        QByteArray json;
    };
    std::optional<EventsAnswer> lastEvents;
    std::unique_ptr<httplib::Server> http;
    std::thread thread;
    int port = 0;

    explicit State(ServerOptions o) : options(std::move(o)), store(options.database) {}

    qint64 now() const { return secondsSinceEpoch(options.now()); }
    bool tls() const { return !options.tlsCertificate.isEmpty(); }
    QString cookieName() const
    {
        return tls() ? QStringLiteral("__Host-corvane_session") : QStringLiteral("corvane_session");
    }

    // The origin a browser or the app names in "Origin" when it talks to this server via `Host`.
    QString ownOrigin(const httplib::Request &req) const
    {
        return (tls() ? QStringLiteral("https://") : QStringLiteral("http://")) + header(req, "Host");
    }

    // Requests from another site's page are refused; the app always names this origin.
    bool foreignOrigin(const httplib::Request &req) const
    {
        return req.has_header("Origin") && header(req, "Origin") != ownOrigin(req);
    }

    std::optional<QString> sessionToken(const httplib::Request &req) const
    {
        for (const QString &cookie : header(req, "Cookie").split(QLatin1Char(';'))) {
            const QString pair = cookie.trimmed();
            const qsizetype equals = pair.indexOf(QLatin1Char('='));
            if (equals > 0 && pair.left(equals) == cookieName() && signin::validToken(pair.mid(equals + 1)))
                return pair.mid(equals + 1);
        }
        return std::nullopt;
    }

    std::optional<StoredUser> signedInUser(const httplib::Request &req) const
    {
        const auto token = sessionToken(req);
        if (!token)
            return std::nullopt;
        const auto userId = store.sessionUser(signin::tokenHash(*token), now());
        return userId ? store.user(*userId) : std::nullopt;
    }

    void routes();
    void signInRoutes();
    void calendarRoutes();
    void liveAndExportRoutes();
    // Tells the open event streams that this saved event changed.
    void announce(const SavedEvent &saved, bool created);

    using Handler = std::function<void(const httplib::Request &, httplib::Response &)>;
    using UserHandler = std::function<void(const StoredUser &, const httplib::Request &, httplib::Response &)>;
    Handler serialised(Handler handler);
    Handler signedIn(UserHandler handler, bool jsonBody);
};

DevServer::State::Handler DevServer::State::serialised(Handler handler)
{
    return [this, handler = std::move(handler)](const httplib::Request &req, httplib::Response &res) {
        {
            std::lock_guard guard(lock);
            try {
                handler(req, res);
            } catch (const Refused &refused) {
                fail(res, refused.status(), refused.message());
            }
        }
        finishBody(req, res);
    };
}

DevServer::State::Handler DevServer::State::signedIn(UserHandler handler, bool jsonBody)
{
    return serialised([this, handler = std::move(handler), jsonBody](const httplib::Request &req, httplib::Response &res) {
        if (foreignOrigin(req))
            return fail(res, 403, QStringLiteral("Requests from other sites are not accepted."));
        if (jsonBody && !header(req, "Content-Type").startsWith(QLatin1String("application/json")))
            return fail(res, 415, QStringLiteral("Send JSON."));
        const auto user = signedInUser(req);
        if (!user)
            return fail(res, 401, QStringLiteral("Sign in again."));
        handler(*user, req, res);
    });
}

void DevServer::State::signInRoutes()
{
    http->Post("/native/request", serialised([this](const httplib::Request &req, httplib::Response &res) {
        if (foreignOrigin(req))
            return fail(res, 403, QStringLiteral("Requests from other sites are not accepted."));
        const auto object = objectBody(req);
        const auto challenge = object ? stringMember(*object, "challenge") : std::nullopt;
        if (!challenge || !signin::validToken(*challenge))
            return fail(res, 400, QStringLiteral("Send a challenge: 43 characters of Base64url."));
        store.purge(now() - signin::requestLifetimeSeconds, now());
        if (store.pendingSignIns() >= mostPendingSignIns)
            return fail(res, 429, QStringLiteral("Too many sign-ins are waiting. Try again in a few minutes."));
        SignInRequest request{signin::randomToken(), *challenge, signin::randomToken(), now(), SignInState::Pending, 0};
        store.addSignIn(request);
        answerJson(res, QJsonDocument(QJsonObject{{QStringLiteral("id"), request.id}}).toJson(QJsonDocument::Compact));
    }));

    http->Get("/native/start", serialised([this](const httplib::Request &req, httplib::Response &res) {
        const QString id = param(req, "id");
        const auto request = signin::validToken(id) ? store.signIn(id) : std::nullopt;
        if (!request || request->createdAt + signin::requestLifetimeSeconds <= now())
            return answerPage(res,
                              signin::messagePage(QStringLiteral("Link expired"),
                                                  QStringLiteral("This sign-in link has expired or is not valid. "
                                                                 "Start again from Teodal Calendar.")),
                              404);
        if (request->state != SignInState::Pending)
            return answerPage(res, signin::messagePage(QStringLiteral("Already answered"),
                                                       QStringLiteral("This sign-in was already approved or denied.")),
                              409);
        answerPage(res, signin::approvalPage(request->id, request->csrf, store.users()));
    }));

    http->Post("/native/start", serialised([this](const httplib::Request &req, httplib::Response &res) {
        const QString fetchSite = header(req, "Sec-Fetch-Site");
        if (foreignOrigin(req) || header(req, "Origin") == QLatin1String("null") ||
            (!fetchSite.isEmpty() && fetchSite != QLatin1String("same-origin") && fetchSite != QLatin1String("none")))
            return answerPage(res, signin::messagePage(QStringLiteral("Not allowed"),
                                                       QStringLiteral("Approve sign-ins on this server’s own page.")),
                              403);
        const QString id = param(req, "id");
        const auto request = signin::validToken(id) ? store.signIn(id) : std::nullopt;
        if (!request || request->createdAt + signin::requestLifetimeSeconds <= now() ||
            request->state != SignInState::Pending)
            return answerPage(res, signin::messagePage(QStringLiteral("Link expired"),
                                                       QStringLiteral("This sign-in has expired or was already "
                                                                      "answered. Start again from Teodal Calendar.")),
                              410);
        if (!signin::sameText(param(req, "csrf"), request->csrf))
            return answerPage(res, signin::messagePage(QStringLiteral("Not allowed"),
                                                       QStringLiteral("Reload the sign-in page and try again.")),
                              403);
        const QString decision = param(req, "decision");
        bool numeric = false;
        const auto user = store.user(param(req, "user").toLongLong(&numeric));
        if (decision == QLatin1String("deny")) {
            store.setSignInState(id, SignInState::Denied, 0);
            return answerPage(res, signin::messagePage(QStringLiteral("Sign-in denied"),
                                                       QStringLiteral("Teodal Calendar was not signed in. You can "
                                                                      "close this page.")));
        }
        if (decision != QLatin1String("approve") || !numeric || !user)
            return answerPage(res, signin::messagePage(QStringLiteral("Choose a person"),
                                                       QStringLiteral("Pick who signs in, then approve or deny.")),
                              400);
        store.setSignInState(id, SignInState::Approved, user->id);
        answerPage(res, signin::messagePage(QStringLiteral("Signed in"),
                                            QStringLiteral("Teodal Calendar is signed in as %1. You can close this page "
                                                           "and return to the app.")
                                                .arg(user->name)));
    }));

    http->Post("/native/exchange", serialised([this](const httplib::Request &req, httplib::Response &res) {
        if (foreignOrigin(req))
            return fail(res, 403, QStringLiteral("Requests from other sites are not accepted."));
        const auto object = objectBody(req);
        const auto id = object ? stringMember(*object, "id") : std::nullopt;
        const auto verifier = object ? stringMember(*object, "verifier") : std::nullopt;
        if (!id || !verifier || !signin::validToken(*id) || !signin::validVerifier(*verifier))
            return fail(res, 400, QStringLiteral("Send the sign-in id and its verifier."));
        const auto request = store.signIn(*id);
        if (!request)
            return fail(res, 404, QStringLiteral("Unknown sign-in."));
        if (request->createdAt + signin::requestLifetimeSeconds <= now() || request->state == SignInState::Spent)
            return fail(res, 410, QStringLiteral("This sign-in has expired."));
        if (!signin::sameText(signin::challengeOf(*verifier), request->challenge))
            return fail(res, 400, QStringLiteral("The verifier does not match."));
        if (request->state == SignInState::Denied)
            return fail(res, 403, QStringLiteral("The sign-in was denied."));
        if (request->state == SignInState::Pending) {
            res.status = 202;
            return;
        }
        const QString token = signin::randomToken();
        Store::Transaction transaction(store);
        store.addSession(signin::tokenHash(token), request->userId, now() + options.sessionLifetimeSeconds);
        store.setSignInState(*id, SignInState::Spent, request->userId);
        transaction.commit();
        answerJson(res, QJsonDocument(QJsonObject{{QStringLiteral("name"), cookieName()}, {QStringLiteral("value"), token}})
                            .toJson(QJsonDocument::Compact));
    }));

    http->Post("/signout", serialised([this](const httplib::Request &req, httplib::Response &res) {
        if (foreignOrigin(req))
            return fail(res, 403, QStringLiteral("Requests from other sites are not accepted."));
        if (const auto token = sessionToken(req))
            store.removeSession(signin::tokenHash(*token));
        res.status = 204;
    }));
}

void DevServer::State::calendarRoutes()
{
    http->Get("/api/native/session", signedIn([this](const StoredUser &user, const httplib::Request &, httplib::Response &res) {
        answerJson(res, sessionJson(calendar.session(user)));
    }, false));

    http->Get("/api/native/events", signedIn([this](const StoredUser &user, const httplib::Request &req, httplib::Response &res) {
        EventsAnswer asked{store.revision(), user.id, param(req, "from"), param(req, "to"), param(req, "zone"), {}};
        if (!lastEvents || lastEvents->revision != asked.revision || lastEvents->userId != asked.userId ||
            lastEvents->from != asked.from || lastEvents->to != asked.to || lastEvents->zone != asked.zone) {
            asked.json = eventsJson(calendar.events(user, asked.from, asked.to, asked.zone));
            lastEvents = std::move(asked);
        }
        answerJson(res, lastEvents->json);
    }, false));

    http->Post("/api/native/events", signedIn([this](const StoredUser &user, const httplib::Request &req, httplib::Response &res) {
        CalendarEvent event;
        if (!decode(body(req), event))
            return fail(res, 400, QStringLiteral("Send an event with all of its members."));
        const SavedEvent saved = calendar.create(user, event);
        announce(saved, true);
        answerJson(res, savedJson(saved));
    }, true));

    http->Post(R"(/api/native/events/(-?\d{1,18}))",
               signedIn([this](const StoredUser &user, const httplib::Request &req, httplib::Response &res) {
        CalendarEvent event;
        if (!decode(body(req), event))
            return fail(res, 400, QStringLiteral("Send an event with all of its members."));
        const SavedEvent saved = calendar.update(user, std::stoll(req.matches[1].str()), event);
        announce(saved, false);
        answerJson(res, savedJson(saved));
    }, true));

    http->Post("/api/native/quick/parse", signedIn([this](const StoredUser &user, const httplib::Request &req, httplib::Response &res) {
        const auto object = objectBody(req);
        const auto text = object ? stringMember(*object, "text") : std::nullopt;
        const auto zone = object ? stringMember(*object, "zone") : std::nullopt;
        if (!text || !zone)
            return fail(res, 400, QStringLiteral("Send the sentence as \"text\" and the time zone as \"zone\"."));
        const auto answer = quick::interpret(*text, *zone, options.now(), store.calendars(user.id), user.defaultCalendarId);
        if (const auto *refusal = std::get_if<quick::Refusal>(&answer))
            return fail(res, refusal->status, refusal->message);
        answerJson(res, previewJson(std::get<QuickPreview>(answer)));
    }, true));

    http->Post("/api/native/quick", signedIn([this](const StoredUser &user, const httplib::Request &req, httplib::Response &res) {
        QuickDraft draft;
        if (!decode(body(req), draft))
            return fail(res, 400, QStringLiteral("Send a draft with all of its members."));
        const SavedEvent saved = calendar.saveQuick(user, draft);
        announce(saved, true);
        answerJson(res, savedJson(saved));
    }, true));

    // The web page of one event, opened from the app's details sheet.
    http->Get(R"(/events/(\d{1,18}))", serialised([this](const httplib::Request &req, httplib::Response &res) {
        const auto event = calendar.find(std::stoll(req.matches[1].str()));
        if (!event)
            return answerPage(res, signin::messagePage(QStringLiteral("No such event"),
                                                       QStringLiteral("This event doesn’t exist any more.")),
                              404);
        const auto start = LocalDateTime::parse(event->start_local, event->all_day);
        const auto end = LocalDateTime::parse(event->end_local, event->all_day);
        QString when = quick::describeWhen(*start, *end, event->all_day) + QStringLiteral(" (") + event->tz + QLatin1Char(')');
        if (event->recurring)
            when += QStringLiteral(", repeating");
        QString details = when;
        if (!event->location.isEmpty())
            details += QStringLiteral(" · ") + event->location;
        if (event->status != QLatin1String("confirmed"))
            details += QStringLiteral(" · ") + event->status;
        if (!event->notes.isEmpty())
            details += QStringLiteral(" — ") + event->notes;
        answerPage(res, signin::messagePage(event->title, details));
    }));

    http->Get("/", [](const httplib::Request &req, httplib::Response &res) {
        answerPage(res, signin::messagePage(QStringLiteral("Teodal development calendar server"),
                                            QStringLiteral("Point Teodal Calendar at this address and sign in from "
                                                           "the app; this server asks you to pick a demo person.")));
        finishBody(req, res);
    });
}

void DevServer::State::routes()
{
    http->set_payload_max_length(largestBody);
    // Each read may wait this long (the plain server also limits the whole head; see connections.h).
    http->set_read_timeout(2, 0);
    // "Content-Length: -5" would otherwise wait for 2^64 - 5 bytes; the plain server then closes.
    http->set_pre_routing_handler([](const httplib::Request &req, httplib::Response &res) {
        if (connections::contentLengthIsValid(req))
            return httplib::Server::HandlerResponse::Unhandled;
        fail(res, 400, QStringLiteral("Give the Content-Length as a whole number of bytes."));
        if (req.get_header_value("Connection") != "close")
            res.set_header("Connection", "close");
        return httplib::Server::HandlerResponse::Handled;
    });
    http->set_default_headers({{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}});
    http->set_exception_handler([](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
        fail(res, 500, QStringLiteral("The server could not complete the request."));
    });
    // Runs for every answer of 400 and above, after the routes' own handlers.
    http->set_error_handler([](const httplib::Request &req, httplib::Response &res) {
        if (res.body.empty() && !res.content_provider_) {
            const QString message = res.status == 404   ? QStringLiteral("Not found.")
                                    : res.status == 413 ? QStringLiteral("The request is too large.")
                                                        : QStringLiteral("The request could not be completed.");
            fail(res, res.status, message);
        }
        finishBody(req, res);
    });
    signInRoutes();
    calendarRoutes();
    liveAndExportRoutes();
}

void DevServer::State::announce(const SavedEvent &saved, bool created)
{
    if (const auto event = store.event(saved.id))
        live.publish(event->calendarId, saved.id, created);
}

void DevServer::State::liveAndExportRoutes()
{
    // Server-sent events for the signed-in person: a "data:" line, and the empty line that ends the
    // event, for each event created or updated in a calendar they can see, whoever saved it; and a
    // comment line whenever nothing was sent for a heartbeat, so that clients waiting for data (30 s
    // in the app) keep the stream. The stream ends when the session does or the server stops.
    http->Get("/api/native/stream", signedIn([this](const StoredUser &user, const httplib::Request &req, httplib::Response &res) {
        const QString tokenHash = signin::tokenHash(*sessionToken(req));
        auto seen = std::make_shared<quint64>(live.latest());
        res.set_chunked_content_provider("text/event-stream", [this, userId = user.id, tokenHash, seen](std::size_t, httplib::DataSink &sink) {
            const auto deadline = std::chrono::steady_clock::now() + options.liveHeartbeat;
            for (;;) {
                const std::vector<LiveChanges::Change> changes = live.after(*seen, deadline);
                if (live.stopping())
                    return false;
                std::string text;
                {
                    std::lock_guard guard(lock);
                    if (!store.sessionUser(tokenHash, now()))
                        return false;
                    std::vector<qint64> visible;
                    for (const StoredCalendar &calendar : store.calendars(userId))
                        visible.push_back(calendar.id);
                    for (const LiveChanges::Change &change : changes) {
                        if (std::find(visible.begin(), visible.end(), change.calendarId) == visible.end())
                            continue;
                        text += "data: {\"calendar_id\":" + std::to_string(change.calendarId) + ",\"event_id\":"
                                + std::to_string(change.eventId) + ",\"change\":\""
                                + (change.created ? "created" : "updated") + "\"}\n\n";
                    }
                }
                if (!changes.empty())
                    *seen = changes.back().sequence;
                if (!text.empty())
                    return sink.write(text.data(), text.size());
                if (std::chrono::steady_clock::now() >= deadline) {
                    static const std::string comment = ": waiting for changes\n";
                    return sink.write(comment.data(), comment.size());
                }
            }
        });
    }, false));

    // The person's calendars as one iCalendar file (see exportCalendars).
    http->Get("/api/native/export.ics", signedIn([this](const StoredUser &user, const httplib::Request &, httplib::Response &res) {
        const std::vector<StoredCalendar> calendars = store.calendars(user.id);
        std::vector<qint64> ids;
        for (const StoredCalendar &calendar : calendars)
            ids.push_back(calendar.id);
        const QByteArray text = exportCalendars(calendars, store.events(ids), options.now());
        res.set_header("Content-Disposition", "attachment; filename=\"calendar.ics\"");
        res.set_content(text.constData(), std::size_t(text.size()), "text/calendar; charset=utf-8");
    }, false));
}

DevServer::DevServer(ServerOptions options) : m_state(std::make_unique<State>(std::move(options)))
{
    seedStore(m_state->store, m_state->options.now());
    seedBusyMonth(m_state->store, m_state->options.now(), m_state->options.seedEvents);
}

DevServer::~DevServer() { stop(); }

void DevServer::start()
{
    State &s = *m_state;
    if (s.tls()) {
        auto secure = std::make_unique<httplib::SSLServer>(s.options.tlsCertificate.toLocal8Bit().constData(),
                                                           s.options.tlsKey.toLocal8Bit().constData());
        if (!secure->is_valid())
            throw std::runtime_error("the TLS certificate or key cannot be used");
        s.http = std::move(secure);
    } else {
        s.http = connections::plainServer();
    }
    s.http->new_task_queue = [] { return connections::growingPool(); };
    // Heads and bodies go out as separate writes; without this each answer waits for the client's
    // delayed acknowledgement.
    s.http->set_tcp_nodelay(true);
    // An idle kept-alive connection holds its worker until this runs out, and stopping waits for every
    // worker: one second keeps a SIGTERM stop prompt (the plain server's loop uses keepAliveIdle).
    s.http->set_keep_alive_timeout(1);
    s.routes();
    const std::string host = s.options.host.toStdString();
    if (s.options.port == 0)
        s.port = s.http->bind_to_any_port(host);
    else
        s.port = s.http->bind_to_port(host, s.options.port) ? s.options.port : -1;
    if (s.port <= 0)
        throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(s.options.port));
    s.thread = std::thread([&s] { s.http->listen_after_bind(); });
    // stop() only reaches a server that is already accepting.
    while (!s.http->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void DevServer::stop()
{
    m_state->live.stop(); // open event streams end at once instead of at their next heartbeat
    if (m_state->http)
        m_state->http->stop();
    if (m_state->thread.joinable())
        m_state->thread.join();
}

int DevServer::port() const { return m_state->port; }
bool DevServer::tls() const { return m_state->tls(); }
QString DevServer::cookieName() const { return m_state->cookieName(); }

QString DevServer::origin() const
{
    return (tls() ? QStringLiteral("https://localhost:") : QStringLiteral("http://localhost:")) + QString::number(port());
}
