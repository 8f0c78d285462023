#include "dates.h"

#include "system_zones.h"

#include <unicode/dtfmtsym.h>
#include <unicode/dtptngen.h>
#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/ucal.h>

#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <unordered_map>

namespace {

// ICU objects are costly to build and not safe to share between threads, so each thread keeps its
// own. They are keyed on explicit zone identifiers and locale names, never on the system zone.

// Bounds each cache; in practice the keys are a few zones, patterns and locales.
constexpr std::size_t maxCacheEntries = 512;

template<typename Value>
using Cache = std::unordered_map<std::u16string, std::unique_ptr<Value>>;

// A formatter with a calendar of its own: ICU's format(UDate) and parse() clone the formatter's
// calendar on every call, which costs more than the formatting itself.
struct Formatter {
    std::unique_ptr<icu::SimpleDateFormat> format;
    std::unique_ptr<icu::Calendar> calendar;

    static std::unique_ptr<Formatter> make(std::unique_ptr<icu::SimpleDateFormat> format)
    {
        auto made = std::make_unique<Formatter>();
        made->calendar.reset(format->getCalendar()->clone());
        made->format = std::move(format);
        return made->calendar ? std::move(made) : nullptr;
    }

    icu::UnicodeString text(UDate date)
    {
        UErrorCode status = U_ZERO_ERROR;
        calendar->setTime(date, status);
        icu::UnicodeString result;
        icu::FieldPosition position;
        format->format(*calendar, result, position);
        return U_SUCCESS(status) ? result : icu::UnicodeString();
    }

    // The instant that the whole of `text` names, or nothing.
    std::optional<UDate> read(const icu::UnicodeString &text)
    {
        calendar->clear();
        icu::ParsePosition position(0);
        format->parse(text, *calendar, position);
        if (position.getErrorIndex() >= 0 || position.getIndex() != text.length())
            return std::nullopt;
        UErrorCode status = U_ZERO_ERROR;
        const UDate date = calendar->getTime(status);
        return U_SUCCESS(status) ? std::optional<UDate>(date) : std::nullopt;
    }
};

struct ThreadCaches {
    unsigned evictions = 0; // bumped whenever a cache is emptied, which drops the remembered lookups
    Cache<icu::Calendar> calendars;
    Cache<Formatter> formats;
    Cache<icu::DateTimePatternGenerator> generators;
    std::unordered_map<std::u16string, QStringList> weekdayNames;
};

ThreadCaches &caches()
{
    thread_local ThreadCaches local;
    return local;
}

// Returns the cached value for `key`, building it on a miss; null when building fails.
template<typename Value, typename Build>
Value *cached(Cache<Value> &cache, std::u16string key, Build build)
{
    if (const auto found = cache.find(key); found != cache.end())
        return found->second.get();
    std::unique_ptr<Value> value = build();
    if (!value)
        return nullptr;
    if (cache.size() >= maxCacheEntries) {
        cache.clear();
        ++caches().evictions;
    }
    return cache.emplace(std::move(key), std::move(value)).first->second.get();
}

// The last lookup of one kind on this thread: consecutive calls nearly always ask for the same
// object, and comparing the arguments is cheaper than building a key and hashing it.
template<typename Value>
struct Remembered {
    QString zone;
    QString text;
    int number = 0;
    unsigned evictions = ~0u;
    Value *value = nullptr;

