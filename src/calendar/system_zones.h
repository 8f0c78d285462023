#pragma once

#include <QByteArrayView>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>

#include <unicode/timezone.h>

#include <memory>
#include <unordered_map>

// The IANA time-zone database as the system installs it: one TZif file per zone under a directory
// ($TZDIR or /usr/share/zoneinfo) and an index of the names (tzdata.zi, else zone1970.tab and
// zone.tab). Zones are built once from their files as ICU zones, so formatting and calendars stay on
// ICU while the rules follow the distribution's updates. Without a database the zones built into
// ICU serve instead.
class ZoneDatabase {
public:
    explicit ZoneDatabase(const QString &directory);
    ~ZoneDatabase();
    ZoneDatabase(const ZoneDatabase &) = delete;
    ZoneDatabase &operator=(const ZoneDatabase &) = delete;

    // The process's database, found on first use: $TZDIR, else /usr/share/zoneinfo.
    static ZoneDatabase &system();

    // Whether the directory holds a database; otherwise ICU's built-in zones answer.
    bool available() const { return m_available; }
    // The zone named `id` (a zone or a link of the database), built on first use and kept for the
    // database's lifetime; null for a name outside the database. Safe to call from any thread.
    const icu::TimeZone *zone(const QString &id);
    // The zones' names (links left out), sorted.
    QStringList zoneIds() const { return m_zoneIds; }
    // The system's current zone: TZ, else /etc/localtime (or /etc/timezone); null text when neither
    // names a zone of the database. Read afresh on every call.
    QString currentZoneId();

private:
    bool listed(const QString &id) const;
    std::unique_ptr<icu::TimeZone> build(const QString &id) const;

    QString m_directory;
    bool m_available = false;
    QSet<QString> m_names; // zones and links
    QStringList m_zoneIds;
    QMutex m_mutex;
    std::unordered_map<QString, std::unique_ptr<icu::TimeZone>> m_zones; // null for a failed build
};

// An ICU zone named `id` from the contents of a TZif file (version 2 or later): the 64-bit
// transitions and the POSIX TZ footer for the years after them. Null when the data is malformed.
std::unique_ptr<icu::TimeZone> zoneFromTzif(const QString &id, QByteArrayView data);
