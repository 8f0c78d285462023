#pragma once

#include "clock.h"
#include "native_http.h"

#include <QObject>

#include <chrono>
#include <memory>
#include <stop_token>

class CalendarModel;

// Keeps the calendar current while it is shown: one event stream to "/api/native/stream", and a
// reload of the model (model.load, so the newest load wins) after each event the server sends —
// someone saved an event in one of the person's calendars. Reloads that arrive while one runs are
// folded into one more. When the stream fails or ends, it reconnects after a pause that starts at
// 1 s and doubles up to 60 s, back to 1 s once a stream stayed open for a minute; every reconnect
// reloads once, for the changes missed meanwhile. Destroying the object stops all of it.
class CalendarLiveUpdates : public QObject {
    Q_OBJECT
public:
    struct Backoff {
        std::chrono::milliseconds first{1'000};
        std::chrono::milliseconds longest{60'000};
        std::chrono::milliseconds healthy{60'000}; // a stream open this long resets the pause
    };

    CalendarLiveUpdates(CalendarModel &model, NativeClient client, QObject *parent = nullptr);
    CalendarLiveUpdates(CalendarModel &model, NativeClient client, std::shared_ptr<Clock> clock, Backoff backoff,
                        QObject *parent = nullptr);
    ~CalendarLiveUpdates() override;

private:
    std::stop_source m_stop;
};
