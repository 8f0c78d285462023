#include "memory_secret_store.h"

QCoro::Task<SecretStore::ReadResult> MemorySecretStore::read(QString service, QString account)
{
    ++reads;
    if (unavailable || failReads)
        co_return ReadResult{ReadStatus::Failed, {}};
    if (timeOutReads)
        co_return ReadResult{ReadStatus::TimedOut, {}};
    const auto found = items.constFind({service, account});
    if (found == items.constEnd())
        co_return ReadResult{ReadStatus::NotFound, {}};
    co_return ReadResult{ReadStatus::Found, *found};
}

QCoro::Task<bool> MemorySecretStore::write(QString service, QString account, QByteArray data)
{
    ++writes;
    if (unavailable || failWrites)
        co_return false;
    items.insert({service, account}, data);
    co_return true;
}

QCoro::Task<bool> MemorySecretStore::remove(QString service, QString account)
{
    ++removes;
    if (unavailable || failRemoves)
        co_return false;
    items.remove({service, account});
    co_return true;
}
