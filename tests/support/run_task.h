#pragma once

// Runs a QCoro task to its end from synchronous test code, in a nested event loop, and hands back its
// value or rethrows its exception (QCoro::waitFor of QCoro 0.8 never returns when the task throws).
// A task still running after `limit` makes runTask throw std::runtime_error; the task keeps running.
// taskFailure gives the exception instead, or nullptr when the task succeeds; outcomeOf tells what
// ended a task as one word or sentence a test can compare: empty for success, "cancelled",
// "timeout", "transport", "file: <the system's text>", or the error's own sentence.

#include "errors.h"
#include "file_system_error.h"

#include <QCoroTask>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>

template <typename T>
T runTask(QCoro::Task<T> task, std::chrono::milliseconds limit = std::chrono::seconds(30))
{
    struct State {
        std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> value;
        std::exception_ptr error;
        QEventLoop loop;
    };
    auto state = std::make_shared<State>();
    [](QCoro::Task<T> running, std::shared_ptr<State> state) -> QCoro::Task<> {
        try {
            if constexpr (std::is_void_v<T>)
                co_await std::move(running), state->value = true;
            else
                state->value.emplace(co_await std::move(running));
        } catch (...) {
            state->error = std::current_exception();
        }
        state->loop.quit();
    }(std::move(task), state);
    if (!state->value && !state->error) {
        QTimer::singleShot(limit, &state->loop, [loop = &state->loop] { loop->quit(); });
        state->loop.exec();
    }
    if (state->error)
        std::rethrow_exception(state->error);
    if (!state->value)
        throw std::runtime_error("the task did not finish in time");
    if constexpr (!std::is_void_v<T>)
        return std::move(*state->value);
}

template <typename T>
std::exception_ptr taskFailure(QCoro::Task<T> task, std::chrono::milliseconds limit = std::chrono::seconds(30))
{
    try {
        runTask(std::move(task), limit);
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

inline QString outcomeOf(std::exception_ptr error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const CancellationError &) {
        return QStringLiteral("cancelled");
    } catch (const TransportError &e) {
        return e.kind() == TransportError::Kind::TimedOut ? QStringLiteral("timeout") : QStringLiteral("transport");
    } catch (const FileSystemError &e) {
        return QStringLiteral("file: ") + e.description();
    } catch (const std::exception &) {
        return describeError(std::current_exception());
    }
    return {};
}

template <typename T>
QString outcomeOf(QCoro::Task<T> task)
{
    return outcomeOf(taskFailure(std::move(task)));
}
