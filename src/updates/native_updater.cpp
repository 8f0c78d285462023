#include "native_updater.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QSettings>
#include <QVersionNumber>

#include <openssl/evp.h>

namespace {

constexpr auto automaticKey = "updates.automaticallyCheck";
constexpr auto lastCheckKey = "updates.lastCheck";            // UTC, ISO 8601, set when any check starts
constexpr auto announcedVersionKey = "updates.announcedVersion"; // last version an automatic check announced
constexpr std::chrono::hours recheckInterval{1}; // how often a long-running app asks whether a day has passed
constexpr qsizetype ed25519KeyBytes = 32;
constexpr qsizetype ed25519SignatureBytes = 64;

bool isBase64Alphabet(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Standard Base64 with its padding and nothing else: no URL-safe letters, no white space.
std::optional<QByteArray> decodeBase64(QByteArrayView text)
{
    if (text.isEmpty() || text.size() % 4 != 0)
        return std::nullopt;
    qsizetype end = text.size();
    while (end > text.size() - 2 && text[end - 1] == '=')
        --end;
    for (qsizetype i = 0; i < end; ++i) {
        if (!isBase64Alphabet(text[i]))
            return std::nullopt;
    }
    auto decoded = QByteArray::fromBase64Encoding(text.toByteArray(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

// Dot-separated whole numbers, one to four of them ("1", "1.2", "1.2.3", "1.2.3.4"); trailing zero
// parts do not count, so "1.2" equals "1.2.0".
std::optional<QVersionNumber> parseVersion(const QString &text)
{
    const QStringList parts = text.split(u'.');
    if (parts.size() > 4)
        return std::nullopt;
    QList<int> numbers;
    for (const QString &part : parts) {
        // Nine digits always fit an int.
        if (part.isEmpty() || part.size() > 9
            || !std::all_of(part.begin(), part.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
            return std::nullopt;
        numbers.append(part.toInt());
    }
    return QVersionNumber(numbers).normalized();
}

bool verifyEd25519(const QByteArray &publicKey, const QByteArray &signature, const QByteArray &message)
{
    if (publicKey.size() != ed25519KeyBytes || signature.size() != ed25519SignatureBytes)
        return false;
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                    reinterpret_cast<const unsigned char *>(publicKey.constData()),
                                    size_t(publicKey.size())),
        &EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!key || !context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char *>(signature.constData()),
                            size_t(signature.size()), reinterpret_cast<const unsigned char *>(message.constData()),
                            size_t(message.size()))
        == 1;
}

struct FeedFailure {
    QString sentence;
};

// The feed (see FEED.md): a first line with the Base64 Ed25519 signature, then the signed bytes, a JSON
// object with "version" and an optional "notes" link. Nothing in it is read before the signature holds.
NativeUpdateResult readFeed(const NativeResponse &answer, const QByteArray &publicKey, const QString &current)
{
    if (answer.status >= 300 && answer.status < 400)
        throw FeedFailure{QCoreApplication::translate(
            "NativeUpdater", "The update server sent the check to another address; redirects are not followed.")};
    if (answer.status != 200)
        throw FeedFailure{
            QCoreApplication::translate("NativeUpdater", "The update server answered with status %1.").arg(answer.status)};

    const qsizetype lineEnd = answer.data.indexOf('\n');
    const std::optional<QByteArray> signature =
        lineEnd < 0 ? std::nullopt : decodeBase64(QByteArrayView(answer.data).first(lineEnd));
    if (!signature || signature->size() != ed25519SignatureBytes)
        throw FeedFailure{QCoreApplication::translate("NativeUpdater", "The update information is not signed.")};
    const QByteArray signedBytes = answer.data.mid(lineEnd + 1);
    if (!verifyEd25519(publicKey, *signature, signedBytes))
        throw FeedFailure{QCoreApplication::translate("NativeUpdater", "The update information\u2019s signature is not valid.")};

    const QJsonDocument document = QJsonDocument::fromJson(signedBytes);
    const QJsonValue version = document.object().value(QStringLiteral("version"));
    const std::optional<QVersionNumber> offered = version.isString() ? parseVersion(version.toString()) : std::nullopt;
    const std::optional<QVersionNumber> running = parseVersion(current);
    if (!document.isObject() || !offered || !running)
        throw FeedFailure{QCoreApplication::translate("NativeUpdater", "The update information could not be read.")};

    NativeUpdateResult result;
    result.kind = *offered > *running ? NativeUpdateResult::Kind::Available : NativeUpdateResult::Kind::UpToDate;
    result.version = version.toString();
    // A link the user is invited to open: only https, with a host and no user name.
    const QUrl notes(document.object().value(QStringLiteral("notes")).toString(), QUrl::StrictMode);
    if (notes.isValid() && notes.scheme() == u"https" && !notes.host().isEmpty() && notes.userInfo().isEmpty())
        result.notes = notes;
    return result;
}

QCoro::Task<> runCheck(QPointer<NativeUpdater> self, std::shared_ptr<const NativeHTTP> http, QString path,
                       QByteArray publicKey, QString current, bool userInitiated, std::stop_token stop,
                       std::function<void(NativeUpdateResult)> finish)
{
    NativeUpdateResult result;
    try {
        const NativeResponse answer = co_await http->responseDetails(path, "GET", std::nullopt, QString(),
                                                                     NativeUpdater::maxFeedBytes, stop);
        result = readFeed(answer, publicKey, current);
    } catch (const FeedFailure &failure) {
        result.error = failure.sentence;
    } catch (...) {
        result.error = describeError(std::current_exception());
    }
    if (!self || stop.stop_requested())
        co_return;
    result.userInitiated = userInitiated;
    result.currentVersion = current;
    finish(std::move(result));
}

} // namespace

bool NativeUpdater::validConfiguration(const QVariantMap &information)
{
    if (information.isEmpty())
        return false;

    const QVariant feed = information.value(QLatin1String(feedURLKey));
    if (feed.typeId() != QMetaType::QString)
        return false;
    const QString text = feed.toString();
    // The scheme as written: QUrl lower-cases it, and the rule is an exact "https".
    if (!text.startsWith(u"https:"))
        return false;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != u"https" || url.host().isEmpty() || url.hasFragment())
        return false;
    // An "@" anywhere in the authority is a user part, even an empty one.
    QStringView authority = QStringView(text).mid(sizeof("https://") - 1);
    for (qsizetype i = 0; i < authority.size(); ++i) {
        if (authority[i] == u'/' || authority[i] == u'?' || authority[i] == u'#') {
            authority = authority.left(i);
            break;
        }
    }
    if (!text.startsWith(u"https://") || authority.contains(u'@') || !url.userInfo().isEmpty())
        return false;

    const QVariant key = information.value(QLatin1String(publicKeyKey));
    if (key.typeId() != QMetaType::QString)
        return false;
    const std::optional<QByteArray> decoded = decodeBase64(key.toString().toUtf8());
    return decoded && decoded->size() == ed25519KeyBytes;
}

NativeUpdater::NativeUpdater(QObject *parent) : NativeUpdater(Options{}, parent) {}

NativeUpdater::NativeUpdater(Options options, QObject *parent) : QObject(parent)
{
    if (!validConfiguration(options.information))
        return;

    const QUrl feed(options.information.value(QLatin1String(feedURLKey)).toString(), QUrl::StrictMode);
    m_origin = feed.adjusted(QUrl::RemovePath | QUrl::RemoveQuery);
    m_feedPath = feed.path(QUrl::FullyEncoded);
    if (m_feedPath.isEmpty())
        m_feedPath = QStringLiteral("/");
    if (feed.hasQuery())
        m_feedPath += u'?' + feed.query(QUrl::FullyEncoded);
    m_publicKey = *decodeBase64(options.information.value(QLatin1String(publicKeyKey)).toString().toUtf8());
    m_currentVersion = options.currentVersion;
    m_timeouts = options.timeouts;
    m_automaticDelay = options.automaticDelay;
    m_now = options.now ? std::move(options.now) : [] { return QDateTime::currentDateTimeUtc(); };
    m_settings = options.settings ? options.settings()
                                  : std::make_unique<QSettings>(QStringLiteral("Teodal"), QStringLiteral("Calendar"));
    m_automatic = m_settings->value(QLatin1String(automaticKey), false).toBool();
    m_configured = true;

    connect(&m_schedule, &QTimer::timeout, this, [this] {
        m_schedule.setInterval(recheckInterval);
        checkIfDue();
    });
    scheduleAutomatic();
}

NativeUpdater::~NativeUpdater() { m_stop.request_stop(); }

void NativeUpdater::setAutomaticallyChecksForUpdates(bool enabled)
{
    if (!m_configured || enabled == m_automatic)
        return;
    m_automatic = enabled;
    m_settings->setValue(QLatin1String(automaticKey), enabled);
    m_settings->sync();
    scheduleAutomatic();
    emit automaticallyChecksForUpdatesChanged(enabled);
}

void NativeUpdater::checkForUpdates()
{
    if (canCheckForUpdates())
        startCheck(true);
}

void NativeUpdater::scheduleAutomatic()
{
    if (!m_automatic) {
        m_schedule.stop();
        return;
    }
    m_schedule.start(m_automaticDelay);
}

void NativeUpdater::checkIfDue()
{
    if (!m_automatic || m_checking)
        return;
    const QDateTime last = QDateTime::fromString(m_settings->value(QLatin1String(lastCheckKey)).toString(), Qt::ISODate);
    const QDateTime now = m_now();
    // A last check in the future means the clock was set back: do not wait for it.
    if (last.isValid() && last <= now && last.secsTo(now) < std::chrono::seconds(checkInterval).count())
        return;
    startCheck(false);
}

void NativeUpdater::startCheck(bool userInitiated)
{
    setChecking(true);
    m_settings->setValue(QLatin1String(lastCheckKey), m_now().toUTC().toString(Qt::ISODate));
    m_settings->sync();
    if (!m_http)
        m_http = std::make_shared<const NativeHTTP>(m_origin, std::nullopt, m_timeouts);
    runCheck(QPointer<NativeUpdater>(this), m_http, m_feedPath, m_publicKey, m_currentVersion, userInitiated,
             m_stop.get_token(), [this](NativeUpdateResult result) { finishCheck(std::move(result)); });
}

void NativeUpdater::finishCheck(NativeUpdateResult result)
{
    setChecking(false);
    if (!result.userInitiated) {
        // An automatic check speaks only of a newer version, and of each one once.
        if (result.kind != NativeUpdateResult::Kind::Available
            || m_settings->value(QLatin1String(announcedVersionKey)).toString() == result.version)
            return;
        m_settings->setValue(QLatin1String(announcedVersionKey), result.version);
        m_settings->sync();
    }
    emit announced(result);
}

void NativeUpdater::setChecking(bool checking)
{
    const bool could = canCheckForUpdates();
    m_checking = checking;
    if (canCheckForUpdates() != could)
        emit canCheckForUpdatesChanged(canCheckForUpdates());
}