    bool matches(const QString &z, const QString &t, int n) const
    {
        return value && evictions == caches().evictions && number == n && zone == z && text == t;
    }
    Value *remember(const QString &z, const QString &t, int n, Value *v)
    {
        zone = z;
        text = t;
        number = n;
        evictions = caches().evictions;
        value = v;
        return v;
    }
};

std::u16string key(QStringView text)
{
    return std::u16string(reinterpret_cast<const char16_t *>(text.utf16()), text.size());
}

std::u16string key(std::initializer_list<QStringView> parts)
{
    std::u16string result;
    for (const QStringView part : parts) {
        result += key(part);
        result += u'\n';
    }
    return result;
}

icu::UnicodeString toIcu(QStringView text)
{
    return icu::UnicodeString(reinterpret_cast<const UChar *>(text.utf16()), int32_t(text.size()));
}

QString fromIcu(const icu::UnicodeString &text)
{
    return QString(reinterpret_cast<const QChar *>(text.getBuffer()), text.length());
}

UDate toUDate(Instant instant) { return UDate(instant.time_since_epoch().count()); }

Instant fromUDate(UDate date)
{
    return Instant(std::chrono::milliseconds(std::llround(date)));
}

const QString utcId = QStringLiteral("UTC");

// The zone named `id` in the system's database, or null for a name outside it. The database keeps
// each zone for the whole process.
const icu::TimeZone *knownZone(const QString &id)
{
    if (id.isEmpty())
        return nullptr;
    thread_local Remembered<const icu::TimeZone> last;
    thread_local QString lastUnknown;
    if (last.matches(id, {}, 0))
        return last.value;
    if (id == lastUnknown)
        return nullptr;
    const icu::TimeZone *zone = ZoneDatabase::system().zone(id);
    if (!zone) {
        lastUnknown = id;
        return nullptr;
    }
    return last.remember(id, {}, 0, zone);
}

QString resolvedZoneId(const QString &id) { return knownZone(id) ? id : utcId; }

const icu::TimeZone &zoneOrUtc(const QString &id)
{
    if (const icu::TimeZone *zone = knownZone(id))
        return *zone;
    return *icu::TimeZone::getGMT();
}

// Gregorian dates all the way back, as the local date-time text and the server count them; ICU's
// calendars otherwise switch to Julian dates before 15 October 1582.
void makeProleptic(icu::Calendar &calendar)
{
    if (auto *gregorian = dynamic_cast<icu::GregorianCalendar *>(&calendar)) {
        UErrorCode status = U_ZERO_ERROR;
        gregorian->setGregorianChange(-std::numeric_limits<double>::max(), status);
    }
}

// A calendar for the zone and first weekday; its time and options are set by each operation.
icu::Calendar *calendarFor(const QString &zoneId, int firstWeekday)
{
    thread_local Remembered<icu::Calendar> last;
    if (last.matches(zoneId, {}, firstWeekday))
        return last.value;
    const QString weekday = QString::number(firstWeekday);
    const auto build = [&]() -> std::unique_ptr<icu::Calendar> {
        UErrorCode status = U_ZERO_ERROR;
        auto calendar =
            std::make_unique<icu::GregorianCalendar>(zoneOrUtc(zoneId).clone(), icu::Locale::getRoot(), status);
        if (U_FAILURE(status))
            return nullptr;
        makeProleptic(*calendar);
        calendar->setFirstDayOfWeek(UCalendarDaysOfWeek(firstWeekday));
        // A repeated local time means its first occurrence, so days begin at their first midnight.
        calendar->setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
        return calendar;
    };
    icu::Calendar *found = cached(caches().calendars, key({zoneId, weekday}), build);
    return found ? last.remember(zoneId, {}, firstWeekday, found) : nullptr;
}

// The user's locale for dates, chosen as the C library and QLocale::system() choose it for times:
// LC_ALL, else LC_TIME, else LANG ("de_DE.UTF-8@euro" is de_DE; "C" and "POSIX" are en_US_POSIX,
// as in ICU). ICU's own default follows LC_MESSAGES instead.
const icu::Locale &timeLocale()
{
    static const icu::Locale locale = [] {
        QByteArray name;
        for (const char *variable : {"LC_ALL", "LC_TIME", "LANG"}) {
            name = qgetenv(variable);
            if (!name.isEmpty())
                break;
        }
        for (const char end : {'.', '@'}) {
            if (const qsizetype at = name.indexOf(end); at >= 0)
                name.truncate(at);
        }
        if (name.isEmpty() || name == "C" || name == "POSIX")
            return icu::Locale("en_US_POSIX");
        return icu::Locale::createCanonical(name.constData());
    }();
    return locale;
}

icu::Locale localeFor(const QString &name)
{
    return name.isEmpty() ? timeLocale() : icu::Locale(name.toUtf8().constData());
}

QString localeName(const icu::Locale &locale) { return QString::fromUtf8(locale.getName()); }

Formatter *formatterFor(const QString &pattern, const QString &zoneId, const icu::Locale &locale)
{
    return cached(caches().formats, key({pattern, zoneId, localeName(locale)}),
                  [&]() -> std::unique_ptr<Formatter> {
                      UErrorCode status = U_ZERO_ERROR;
                      auto format = std::make_unique<icu::SimpleDateFormat>(toIcu(pattern), locale, status);
                      if (U_FAILURE(status))
                          return nullptr;
                      // A repeated local time reads as its first instant, as the calendar's days begin.
                      std::unique_ptr<icu::Calendar> calendar(format->getCalendar()->clone());
                      calendar->setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
                      makeProleptic(*calendar);
                      format->adoptCalendar(calendar.release());
                      format->setTimeZone(zoneOrUtc(zoneId));
                      format->setLenient(false);
                      return Formatter::make(std::move(format));
                  });
}

const icu::Locale &posixLocale()
{
    static const icu::Locale locale("en_US_POSIX");
    return locale;
}

const QString dayPattern = QStringLiteral("yyyy-MM-dd");
const QString minutePattern = QStringLiteral("yyyy-MM-dd'T'HH:mm");

Formatter *localFormatter(bool allDay, const QString &zoneId)
{
    thread_local Remembered<Formatter> last[2];
    Remembered<Formatter> &remembered = last[allDay ? 1 : 0];
    if (remembered.matches(zoneId, {}, 0))
        return remembered.value;
    Formatter *found =
        formatterFor(allDay ? dayPattern : minutePattern, resolvedZoneId(zoneId), posixLocale());
    return found ? remembered.remember(zoneId, {}, 0, found) : nullptr;
}

QString systemZoneId()
{
    const QString id = ZoneDatabase::system().currentZoneId();
    return id.isEmpty() ? utcId : id;
}

QMutex systemIdMutex;
std::optional<QString> systemIdCache;

} // namespace

