#include "calendar_live_updates.h"

#include "calendar_model.h"

#include <QPointer>

#include <algorithm>
#include <functional>

namespace {

const QString streamPath = QStringLiteral("/api/native/stream");

// One reload at a time; asks arriving meanwhile make one more.
struct Reloads {
    bool running = false;
    bool again = false;
};

QCoro::Task<> reload(QPointer<CalendarModel> model, NativeClient client, std::shared_ptr<Reloads> state,
                     std::stop_token stop)
{
    if (state->running) {
        state->again = true;
        co_return;
    }
    state->running = true;
    do {
        state->again = false;
        if (!model || stop.stop_requested())
            break;
        co_await model->load(client);
    } while (state->again);
    state->running = false;
}

// Everything is held by value: the object that started this may be gone by the time a stop request
// resumes it.
QCoro::Task<> keepStreaming(QPointer<CalendarModel> model, NativeClient client, std::shared_ptr<Clock> clock,
                            CalendarLiveUpdates::Backoff backoff, std::stop_token stop)
{
    auto reloads = std::make_shared<Reloads>();
    std::chrono::milliseconds pause = backoff.first;
    bool reconnecting = false;
    while (!stop.stop_requested() && model) {
        const Clock::TimePoint opened = clock->now();
        try {
            // An event ends at its empty line; only events that carried data ask for a reload.
            auto carriesData = std::make_shared<bool>(false);
            std::function<QCoro::Task<>()> opened = [=]() -> QCoro::Task<> {
                if (reconnecting)
                    reload(model, client, reloads, stop);
                co_return;
            };
            std::function<QCoro::Task<>(QString)> line = [=](QString text) -> QCoro::Task<> {
                if (text.startsWith(u"data:") || text == u"data")
                    *carriesData = true;
                else if (text.isEmpty() && std::exchange(*carriesData, false))
                    reload(model, client, reloads, stop);
                co_return;
            };
            // The task is made in a statement of its own: GCC 12 destroys temporaries made inside a
            // co_await expression (here the callbacks) twice.
            QCoro::Task<> streaming = client->stream(streamPath, std::move(opened), std::move(line), stop);
            co_await std::move(streaming);
        } catch (const CancellationError &) {
            if (stop.stop_requested())
                co_return;
        } catch (...) {
            // Any failure (refused, dropped, timed out) is met by reconnecting; the model shows
            // the session's state through its own loads.
        }
        if (clock->now() - opened >= backoff.healthy)
            pause = backoff.first;
        try {
            co_await clock->sleep(pause, stop);
        } catch (...) {
            co_return;
        }
        pause = std::min(pause * 2, backoff.longest);
        reconnecting = true;
    }
}

} // namespace

CalendarLiveUpdates::CalendarLiveUpdates(CalendarModel &model, NativeClient client, QObject *parent)
    : CalendarLiveUpdates(model, std::move(client), std::make_shared<SystemClock>(), Backoff{}, parent)
{
}

CalendarLiveUpdates::CalendarLiveUpdates(CalendarModel &model, NativeClient client, std::shared_ptr<Clock> clock,
                                         Backoff backoff, QObject *parent)
    : QObject(parent)
{
    keepStreaming(QPointer<CalendarModel>(&model), std::move(client), std::move(clock), backoff, m_stop.get_token());
}

CalendarLiveUpdates::~CalendarLiveUpdates() { m_stop.request_stop(); }
