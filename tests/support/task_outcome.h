#pragma once

// What ended a task, as one word or sentence a test can compare: empty for success, "cancelled",
// "timeout", "transport", "file: <the system's text>", or the error's own sentence.

#include "errors.h"
#include "file_system_error.h"

#include <QString>

#include <exception>

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
