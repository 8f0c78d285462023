#pragma once

// What the view tests share: a model on preferences of its own, loading from a loopback peer that
// stands in for the server.
#include "calendar_model.h"
#include "loopback_peer.h"
#include "preferences.h"

#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

inline const Instant march12 = instantFromSeconds(1741777200); // 2025-03-12 12:00 in Madrid

// A session answer, the week from Monday, with these calendars ({"id":1,…} objects).
inline QByteArray sessionJson(int defaultCalendar, const QByteArray &calendars = {})
{
    return R"({"week_start":1,"zone":"UTC","default_calendar_id":)" + QByteArray::number(defaultCalendar)
           + R"(,"calendars":[)" + calendars + "]}";
}

struct ViewRig {
    QTemporaryDir folder;
    Preferences preferences{std::make_unique<QSettings>(folder.filePath("prefs.ini"), QSettings::IniFormat)};
    LoopbackPeer peer;
    NativeClient client;
    CalendarModel model;

    explicit ViewRig(std::optional<QString> zone)
        : client(std::make_shared<const NativeHTTP>(NativeHTTP::origin(peer.origin()), std::nullopt)),
          model(preferences, std::move(zone), march12)
    {
    }
    void serve(const QByteArray &session, const QByteArray &events = R"({"events":[]})")
    {
        peer.route("GET", "/api/native/session", PeerAnswer::json(200, session));
        peer.route("GET", "/api/native/events", PeerAnswer::json(200, events));
    }
};

template <typename T = QPushButton>
T *child(const QObject *parent, const char *name)
{
    return parent->findChild<T *>(QLatin1String(name));
}