namespace zones {

bool isKnown(const QString &id) { return knownZone(id) != nullptr; }

QString systemId()
{
    QMutexLocker lock(&systemIdMutex);
    if (!systemIdCache)
        systemIdCache = systemZoneId();
    return *systemIdCache;
}

void refreshSystemZone()
{
    QMutexLocker lock(&systemIdMutex);
    systemIdCache.reset();
}

QStringList knownIds() { return ZoneDatabase::system().zoneIds(); }

} // namespace zones

GregorianCalendar::GregorianCalendar(const QString &zoneId, int firstWeekday)
    : m_zoneId(resolvedZoneId(zoneId)), m_firstWeekday(firstWeekday >= 1 && firstWeekday <= 7 ? firstWeekday : 1)
{
}

GregorianCalendar::Fields GregorianCalendar::fields(Instant instant) const
{
    icu::Calendar *calendar = calendarFor(m_zoneId, m_firstWeekday);
    if (!calendar)
        return {};
    UErrorCode status = U_ZERO_ERROR;
    calendar->setTime(toUDate(instant), status);
    Fields result;
    result.year = calendar->get(UCAL_EXTENDED_YEAR, status);
    result.month = calendar->get(UCAL_MONTH, status) + 1;
    result.day = calendar->get(UCAL_DATE, status);
    result.weekday = calendar->get(UCAL_DAY_OF_WEEK, status);
    return U_SUCCESS(status) ? result : Fields{};
}

namespace {

// The first instant at or after 00:00 of the date; a day past the month's end runs on into the
// next month, and a date the zone skipped entirely gives the start of the next existing day.
std::optional<Instant> firstInstantFrom(icu::Calendar &calendar, int year, int month, int day)
{
    UErrorCode status = U_ZERO_ERROR;
    calendar.clear();
    calendar.setSkippedWallTimeOption(UCAL_WALLTIME_NEXT_VALID);
    calendar.set(UCAL_EXTENDED_YEAR, year);
    calendar.set(UCAL_MONTH, month - 1);
    calendar.set(UCAL_DATE, day);
    const UDate result = calendar.getTime(status);
    calendar.setSkippedWallTimeOption(UCAL_WALLTIME_LAST);
    if (U_FAILURE(status))
        return std::nullopt;
    return fromUDate(result);
}

} // namespace

