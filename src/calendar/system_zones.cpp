#include "system_zones.h"

#include <unicode/basictz.h>
#include <unicode/dtrule.h>
#include <unicode/rbtz.h>
#include <unicode/strenum.h>
#include <unicode/timezone.h>
#include <unicode/tzrule.h>
#include <unicode/ucal.h>

#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QtDebug>
#include <QtEndian>

#include <chrono>
#include <optional>
#include <vector>

namespace {

// ---- TZif (RFC 8536) ----

struct TimeType {
    qint32 utoff = 0; // seconds east of UTC
    bool isdst = false;
    QByteArray name;
};

struct Tzif {
    std::vector<qint64> times; // transitions, seconds since 1970, ascending
    std::vector<quint8> typeAfter; // the time type each transition switches to
    std::vector<TimeType> types;
    QByteArray footer; // a POSIX TZ string for the times after the last transition, or empty
};

class ByteReader {
public:
    explicit ByteReader(QByteArrayView data) : m_data(data) {}

    bool ok() const { return m_ok; }
    bool need(qint64 count)
    {
        if (!m_ok || count < 0 || qint64(m_data.size() - m_position) < count)
            m_ok = false;
        return m_ok;
    }
    QByteArrayView take(qint64 count)
    {
        if (!need(count))
            return {};
        const QByteArrayView part = m_data.sliced(m_position, qsizetype(count));
        m_position += qsizetype(count);
        return part;
    }
    quint8 u8() { return need(1) ? quint8(take(1).front()) : 0; }
    quint32 u32() { return need(4) ? qFromBigEndian<quint32>(take(4).data()) : 0; }
    qint64 i64() { return need(8) ? qFromBigEndian<qint64>(take(8).data()) : 0; }
    QByteArrayView rest() const { return m_data.sliced(m_position); }

private:
    QByteArrayView m_data;
    qsizetype m_position = 0;
    bool m_ok = true;
};

struct TzifCounts {
    quint32 isut = 0, isstd = 0, leap = 0, time = 0, type = 0, chars = 0;
};

std::optional<TzifCounts> readHeader(ByteReader &reader, char &version)
{
    if (reader.take(4) != QByteArrayView("TZif"))
        return std::nullopt;
    version = char(reader.u8());
    reader.take(15);
    TzifCounts counts;
    for (quint32 *count : {&counts.isut, &counts.isstd, &counts.leap, &counts.time, &counts.type, &counts.chars})
        *count = reader.u32();
    return reader.ok() ? std::optional(counts) : std::nullopt;
}

// Offsets beyond a day are malformed (RFC 8536 allows −89999 … 93599 seconds).
constexpr qint32 maxUtcOffset = 26 * 3600;

std::optional<Tzif> readTzif(QByteArrayView data)
{
    ByteReader reader(data);
    char version = 0;
    const std::optional<TzifCounts> v1 = readHeader(reader, version);
    // Version 1 files have 32-bit times and no footer; the system's files have been version 2 or
    // later since 2005.
    if (!v1 || version < '2')
        return std::nullopt;
    reader.take(qint64(v1->time) * 5 + qint64(v1->type) * 6 + v1->chars + qint64(v1->leap) * 8 + v1->isstd +
                v1->isut);
    const std::optional<TzifCounts> counts = readHeader(reader, version);
    if (!counts || counts->type == 0 || counts->type > 256 || counts->chars == 0)
        return std::nullopt;
    Tzif result;
    for (quint32 i = 0; i < counts->time && reader.need(8); ++i) {
        result.times.push_back(reader.i64());
        if (i > 0 && result.times[i] <= result.times[i - 1])
            return std::nullopt;
    }
    const QByteArrayView indices = reader.take(counts->time);
    for (const char index : indices) {
        if (quint8(index) >= counts->type)
            return std::nullopt;
        result.typeAfter.push_back(quint8(index));
    }
    std::vector<quint8> nameStarts;
    for (quint32 i = 0; i < counts->type && reader.need(6); ++i) {
        TimeType type;
        type.utoff = qint32(reader.u32());
        type.isdst = reader.u8() != 0;
        nameStarts.push_back(reader.u8());
        if (type.utoff <= -maxUtcOffset || type.utoff >= maxUtcOffset)
            return std::nullopt;
        result.types.push_back(type);
    }
    const QByteArrayView names = reader.take(counts->chars);
    reader.take(qint64(counts->leap) * 12 + counts->isstd + counts->isut);
    if (!reader.ok())
        return std::nullopt;
    for (std::size_t i = 0; i < result.types.size(); ++i) {
        const qsizetype start = nameStarts[i];
        if (start >= names.size())
            return std::nullopt;
        const QByteArrayView tail = names.sliced(start);
        const qsizetype end = tail.indexOf('\0');
        result.types[i].name = (end < 0 ? tail : tail.first(end)).toByteArray();
    }
    const QByteArrayView footer = reader.rest();
    if (!footer.startsWith('\n'))
        return std::nullopt;
    const qsizetype end = footer.indexOf('\n', 1);
    if (end < 0)
        return std::nullopt;
    result.footer = footer.sliced(1, end - 1).toByteArray();
    return result;
}

// ---- POSIX TZ strings (the TZif footer) ----

struct PosixDate {
    enum Kind { JulianNoLeap, ZeroBasedDay, MonthWeekDay } kind = MonthWeekDay;
    int month = 0, week = 0, weekday = 0, day = 0;
    qint32 time = 2 * 3600; // local time of day in seconds; may lie outside 0 … 24 hours
};

struct PosixTz {
    QByteArray stdName, dstName;
    qint32 stdOffset = 0, dstOffset = 0; // seconds east of UTC
    bool hasDst = false;
    PosixDate start, end;
};

class PosixParser {
public:
    explicit PosixParser(QByteArrayView text) : m_text(text) {}

