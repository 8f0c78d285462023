#include "store.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <sqlite3.h>

#include <utility>

namespace {
constexpr const char *schema = R"sql(
PRAGMA foreign_keys = ON;
CREATE TABLE IF NOT EXISTS users (
  id INTEGER PRIMARY KEY, name TEXT NOT NULL, zone TEXT NOT NULL, week_start INTEGER NOT NULL,
  default_calendar_id INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS calendars (
  id INTEGER PRIMARY KEY, name TEXT NOT NULL, hue INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS calendar_access (
  user_id INTEGER NOT NULL REFERENCES users(id), calendar_id INTEGER NOT NULL REFERENCES calendars(id),
  writable INTEGER NOT NULL, PRIMARY KEY (user_id, calendar_id));
CREATE TABLE IF NOT EXISTS events (
  id INTEGER PRIMARY KEY, calendar_id INTEGER NOT NULL REFERENCES calendars(id), status TEXT NOT NULL,
  title TEXT NOT NULL, location TEXT NOT NULL, notes TEXT NOT NULL, all_day INTEGER NOT NULL,
  start_local TEXT NOT NULL, end_local TEXT NOT NULL, tz TEXT NOT NULL, rule TEXT NOT NULL,
  attendees TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS events_by_calendar ON events(calendar_id);
CREATE TABLE IF NOT EXISTS sessions (
  token_hash TEXT PRIMARY KEY, user_id INTEGER NOT NULL REFERENCES users(id), expires_at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS sign_ins (
  id TEXT PRIMARY KEY, challenge TEXT NOT NULL, csrf TEXT NOT NULL, created_at INTEGER NOT NULL,
  state INTEGER NOT NULL, user_id INTEGER NOT NULL);
)sql";
} // namespace

class Store::Statement {
public:
    Statement(sqlite3 *db, const char *sql) : m_db(db)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            fail();
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    template <typename... Values>
    Statement &bind(Values &&...values)
    {
        int index = 0;
        (bindOne(++index, std::forward<Values>(values)), ...);
        return *this;
    }
    // True while a row is available.
    bool step()
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            fail();
        return false;
    }
    void run() { step(); }
    qint64 integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
    QString text(int column) const
    {
        const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
        return QString::fromUtf8(bytes, sqlite3_column_bytes(m_stmt, column));
    }

private:
    void bindOne(int index, qint64 value) { check(sqlite3_bind_int64(m_stmt, index, value)); }
    void bindOne(int index, int value) { check(sqlite3_bind_int64(m_stmt, index, value)); }
    void bindOne(int index, bool value) { check(sqlite3_bind_int64(m_stmt, index, value ? 1 : 0)); }
    void bindOne(int index, const QString &value)
    {
        const QByteArray utf8 = value.toUtf8();
        check(sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT));
    }
    void check(int rc)
    {
        if (rc != SQLITE_OK)
            fail();
    }
    [[noreturn]] void fail() { throw StoreError(sqlite3_errmsg(m_db)); }

    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
};

namespace {
QString attendeesText(const QStringList &attendees)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(attendees)).toJson(QJsonDocument::Compact));
}

QStringList attendeesFrom(const QString &text)
{
    QStringList result;
    for (const auto &value : QJsonDocument::fromJson(text.toUtf8()).array())
        result.append(value.toString());
    return result;
}

constexpr const char *eventColumns = "id, calendar_id, status, title, location, notes, all_day, start_local, "
                                     "end_local, tz, rule, attendees";
} // namespace

Store::Store(const QString &path)
{
    if (sqlite3_open_v2(path.toUtf8().constData(), &m_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        const std::string message = m_db ? sqlite3_errmsg(m_db) : "cannot open the database";
        sqlite3_close(m_db);
        throw StoreError(message);
    }
    sqlite3_busy_timeout(m_db, 2000);
    try {
        exec(schema);
    } catch (...) {
        sqlite3_close(m_db);
        throw;
    }
}

Store::~Store() { sqlite3_close(m_db); }

void Store::exec(const char *sql)
{
    char *error = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "database error";
        sqlite3_free(error);
        throw StoreError(message);
    }
}

