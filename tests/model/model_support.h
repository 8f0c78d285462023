#pragma once

#include "calendar_model.h"
#include "loopback_peer.h"
#include "preferences.h"

#include <QCoroTask>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <exception>

// A model on a fresh preferences file, with a client for a loopback peer.
struct ModelRig {
    QTemporaryDir folder;
    Preferences preferences{std::make_unique<QSettings>(folder.filePath("prefs.ini"), QSettings::IniFormat)};
    LoopbackPeer peer;
    NativeClient client;
    std::unique_ptr<CalendarModel> model;

    explicit ModelRig(std::optional<QString> zone = QStringLiteral("Europe/Madrid"),
                      Instant date = instantFromSeconds(1742040000), // 2025-03-15T12:00:00Z
                      NativeTimeouts timeouts = {})
        : client(std::make_shared<const NativeHTTP>(NativeHTTP::origin(peer.origin()), std::nullopt, timeouts)),
          model(std::make_unique<CalendarModel>(preferences, std::move(zone), date))
    {
    }
};

inline QByteArray sessionJson(qint64 weekStart, const QByteArray &calendars = R"([{"id":1,"name":"Team","hue":10,"writable":true}])",
                              qint64 defaultCalendar = 1)
{
    return R"({"week_start":)" + QByteArray::number(weekStart) + R"(,"zone":"UTC","calendars":)" + calendars
        + R"(,"default_calendar_id":)" + QByteArray::number(defaultCalendar) + "}";
}

inline CalendarEvent timedEvent(qint64 id, qint64 calendar, qint64 start, qint64 end)
{
    CalendarEvent event;
    event.id = id;
    event.calendar_id = calendar;
    event.start = start;
    event.end = end;
    return event;
}

inline QByteArray eventsJson(const QList<CalendarEvent> &events)
{
    QByteArrayList items;
    for (const CalendarEvent &event : events)
        items.append(encode(event));
    return R"({"events":[)" + items.join(',') + "]}";
}

inline QJsonObject jsonObject(const QByteArray &json) { return QJsonDocument::fromJson(json).object(); }

// Starts `task` and runs the event loop until it ends; returns what it threw, if anything.
inline std::exception_ptr finish(QCoro::Task<> task)
{
    std::exception_ptr error;
    bool done = false;
    auto watch = [](QCoro::Task<> task, std::exception_ptr &error, bool &done) -> QCoro::Task<> {
        try {
            co_await std::move(task);
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
    };
    auto watching = watch(std::move(task), error, done);
    if (!QTest::qWaitFor([&] { return done; }, 5000))
        qFatal("task did not finish");
    return error;
}

inline QString thrown(const std::exception_ptr &error) { return error ? describeError(error) : QString(); }

inline bool isCancellation(const std::exception_ptr &error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const CancellationError &) {
        return true;
    } catch (...) {
    }
    return false;
}
