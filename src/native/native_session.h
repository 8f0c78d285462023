#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

// The signed-in session: one cookie, name and value.
struct NativeSession {
    QString name;
    QString value;
    friend bool operator==(const NativeSession &, const NativeSession &) = default;
};

// JSON form {"name", "value"}: both members required strings; other members ignored.
bool decode(const QByteArray &json, NativeSession &out);
QByteArray encode(const NativeSession &session);

// A secure secret store addressed by service and account. Asynchronous because the platform
// stores (Secret Service, Keychain, Credential Manager) are.
class SecretStore {
public:
    // TimedOut: the store did not answer within its limit, so whether the item exists is unknown.
    enum class ReadStatus { Found, NotFound, Failed, TimedOut };
    struct ReadResult {
        ReadStatus status = ReadStatus::Failed;
        QByteArray data;
    };
    virtual ~SecretStore() = default;
    virtual QCoro::Task<ReadResult> read(QString service, QString account) = 0;
    virtual QCoro::Task<bool> write(QString service, QString account, QByteArray data) = 0;
    virtual QCoro::Task<bool> remove(QString service, QString account) = 0;
};

// The system's secret store through QtKeychain; never falls back to plain text. Items hold UTF-8
// text (a write of other bytes fails); items in QtKeychain's Base64 form still read. A locked keyring
// can keep a job waiting on an unlock prompt with no limit of its own: past `jobLimit` (long enough
// for a person to answer the prompt) the store reports failure, and a write that lands later is
// deleted again.
std::unique_ptr<SecretStore> makeKeychainSecretStore(std::chrono::milliseconds jobLimit = std::chrono::seconds(30));

// Reads, saves and deletes the stored session of one origin (account = the origin's text).
class NativeCredentials {
public:
    // Service: applicationId + ".session", or "teodal.native.session" when applicationId is empty.
    static QString serviceName(const QString &applicationId);

    NativeCredentials(SecretStore &store, QString service);

    // Absent for no item, an unreadable store or bytes that are not a session. Never throws.
    QCoro::Task<std::optional<NativeSession>> read(QString account) const;
    // Throws NativeClientError::keychainUpdateFailed() or keychainSaveFailed().
    QCoro::Task<> save(NativeSession session, QString account) const;
    // Deletes the item; failures are ignored.
    QCoro::Task<> remove(QString account) const;

private:
    SecretStore *m_store;
    QString m_service;
};