std::optional<Instant> GregorianCalendar::date(int year, int month, int day) const
{
    if (month < 1 || month > 12 || day < 1 || day > 31)
        return std::nullopt;
    icu::Calendar *calendar = calendarFor(m_zoneId, m_firstWeekday);
    if (!calendar)
        return std::nullopt;
    const std::optional<Instant> instant = firstInstantFrom(*calendar, year, month, day);
    if (!instant)
        return std::nullopt;
    // A day that is too long for its month, or a date the zone skipped, lands on another day.
    const Fields found = fields(*instant);
    if (found.year != year || found.month != month || found.day != day)
        return std::nullopt;
    return instant;
}

Instant GregorianCalendar::startOfDay(Instant instant) const
{
    return dayBounds(instant).first;
}

std::pair<Instant, Instant> GregorianCalendar::dayBounds(Instant instant) const
{
    // Placing events on days asks for the same day once per event.
    thread_local struct {
        QString zoneId;
        Instant instant;
        std::pair<Instant, Instant> bounds;
    } last;
    if (last.instant == instant && last.zoneId == m_zoneId && !last.zoneId.isEmpty())
        return last.bounds;
    const Fields day = fields(instant);
    icu::Calendar *calendar = calendarFor(m_zoneId, m_firstWeekday);
    if (!calendar)
        return {instant, instant};
    const std::optional<Instant> start = firstInstantFrom(*calendar, day.year, day.month, day.day);
    const std::optional<Instant> next = firstInstantFrom(*calendar, day.year, day.month, day.day + 1);
    if (!start || !next)
        return {instant, instant};
    last = {m_zoneId, instant, {*start, *next}};
    return last.bounds;
}

namespace {

// About 270,000 years of days: far beyond any date, well within ICU's field range.
constexpr qint64 maxDayOffset = 100'000'000;

std::optional<Instant> addMonthsTo(const QString &zoneId, int firstWeekday, Instant instant, int months)
{
    icu::Calendar *calendar = calendarFor(zoneId, firstWeekday);
    if (!calendar)
        return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    calendar->setTime(toUDate(instant), status);
    calendar->add(UCAL_MONTH, months, status);
    const UDate result = calendar->getTime(status);
    if (U_FAILURE(status))
        return std::nullopt;
    return fromUDate(result);
}

} // namespace

std::optional<Instant> GregorianCalendar::addDays(Instant instant, int days) const
{
    // ICU's own add() counts days of 24 hours and only corrects for daylight-saving shifts, so it
    // lands on the wrong date after a zone skipped a whole day; the date fields are moved instead.
    icu::Calendar *calendar = calendarFor(m_zoneId, m_firstWeekday);
    if (!calendar)
        return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    calendar->setTime(toUDate(instant), status);
    const UCalendarDateFields kept[] = {UCAL_EXTENDED_YEAR, UCAL_MONTH,  UCAL_DATE,       UCAL_HOUR_OF_DAY,
                                        UCAL_MINUTE,        UCAL_SECOND, UCAL_MILLISECOND};
    int32_t values[std::size(kept)];
    for (std::size_t i = 0; i < std::size(kept); ++i)
        values[i] = calendar->get(kept[i], status);
    const qint64 day = qint64(values[2]) + days;
    if (U_FAILURE(status) || day < -maxDayOffset || day > maxDayOffset)
        return std::nullopt;
    values[2] = int32_t(day);
    calendar->clear();
    for (std::size_t i = 0; i < std::size(kept); ++i)
        calendar->set(kept[i], values[i]);
    const UDate result = calendar->getTime(status);
    if (U_FAILURE(status))
        return std::nullopt;
    return fromUDate(result);
}

std::optional<Instant> GregorianCalendar::addMonths(Instant instant, int months) const
{
    return addMonthsTo(m_zoneId, m_firstWeekday, instant, months);
}

bool GregorianCalendar::sameDay(Instant a, Instant b) const
{
    const Fields x = fields(a), y = fields(b);
    return x.year == y.year && x.month == y.month && x.day == y.day;
}

bool GregorianCalendar::sameMonth(Instant a, Instant b) const
{
    const Fields x = fields(a), y = fields(b);
    return x.year == y.year && x.month == y.month;
}

