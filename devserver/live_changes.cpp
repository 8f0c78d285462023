#include "live_changes.h"

void LiveChanges::publish(qint64 calendarId, qint64 eventId, bool created)
{
    {
        std::lock_guard guard(m_lock);
        m_recent.push_back({++m_sequence, calendarId, eventId, created});
        if (m_recent.size() > keptChanges)
            m_recent.pop_front();
    }
    m_changed.notify_all();
}

quint64 LiveChanges::latest() const
{
    std::lock_guard guard(m_lock);
    return m_sequence;
}

std::vector<LiveChanges::Change> LiveChanges::after(quint64 seen, std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock guard(m_lock);
    m_changed.wait_until(guard, deadline, [&] { return m_stopping || m_sequence > seen; });
    std::vector<Change> changes;
    for (const Change &change : m_recent)
        if (change.sequence > seen)
            changes.push_back(change);
    return changes;
}

void LiveChanges::stop()
{
    {
        std::lock_guard guard(m_lock);
        m_stopping = true;
    }
    m_changed.notify_all();
}

bool LiveChanges::stopping() const
{
    std::lock_guard guard(m_lock);
    return m_stopping;
}
