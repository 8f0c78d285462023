#include "native_connection.h"

#include "clock.h"
#include "preferences.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QRandomGenerator>
#include <QUrlQuery>

#include <chrono>
#include <cstring>

using namespace std::chrono_literals;

namespace {

constexpr qsizetype verifierBytes = 32;           // RFC 7636 verifier entropy
constexpr qsizetype tokenLength = 43;             // unpadded Base64url of 32 bytes
constexpr auto approvalWindow = 300s;             // measured from the browser opening the page
constexpr auto pollInterval = 2s;                 // between exchange attempts, never shorter
constexpr qint64 statusPending = 202;             // approval not given yet
constexpr qint64 statusApproved = 200;

QString base64Url(const QByteArray &bytes)
{
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QByteArray sha256(const QString &text)
{
    return QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256);
}

// Accepts exactly the canonical unpadded Base64url text of 32 bytes.
bool valid(const QString &token)
{
    if (token.size() != tokenLength)
        return false;
    QByteArray standard = token.toUtf8();
    standard.replace('-', '+').replace('_', '/').append('=');
    const auto decoded = QByteArray::fromBase64Encoding(standard, QByteArray::AbortOnBase64DecodingErrors);
    return decoded && decoded.decoded.size() == verifierBytes && base64Url(decoded.decoded) == token;
}

QString verificationCode(const QString &id)
{
    QString hex = QString::fromLatin1(sha256(id).left(4).toHex().toUpper());
    return hex.insert(4, QLatin1Char('-'));
}

QUrl approvalPage(const QUrl &origin, const QString &id)
{
    QUrl page = origin;
    page.setPath(QStringLiteral("/native/start"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("id"), id);
    page.setQuery(query);
    return page;
}

QByteArray startBody(const QString &challenge)
{
    QJsonObject body;
    body.insert(QStringLiteral("challenge"), challenge);
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

QByteArray exchangeBody(const QString &id, const QString &verifier)
{
    QJsonObject body;
    body.insert(QStringLiteral("id"), id);
    body.insert(QStringLiteral("verifier"), verifier);
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

std::optional<QString> decodeBeginId(const QByteArray &body)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonValue id = document.object().value(QStringLiteral("id"));
    if (!id.isString())
        return std::nullopt;
    return id.toString();
}

QString sessionCookieName(const QUrl &origin)
{
    return origin.scheme() == QLatin1String("https") ? QStringLiteral("__Host-corvane_session")
                                                     : QStringLiteral("corvane_session");
}

bool isCancellation(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const CancellationError &) {
        return true;
    } catch (...) {
        return false;
    }
}

// The system generator is the platform's cryptographically secure source and cannot fail.
bool systemRandom(QByteArray &buffer)
{
    QList<quint32> words((buffer.size() + 3) / 4);
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    std::memcpy(buffer.data(), words.constData(), size_t(buffer.size()));
    return true;
}

} // namespace

struct NativeConnection::State {
    State(NativeConnection &owner, Services services)
        : q(owner),
          preferences(services.preferences),
          secrets(services.secrets),
          clock(services.clock),
          random(services.random ? std::move(services.random) : RandomBytes(systemRandom)),
          service(NativeCredentials::serviceName(services.applicationId)),
          timeouts(services.timeouts)
    {
    }

    NativeCredentials credentials() const { return NativeCredentials(secrets, service); }

    template <typename T>
    void assign(T &field, T value, void (NativeConnection::*changed)())
    {
        if (field == value)
            return;
        field = std::move(value);
        (q.*changed)();
    }
    void setRestoring(bool value) { assign(restoring, value, &NativeConnection::restoringChanged); }
    void setSigningIn(bool value) { assign(signingIn, value, &NativeConnection::signingInChanged); }
    void setCode(QString value) { assign(code, std::move(value), &NativeConnection::codeChanged); }
    void setBrowserURL(QUrl value) { assign(browserURL, std::move(value), &NativeConnection::browserURLChanged); }
    void setError(QString value) { assign(error, std::move(value), &NativeConnection::errorChanged); }
    void setClient(NativeClient value) { assign(client, std::move(value), &NativeConnection::clientChanged); }

    void stopRestore();
    QCoro::Task<> restore(QUrl origin, std::stop_token stop);
    QCoro::Task<> runSignIn(OpenUrl open, std::stop_token stop);

    NativeConnection &q;
    Preferences &preferences;
    SecretStore &secrets;
    Clock &clock;
    RandomBytes random;
    QString service;
    NativeTimeouts timeouts;

    QString serverAddress;
    NativeClient client;
    bool restoring = false;
    bool signingIn = false;
    QString code;
    QUrl browserURL;
    QString error;

