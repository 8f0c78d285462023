#include "seed.h"

#include "local_time.h"
#include "store.h"

#include <QStringList>

#include <deque>

using namespace std::chrono;

namespace {
const QString madrid = QStringLiteral("Europe/Madrid");

// The day within half a year of `today` nearest to it on which 02:30 does not exist in one of
// `zones`; the zone is returned with it.
std::pair<year_month_day, QString> nearestSkippedNight(year_month_day today)
{
    const QStringList zones = {madrid, QStringLiteral("America/New_York"), QStringLiteral("Australia/Sydney")};
    for (int distance = 0; distance <= 183; ++distance) {
        for (const int sign : {1, -1}) {
            const year_month_day day = year_month_day(sys_days(today) + days(sign * distance));
            for (const QString &zone : zones)
                if (const auto placed = placeLocal(LocalDateTime{day, 150}, zone);
                    placed && placed->fit == PlacedTime::Fit::Skipped)
                    return {day, zone};
        }
    }
    return {today, madrid};
}

class Seeder {
public:
    Seeder(Store &store, year_month_day today) : m_store(store), m_today(today) {}

    // A timed event `offset` days from today at hh:mm for `minutes`, in `tz`.
    StoredEvent &timed(qint64 calendar, const QString &title, int offset, int hh, int mm, int minutes,
                       const QString &tz = madrid)
    {
        StoredEvent e;
        e.calendarId = calendar;
        e.title = title;
        const LocalDateTime start{year_month_day(sys_days(m_today) + days(offset)), hh * 60 + mm};
        e.startLocal = start.text(false);
        e.endLocal = start.plusMinutes(minutes).text(false);
        e.tz = tz;
        m_events.push_back(e);
        return m_events.back();
    }

    // An all-day event covering `count` days from `offset` days from today.
    StoredEvent &allDay(qint64 calendar, const QString &title, int offset, int count, const QString &tz = madrid)
    {
        StoredEvent e;
        e.calendarId = calendar;
        e.title = title;
        e.allDay = true;
        const LocalDateTime start{year_month_day(sys_days(m_today) + days(offset)), 0};
        e.startLocal = start.text(true);
        e.endLocal = start.plusDays(count).text(true);
        e.tz = tz;
        m_events.push_back(e);
        return m_events.back();
    }

    // Days from today to the nearest `weekday` (0 = Sunday) on or before today, minus `weeksBack` weeks.
    int weekdayBefore(unsigned target, int weeksBack) const
    {
        const int back = int((weekday(sys_days(m_today)).c_encoding() + 7 - target) % 7);
        return -back - 7 * weeksBack;
    }

    int daysTo(year_month_day day) const { return int((sys_days(day) - sys_days(m_today)).count()); }

    void save()
    {
        for (const auto &e : m_events)
            m_store.addEvent(e);
    }

private:
    Store &m_store;
    year_month_day m_today;
    std::deque<StoredEvent> m_events; // stable references while the caller fills one in
};
} // namespace

