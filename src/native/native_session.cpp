#include "native_session.h"

#include "errors.h"

#include <QJsonDocument>
#include <QJsonObject>

bool decode(const QByteArray &json, NativeSession &out)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject object = document.object();
    const QJsonValue name = object.value(QLatin1String("name"));
    const QJsonValue value = object.value(QLatin1String("value"));
    if (!name.isString() || !value.isString())
        return false;
    out = NativeSession{name.toString(), value.toString()};
    return true;
}

QByteArray encode(const NativeSession &session)
{
    return QJsonDocument(QJsonObject{{QLatin1String("name"), session.name}, {QLatin1String("value"), session.value}})
        .toJson(QJsonDocument::Compact);
}

QString NativeCredentials::serviceName(const QString &applicationId)
{
    return applicationId.isEmpty() ? QStringLiteral("teodal.native.session") : applicationId + QLatin1String(".session");
}

NativeCredentials::NativeCredentials(SecretStore &store, QString service) : m_store(&store), m_service(std::move(service))
{
}

// Each operation copies what it needs before its first suspension, so it does not depend on this
// object outliving it (the store must).
QCoro::Task<std::optional<NativeSession>> NativeCredentials::read(QString account) const
{
    SecretStore *store = m_store;
    const QString service = m_service;
    SecretStore::ReadResult result;
    try {
        result = co_await store->read(service, std::move(account));
    } catch (const std::exception &) {
        co_return std::nullopt;
    }
    NativeSession session;
    if (result.status != SecretStore::ReadStatus::Found || !decode(result.data, session))
        co_return std::nullopt;
    co_return session;
}

QCoro::Task<> NativeCredentials::save(NativeSession session, QString account) const
{
    SecretStore *store = m_store;
    const QString service = m_service;
    const QByteArray data = encode(session);
    // The store writes by upsert; asking first keeps "could not update" apart from "could not save".
    // An unreadable store counts as holding the item: the write then replaces rather than adds. A
    // store that did not answer in time told nothing, and nothing is assumed to be there.
    const SecretStore::ReadResult existing = co_await store->read(service, account);
    const bool exists = existing.status == SecretStore::ReadStatus::Found
        || existing.status == SecretStore::ReadStatus::Failed;
    if (!co_await store->write(service, account, data))
        throw exists ? NativeClientError::keychainUpdateFailed() : NativeClientError::keychainSaveFailed();
}

QCoro::Task<> NativeCredentials::remove(QString account) const
{
    SecretStore *store = m_store;
    const QString service = m_service;
    try {
        co_await store->remove(service, std::move(account));
    } catch (const std::exception &) {
    }
}
