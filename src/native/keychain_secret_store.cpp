#include "native_session.h"

#include <qt6keychain/keychain.h>

#include <QHash>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <coroutine>
#include <memory>

namespace {

struct JobOutcome {
    bool finished = false;
    QKeychain::Error error = QKeychain::OtherError;
    QByteArray data;
};

// Starts a job and resumes when it finishes or the limit passes. The outcome is copied inside the
// finished signal, before the job deletes itself. A job past its limit is left to finish and
// delete itself: deleting a running job is not safe.
class JobRun {
public:
    JobRun(QKeychain::Job *job, std::chrono::milliseconds limit) : m_job(job)
    {
        prepare(job);
        m_limit.setSingleShot(true);
        m_limit.setInterval(limit);
    }

    static void prepare(QKeychain::Job *job)
    {
        job->setAutoDelete(true);
        job->setInsecureFallback(false);
    }

    struct Awaiter {
        JobRun *run;
        bool await_ready() const noexcept { return false; }
        bool await_suspend(std::coroutine_handle<> waiting) const { return run->suspend(waiting); }
        JobOutcome await_resume() const { return std::move(run->m_outcome); }
    };
    Awaiter wait() { return {this}; }

private:
    // A job may finish inside start(); the caller then goes on without suspending.
    bool suspend(std::coroutine_handle<> waiting)
    {
        QObject::connect(m_job, &QKeychain::Job::finished, &m_limit, [this](QKeychain::Job *job) {
            m_outcome.finished = true;
            m_outcome.error = job->error();
            if (auto *read = qobject_cast<QKeychain::ReadPasswordJob *>(job))
                m_outcome.data = read->binaryData();
            resume();
        });
        QObject::connect(&m_limit, &QTimer::timeout, &m_limit, [this] { resume(); });
        m_limit.start();
        m_job->start();
        if (m_outcome.finished)
            return false;
        m_waiting = waiting;
        return true;
    }

    void resume()
    {
        m_limit.stop();
        QObject::disconnect(m_job, nullptr, &m_limit, nullptr);
        if (m_waiting)
            std::exchange(m_waiting, nullptr).resume();
    }

    QPointer<QKeychain::Job> m_job;
    QTimer m_limit;
    std::coroutine_handle<> m_waiting;
    JobOutcome m_outcome;
};

// QtKeychain runs jobs one at a time in the order they started, so a write that the store reported
// as failed because it passed its limit still lands when the keyring answers, and only the jobs
// started after it decide what the item holds in the end. When the last running job of an item
// ends and such a write landed without being overwritten or deleted since, the item is deleted: a
// save reported as failed must not leave a session behind for the next start.
class ItemJobs : public std::enable_shared_from_this<ItemJobs> {
public:
    enum class Kind { Write, Remove, Cleanup };
    using Key = std::pair<QString, QString>; // service, account

    // Call before the job starts; *abandoned is read when it finishes.
    void track(QKeychain::Job *job, Key key, Kind kind, std::shared_ptr<const bool> abandoned)
    {
        ++m_items[key].running;
        QObject::connect(job, &QKeychain::Job::finished, job,
                         [self = shared_from_this(), key, kind, abandoned](QKeychain::Job *finished) {
                             const QKeychain::Error error = finished->error();
                             const bool landed = error == QKeychain::NoError
                                 || (kind != Kind::Write && error == QKeychain::EntryNotFound);
                             self->ended(key, kind, landed, *abandoned);
                         });
    }

private:
    struct Item {
        int running = 0;
        bool unwanted = false; // holds a write reported as failed
    };

    void ended(const Key &key, Kind kind, bool landed, bool abandoned)
    {
        Item &item = m_items[key];
        --item.running;
        if (landed || kind == Kind::Cleanup) // a failed clean-up is not tried again
            item.unwanted = kind == Kind::Write && abandoned;
        if (item.running > 0)
            return;
        const bool unwanted = item.unwanted;
        m_items.remove(key);
        if (!unwanted)
            return;
        auto *job = new QKeychain::DeletePasswordJob(key.first);
        job->setKey(key.second);
        JobRun::prepare(job);
        track(job, key, Kind::Cleanup, std::make_shared<const bool>(false));
        job->start();
    }

    QHash<Key, Item> m_items;
};

class KeychainSecretStore final : public SecretStore {
public:
    explicit KeychainSecretStore(std::chrono::milliseconds jobLimit) : m_jobLimit(jobLimit) {}

    QCoro::Task<ReadResult> read(QString service, QString account) override
    {
        auto *job = new QKeychain::ReadPasswordJob(service);
        job->setKey(account);
        JobRun run(job, m_jobLimit);
        const JobOutcome outcome = co_await run.wait();
        if (!outcome.finished)
            co_return ReadResult{ReadStatus::TimedOut, {}};
        if (outcome.error == QKeychain::NoError)
            co_return ReadResult{ReadStatus::Found, outcome.data};
        if (outcome.error == QKeychain::EntryNotFound)
            co_return ReadResult{ReadStatus::NotFound, {}};
        co_return ReadResult{ReadStatus::Failed, {}};
    }

    QCoro::Task<bool> write(QString service, QString account, QByteArray data) override
    {
        // The item holds the bytes as its text. QtKeychain keeps its Base64 form (binary data, which
        // earlier versions wrote) as a separate item that reads look at only when there is no text
        // item, so bytes that are not text are refused rather than stored in that form, where an
        // older text item would hide them.
        const QString text = QString::fromUtf8(data);
        if (data.contains('\0') || text.toUtf8() != data)
            co_return false;
        auto *job = new QKeychain::WritePasswordJob(service);
        job->setKey(account);
        job->setTextData(text);
        const bool succeeded = co_await change(job, {service, account}, ItemJobs::Kind::Write);
        co_return succeeded;
    }

    QCoro::Task<bool> remove(QString service, QString account) override
    {
        auto *job = new QKeychain::DeletePasswordJob(service);
        job->setKey(account);
        const bool succeeded = co_await change(job, {service, account}, ItemJobs::Kind::Remove);
        co_return succeeded;
    }

private:
    // Runs a job that changes the item; a job past the limit is reported as failed and left to the
    // item's bookkeeping.
    QCoro::Task<bool> change(QKeychain::Job *job, ItemJobs::Key key, ItemJobs::Kind kind)
    {
        const auto abandoned = std::make_shared<bool>(false);
        m_items->track(job, std::move(key), kind, abandoned);
        JobRun run(job, m_jobLimit);
        const JobOutcome outcome = co_await run.wait();
        *abandoned = !outcome.finished;
        co_return outcome.finished
            && (outcome.error == QKeychain::NoError
                || (kind == ItemJobs::Kind::Remove && outcome.error == QKeychain::EntryNotFound));
    }

    std::chrono::milliseconds m_jobLimit;
    std::shared_ptr<ItemJobs> m_items = std::make_shared<ItemJobs>();
};

} // namespace

std::unique_ptr<SecretStore> makeKeychainSecretStore(std::chrono::milliseconds jobLimit)
{
    return std::make_unique<KeychainSecretStore>(jobLimit);
}
