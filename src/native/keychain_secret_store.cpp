#include "native_session.h"

#include <qt6keychain/keychain.h>

#include <QPointer>
#include <QTimer>

#include <chrono>
#include <coroutine>

namespace {

// A locked keyring can keep a job waiting on an unlock prompt with no limit of its own; past this
// the store reports failure. Long enough for a person to answer the prompt.
constexpr std::chrono::seconds jobLimit{30};

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
    explicit JobRun(QKeychain::Job *job) : m_job(job)
    {
        m_job->setAutoDelete(true);
        m_job->setInsecureFallback(false);
        m_limit.setSingleShot(true);
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
        m_limit.start(jobLimit);
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

class KeychainSecretStore final : public SecretStore {
public:
    QCoro::Task<ReadResult> read(QString service, QString account) override
    {
        auto *job = new QKeychain::ReadPasswordJob(service);
        job->setKey(account);
        JobRun run(job);
        const JobOutcome outcome = co_await run.wait();
        if (outcome.finished && outcome.error == QKeychain::NoError)
            co_return ReadResult{ReadStatus::Found, outcome.data};
        if (outcome.finished && outcome.error == QKeychain::EntryNotFound)
            co_return ReadResult{ReadStatus::NotFound, {}};
        co_return ReadResult{ReadStatus::Failed, {}};
    }

    QCoro::Task<bool> write(QString service, QString account, QByteArray data) override
    {
        auto *job = new QKeychain::WritePasswordJob(service);
        job->setKey(account);
        job->setBinaryData(data);
        JobRun run(job);
        const JobOutcome outcome = co_await run.wait();
        co_return outcome.finished && outcome.error == QKeychain::NoError;
    }

    QCoro::Task<bool> remove(QString service, QString account) override
    {
        auto *job = new QKeychain::DeletePasswordJob(service);
        job->setKey(account);
        JobRun run(job);
        const JobOutcome outcome = co_await run.wait();
        co_return outcome.finished && (outcome.error == QKeychain::NoError || outcome.error == QKeychain::EntryNotFound);
    }
};

} // namespace

std::unique_ptr<SecretStore> makeKeychainSecretStore() { return std::make_unique<KeychainSecretStore>(); }