void seedStore(Store &store, Instant now)
{
    if (!store.isEmpty())
        return;
    Store::Transaction transaction(store);
    const qint64 ana = store.addUser({0, QStringLiteral("Ana Ruiz"), madrid, 1, 0});
    const qint64 ben = store.addUser({0, QStringLiteral("Ben Okafor"), QStringLiteral("Europe/London"), 1, 0});
    const qint64 chloe = store.addUser({0, QStringLiteral("Chloe Martin"), QStringLiteral("America/New_York"), 0, 0});
    const qint64 dev = store.addUser({0, QStringLiteral("Dev Patel"), QStringLiteral("Asia/Kolkata"), 1, 0});
    const qint64 team = store.addCalendar(QStringLiteral("Team"), 350);
    const qint64 product = store.addCalendar(QStringLiteral("Product"), 210);
    const qint64 travel = store.addCalendar(QStringLiteral("Travel"), 140);
    const qint64 holidays = store.addCalendar(QStringLiteral("Holidays"), 40);
    for (const qint64 user : {ana, ben, chloe, dev}) {
        store.grant(user, team, true);
        store.grant(user, product, true);
        store.grant(user, holidays, false);
        store.setDefaultCalendar(user, team);
    }
    store.grant(ana, travel, true);
    store.grant(ben, travel, true);
    store.grant(chloe, travel, false);
    store.setDefaultCalendar(chloe, product);

    // A clock outside the years 0001–9999 throws here: nothing can be seeded around it.
    const year_month_day today = localAt(now, madrid).value().date;
    const year_month_day monthStart = today.year() / today.month() / day(1);
    Seeder s(store, today);
    const int first = s.daysTo(monthStart);

    s.timed(team, QStringLiteral("Weekly planning"), s.weekdayBefore(1, 6), 10, 0, 60).rule = QStringLiteral("FREQ=WEEKLY");
    s.timed(team, QStringLiteral("Standup"), first - 21, 9, 15, 15).rule = QStringLiteral("FREQ=WEEKLY;BYDAY=MO,TU,WE,TH,FR");
    s.timed(team, QStringLiteral("Ana / Ben 1:1"), s.weekdayBefore(4, 4), 16, 0, 30).rule =
        QStringLiteral("FREQ=WEEKLY;INTERVAL=2");
    s.allDay(team, QStringLiteral("Monthly report due"), first - 30 + 4, 1).rule = QStringLiteral("FREQ=MONTHLY;COUNT=12");
    s.timed(team, QStringLiteral("Retrospective"), -3, 11, 0, 60).location = QStringLiteral("Room 4");
    auto &review = s.timed(team, QStringLiteral("Design review"), 2, 15, 0, 90);
    review.location = QStringLiteral("Room 2");
    review.notes = QStringLiteral("Bring the new month grid mock-ups.");
    auto &lunch = s.timed(team, QStringLiteral("Team lunch"), 4, 13, 0, 90);
    lunch.location = QStringLiteral("Casa Lucio");
    lunch.status = QStringLiteral("tentative");
    s.timed(team, QStringLiteral("All-hands"), 6, 17, 0, 60).status = QStringLiteral("cancelled");
    s.timed(team, QStringLiteral("Late deploy window"), 1, 22, 30, 150).notes =
        QStringLiteral("Runs past midnight; on call: Ben.");
    s.allDay(team, QStringLiteral("Team offsite"), 10, 3).location = QStringLiteral("Segovia");
    s.timed(team, QStringLiteral("Sprint demo"), 8, 14, 0, 60).status = QStringLiteral("tentative");
    s.timed(team, QStringLiteral("Hiring debrief"), -8, 12, 30, 45);
    s.timed(team, QStringLiteral("Quarterly goals"), first + 1, 10, 0, 120).location = QStringLiteral("Main room");

    s.allDay(product, QStringLiteral("Launch: Calendar 2.0"), 15, 1);
    s.timed(product, QStringLiteral("Customer call"), 1, 10, 0, 45, QStringLiteral("America/New_York")).location =
        QStringLiteral("Video call");
    s.timed(product, QStringLiteral("Partner sync"), 3, 9, 0, 60, QStringLiteral("Asia/Tokyo"));
    s.timed(product, QStringLiteral("Roadmap workshop"), -5, 10, 0, 360).location = QStringLiteral("Room 4");
    s.timed(product, QStringLiteral("Pricing review"), 9, 12, 0, 60).status = QStringLiteral("cancelled");
    s.timed(product, QStringLiteral("Beta feedback triage"), first + 2, 15, 0, 60).rule =
        QStringLiteral("FREQ=WEEKLY;COUNT=6");
    s.timed(product, QStringLiteral("Usability sessions"), 5, 9, 0, 32 * 60).location = QStringLiteral("Lab");
    s.timed(product, QStringLiteral("Release notes draft"), -1, 16, 0, 60).status = QStringLiteral("tentative");
    s.timed(product, QStringLiteral("Analytics check-in"), 12, 8, 30, 30, QStringLiteral("Asia/Kolkata"));

    s.allDay(travel, QStringLiteral("Ben in London"), -2, 3, QStringLiteral("Europe/London"));
    auto &flight = s.timed(travel, QStringLiteral("Flight MAD → JFK"), 7, 11, 40, 510);
    flight.location = QStringLiteral("Madrid-Barajas T4");
    flight.notes = QStringLiteral("Lands 14:10 New York time.");
    s.allDay(travel, QStringLiteral("Chloe visiting Madrid"), 16, 5);
    s.timed(travel, QStringLiteral("Conference keynote"), 20, 9, 0, 480, QStringLiteral("Australia/Sydney")).location =
        QStringLiteral("Sydney");

    s.allDay(holidays, QStringLiteral("Company holiday"), first + 20, 1);
    s.allDay(holidays, QStringLiteral("Office closed"), 22, 2);
    s.allDay(holidays, QStringLiteral("Founders’ day"), first + 11, 1).rule = QStringLiteral("FREQ=YEARLY");

    // A weekly job at 02:30 whose occurrence on the night the clocks go forward moves to the first
    // time that exists, as the listing shows.
    const auto [night, zone] = nearestSkippedNight(today);
    auto &maintenance = s.timed(team, QStringLiteral("Server maintenance"), s.daysTo(night) - 14, 2, 30, 60, zone);
    maintenance.rule = QStringLiteral("FREQ=WEEKLY;COUNT=5");
    maintenance.notes = QStringLiteral("Runs at 2:30 AM %1 time. On the night the clocks go forward 2:30 AM doesn’t "
                                       "exist, so that week it starts when the clocks reach 3:00 AM.")
                            .arg(zone);
    s.save();
    transaction.commit();
}

