#include "native_http.h"

#include "network_transfer.h"
#include "request_url.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

// Keeps nothing and offers nothing: the only cookie ever sent is the hand-written Cookie header.
class NoCookies final : public QNetworkCookieJar {
public:
    QList<QNetworkCookie> cookiesForUrl(const QUrl &) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie> &, const QUrl &) override { return false; }
};

// The scheme and the host exactly as typed: QUrl lower-cases both and rewrites IP addresses,
// while the origin rules compare the written text.
struct WrittenAuthority {
    QStringView scheme;
    QStringView host;
    bool userInfo = false;
};

std::optional<WrittenAuthority> writtenAuthority(QStringView text)
{
    const qsizetype colon = text.indexOf(u':');
    if (colon <= 0 || !text.mid(colon + 1).startsWith(u"//"))
        return std::nullopt;
    QStringView authority = text.mid(colon + 3);
    for (qsizetype i = 0; i < authority.size(); ++i) {
        if (authority[i] == u'/' || authority[i] == u'?' || authority[i] == u'#') {
            authority = authority.left(i);
            break;
        }
    }
    WrittenAuthority written{text.left(colon), authority, false};
    const qsizetype at = authority.lastIndexOf(u'@');
    if (at >= 0) {
        written.userInfo = true;
        authority = authority.mid(at + 1);
    }
    if (authority.startsWith(u'[')) {
        const qsizetype close = authority.indexOf(u']');
        written.host = close < 0 ? authority : authority.left(close + 1);
    } else {
        const qsizetype port = authority.indexOf(u':');
        written.host = port < 0 ? authority : authority.left(port);
    }
    return written;
}

bool isLoopbackHost(QStringView host)
{
    return host == u"localhost" || host == u"127.0.0.1" || host == u"[::1]";
}

// An HTTP method token (RFC 9110): what may go on the request line without changing its meaning.
bool isToken(const QByteArray &text)
{
    static const QByteArray extra = "!#$%&'*+-.^_`|~";
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || extra.contains(c);
    });
}

// A header value that cannot end its line early and smuggle in headers of its own.
bool isSafeHeaderValue(const QByteArray &value)
{
    return !value.contains('\r') && !value.contains('\n') && !value.contains('\0');
}

QNetworkRequest makeRequest(const QUrl &origin, const std::optional<NativeSession> &credential, const QString &path,
                            const QByteArray &method, bool hasBody, const QString &contentType)
{
    if (!isToken(method))
        throw NativeClientError::invalidPath();
    QNetworkRequest request(requestUrl(origin, path));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::AuthenticationReuseAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);

    QList<std::pair<QByteArray, QByteArray>> headers = {
        {"Origin", NativeHTTP::originText(origin).toUtf8()},
        {"Accept", "application/json"},
        // Qt would otherwise offer gzip and inflate the body itself, which hides how many bytes
        // arrived: a compressed body cut short could not be told from a complete one. With this
        // header set, Qt leaves any body exactly as received.
        {"Accept-Encoding", "identity"},
    };
    if (hasBody)
        headers.append({"Content-Type", contentType.toUtf8()});
    if (credential)
        headers.append({"Cookie", (credential->name + u'=' + credential->value).toUtf8()});
    for (const auto &[name, value] : headers) {
        if (!isSafeHeaderValue(value))
            throw NativeClientError::invalidPath();
        request.setRawHeader(name, value);
    }
    return request;
}

} // namespace

std::optional<QString> NativeResponse::header(QStringView name) const
{
    const auto found = headers.constFind(name.toString().toLower());
    if (found == headers.constEnd())
        return std::nullopt;
    return *found;
}

QUrl NativeHTTP::origin(const QString &address)
{
    const QString text = address.trimmed();
    const std::optional<WrittenAuthority> written = writtenAuthority(text);
    QUrl url(text, QUrl::StrictMode);
    if (!written || !url.isValid() || url.host().isEmpty() || written->userInfo || !url.userInfo().isEmpty()
        || url.hasQuery() || url.hasFragment())
        throw NativeClientError::invalidAddress();
    const QString path = url.path(QUrl::FullyEncoded);
    if (!path.isEmpty() && path != u"/")
        throw NativeClientError::invalidAddress();
    if (written->scheme != u"https" && !(written->scheme == u"http" && isLoopbackHost(written->host)))
        throw NativeClientError::invalidAddress();
    // A "%" in the host (an IPv6 zone id, "[::%251]") does not survive the origin's text, which is
    // stored and validated again at the next start: read back, it may name another host or be refused.
    if (written->host.contains(u'%'))
        throw NativeClientError::invalidAddress();
    url.setPath(QString());
    if (!url.isValid())
        throw NativeClientError::invalidAddress();
    return url;
}

QString NativeHTTP::originText(const QUrl &origin)
{
    return origin.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment)
        .toString(QUrl::FullyEncoded);
}

struct NativeHTTP::Transport {
    QNetworkAccessManager manager;
    NativeTimeouts timeouts;

    explicit Transport(NativeTimeouts timeouts) : timeouts(timeouts)
    {
        manager.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
        manager.setCookieJar(new NoCookies);
        manager.setCache(nullptr);
        manager.setStrictTransportSecurityEnabled(false);
    }

    // Deleting the manager would delete replies that requests still await; aborting them first lets
    // every waiting request end with a cancellation.
    ~Transport()
    {
        for (QNetworkReply *reply : manager.findChildren<QNetworkReply *>())
            reply->abort();
    }
};

NativeHTTP::NativeHTTP(QUrl origin, std::optional<NativeSession> credential, NativeTimeouts timeouts)
    : m_origin(std::move(origin)), m_credential(std::move(credential)),
      m_transport(std::make_unique<Transport>(timeouts))
{
}

NativeHTTP::~NativeHTTP() = default;

QCoro::Task<NativeResponse> NativeHTTP::responseDetails(QString path, QByteArray method,
                                                        std::optional<QByteArray> body, QString contentType,
                                                        qint64 maxBytes, std::stop_token stop) const
{
    if (maxBytes < 1 || maxBytes > largestMaxBytes)
        throw NativeClientError::invalidLimit();
    const QNetworkRequest request = makeRequest(m_origin, m_credential, path, method, body.has_value(), contentType);
    if (stop.stop_requested())
        throw CancellationError();

    QNetworkReply *reply = body ? m_transport->manager.sendCustomRequest(request, method, *body)
                                : m_transport->manager.sendCustomRequest(request, method);
    NetworkTransfer transfer(reply, maxBytes, m_transport->timeouts, std::move(stop));
    co_await transfer.finished();
    co_return transfer.response();
}

QCoro::Task<std::pair<QByteArray, qint64>> NativeHTTP::response(QString path, QByteArray method,
                                                                std::optional<QByteArray> body,
                                                                QString contentType, qint64 maxBytes,
                                                                std::stop_token stop) const
{
    NativeResponse answer = co_await responseDetails(std::move(path), std::move(method), std::move(body),
                                                     std::move(contentType), maxBytes, std::move(stop));
    co_return std::pair{std::move(answer.data), answer.status};
}

QNetworkRequest NativeHTTP::getRequest(const QString &path, const QByteArray &accept) const
{
    QNetworkRequest request = makeRequest(m_origin, m_credential, path, "GET", false, QStringLiteral("application/json"));
    request.setRawHeader("Accept", accept);
    return request;
}

QNetworkReply *NativeHTTP::send(const QNetworkRequest &request) const
{
    return m_transport->manager.get(request);
}

std::chrono::milliseconds NativeHTTP::idleTimeout() const
{
    return m_transport->timeouts.idle;
}
