#pragma once

// An in-memory SecretStore for tests, with switches that make it fail the way a platform store can.
// Every operation completes without suspending; a failed write or remove leaves the items unchanged.

#include "native_session.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>
#include <utility>

class MemorySecretStore final : public SecretStore {
public:
    using Key = std::pair<QString, QString>; // service, account

    QHash<Key, QByteArray> items;
    std::optional<ReadStatus> failReads; // Failed or TimedOut (the item may exist)
    bool failWrites = false;
    bool failRemoves = false;

    QCoro::Task<ReadResult> read(QString service, QString account) override
    {
        const auto found = items.constFind({service, account});
        co_return failReads ? ReadResult{*failReads, {}}
            : found == items.constEnd() ? ReadResult{ReadStatus::NotFound, {}} : ReadResult{ReadStatus::Found, *found};
    }
    QCoro::Task<bool> write(QString service, QString account, QByteArray data) override
    {
        if (!failWrites)
            items.insert({service, account}, data);
        co_return !failWrites;
    }
    QCoro::Task<bool> remove(QString service, QString account) override
    {
        if (!failRemoves)
            items.remove({service, account});
        co_return !failRemoves;
    }
};
