#pragma once

#include <QCoroTask>
#include <QObject>
#include <QPointer>

#include <exception>
#include <functional>

// Awaits `work` and hands its outcome (no exception on success) to `report`, but only while `owner`
// still exists: the work itself runs to its end whatever happens to the view that started it.
inline QCoro::Task<> reportOutcome(QPointer<QObject> owner, QCoro::Task<> work,
                                   std::function<void(std::exception_ptr)> report)
{
    std::exception_ptr failure;
    try {
        co_await std::move(work);
    } catch (...) {
        failure = std::current_exception();
    }
    if (owner)
        report(failure);
}
