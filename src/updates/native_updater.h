#pragma once

#include "native_http.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

class QSettings;

// What one finished check found, as the user is told about it.
struct NativeUpdateResult {
    enum class Kind { Available, UpToDate, Failed };
    Kind kind = Kind::Failed;
    bool userInitiated = false;
    QString currentVersion; // this build's version
    QString version;        // the feed's version (Available, UpToDate)
    QUrl notes;             // the release notes, only when the feed names an https link
    QString error;          // Failed: one user-facing sentence
};
Q_DECLARE_METATYPE(NativeUpdateResult)

// Checks a signed feed for a newer version of the app. Configured only when the build carries a valid
// feed address and public key (validConfiguration); unconfigured, it never touches the network and
// nothing about it changes for the life of the process. It downloads and installs nothing: the
// system's package manager does that.
class NativeUpdater : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isConfigured READ isConfigured CONSTANT)
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates
                   WRITE setAutomaticallyChecksForUpdates NOTIFY automaticallyChecksForUpdatesChanged)
public:
    static constexpr auto feedURLKey = "SUFeedURL";
    static constexpr auto publicKeyKey = "SUPublicEDKey";
    static constexpr qint64 maxFeedBytes = 64 * 1024; // a version and a link; anything larger is not a feed
    static constexpr std::chrono::hours checkInterval{24};

    struct Options {
        QVariantMap information = buildInformation();
        QString currentVersion = buildVersion();
        // Defaults to QSettings for organisation "Teodal", application "Calendar".
        std::function<std::unique_ptr<QSettings>()> settings;
        // Wall-clock now, for the once-a-day rule across runs; defaults to the system clock.
        std::function<QDateTime()> now;
        // How long after start-up (or after switching automatic checks on) a due check starts.
        std::chrono::milliseconds automaticDelay{5'000};
        NativeTimeouts timeouts = {};
    };

    // The build's update configuration: the feed address and public key compiled in from the CMake
    // cache variables TEODAL_UPDATE_FEED_URL and TEODAL_UPDATE_PUBLIC_KEY (keys left out when empty).
    static QVariantMap buildInformation();
    // The CMake project version.
    static QString buildVersion();
    // An https feed address with a host and no user, password or fragment, and a key that decodes as
    // standard Base64 to exactly 32 bytes; both must be strings.
    static bool validConfiguration(const QVariantMap &information);

    explicit NativeUpdater(QObject *parent = nullptr);
    explicit NativeUpdater(Options options, QObject *parent = nullptr);
    ~NativeUpdater() override;

    bool isConfigured() const { return m_configured; }
    // False when unconfigured and while a check runs.
    bool canCheckForUpdates() const { return m_configured && !m_checking; }
    bool automaticallyChecksForUpdates() const { return m_automatic; }
    // Stored as "updates.automaticallyCheck"; ignored when unconfigured.
    void setAutomaticallyChecksForUpdates(bool enabled);

    // A check the user asked for; its result is always announced. Does nothing unless
    // canCheckForUpdates.
    void checkForUpdates();

signals:
    void canCheckForUpdatesChanged(bool canCheck);
    void automaticallyChecksForUpdatesChanged(bool enabled);
    // Something to tell the user: every result of a check the user asked for, and a newer version
    // found by an automatic check (each version once).
    void announced(const NativeUpdateResult &result);

private:
    void startCheck(bool userInitiated);
    void finishCheck(NativeUpdateResult result);
    void checkIfDue();
    void setChecking(bool checking);
    void scheduleAutomatic();

    bool m_configured = false;
    bool m_checking = false;
    bool m_automatic = false;
    QUrl m_origin;
    QString m_feedPath; // path and query
    QByteArray m_publicKey;
    QString m_currentVersion;
    NativeTimeouts m_timeouts;
    std::chrono::milliseconds m_automaticDelay{};
    std::function<QDateTime()> m_now;
    std::unique_ptr<QSettings> m_settings;
    std::shared_ptr<const NativeHTTP> m_http; // made at the first check
    QTimer m_schedule;
    std::stop_source m_stop;
};