std::optional<Instant> GregorianCalendar::nextTime(Instant dayStart, int hour, int minute, int second) const
{
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return std::nullopt;
    icu::Calendar *calendar = calendarFor(m_zoneId, m_firstWeekday);
    if (!calendar)
        return std::nullopt;
    const Fields first = fields(dayStart);
    // The wanted time on the day of `dayStart` may already be past; the next day then has it (or,
    // where that whole day was skipped, the one after).
    for (int offset = 0; offset < 3; ++offset) {
        UErrorCode status = U_ZERO_ERROR;
        calendar->clear();
        calendar->setSkippedWallTimeOption(UCAL_WALLTIME_NEXT_VALID);
        calendar->set(UCAL_EXTENDED_YEAR, first.year);
        calendar->set(UCAL_MONTH, first.month - 1);
        calendar->set(UCAL_DATE, first.day + offset);
        calendar->set(UCAL_HOUR_OF_DAY, hour);
        calendar->set(UCAL_MINUTE, minute);
        calendar->set(UCAL_SECOND, second);
        const UDate result = calendar->getTime(status);
        calendar->setSkippedWallTimeOption(UCAL_WALLTIME_LAST);
        if (U_FAILURE(status))
            return std::nullopt;
        if (fromUDate(result) >= dayStart)
            return fromUDate(result);
    }
    return std::nullopt;
}