    std::optional<PosixTz> parse()
    {
        PosixTz tz;
        if (!name(tz.stdName) || !offset(tz.stdOffset))
            return std::nullopt;
        if (atEnd())
            return tz;
        tz.hasDst = true;
        if (!name(tz.dstName))
            return std::nullopt;
        tz.dstOffset = tz.stdOffset + 3600;
        if (!atEnd() && peek() != ',' && !offset(tz.dstOffset))
            return std::nullopt;
        if (!take(',') || !date(tz.start) || !take(',') || !date(tz.end) || !atEnd())
            return std::nullopt;
        return tz;
    }

private:
    bool atEnd() const { return m_position >= m_text.size(); }
    char peek() const { return atEnd() ? '\0' : m_text[m_position]; }
    bool take(char c)
    {
        if (peek() != c)
            return false;
        ++m_position;
        return true;
    }
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }
    static bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

    bool number(int &value, int maxDigits)
    {
        int digits = 0;
        value = 0;
        while (digits < maxDigits && isDigit(peek())) {
            value = value * 10 + (m_text[m_position++] - '0');
            ++digits;
        }
        return digits > 0;
    }

    bool name(QByteArray &out)
    {
        const qsizetype start = m_position;
        if (take('<')) {
            while (!atEnd() && peek() != '>' && (isLetter(peek()) || isDigit(peek()) || peek() == '+' || peek() == '-'))
                ++m_position;
            out = m_text.sliced(start + 1, m_position - start - 1).toByteArray();
            return take('>') && out.size() >= 3;
        }
        while (isLetter(peek()))
            ++m_position;
        out = m_text.sliced(start, m_position - start).toByteArray();
        return out.size() >= 3;
    }

    // [+-]hh[:mm[:ss]] in seconds; hours up to `maxHours`.
    bool duration(qint32 &seconds, int maxHours)
    {
        const bool negative = take('-');
        if (!negative)
            take('+');
        int hours = 0, minutes = 0, secs = 0;
        if (!number(hours, 3) || hours > maxHours)
            return false;
        if (take(':') && (!number(minutes, 2) || minutes > 59 || (take(':') && (!number(secs, 2) || secs > 59))))
            return false;
        seconds = (hours * 3600 + minutes * 60 + secs) * (negative ? -1 : 1);
        return true;
    }

    // POSIX offsets count west of UTC.
    bool offset(qint32 &east)
    {
        qint32 west = 0;
        if (!duration(west, 24))
            return false;
        east = -west;
        return true;
    }

    bool date(PosixDate &out)
    {
        if (take('M')) {
            out.kind = PosixDate::MonthWeekDay;
            if (!number(out.month, 2) || !take('.') || !number(out.week, 1) || !take('.') || !number(out.weekday, 1))
                return false;
            if (out.month < 1 || out.month > 12 || out.week < 1 || out.week > 5 || out.weekday > 6)
                return false;
        } else if (take('J')) {
            out.kind = PosixDate::JulianNoLeap;
            if (!number(out.day, 3) || out.day < 1 || out.day > 365)
                return false;
        } else {
            out.kind = PosixDate::ZeroBasedDay;
            if (!number(out.day, 3) || out.day > 365)
                return false;
        }
        // Version 3 allows −167 … 167 hours, so a change can fall on another day than the rule's.
        return !take('/') || duration(out.time, 167);
    }

