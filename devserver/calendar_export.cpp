#include "calendar_export.h"

#include "local_time.h"

#include <libical/ical.h>

#include <QHash>

#include <memory>

namespace {

using Component = std::unique_ptr<icalcomponent, decltype(&icalcomponent_free)>;

icaltimetype wallTime(const LocalDateTime &local, bool allDay)
{
    icaltimetype time = icaltime_null_time();
    time.year = int(local.date.year());
    time.month = int(unsigned(local.date.month()));
    time.day = int(unsigned(local.date.day()));
    time.is_date = allDay ? 1 : 0;
    if (!allDay) {
        time.hour = local.hour();
        time.minute = local.minute();
    }
    return time;
}

// DTSTART or DTEND at the wall time in `zone`; UTC times carry a Z instead of a zone.
icalproperty *timeProperty(icalproperty *(*make)(icaltimetype), const LocalDateTime &local, bool allDay,
                           icaltimezone *zone)
{
    icaltimetype time = wallTime(local, allDay);
    if (allDay)
        return make(time);
    if (!zone) {
        time.zone = icaltimezone_get_utc_timezone();
        return make(time);
    }
    icalproperty *property = make(time);
    icalproperty_set_parameter(property, icalparameter_new_tzid(icaltimezone_get_location(zone)));
    return property;
}

icalproperty_status statusOf(const QString &status)
{
    if (status == QLatin1String("tentative"))
        return ICAL_STATUS_TENTATIVE;
    if (status == QLatin1String("cancelled"))
        return ICAL_STATUS_CANCELLED;
    return ICAL_STATUS_CONFIRMED;
}

} // namespace

QByteArray exportCalendars(const std::vector<StoredCalendar> &calendars, const std::vector<StoredEvent> &events,
                           Instant now)
{
    icalerror_set_errors_are_fatal(0);
    QHash<qint64, QString> calendarNames;
    for (const StoredCalendar &calendar : calendars)
        calendarNames.insert(calendar.id, calendar.name);

    Component calendar(icalcomponent_new_vcalendar(), icalcomponent_free);
    icalcomponent_add_property(calendar.get(), icalproperty_new_version("2.0"));
    icalcomponent_add_property(calendar.get(), icalproperty_new_prodid("-//Teodal//Development calendar server//EN"));
    icalcomponent_add_property(calendar.get(), icalproperty_new_calscale("GREGORIAN"));

    const icaltimetype stamp = icaltime_from_timet_with_zone(time_t(secondsSinceEpoch(now)), 0,
                                                             icaltimezone_get_utc_timezone());
    QHash<QString, icaltimezone *> zones; // the zones met so far; nullptr for those written in UTC
    std::vector<icalcomponent *> vevents;   // added after the zones, which readers like to meet first
    for (const StoredEvent &event : events) {
        const auto start = LocalDateTime::parse(event.startLocal, event.allDay);
        const auto end = LocalDateTime::parse(event.endLocal, event.allDay);
        if (!start || !end)
            continue; // the store only holds valid times; nothing sensible to write otherwise
        icaltimezone *zone = nullptr;
        const QString zoneName = resolvedZone(event.tz);
        if (!event.allDay && zoneName != QLatin1String("UTC")) {
            if (auto known = zones.constFind(zoneName); known != zones.constEnd()) {
                zone = *known;
            } else {
                zone = icaltimezone_get_builtin_timezone(zoneName.toUtf8().constData());
                if (zone) {
                    // libical names its zones with a prefix of its own; the plain IANA name is what
                    // other calendar programs write and read.
                    icalcomponent *vtimezone = icalcomponent_new_clone(icaltimezone_get_component(zone));
                    if (icalproperty *tzid = icalcomponent_get_first_property(vtimezone, ICAL_TZID_PROPERTY))
                        icalproperty_set_tzid(tzid, icaltimezone_get_location(zone));
                    icalcomponent_add_component(calendar.get(), vtimezone);
                }
                zones.insert(zoneName, zone);
            }
        }

        icalcomponent *vevent = icalcomponent_new_vevent();
        const QByteArray uid = QByteArray::number(event.id) + "@teodal-devserver";
        icalcomponent_add_property(vevent, icalproperty_new_uid(uid.constData()));
        icalcomponent_add_property(vevent, icalproperty_new_dtstamp(stamp));
        icalcomponent_add_property(vevent, timeProperty(icalproperty_new_dtstart, *start, event.allDay, zone));
        icalcomponent_add_property(vevent, timeProperty(icalproperty_new_dtend, *end, event.allDay, zone));
        if (!event.rule.isEmpty())
            icalcomponent_add_property(
                vevent, icalproperty_new_rrule(icalrecurrencetype_from_string(event.rule.toLatin1().constData())));
        icalcomponent_add_property(vevent, icalproperty_new_summary(event.title.toUtf8().constData()));
        if (!event.location.isEmpty())
            icalcomponent_add_property(vevent, icalproperty_new_location(event.location.toUtf8().constData()));
        if (!event.notes.isEmpty())
            icalcomponent_add_property(vevent, icalproperty_new_description(event.notes.toUtf8().constData()));
        icalcomponent_add_property(vevent, icalproperty_new_status(statusOf(event.status)));
        if (const QString name = calendarNames.value(event.calendarId); !name.isEmpty())
            icalcomponent_add_property(vevent, icalproperty_new_categories(name.toUtf8().constData()));
        vevents.push_back(vevent);
    }
    for (icalcomponent *vevent : vevents)
        icalcomponent_add_component(calendar.get(), vevent);
    char *text = icalcomponent_as_ical_string_r(calendar.get());
    QByteArray result(text);
    icalmemory_free_buffer(text);
    return result;
}