    std::optional<std::stop_source> signInTask;
    std::optional<std::stop_source> restoreTask;
    // The origin text being restored, so that a sign-out during the restore forgets it as well.
    QString restoringAccount;
};

namespace {

// Forgets the stored session first, then tells the server through the old client; the server's
// answer changes nothing.
QCoro::Task<> forget(NativeCredentials credentials, QString account, NativeClient old)
{
    co_await credentials.remove(account);
    if (!old)
        co_return;
    try {
        co_await old->responseDetails(QStringLiteral("/signout"), "POST", QByteArray(""));
    } catch (...) {
    }
}

} // namespace

NativeConnection::NativeConnection(QString defaultServer, Services services, QObject *parent)
    : QObject(parent), d(std::make_unique<State>(*this, std::move(services)))
{
    d->serverAddress = d->preferences.server().value_or(defaultServer);
    QUrl origin;
    try {
        origin = NativeHTTP::origin(d->serverAddress);
    } catch (const NativeClientError &) {
        return;
    }
    std::stop_source stop;
    d->restoreTask = stop;
    d->restoringAccount = NativeHTTP::originText(origin);
    d->restoring = true;
    d->restore(origin, stop.get_token());
}

NativeConnection::~NativeConnection()
{
    if (d->signInTask)
        d->signInTask->request_stop();
    if (d->restoreTask)
        d->restoreTask->request_stop();
}

QCoro::Task<> NativeConnection::State::restore(QUrl origin, std::stop_token stop)
{
    QPointer<NativeConnection> self(&q);
    const NativeCredentials store = credentials();
    const std::optional<NativeSession> session = co_await store.read(NativeHTTP::originText(origin));
    if (!self || stop.stop_requested())
        co_return;
    restoreTask.reset();
    restoringAccount.clear();
    if (session)
        setClient(std::make_shared<const NativeHTTP>(origin, *session, timeouts));
    setRestoring(false);
}

void NativeConnection::State::stopRestore()
{
    if (!restoreTask)
        return;
    restoreTask->request_stop();
    restoreTask.reset();
    setRestoring(false);
}

QString NativeConnection::serverAddress() const { return d->serverAddress; }

void NativeConnection::setServerAddress(const QString &address)
{
    d->assign(d->serverAddress, address, &NativeConnection::serverAddressChanged);
}

NativeClient NativeConnection::client() const { return d->client; }
bool NativeConnection::restoring() const { return d->restoring; }
bool NativeConnection::signingIn() const { return d->signingIn; }
QString NativeConnection::code() const { return d->code; }
QUrl NativeConnection::browserURL() const { return d->browserURL; }
QString NativeConnection::error() const { return d->error; }

void NativeConnection::signIn(OpenUrl open)
{
    cancel();
    d->stopRestore();
    d->restoringAccount.clear();
    d->setError(QString());
    d->setSigningIn(true);
    std::stop_source stop;
    d->signInTask = stop;
    d->runSignIn(std::move(open), stop.get_token());
}

void NativeConnection::cancel()
{
    if (d->signInTask) {
        d->signInTask->request_stop();
        d->signInTask.reset();
    }
    d->setSigningIn(false);
    d->setCode(QString());
    d->setBrowserURL(QUrl());
}

void NativeConnection::signOut()
{
    cancel();
    QString account = d->client ? NativeHTTP::originText(d->client->origin()) : d->restoringAccount;
    d->stopRestore();
    d->restoringAccount.clear();
    NativeClient old = d->client;
    d->setClient(nullptr);
    if (!account.isEmpty())
        forget(d->credentials(), std::move(account), std::move(old));
}

QCoro::Task<> NativeConnection::State::runSignIn(OpenUrl open, std::stop_token stop)
{
    QPointer<NativeConnection> self(&q);
    const auto cancelled = [&] { return !self || stop.stop_requested(); };
    try {
        const QUrl origin = NativeHTTP::origin(serverAddress);
        const auto anonymous = std::make_shared<const NativeHTTP>(origin, std::nullopt, timeouts);

        QByteArray secret(verifierBytes, '\0');
        if (!random(secret))
            throw NativeClientError::signInStartFailed();
        const QString verifier = base64Url(secret);
        const QString challenge = base64Url(sha256(verifier));

        const NativeResponse begin = co_await anonymous->responseDetails(
            QStringLiteral("/native/request"), "POST", startBody(challenge),
            QStringLiteral("application/json"), NativeHTTP::defaultMaxBytes, stop);
        if (cancelled())
            co_return;
        NativeClientError::throwForStatus(begin.status);
        const std::optional<QString> id = decodeBeginId(begin.data);
        if (!id)
            throw NativeClientError::unsupportedResponse();
        if (!valid(*id))
            throw NativeClientError::signInResponseInvalid();

        setCode(verificationCode(*id));
        setBrowserURL(approvalPage(origin, *id));
        const bool opened = co_await open(browserURL);
        if (cancelled())
            co_return;
        if (!opened)
            throw NativeClientError::browserOpenFailed();

        Clock &monotonic = clock;
        const Clock::TimePoint deadline = monotonic.now() + approvalWindow;
        const QByteArray exchange = exchangeBody(*id, verifier);
        const QString expectedName = sessionCookieName(origin);
        NativeSession session;
        for (;;) {
            if (monotonic.now() >= deadline)
                throw NativeClientError::signInExpired();
            co_await monotonic.sleep(pollInterval, stop);
            if (cancelled())
                co_return;
            const NativeResponse answer = co_await anonymous->responseDetails(
                QStringLiteral("/native/exchange"), "POST", exchange, QStringLiteral("application/json"),
                NativeHTTP::defaultMaxBytes, stop);
            if (cancelled())
                co_return;
            if (answer.status == statusPending)
                continue;
            if (answer.status == statusApproved && decode(answer.data, session) && session.name == expectedName
                && valid(session.value))
                break;
            throw NativeClientError::signInRefused();
        }

        const QString account = NativeHTTP::originText(origin);
        const NativeCredentials store = credentials();
        co_await store.save(session, account);
        if (cancelled()) {
            // Stopped while the store was being written: a cancelled sign-in leaves nothing behind.
            co_await store.remove(account);
            co_return;
        }
        signInTask.reset();
        preferences.setServer(account);
        setClient(std::make_shared<const NativeHTTP>(origin, session, timeouts));
        setSigningIn(false);
        setBrowserURL(QUrl());
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        if (isCancellation(error) || cancelled())
            co_return;
        signInTask.reset();
        setError(describeError(error));
        setSigningIn(false);
        setBrowserURL(QUrl());
    }
}