void seedBusyMonth(Store &store, Instant now, int count)
{
    const auto users = store.users();
    if (count <= 0 || users.empty())
        return;
    const auto calendars = store.calendars(users.front().id);
    if (calendars.empty())
        return;
    const year_month_day today = localAt(now, madrid).value().date;
    const sys_days monthStart{today.year() / today.month() / day(1)};
    const sys_days gridStart = monthStart - days(weekday(monthStart).iso_encoding() - 1);

    // Lengths differ so that rows wrap differently; a few zones other than the users' own.
    const QStringList titles = {QStringLiteral("Standup"),
                                QStringLiteral("Customer call"),
                                QStringLiteral("Code review"),
                                QStringLiteral("Interview: backend engineer"),
                                QStringLiteral("Support rotation handover"),
                                QStringLiteral("Quarterly planning with the regional partners and the product leads"),
                                QStringLiteral("1:1"),
                                QStringLiteral("Design critique"),
                                QStringLiteral("Incident review"),
                                QStringLiteral("Lunch & learn: accessibility in practice"),
                                QStringLiteral("Vendor demo"),
                                QStringLiteral("Budget check-in")};
    const QStringList locations = {QString(), QStringLiteral("Room 2"), QString(), QStringLiteral("Video call"),
                                   QStringLiteral("Main room, third floor, by the kitchen"), QStringLiteral("Lab")};
    const QStringList zones = {madrid, madrid, QStringLiteral("America/New_York"), madrid, madrid,
                               QStringLiteral("Asia/Tokyo"), madrid, QStringLiteral("Europe/London")};

    Store::Transaction transaction(store);
    for (int i = 0; i < count; ++i) {
        // Fixed pseudo-random choices per event: the same month on every start, without the patterns
        // of a plain modulus (every Monday at 9:00 in one zone).
        quint64 bits = quint64(i + 1) * 0x9E3779B97F4A7C15ull;
        bits = (bits ^ (bits >> 31)) * 0xBF58476D1CE4E5B9ull;
        bits ^= bits >> 29;
        const auto pick = [&bits](quint64 range) {
            const quint64 value = bits % range;
            bits /= range;
            return int(value);
        };
        StoredEvent e;
        e.calendarId = calendars[std::size_t(pick(calendars.size()))].id;
        e.title = QStringLiteral("%1 %2").arg(titles[pick(titles.size())]).arg(i + 1);
        e.location = locations[pick(locations.size())];
        const int status = pick(20);
        e.status = status == 0 ? QStringLiteral("cancelled") : status < 3 ? QStringLiteral("tentative")
                                                                         : QStringLiteral("confirmed");
        if (pick(5) == 0)
            e.notes = QStringLiteral("Agenda in the shared folder.");
        e.tz = zones[pick(zones.size())];
        // Quarter hours from 07:00 to 19:45, clear of the night-time clock changes; far zones keep off
        // the grid's first and last days, whose hours they would carry outside it for a Madrid viewer.
        const int gridDay = e.tz.startsWith(QLatin1String("Europe/")) ? pick(42) : 1 + pick(40);
        const LocalDateTime start{year_month_day(gridStart + days(gridDay)), 7 * 60 + 15 * pick(52)};
        e.allDay = pick(25) == 0;
        e.startLocal = start.text(e.allDay);
        e.endLocal = e.allDay ? start.plusDays(1 + pick(2)).text(true) : start.plusMinutes(15 * (1 + pick(8))).text(false);
        store.addEvent(e);
    }
    transaction.commit();
}
