#pragma once

// An in-memory SecretStore for tests, with switches that make it fail the way a platform store can.
//
//   MemorySecretStore store;
//   NativeCredentials credentials(store, NativeCredentials::serviceName("app.teodal.calendar"));
//   store.failWrites = true;             // every write reports failure
//   store.items.value({service, account}) // what is stored
//
// Every operation completes without suspending. A failed write or remove leaves the items unchanged.

#include "native_session.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <utility>

class MemorySecretStore final : public SecretStore {
public:
    using Key = std::pair<QString, QString>; // service, account

    QHash<Key, QByteArray> items;

    bool unavailable = false;  // no store at all: reads fail, writes and removes fail
    bool failReads = false;    // reads report Failed (the item may exist)
    bool timeOutReads = false; // reads report TimedOut (the item may exist)
    bool failWrites = false;   // writes report failure
    bool failRemoves = false;  // removes report failure

    int reads = 0;   // calls made, failed ones included
    int writes = 0;
    int removes = 0;

    QCoro::Task<ReadResult> read(QString service, QString account) override;
    QCoro::Task<bool> write(QString service, QString account, QByteArray data) override;
    QCoro::Task<bool> remove(QString service, QString account) override;
};