    QByteArrayView m_text;
    qsizetype m_position = 0;
};

// zic writes daylight saving time all year as "…,0/0,J365/25": daylight time from the first instant
// of the year to past its last.
bool allYear(const PosixTz &tz)
{
    const bool fromFirstInstant =
        tz.start.time == 0 && ((tz.start.kind == PosixDate::ZeroBasedDay && tz.start.day == 0) ||
                               (tz.start.kind == PosixDate::JulianNoLeap && tz.start.day == 1));
    return fromFirstInstant && tz.end.kind == PosixDate::JulianNoLeap && tz.end.day == 365 &&
           tz.end.time >= 24 * 3600 + (tz.dstOffset - tz.stdOffset);
}

// The rule's date as ICU's, in the wall time in force before the change; null for a zero-based day,
// which ICU cannot say (it counts 29 February in leap years only).
std::unique_ptr<icu::DateTimeRule> icuDate(const PosixDate &date)
{
    const int32_t millis = date.time * 1000;
    if (date.kind == PosixDate::MonthWeekDay) {
        // Week 5 means the last such weekday of the month.
        return std::make_unique<icu::DateTimeRule>(date.month - 1, date.week == 5 ? -1 : date.week,
                                                   date.weekday + UCAL_SUNDAY, millis, icu::DateTimeRule::WALL_TIME);
    }
    if (date.kind == PosixDate::JulianNoLeap) {
        constexpr int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        int month = 0, day = date.day;
        while (day > monthDays[month])
            day -= monthDays[month++];
        return std::make_unique<icu::DateTimeRule>(month, day, millis, icu::DateTimeRule::WALL_TIME);
    }
    return nullptr;
}

// ---- Building the ICU zone ----

// ICU splits an offset into a standard part and a daylight-saving part; only the sum moves clocks.
struct State {
    QByteArray name;
    int32_t raw = 0, dst = 0; // milliseconds
    bool operator==(const State &) const = default;
};

struct Change {
    UDate at; // milliseconds since 1970
    State state;
};

// Transitions before this (zic's "big bang" at −2⁵⁹ seconds) only choose the first type: ICU's
// calendars reach about 5,800,000 years back; this is about 35,000.
constexpr qint64 earliestTransition = -(qint64(1) << 40);

icu::UnicodeString icuText(const QByteArray &latin1)
{
    return icu::UnicodeString(latin1.constData(), int32_t(latin1.size()), US_INV);
}

UDate yearStart(int year)
{
    using namespace std::chrono;
    const sys_days day = std::chrono::year(year) / January / 1;
    return UDate(duration_cast<milliseconds>(day.time_since_epoch()).count());
}

int utcYear(UDate at)
{
    using namespace std::chrono;
    const sys_days day = floor<days>(sys_time<milliseconds>(milliseconds(qint64(at))));
    return int(year_month_day(day).year());
}

// The states in force from the first type on, one per kept transition, without changes that change
// nothing. A daylight type's standard part is the nearest standard type's offset, before it if any.
std::pair<State, std::vector<Change>> historicStates(const Tzif &tzif, std::optional<qint32> footerStandard)
{
    std::vector<int> types{0}; // position 0: before the first kept transition
    std::vector<qint64> times{0};
    for (std::size_t i = 0; i < tzif.times.size(); ++i) {
        if (tzif.times[i] < earliestTransition) {
            types[0] = tzif.typeAfter[i];
            continue;
        }
        types.push_back(tzif.typeAfter[i]);
        times.push_back(tzif.times[i]);
    }
    const std::size_t count = types.size();
    std::vector<std::optional<qint32>> before(count), after(count);
    for (std::size_t k = 1; k < count; ++k) {
        const TimeType &previous = tzif.types[types[k - 1]];
        before[k] = previous.isdst ? before[k - 1] : std::optional(previous.utoff);
    }
    for (std::size_t k = count - 1; k-- > 0;) {
        const TimeType &next = tzif.types[types[k + 1]];
        after[k] = next.isdst ? after[k + 1] : std::optional(next.utoff);
    }
    const auto stateAt = [&](std::size_t k) {
        const TimeType &type = tzif.types[types[k]];
        const qint32 standard = before[k].value_or(after[k].value_or(footerStandard.value_or(type.utoff)));
        const qint32 saving = type.isdst ? type.utoff - standard : 0;
        // A "daylight" type at or below standard time (Ireland's winter) is kept as standard time.
        if (saving <= 0)
            return State{type.name, type.utoff * 1000, 0};
        return State{type.name, standard * 1000, saving * 1000};
    };
    const State initial = stateAt(0);
    std::vector<Change> changes;
    State current = initial;
    for (std::size_t k = 1; k < count; ++k) {
        const State state = stateAt(k);
        if (state == current)
            continue;
        changes.push_back({UDate(times[k]) * 1000.0, state});
        current = state;
    }
    return {initial, std::move(changes)};
}