namespace dates {

QStringList shortWeekdayNames()
{
    const icu::Locale &locale = timeLocale();
    auto &names = caches().weekdayNames;
    const std::u16string localeKey = key(localeName(locale));
    if (const auto found = names.find(localeKey); found != names.end())
        return found->second;
    UErrorCode status = U_ZERO_ERROR;
    const icu::DateFormatSymbols symbols(locale, status);
    int32_t count = 0;
    const icu::UnicodeString *weekdays =
        symbols.getWeekdays(count, icu::DateFormatSymbols::STANDALONE, icu::DateFormatSymbols::ABBREVIATED);
    QStringList result;
    // ICU's array starts with an empty entry, then Sunday … Saturday.
    for (int i = UCAL_SUNDAY; U_SUCCESS(status) && weekdays && i < count && i <= UCAL_SATURDAY; ++i)
        result.append(fromIcu(weekdays[i]));
    if (names.size() >= maxCacheEntries)
        names.clear();
    names.emplace(localeKey, result);
    return result;
}

QString formatLocal(Instant instant, bool allDay, const QString &zoneId)
{
    // Placing all-day events on days formats the same day once per event.
    thread_local struct {
        QString zoneId;
        Instant instant;
        QString text;
    } last[2];
    auto &remembered = last[allDay ? 1 : 0];
    if (remembered.instant == instant && remembered.zoneId == zoneId && !remembered.text.isEmpty())
        return remembered.text;
    Formatter *format = localFormatter(allDay, zoneId);
    if (!format)
        return {};
    remembered = {zoneId, instant, fromIcu(format->text(toUDate(instant)))};
    return remembered.text;
}

namespace {

bool asciiDigits(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// "yyyy-MM-dd" with ASCII digits and a year from 0001 on.
std::optional<std::array<int, 3>> dateFields(QStringView text)
{
    if (text.size() != 10 || text[4] != u'-' || text[7] != u'-' || !asciiDigits(text.first(4)) ||
        !asciiDigits(text.sliced(5, 2)) || !asciiDigits(text.sliced(8, 2)))
        return std::nullopt;
    const int year = text.first(4).toInt();
    if (year < 1)
        return std::nullopt;
    return std::array{year, text.sliced(5, 2).toInt(), text.sliced(8, 2).toInt()};
}

} // namespace

std::optional<Instant> parseLocal(QStringView text, bool allDay, const QString &zoneId)
{
    // A date names its day, which begins at its first existing instant even where midnight is
    // skipped (Santiago's 7 September 2025 begins at 01:00); a date the zone skipped has no day.
    if (allDay) {
        const auto date = dateFields(text);
        return date ? GregorianCalendar(zoneId, 1).date((*date)[0], (*date)[1], (*date)[2]) : std::nullopt;
    }
    // Four-digit years only, as the server reads them.
    if (text.size() < 5 || text[4] != u'-')
        return std::nullopt;
    Formatter *format = localFormatter(false, zoneId);
    if (!format)
        return std::nullopt;
    const icu::UnicodeString input = toIcu(text);
    const std::optional<UDate> parsed = format->read(input);
    // ICU accepts single-digit fields and trailing text, and may move a skipped local time; only a
    // text that formats back identically names an existing local time in canonical form.
    if (!parsed || format->text(*parsed) != input)
        return std::nullopt;
    return fromUDate(*parsed);
}

namespace {

Formatter *templateFormatter(const QString &skeleton, const QString &zoneId, const QString &locale)
{
    const icu::Locale icuLocale = localeFor(locale);
    const QString name = localeName(icuLocale);
    icu::DateTimePatternGenerator *generator =
        cached(caches().generators, key(name), [&]() -> std::unique_ptr<icu::DateTimePatternGenerator> {
            UErrorCode status = U_ZERO_ERROR;
            std::unique_ptr<icu::DateTimePatternGenerator> made(
                icu::DateTimePatternGenerator::createInstance(icuLocale, status));
            return U_SUCCESS(status) ? std::move(made) : nullptr;
        });
    if (!generator)
        return nullptr;
    // The best pattern is cached with the formatter: the skeleton is part of the formatter's key.
    return cached(
        caches().formats, key({QStringLiteral("skeleton"), skeleton, resolvedZoneId(zoneId), name}),
        [&]() -> std::unique_ptr<Formatter> {
            UErrorCode status = U_ZERO_ERROR;
            const icu::UnicodeString pattern = generator->getBestPattern(toIcu(skeleton), status);
            if (U_FAILURE(status))
                return nullptr;
            auto made = std::make_unique<icu::SimpleDateFormat>(pattern, icuLocale, status);
            if (U_FAILURE(status))
                return nullptr;
            std::unique_ptr<icu::Calendar> calendar(made->getCalendar()->clone());
            makeProleptic(*calendar);
            made->adoptCalendar(calendar.release());
            made->setTimeZone(zoneOrUtc(zoneId));
            return Formatter::make(std::move(made));
        });
}

} // namespace

QString formatTemplate(Instant instant, const QString &skeleton, const QString &zoneId, const QString &locale)
{
    thread_local Remembered<Formatter> last;
    thread_local QString lastLocale;
    Formatter *format = nullptr;
    if (last.matches(zoneId, skeleton, 0) && lastLocale == locale) {
        format = last.value;
    } else {
        format = templateFormatter(skeleton, zoneId, locale);
        if (!format)
            return {};
        last.remember(zoneId, skeleton, 0, format);
        lastLocale = locale;
    }
    return fromIcu(format->text(toUDate(instant)));
}

} // namespace dates

namespace calendarDates {

GregorianCalendar calendar(const QString &zone, qint64 weekStart)
{
    // Week start 0 is Sunday … 6 Saturday, 7 Sunday again; negative values wrap the same way.
    const int weekday = int(((weekStart % 7) + 7) % 7) + 1;
    return GregorianCalendar(zone, weekday);
}

Instant monthStart(const QString &zone, qint64 weekStart, Instant date)
{
    const GregorianCalendar cal = calendar(zone, weekStart);
    const GregorianCalendar::Fields day = cal.fields(date);
    return cal.date(day.year, day.month, 1).value_or(date);
}

QList<Instant> days(const QString &zone, qint64 weekStart, Instant date)
{
    const GregorianCalendar cal = calendar(zone, weekStart);
    const Instant start = monthStart(zone, weekStart, date);
    const int lead = (cal.fields(start).weekday - cal.firstWeekday() + 7) % 7;
    // Each cell is the start of its day (where the 1st's midnight is skipped, the other days still
    // begin at midnight), and each next cell the next day that exists: after a date the zone
    // skipped (Apia went from 29 to 31 December 2011) no day appears twice.
    Instant day = cal.startOfDay(cal.addDays(start, -lead).value_or(start));
    QList<Instant> result;
    result.reserve(42);
    for (int i = 0; i < 42; ++i) {
        result.append(day);
        const Instant next = cal.dayBounds(day).second;
        if (next <= day)
            break;
        day = next;
    }
    return result;
}

QStringList weekdayLabels(const QString &zone, qint64 weekStart)
{
    const GregorianCalendar cal = calendar(zone, weekStart);
    const QStringList names = dates::shortWeekdayNames();
    QStringList result;
    for (int i = 0; i < 7; ++i)
        result.append(names.value((cal.firstWeekday() - 1 + i) % 7));
    return result;
}

} // namespace calendarDates
