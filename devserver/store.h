#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <stdexcept>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct StoredUser {
    qint64 id = 0;
    QString name;
    QString zone;
    qint64 weekStart = 1;
    qint64 defaultCalendarId = 0;
};

struct StoredCalendar {
    qint64 id = 0;
    QString name;
    qint64 hue = 0;
    bool writable = false; // for the user it was read for
};

struct StoredEvent {
    qint64 id = 0;
    qint64 calendarId = 0;
    QString status = QStringLiteral("confirmed");
    QString title;
    QString location;
    QString notes;
    bool allDay = false;
    QString startLocal;
    QString endLocal;
    QString tz;
    QString rule; // RRULE text; empty for a single event
    QStringList attendees;
};

enum class SignInState { Pending, Approved, Denied, Spent };

struct SignInRequest {
    QString id;
    QString challenge;
    QString csrf;
    qint64 createdAt = 0;
    SignInState state = SignInState::Pending;
    qint64 userId = 0;
};

// The server's SQLite database. Not thread-safe: the server serialises every call.
class Store {
public:
    explicit Store(const QString &path); // ":memory:" for a private in-memory database
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    // Everything inside commits together, or not at all when an exception leaves the scope.
    class Transaction {
    public:
        explicit Transaction(Store &store);
        ~Transaction();
        void commit();

    private:
        Store &m_store;
        bool m_done = false;
    };

    bool isEmpty() const;

    qint64 addUser(const StoredUser &user);
    qint64 addCalendar(const QString &name, qint64 hue);
    void grant(qint64 userId, qint64 calendarId, bool writable);
    void setDefaultCalendar(qint64 userId, qint64 calendarId);
    std::vector<StoredUser> users() const;
    std::optional<StoredUser> user(qint64 id) const;
    std::vector<StoredCalendar> calendars(qint64 userId) const; // those the user can see, in order

    qint64 addEvent(const StoredEvent &event);
    void updateEvent(const StoredEvent &event);
    std::optional<StoredEvent> event(qint64 id) const;
    std::vector<StoredEvent> events(const std::vector<qint64> &calendarIds) const;

    void addSession(const QString &tokenHash, qint64 userId, qint64 expiresAt);
    std::optional<qint64> sessionUser(const QString &tokenHash, qint64 now) const;
    void removeSession(const QString &tokenHash);

    void addSignIn(const SignInRequest &request);
    std::optional<SignInRequest> signIn(const QString &id) const;
    void setSignInState(const QString &id, SignInState state, qint64 userId);
    // Drops expired sign-in requests and sessions.
    void purge(qint64 signInsCreatedBefore, qint64 now);
    qint64 pendingSignIns() const;

    // Changes with every write that can change what users(), calendars() or events() answer, and
    // with every rolled-back transaction, so an answer built from them can be reused while it holds.
    qint64 revision() const { return m_revision; }

private:
    class Statement;
    void exec(const char *sql);

    sqlite3 *m_db = nullptr;
    qint64 m_revision = 0;
};