struct AnnualRules {
    State standard, daylight;
    std::unique_ptr<icu::DateTimeRule> toDaylight, toStandard;
};

// The footer's yearly rule with a positive saving (a negative one, as Ireland's, swaps the roles).
std::optional<AnnualRules> annualRules(PosixTz tz)
{
    if (tz.dstOffset < tz.stdOffset) {
        std::swap(tz.stdName, tz.dstName);
        std::swap(tz.stdOffset, tz.dstOffset);
        std::swap(tz.start, tz.end);
    }
    AnnualRules rules;
    rules.standard = {tz.stdName, tz.stdOffset * 1000, 0};
    rules.daylight = {tz.dstName, tz.stdOffset * 1000, (tz.dstOffset - tz.stdOffset) * 1000};
    rules.toDaylight = icuDate(tz.start);
    rules.toStandard = icuDate(tz.end);
    if (!rules.toDaylight || !rules.toStandard || tz.dstOffset == tz.stdOffset)
        return std::nullopt;
    return rules;
}

std::unique_ptr<icu::AnnualTimeZoneRule> annualRule(const State &state, const icu::DateTimeRule &date, int fromYear)
{
    return std::make_unique<icu::AnnualTimeZoneRule>(icuText(state.name), state.raw, state.dst, date, fromYear,
                                                     icu::AnnualTimeZoneRule::MAX_YEAR);
}

} // namespace

std::unique_ptr<icu::TimeZone> zoneFromTzif(const QString &id, QByteArrayView data)
{
    const std::optional<Tzif> tzif = readTzif(data);
    if (!tzif)
        return nullptr;
    std::optional<PosixTz> footer;
    if (!tzif->footer.isEmpty()) {
        footer = PosixParser(tzif->footer).parse();
        if (!footer)
            return nullptr;
        if (footer->hasDst && allYear(*footer)) // the last transition's type holds for ever
            footer->hasDst = false;
    }
    auto [initial, changes] = historicStates(*tzif, footer ? std::optional(footer->stdOffset) : std::nullopt);

    // ICU takes a yearly rule only as a permanent pair from some year on. The footer's changes in
    // the rest of the last transition's year become ordinary transitions; the pair starts a year on.
    std::optional<AnnualRules> annual;
    int finalYear = 0;
    if (footer && footer->hasDst) {
        annual = annualRules(*footer);
        if (!annual)
            return nullptr;
        const int lastYear = changes.empty() ? 1970 : utcYear(changes.back().at);
        finalYear = lastYear + 1;
        const auto toDaylight = annualRule(annual->daylight, *annual->toDaylight, lastYear);
        const auto toStandard = annualRule(annual->standard, *annual->toStandard, lastYear);
        UDate from = changes.empty() ? yearStart(lastYear) : changes.back().at;
        State current = changes.empty() ? initial : changes.back().state;
        for (;;) {
            const bool inDaylight = current.raw + current.dst == annual->daylight.raw + annual->daylight.dst;
            const icu::AnnualTimeZoneRule &rule = inDaylight ? *toStandard : *toDaylight;
            UDate next = 0;
            if (!rule.getNextStart(from, current.raw, current.dst, false, next) || next >= yearStart(finalYear))
                break;
            current = inDaylight ? annual->standard : annual->daylight;
            changes.push_back({next, current});
            from = next;
        }
    }

    auto zone = std::make_unique<icu::RuleBasedTimeZone>(
        icu::UnicodeString(reinterpret_cast<const UChar *>(id.utf16()), int32_t(id.size())),
        new icu::InitialTimeZoneRule(icuText(initial.name), initial.raw, initial.dst));
    UErrorCode status = U_ZERO_ERROR;
    // One rule per state, holding every instant the zone enters it.
    std::vector<std::pair<State, std::vector<UDate>>> byState;
    for (const Change &change : changes) {
        auto found = std::find_if(byState.begin(), byState.end(),
                                  [&](const auto &entry) { return entry.first == change.state; });
        if (found == byState.end())
            found = byState.insert(byState.end(), {change.state, {}});
        found->second.push_back(change.at);
    }
    for (const auto &[state, starts] : byState) {
        zone->addTransitionRule(new icu::TimeArrayTimeZoneRule(icuText(state.name), state.raw, state.dst, starts.data(),
                                                               int32_t(starts.size()), icu::DateTimeRule::UTC_TIME),
                                status);
    }
    if (annual) {
        zone->addTransitionRule(annualRule(annual->daylight, *annual->toDaylight, finalYear).release(), status);
        zone->addTransitionRule(annualRule(annual->standard, *annual->toStandard, finalYear).release(), status);
    }
    zone->complete(status);
    if (U_FAILURE(status))
        return nullptr;
    return zone;
}

