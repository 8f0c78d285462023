#pragma once

#include <QtGlobal>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

// What changed, for the open event streams: request threads publish each saved event, every stream
// waits on its own thread for changes after the last one it has seen. Thread-safe.
class LiveChanges {
public:
    struct Change {
        quint64 sequence = 0;
        qint64 calendarId = 0;
        qint64 eventId = 0;
        bool created = false;
    };

    void publish(qint64 calendarId, qint64 eventId, bool created);
    // The sequence number of the newest change; a stream starts from here.
    quint64 latest() const;
    // The changes after `seen`, waiting for one until `deadline` (or stop()); empty when none came.
    // A stream that fell so far behind that older changes were dropped gets the ones still kept.
    std::vector<Change> after(quint64 seen, std::chrono::steady_clock::time_point deadline);
    // Wakes every waiting stream for good, so that a stopping server need not wait for them.
    void stop();
    bool stopping() const;

private:
    static constexpr std::size_t keptChanges = 1000; // far more than arrive between two reads of a stream

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<Change> m_recent;
    quint64 m_sequence = 0;
    bool m_stopping = false;
};