Store::Transaction::Transaction(Store &store) : m_store(store) { m_store.exec("BEGIN IMMEDIATE"); }

Store::Transaction::~Transaction()
{
    if (!m_done) {
        sqlite3_exec(m_store.m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        ++m_store.m_revision; // what was read inside the transaction may be gone
    }
}

void Store::Transaction::commit()
{
    m_store.exec("COMMIT");
    m_done = true;
}

bool Store::isEmpty() const
{
    Statement query(m_db, "SELECT COUNT(*) FROM users");
    query.step();
    return query.integer(0) == 0;
}

qint64 Store::addUser(const StoredUser &user)
{
    ++m_revision;
    Statement(m_db, "INSERT INTO users (name, zone, week_start, default_calendar_id) VALUES (?, ?, ?, ?)")
        .bind(user.name, user.zone, user.weekStart, user.defaultCalendarId)
        .run();
    return sqlite3_last_insert_rowid(m_db);
}

qint64 Store::addCalendar(const QString &name, qint64 hue)
{
    ++m_revision;
    Statement(m_db, "INSERT INTO calendars (name, hue) VALUES (?, ?)").bind(name, hue).run();
    return sqlite3_last_insert_rowid(m_db);
}

void Store::grant(qint64 userId, qint64 calendarId, bool writable)
{
    ++m_revision;
    Statement(m_db, "INSERT OR REPLACE INTO calendar_access (user_id, calendar_id, writable) VALUES (?, ?, ?)")
        .bind(userId, calendarId, writable)
        .run();
}

void Store::setDefaultCalendar(qint64 userId, qint64 calendarId)
{
    ++m_revision;
    Statement(m_db, "UPDATE users SET default_calendar_id = ? WHERE id = ?").bind(calendarId, userId).run();
}

std::vector<StoredUser> Store::users() const
{
    std::vector<StoredUser> result;
    Statement query(m_db, "SELECT id, name, zone, week_start, default_calendar_id FROM users ORDER BY id");
    while (query.step())
        result.push_back({query.integer(0), query.text(1), query.text(2), query.integer(3), query.integer(4)});
    return result;
}

std::optional<StoredUser> Store::user(qint64 id) const
{
    for (auto &candidate : users())
        if (candidate.id == id)
            return candidate;
    return std::nullopt;
}

std::vector<StoredCalendar> Store::calendars(qint64 userId) const
{
    std::vector<StoredCalendar> result;
    Statement query(m_db, "SELECT c.id, c.name, c.hue, a.writable FROM calendars c "
                          "JOIN calendar_access a ON a.calendar_id = c.id WHERE a.user_id = ? ORDER BY c.id");
    query.bind(userId);
    while (query.step())
        result.push_back({query.integer(0), query.text(1), query.integer(2), query.integer(3) != 0});
    return result;
}

qint64 Store::addEvent(const StoredEvent &e)
{
    ++m_revision;
    Statement(m_db, "INSERT INTO events (calendar_id, status, title, location, notes, all_day, start_local, "
                    "end_local, tz, rule, attendees) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
        .bind(e.calendarId, e.status, e.title, e.location, e.notes, e.allDay, e.startLocal, e.endLocal, e.tz, e.rule,
              attendeesText(e.attendees))
        .run();
    return sqlite3_last_insert_rowid(m_db);
}

void Store::updateEvent(const StoredEvent &e)
{
    ++m_revision;
    Statement(m_db, "UPDATE events SET calendar_id = ?, status = ?, title = ?, location = ?, notes = ?, all_day = ?, "
                    "start_local = ?, end_local = ?, tz = ?, rule = ?, attendees = ? WHERE id = ?")
        .bind(e.calendarId, e.status, e.title, e.location, e.notes, e.allDay, e.startLocal, e.endLocal, e.tz, e.rule,
              attendeesText(e.attendees), e.id)
        .run();
}

namespace {
template <typename Query>
StoredEvent eventFrom(const Query &query)
{
    StoredEvent e;
    e.id = query.integer(0);
    e.calendarId = query.integer(1);
    e.status = query.text(2);
    e.title = query.text(3);
    e.location = query.text(4);
    e.notes = query.text(5);
    e.allDay = query.integer(6) != 0;
    e.startLocal = query.text(7);
    e.endLocal = query.text(8);
    e.tz = query.text(9);
    e.rule = query.text(10);
    e.attendees = attendeesFrom(query.text(11));
    return e;
}
} // namespace

std::optional<StoredEvent> Store::event(qint64 id) const
{
    Statement query(m_db, (std::string("SELECT ") + eventColumns + " FROM events WHERE id = ?").c_str());
    query.bind(id);
    if (!query.step())
        return std::nullopt;
    return eventFrom(query);
}

std::vector<StoredEvent> Store::events(const std::vector<qint64> &calendarIds) const
{
    std::vector<StoredEvent> result;
    for (const qint64 calendarId : calendarIds) {
        Statement perCalendar(m_db, (std::string("SELECT ") + eventColumns +
                                     " FROM events WHERE calendar_id = ? ORDER BY id").c_str());
        perCalendar.bind(calendarId);
        while (perCalendar.step())
            result.push_back(eventFrom(perCalendar));
    }
    return result;
}

void Store::addSession(const QString &tokenHash, qint64 userId, qint64 expiresAt)
{
    Statement(m_db, "INSERT INTO sessions (token_hash, user_id, expires_at) VALUES (?, ?, ?)")
        .bind(tokenHash, userId, expiresAt)
        .run();
}

std::optional<qint64> Store::sessionUser(const QString &tokenHash, qint64 now) const
{
    Statement query(m_db, "SELECT user_id FROM sessions WHERE token_hash = ? AND expires_at > ?");
    query.bind(tokenHash, now);
    if (!query.step())
        return std::nullopt;
    return query.integer(0);
}

void Store::removeSession(const QString &tokenHash)
{
    Statement(m_db, "DELETE FROM sessions WHERE token_hash = ?").bind(tokenHash).run();
}

void Store::addSignIn(const SignInRequest &r)
{
    Statement(m_db, "INSERT INTO sign_ins (id, challenge, csrf, created_at, state, user_id) VALUES (?, ?, ?, ?, ?, ?)")
        .bind(r.id, r.challenge, r.csrf, r.createdAt, int(r.state), r.userId)
        .run();
}

std::optional<SignInRequest> Store::signIn(const QString &id) const
{
    Statement query(m_db, "SELECT id, challenge, csrf, created_at, state, user_id FROM sign_ins WHERE id = ?");
    query.bind(id);
    if (!query.step())
        return std::nullopt;
    return SignInRequest{query.text(0), query.text(1), query.text(2), query.integer(3),
                         SignInState(query.integer(4)), query.integer(5)};
}

void Store::setSignInState(const QString &id, SignInState state, qint64 userId)
{
    Statement(m_db, "UPDATE sign_ins SET state = ?, user_id = ? WHERE id = ?").bind(int(state), userId, id).run();
}

void Store::purge(qint64 signInsCreatedBefore, qint64 now)
{
    Statement(m_db, "DELETE FROM sign_ins WHERE created_at < ?").bind(signInsCreatedBefore).run();
    Statement(m_db, "DELETE FROM sessions WHERE expires_at <= ?").bind(now).run();
}

qint64 Store::pendingSignIns() const
{
    Statement query(m_db, "SELECT COUNT(*) FROM sign_ins");
    query.step();
    return query.integer(0);
}