namespace {

constexpr qint64 maxZoneFileBytes = 1024 * 1024; // the largest system zone file is under 4 KiB

QString fromIcu(const icu::UnicodeString &text)
{
    return QString(reinterpret_cast<const QChar *>(text.getBuffer()), text.length());
}

// Names in tzdata.zi: "Z name …" for zones, "L target name" for links.
bool readZi(const QString &path, QSet<QString> &names, QStringList &zones)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().simplified().split(' ');
        if (fields.size() >= 2 && fields[0] == "Z") {
            zones.append(QString::fromUtf8(fields[1]));
            names.insert(zones.last());
        } else if (fields.size() >= 3 && fields[0] == "L") {
            names.insert(QString::fromUtf8(fields[2]));
        }
    }
    return !zones.isEmpty();
}

// Without tzdata.zi: the zones of zone1970.tab and zone.tab (third column), links unknown.
void readTabs(const QString &directory, QSet<QString> &names, QStringList &zones)
{
    for (const char *tab : {"zone1970.tab", "zone.tab"}) {
        QFile file(directory + QLatin1Char('/') + QLatin1String(tab));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        while (!file.atEnd()) {
            const QByteArray line = file.readLine();
            const QList<QByteArray> fields = line.trimmed().split('\t');
            if (line.startsWith('#') || fields.size() < 3 || names.contains(QString::fromUtf8(fields[2])))
                continue;
            zones.append(QString::fromUtf8(fields[2]));
            names.insert(zones.last());
        }
    }
    // The tables list places only; UTC is a zone of every database.
    for (const QString &utc : {QStringLiteral("Etc/UTC"), QStringLiteral("UTC")}) {
        if (!names.isEmpty() && QFileInfo::exists(directory + QLatin1Char('/') + utc)) {
            names.insert(utc);
            if (utc.contains(QLatin1Char('/')))
                zones.append(utc);
        }
    }
}

// ICU's names that are also names of the IANA database: ICU adds "SystemV/…" and the three-letter
// Java names ("BST", "PST", …), and reads "GMT+5"-like custom names that no database lists.
bool ianaShaped(const QString &id)
{
    return id == QLatin1String("UTC") || id == QLatin1String("GMT") ||
           (id.contains(QLatin1Char('/')) && !id.startsWith(QLatin1String("SystemV/")) &&
            id != QLatin1String(UCAL_UNKNOWN_ZONE_ID));
}

QStringList icuIds(USystemTimeZoneType type)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::StringEnumeration> ids(
        icu::TimeZone::createTimeZoneIDEnumeration(type, nullptr, nullptr, status));
    QStringList result;
    while (ids && U_SUCCESS(status)) {
        const icu::UnicodeString *id = ids->snext(status);
        if (!id)
            break;
        if (ianaShaped(fromIcu(*id)))
            result.append(fromIcu(*id));
    }
    return result;
}

std::unique_ptr<icu::TimeZone> icuZone(const QString &id)
{
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(
        icu::UnicodeString(reinterpret_cast<const UChar *>(id.utf16()), int32_t(id.size()))));
    icu::UnicodeString resolved;
    if (!zone || zone->getID(resolved) == icu::UnicodeString(UCAL_UNKNOWN_ZONE_ID))
        return nullptr;
    return zone;
}

// "…/zoneinfo/Europe/Madrid" or "…/zoneinfo/posix/Europe/Madrid" to "Europe/Madrid".
QString nameInZoneinfoPath(const QString &path)
{
    const QString marker = QStringLiteral("zoneinfo/");
    const qsizetype at = path.lastIndexOf(marker);
    if (at < 0)
        return {};
    QString name = path.mid(at + marker.size());
    for (const QString &prefix : {QStringLiteral("posix/"), QStringLiteral("right/")}) {
        if (name.startsWith(prefix))
            name = name.mid(prefix.size());
    }
    return name;
}

} // namespace

ZoneDatabase::ZoneDatabase(const QString &directory) : m_directory(directory)
{
    if (!readZi(directory + QStringLiteral("/tzdata.zi"), m_names, m_zoneIds))
        readTabs(directory, m_names, m_zoneIds);
    m_available = !m_zoneIds.isEmpty();
    if (!m_available) {
        m_names.clear();
        m_zoneIds = icuIds(UCAL_ZONE_TYPE_CANONICAL);
        for (const QString &id : icuIds(UCAL_ZONE_TYPE_ANY))
            m_names.insert(id);
    }
    m_zoneIds.sort();
}

ZoneDatabase::~ZoneDatabase() = default;

ZoneDatabase &ZoneDatabase::system()
{
    static ZoneDatabase database([] {
        const QString tzdir = qEnvironmentVariable("TZDIR");
        return tzdir.isEmpty() ? QStringLiteral("/usr/share/zoneinfo") : tzdir;
    }());
    static const bool logged = [] {
        if (!database.available())
            qInfo("No time-zone database in %s; using the zones built into ICU", qPrintable(database.m_directory));
        return true;
    }();
    Q_UNUSED(logged);
    return database;
}

bool ZoneDatabase::listed(const QString &id) const { return m_names.contains(id); }

const icu::TimeZone *ZoneDatabase::zone(const QString &id)
{
    // Names outside the list are never cached: the development server is handed arbitrary text.
    if (!listed(id))
        return nullptr;
    QMutexLocker lock(&m_mutex);
    if (const auto found = m_zones.find(id); found != m_zones.end())
        return found->second.get();
    return m_zones.emplace(id, build(id)).first->second.get();
}

std::unique_ptr<icu::TimeZone> ZoneDatabase::build(const QString &id) const
{
    if (!m_available)
        return icuZone(id);
    QFile file(m_directory + QLatin1Char('/') + id);
    std::unique_ptr<icu::TimeZone> zone;
    if (file.open(QIODevice::ReadOnly) && file.size() <= maxZoneFileBytes)
        zone = zoneFromTzif(id, file.readAll());
    if (zone)
        return zone;
    // A listed zone whose file is missing or unreadable: ICU's rules are older but better than UTC.
    qWarning("The time-zone file %s cannot be read; using ICU's rules for %s", qPrintable(file.fileName()),
             qPrintable(id));
    return icuZone(id);
}

QString ZoneDatabase::currentZoneId()
{
    const auto known = [&](QString name) { return listed(name) ? name : QString(); };
    if (qEnvironmentVariableIsSet("TZ")) {
        // ":Europe/Madrid", "Europe/Madrid" or a file's path; anything else (a POSIX rule, an
        // unknown name) is no zone of the database.
        QString tz = qEnvironmentVariable("TZ");
        if (tz.startsWith(QLatin1Char(':')))
            tz.remove(0, 1);
        return known(tz.startsWith(QLatin1Char('/')) ? nameInZoneinfoPath(tz) : tz);
    }
    const QFileInfo localtime(QStringLiteral("/etc/localtime"));
    if (const QString name = known(nameInZoneinfoPath(localtime.symLinkTarget())); !name.isEmpty())
        return name;
    QFile timezone(QStringLiteral("/etc/timezone"));
    if (timezone.open(QIODevice::ReadOnly)) {
        if (const QString name = known(QString::fromUtf8(timezone.readLine().trimmed())); !name.isEmpty())
            return name;
    }
    if (!m_available) {
        std::unique_ptr<icu::TimeZone> host(icu::TimeZone::detectHostTimeZone());
        icu::UnicodeString id;
        return host ? known(fromIcu(host->getID(id))) : QString();
    }
    return {};
}
