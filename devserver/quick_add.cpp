#include "quick_add.h"

#include "dates.h"
#include "recurrence.h"

#include <QRegularExpression>

#include <algorithm>
#include <functional>
#include <mutex>
#include <unordered_map>

using namespace std::chrono;

namespace quick {
namespace {

const QStringList weekdayWords = {QStringLiteral("sunday"),   QStringLiteral("monday"), QStringLiteral("tuesday"),
                                  QStringLiteral("wednesday"), QStringLiteral("thursday"),
                                  QStringLiteral("friday"),   QStringLiteral("saturday")};
const QStringList monthWords = {QStringLiteral("january"), QStringLiteral("february"), QStringLiteral("march"),
                                QStringLiteral("april"),   QStringLiteral("may"),      QStringLiteral("june"),
                                QStringLiteral("july"),    QStringLiteral("august"),   QStringLiteral("september"),
                                QStringLiteral("october"), QStringLiteral("november"), QStringLiteral("december")};

// Weekday or month from a full name or its first three (or "tues"/"thur"/"sept") letters.
int indexOf(const QStringList &names, const QString &word)
{
    const QString w = word.toCaseFolded().remove(QLatin1Char('.'));
    for (int i = 0; i < names.size(); ++i)
        if (names[i] == w || (w.size() >= 3 && names[i].startsWith(w)))
            return i;
    return -1;
}

constexpr auto weekdayPattern =
    R"((monday|mon|tuesday|tues|tue|wednesday|wed|thursday|thurs|thur|thu|friday|fri|saturday|sat|sunday|sun))";
// Without "on", "next" or "this" only full names count ("lunch in the sun" names no day).
constexpr auto fullWeekdayPattern = R"((monday|tuesday|wednesday|thursday|friday|saturday|sunday))";
constexpr auto monthPattern =
    R"((january|jan|february|feb|march|mar|april|apr|may|june|jun|july|jul|august|aug|september|sept|sep|october|oct|november|nov|december|dec)\.?)";
// A clock time: "1pm", "1:30 pm", "13:00", "noon", "midnight".
constexpr auto timePattern = R"((?:([0-9]{1,2})(?::([0-9]{2}))?\s*(am|pm|a\.m\.|p\.m\.)?|(noon|midday|midnight)))";

// Compiled once per pattern text; the patterns are few (one set per calendar name). Caseless matching
// pairs "ſ" with "s": words read from a match are compared case-folded (toCaseFolded), never
// lower-cased, so the lookups agree with the patterns. Digits are written
// [0-9], not \d, which would match any script's digits that toInt() then refuses.
const QRegularExpression &rx(const QString &pattern)
{
    static std::mutex lock;
    static std::unordered_map<QString, QRegularExpression> compiled;
    std::lock_guard guard(lock);
    auto found = compiled.find(pattern);
    if (found == compiled.end())
        found = compiled
                    .emplace(pattern, QRegularExpression(pattern, QRegularExpression::CaseInsensitiveOption |
                                                                      QRegularExpression::UseUnicodePropertiesOption))
                    .first;
    return found->second;
}

int numberWord(const QString &word)
{
    static const QStringList words = {QStringLiteral("zero"), QStringLiteral("one"),   QStringLiteral("two"),
                                      QStringLiteral("three"), QStringLiteral("four"), QStringLiteral("five"),
                                      QStringLiteral("six"),   QStringLiteral("seven"), QStringLiteral("eight"),
                                      QStringLiteral("nine"),  QStringLiteral("ten")};
    const QString w = word.toCaseFolded();
    if (w == QLatin1String("a") || w == QLatin1String("an"))
        return 1;
    const int index = int(words.indexOf(w));
    if (index >= 0)
        return index;
    bool ok = false;
    const int value = w.toInt(&ok);
    return ok ? value : -1;
}

// A clock time as written, before any guess about morning or afternoon.
struct Clock {
    int hour = 0;
    int minute = 0;
    enum class Half { None, Am, Pm } half = Half::None;
    bool twentyFour = false; // "13:00", "09:00": no guess needed
    QString written;
};

// Groups first … first + 3 of timePattern: hour, minute, half, and a word such as "noon".
std::optional<Clock> clockFrom(const QRegularExpressionMatch &m, int first)
{
    Clock c;
    c.written = m.captured(0).trimmed();
    const QString word = m.captured(first + 3).toCaseFolded();
    if (!word.isEmpty()) {
        c.hour = word == QLatin1String("midnight") ? 0 : 12;
        c.twentyFour = true;
        return c;
    }
    c.hour = m.captured(first).toInt();
    c.minute = m.captured(first + 1).isEmpty() ? 0 : m.captured(first + 1).toInt();
    const QString half = m.captured(first + 2).toCaseFolded().remove(QLatin1Char('.'));
    if (half == QLatin1String("am"))
        c.half = Clock::Half::Am;
    else if (half == QLatin1String("pm"))
        c.half = Clock::Half::Pm;
    if (c.minute > 59)
        return std::nullopt;
    if (c.half != Clock::Half::None)
        return c.hour >= 1 && c.hour <= 12 ? std::optional(c) : std::nullopt;
    if (c.hour > 23)
        return std::nullopt;
    c.twentyFour = c.hour >= 13 || c.hour == 0 || m.captured(first).startsWith(QLatin1Char('0'));
    return c;
}

int minutesOf(const Clock &c, Clock::Half half)
{
    int h = c.hour % 12;
    if (half == Clock::Half::Pm)
        h += 12;
    return h * 60 + c.minute;
}

// Marks consumed parts of the sentence so that what is left reads as the title.
class Sentence {
public:
    explicit Sentence(QString text) : m_text(std::move(text)) {}

    // The first match that `accept` takes; its text no longer counts for the title.
    QRegularExpressionMatch take(const QRegularExpression &pattern,
                                 const std::function<bool(const QRegularExpressionMatch &)> &accept = {})
    {
        auto it = pattern.globalMatch(m_text);
        while (it.hasNext()) {
            auto match = it.next();
            if (!match.captured(0).contains(QLatin1Char(mark)) && (!accept || accept(match))) {
                m_text.replace(match.capturedStart(0), match.capturedLength(0),
                               QString(match.capturedLength(0), QLatin1Char(mark)));
                return match;
            }
        }
        return {};
    }

    QString rest() const
    {
        QString joined;
        for (const QString &piece : m_text.split(QLatin1Char(mark), Qt::SkipEmptyParts)) {
            const QString trimmed = piece.simplified();
            if (!trimmed.isEmpty())
                joined += (joined.isEmpty() ? QString() : QStringLiteral(" ")) + trimmed;
        }
        static const QRegularExpression leading(
            QStringLiteral(R"(^(?:(?:at|on|in|with|for|from|to|and|by|,|-|–)\s+)+)"), QRegularExpression::CaseInsensitiveOption);
        static const QRegularExpression trailing(
            QStringLiteral(R"((?:\s+(?:at|on|in|with|for|from|to|and|by|every)|\s*[,;:\-–])+$)"),
            QRegularExpression::CaseInsensitiveOption);
        QString title = joined;
        for (int round = 0; round < 3; ++round)
            title = title.remove(trailing).remove(leading).trimmed();
        if (title.compare(QLatin1String("at"), Qt::CaseInsensitive) == 0 ||
            title.compare(QLatin1String("on"), Qt::CaseInsensitive) == 0)
            title.clear();
        return title;
    }

private:
    static constexpr char mark = '\x1f';
    QString m_text;
};

const char *const monthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                  "July",    "August",   "September", "October", "November", "December"};
const char *const dayNames[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

LocalDateTime dateOnly(year_month_day date)
{
    LocalDateTime result;
    result.date = date;
    return result;
}

} // namespace

QString clockText(const LocalDateTime &time)
{
    const int h = time.hour() % 12 == 0 ? 12 : time.hour() % 12;
    return QStringLiteral("%1:%2 %3")
        .arg(h)
        .arg(time.minute(), 2, 10, QLatin1Char('0'))
        .arg(time.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM"));
}

QString dayText(const LocalDateTime &time)
{
    return QStringLiteral("%1, %2 %3, %4")
        .arg(QString::fromLatin1(dayNames[time.weekday()]), QString::fromLatin1(monthNames[unsigned(time.date.month()) - 1]))
        .arg(unsigned(time.date.day()))
        .arg(int(time.date.year()));
}

QString describeWhen(const LocalDateTime &start, const LocalDateTime &end, bool allDay)
{
    if (allDay) {
        const LocalDateTime last = end.plusDays(-1);
        if (!(start < last))
            return dayText(start) + QStringLiteral(", all day");
        return dayText(start) + QStringLiteral(" – ") + dayText(last) + QStringLiteral(", all day");
    }
    if (start.date == end.date || (end.minutes == 0 && end.plusDays(-1).date == start.date && start < end))
        return dayText(start) + QStringLiteral(", ") + clockText(start) + QStringLiteral(" – ") + clockText(end);
    return dayText(start) + QStringLiteral(", ") + clockText(start) + QStringLiteral(" – ") + dayText(end) +
           QStringLiteral(", ") + clockText(end);
}

std::variant<QuickPreview, Refusal> interpret(const QString &text, const QString &zone, Instant now,
                                              const std::vector<StoredCalendar> &calendars, qint64 defaultCalendarId)
{
    // A sentence, not a document.
    constexpr qsizetype longestSentence = 500;
    const QString input = text.simplified();
    if (input.isEmpty())
        return Refusal{400, QStringLiteral("Type a sentence that describes the event.")};
    if (input.size() > longestSentence)
        return Refusal{413, QStringLiteral("That sentence is too long. Describe the event in a few words.")};

    QStringList assumptions;
    QString tz = zone;
    if (!zones::isKnown(zone)) {
        assumptions << QStringLiteral("Unknown time zone “%1”: UTC used.").arg(zone);
        tz = QStringLiteral("UTC");
    }
    const auto clock = localAt(now, tz);
    if (!clock)
        return Refusal{500, QStringLiteral("The server’s clock is outside the years 0001 to 9999.")};
    const LocalDateTime nowLocal = *clock;
    const year_month_day today = nowLocal.date;
    Sentence sentence(input);

    // Calendar by name, longest names first so that "Team Travel" wins over "Team".
    std::vector<StoredCalendar> byLength = calendars;
    std::sort(byLength.begin(), byLength.end(), [](const auto &a, const auto &b) { return a.name.size() > b.name.size(); });
    std::optional<StoredCalendar> named;
    for (const auto &calendar : byLength) {
        const QString name = QRegularExpression::escape(calendar.name);
        if (sentence.take(rx(QStringLiteral(R"(\b(?:on|in|to|into)\s+(?:the\s+|my\s+)?%1\s+calendar\b)").arg(name))).hasMatch() ||
            sentence.take(rx(QStringLiteral(R"(\b(?:on|in|to|into)\s+(?:the\s+|my\s+)?%1(?=\s*$))").arg(name))).hasMatch() ||
            sentence.take(rx(QStringLiteral(R"(#%1\b)").arg(name))).hasMatch()) {
            named = calendar;
            break;
        }
    }

    // Repetition.
    QString rule;
    std::optional<int> repeatWeekday;
    if (auto m = sentence.take(rx(QStringLiteral(R"(\bevery\s+weekday\b|\bon\s+weekdays\b)"))); m.hasMatch()) {
        rule = QStringLiteral("FREQ=WEEKLY;BYDAY=MO,TU,WE,TH,FR");
    } else if (auto m = sentence.take(rx(QStringLiteral(R"(\bevery\s+(other\s+)?%1s?\b)").arg(QLatin1String(weekdayPattern))));
               m.hasMatch()) {
        repeatWeekday = indexOf(weekdayWords, m.captured(2));
        rule = m.captured(1).isEmpty() ? QStringLiteral("FREQ=WEEKLY") : QStringLiteral("FREQ=WEEKLY;INTERVAL=2");
    } else if (auto m = sentence.take(rx(QStringLiteral(R"(\bevery\s+(other\s+|[0-9]{1,2}\s+)?(day|week|month|year)s?\b)")));
               m.hasMatch()) {
        const QString unit = m.captured(2).toCaseFolded().toUpper();
        const QString frequency = unit == QLatin1String("DAY") ? QStringLiteral("DAILY") : unit + QStringLiteral("LY");
        const QString every = m.captured(1).trimmed().toCaseFolded();
        const int interval = every.isEmpty() ? 1 : every == QLatin1String("other") ? 2 : every.toInt();
        if (interval < 1)
            return Refusal{422, QStringLiteral("A repeat needs a count of at least one.")};
        rule = QStringLiteral("FREQ=") + frequency + (interval > 1 ? QStringLiteral(";INTERVAL=%1").arg(interval) : QString());
    } else if (auto m = sentence.take(rx(QStringLiteral(R"(\b(daily|weekly|monthly|yearly|annually)\b)"))); m.hasMatch()) {
        const QString word = m.captured(1).toCaseFolded();
        rule = word == QLatin1String("annually") ? QStringLiteral("FREQ=YEARLY") : QStringLiteral("FREQ=") + word.toUpper();
    }

    const bool allDayWords = sentence.take(rx(QStringLiteral(R"(\ball[\s-]day\b)"))).hasMatch();

    // Dates.
    std::optional<year_month_day> date;
    QString dateAssumption;
    const auto fromWeekday = [&](int target, bool strictlyAfter) {
        const int ahead = (target - int(weekday(sys_days(today)).c_encoding()) + 7) % 7;
        return year_month_day(sys_days(today) + days(ahead == 0 && strictlyAfter ? 7 : ahead));
    };
    const auto withYear = [&](unsigned monthIndex, unsigned dayNumber, const QString &yearText) -> std::optional<year_month_day> {
        if (!yearText.isEmpty()) {
            int y = yearText.toInt();
            if (yearText.size() == 2)
                y += 2000;
            const year_month_day d{year(y), month(monthIndex), day(dayNumber)};
            return d.ok() ? std::optional(d) : std::nullopt;
        }
        year_month_day d{today.year(), month(monthIndex), day(dayNumber)};
        if (!d.ok() && !(monthIndex == 2 && dayNumber == 29))
            return std::nullopt;
        if (!d.ok() || sys_days(d) < sys_days(today)) {
            for (int ahead = 1; ahead <= 8; ++ahead) {
                const year_month_day later{today.year() + years(ahead), month(monthIndex), day(dayNumber)};
                if (later.ok()) {
                    dateAssumption = QStringLiteral("That date has passed this year: %1 assumed.").arg(int(later.year()));
                    return later;
                }
            }
        }
        return d;
    };
    bool badDate = false;
    if (auto m = sentence.take(rx(QStringLiteral(R"(\b(?:the\s+)?day\s+after\s+tomorrow\b)"))); m.hasMatch()) {
        date = year_month_day(sys_days(today) + days(2));
    } else if (auto m = sentence.take(rx(QStringLiteral(R"(\b(today|tonight|tomorrow|tmrw)\b)"))); m.hasMatch()) {
        const QString word = m.captured(1).toCaseFolded();
        date = word.startsWith(QLatin1String("to")) && word != QLatin1String("tomorrow") ? today
                                                                                         : year_month_day(sys_days(today) + days(1));
    } else if (auto m = sentence.take(rx(QStringLiteral(R"(\b(?:on\s+)?([0-9]{4})-([0-9]{2})-([0-9]{2})\b)"))); m.hasMatch()) {
        const year_month_day d{year(m.captured(1).toInt()), month(m.captured(2).toUInt()), day(m.captured(3).toUInt())};
        date = d.ok() ? std::optional(d) : std::nullopt;
        badDate = !d.ok();
    } else if (auto m = sentence.take(rx(QStringLiteral(R"(\b(?:on\s+)?([0-9]{1,2})/([0-9]{1,2})(?:/([0-9]{4}|[0-9]{2}))?\b)"))); m.hasMatch()) {
        unsigned first = m.captured(1).toUInt(), second = m.captured(2).toUInt();
        if (first > 12 && second <= 12) {
            std::swap(first, second);
            assumptions << QStringLiteral("Read %1 as day/month.").arg(m.captured(0).trimmed());
        }
        date = withYear(first, second, m.captured(3));
        badDate = !date;
    } else if (auto m = sentence.take(rx(QStringLiteral(R"(\b(?:on\s+)?%1\s+([0-9]{1,2})(?:st|nd|rd|th)?(?:,?\s+([0-9]{4}))?\b)").arg(QLatin1String(monthPattern))));
               m.hasMatch()) {
        date = withYear(unsigned(indexOf(monthWords, m.captured(1)) + 1), m.captured(2).toUInt(), m.captured(3));
        badDate = !date;
    } else if (auto m = sentence.take(rx(QStringLiteral(R"(\b(?:on\s+)?(?:the\s+)?([0-9]{1,2})(?:st|nd|rd|th)?\s+(?:of\s+)?%1(?:,?\s+([0-9]{4}))?\b)").arg(QLatin1String(monthPattern))));
               m.hasMatch()) {
        date = withYear(unsigned(indexOf(monthWords, m.captured(2)) + 1), m.captured(1).toUInt(), m.captured(3));
        badDate = !date;
    } else if (auto m = sentence.take(rx(QStringLiteral(R"(\bin\s+([0-9]{1,3}|a|an|one|two|three|four|five|six|seven|eight|nine|ten)\s+(day|week)s?\b)")));
               m.hasMatch()) {
        const int count = numberWord(m.captured(1));
        date = year_month_day(sys_days(today) + days(count * (m.captured(2).toCaseFolded() == QLatin1String("week") ? 7 : 1)));
    } else if (auto m = sentence.take(rx(QStringLiteral(R"(\b(?:(next|this|coming|on)\s+%1|%2)\b)")
                                             .arg(QLatin1String(weekdayPattern), QLatin1String(fullWeekdayPattern))));
               m.hasMatch()) {
        const QString day = m.captured(2).isEmpty() ? m.captured(3) : m.captured(2);
        date = fromWeekday(indexOf(weekdayWords, day), m.captured(1).toCaseFolded() == QLatin1String("next"));
    } else if (auto m = sentence.take(rx(QStringLiteral(R"(\bnext\s+week\b)"))); m.hasMatch()) {
        date = fromWeekday(1, true);
        dateAssumption = QStringLiteral("“Next week” read as Monday.");
    }
    if (badDate)
        return Refusal{422, QStringLiteral("That date doesn’t exist.")};
    // Local texts carry four-digit years; keep well inside them.
    if (date && (date->year() < year(1900) || date->year() > year(2199)))
        return Refusal{422, QStringLiteral("That date is too far away.")};
    if (!dateAssumption.isEmpty())
        assumptions << dateAssumption;

    // Times: a range first, then a single time. Bare numbers count only after "at", "from" or
    // "between"; otherwise they need a colon, "am"/"pm" or a word such as "noon".
    std::optional<Clock> startClock, endClock;
    const QString time = QLatin1String(timePattern);
    const auto clockLike = [](const QString &written) {
        static const QRegularExpression marks(QStringLiteral(R"(:|[0-9]\s*[ap]\.?m|noon|midday|midnight)"),
                                              QRegularExpression::CaseInsensitiveOption);
        return written.contains(marks);
    };
    if (auto m = sentence.take(
            rx(QStringLiteral(R"(\b(?:from\s+|between\s+)?%1\s*(?:-|–|\bto\b|\buntil\b|\btill\b|\band\b)\s*%1(?=\W|$))").arg(time)),
            [&](const QRegularExpressionMatch &m) {
                const QString whole = m.captured(0).toCaseFolded();
                const bool between = whole.startsWith(QLatin1String("between"));
                const bool introduced = between || whole.startsWith(QLatin1String("from"));
                if (whole.contains(rx(QStringLiteral(R"(\band\b)"))) && !between)
                    return false;
                return introduced || clockLike(whole);
            });
        m.hasMatch()) {
        startClock = clockFrom(m, 1);
        endClock = clockFrom(m, 5);
        if (!startClock || !endClock)
            return Refusal{422, QStringLiteral("That time range can’t be read. Try “from 2 to 3:30pm”.")};
    } else if (auto m = sentence.take(rx(QStringLiteral(R"((?:\b(?:at|@)\s*|\b)%1(?=\W|$))").arg(time)),
                                      [&](const QRegularExpressionMatch &m) {
                                          const QString whole = m.captured(0).toCaseFolded();
                                          return whole.startsWith(QLatin1String("at")) ||
                                                 whole.startsWith(QLatin1Char('@')) || clockLike(whole);
                                      });
               m.hasMatch()) {
        startClock = clockFrom(m, 1);
        if (!startClock)
            return Refusal{422, QStringLiteral("That time doesn’t exist. Try “at 1pm” or “13:00”.")};
    }

    // Duration.
    std::optional<qint64> durationMinutes;
    std::optional<int> durationDays;
    if (auto m = sentence.take(rx(QStringLiteral(R"(\bfor\s+(?:half\s+an?\s+hour|30\s+min(?:ute)?s?)\b)"))); m.hasMatch()) {
        durationMinutes = 30;
    } else if (auto m = sentence.take(rx(QStringLiteral(R"(\bfor\s+(an?|one|two|three|four|five|six|seven|eight|nine|ten|[0-9]{1,4}(?:\.[0-9]{1,2})?)\s+(hours?|hrs?|h|minutes?|mins?|days?)(\s+and\s+a\s+half)?\b)")));
               m.hasMatch()) {
        bool isNumber = false;
        double amount = m.captured(1).toDouble(&isNumber);
        if (!isNumber)
            amount = numberWord(m.captured(1));
        if (!m.captured(3).isEmpty())
            amount += 0.5;
        const QString unit = m.captured(2).toCaseFolded();
        if (unit.startsWith(QLatin1Char('d'))) {
            if (amount < 1 || amount > 366 || amount != double(int(amount)))
                return Refusal{422, QStringLiteral("An event lasts from one to 366 whole days.")};
            durationDays = int(amount);
        } else {
            const double minutesValue = unit.startsWith(QLatin1Char('h')) ? amount * 60 : amount;
            if (minutesValue < 1 || minutesValue > 366 * 24 * 60)
                return Refusal{422, QStringLiteral("That duration can’t be used.")};
            durationMinutes = qint64(minutesValue);
        }
    }

    // People, then a place.
    QStringList attendees;
    if (auto m = sentence.take(rx(QStringLiteral(R"(\bwith\s+((?:(?!\b(?:at|in|on|for|from|every|to|about)\b)[^\x1f])+))")));
        m.hasMatch()) {
        static const QRegularExpression separators(QStringLiteral(R"(\s*(?:,\s*and\s+|,|\band\b|&)\s*)"),
                                                   QRegularExpression::CaseInsensitiveOption);
        for (const QString &name : m.captured(1).split(separators, Qt::SkipEmptyParts)) {
            const QString person = name.simplified();
            if (!person.isEmpty() && person.at(0).isLetter() && attendees.size() < 50)
                attendees << person.left(100);
        }
    }
    QString location;
    static const QString placeEnd = QStringLiteral(R"((?=\s+(?:with|on|for|from|every)\b|\s*\x1f|\s*$))");
    // Case matters for "in": a capitalised name, a room or "the …" follows it.
    static const QRegularExpression inPlace(
        QStringLiteral(R"(\b[Ii]n\s+((?:[Rr]oom|[Bb]uilding|[Ff]loor)\s+\S+|the\s+[^\x1f]+?|\p{Lu}[^\x1f]*?))") + placeEnd,
        QRegularExpression::UseUnicodePropertiesOption);
    if (auto m = sentence.take(rx(QStringLiteral(R"(\b(?:at|@)\s+([^\x1f]+?))") + placeEnd)); m.hasMatch())
        location = m.captured(1).trimmed();
    else if (auto m = sentence.take(inPlace); m.hasMatch())
        location = m.captured(1).trimmed();

    const QString title = sentence.rest();
    static const QRegularExpression meaningful(QStringLiteral(R"([\p{L}\p{N}])"), QRegularExpression::UseUnicodePropertiesOption);
    if (!title.contains(meaningful))
        return Refusal{422, QStringLiteral("Couldn’t tell what the event is. Try something like “Lunch tomorrow at 1pm”.")};

    // A repeat on named weekdays starts on the first of them.
    if (!date && repeatWeekday) {
        date = fromWeekday(*repeatWeekday, false);
    } else if (!date && rule.contains(QLatin1String("BYDAY=MO,TU,WE,TH,FR"))) {
        const unsigned wd = weekday(sys_days(today)).c_encoding();
        date = (wd == 0 || wd == 6) ? fromWeekday(1, false) : today;
    }

    // Times of day, guessing morning or afternoon where the sentence does not say.
    std::optional<int> startMinutes, endMinutes;
    const auto guessHalf = [&](const Clock &c, bool isToday) {
        if (c.hour == 12)
            return Clock::Half::Pm;
        if (c.hour >= 1 && c.hour <= 6)
            return Clock::Half::Pm;
        if (isToday && minutesOf(c, Clock::Half::Am) <= nowLocal.minutes)
            return Clock::Half::Pm;
        return Clock::Half::Am;
    };
    const auto read = [&](const Clock &c, Clock::Half half) { return c.twentyFour ? c.hour * 60 + c.minute : minutesOf(c, half); };
    const bool dayIsToday = !date || *date == today;
    if (startClock) {
        Clock::Half startHalf = startClock->half;
        if (endClock && startHalf == Clock::Half::None && !startClock->twentyFour && endClock->half != Clock::Half::None) {
            startHalf = endClock->half;
            if (read(*startClock, startHalf) >= read(*endClock, endClock->half))
                startHalf = startHalf == Clock::Half::Am ? Clock::Half::Pm : Clock::Half::Am;
        }
        const bool guessed = startHalf == Clock::Half::None && !startClock->twentyFour;
        if (guessed)
            startHalf = guessHalf(*startClock, dayIsToday);
        startMinutes = read(*startClock, startHalf);
        if (guessed)
            assumptions << QStringLiteral("Read “%1” as %2.").arg(startClock->written,
                                                                  clockText(LocalDateTime{today, *startMinutes}));
        if (endClock) {
            if (endClock->half == Clock::Half::None && !endClock->twentyFour) {
                const int morning = minutesOf(*endClock, Clock::Half::Am);
                endMinutes = morning > *startMinutes ? morning : minutesOf(*endClock, Clock::Half::Pm);
            } else {
                endMinutes = read(*endClock, endClock->half);
            }
        }
    }

    // The day, when the sentence names none.
    if (!date) {
        if (startMinutes && rule.isEmpty() && *startMinutes <= nowLocal.minutes) {
            date = year_month_day(sys_days(today) + days(1));
            assumptions << QStringLiteral("No date given: tomorrow assumed, since %1 has passed today.")
                               .arg(clockText(LocalDateTime{today, *startMinutes}));
        } else {
            date = today;
            assumptions << QStringLiteral("No date given: today assumed.");
        }
    }

    QuickDraft draft;
    draft.title = title.left(500);
    draft.location = location.left(500);
    draft.tz = tz;
    draft.repeat = rule;
    draft.attendees = attendees;
    LocalDateTime start = dateOnly(*date), end;
    if (!startMinutes || allDayWords) {
        if (!allDayWords && !startMinutes)
            assumptions << QStringLiteral("No time given: all-day event assumed.");
        draft.all_day = true;
        end = start.plusDays(durationDays.value_or(1));
    } else {
        start.minutes = *startMinutes;
        if (endMinutes) {
            end = dateOnly(*date);
            end.minutes = *endMinutes;
            if (!(start < end)) {
                end = end.plusDays(1);
                assumptions << QStringLiteral("Ends the next day.");
            }
        } else if (durationMinutes || durationDays) {
            end = start.plusMinutes(durationMinutes.value_or(qint64(durationDays.value_or(0)) * 1440));
        } else {
            end = start.plusMinutes(60);
            assumptions << QStringLiteral("No end time given: one hour assumed.");
        }
        // Wall-clock times that the zone skips or repeats.
        for (LocalDateTime *point : {&start, &end}) {
            const auto found = placeLocal(*point, tz);
            if (!found)
                return Refusal{422, QStringLiteral("That date is too far away.")};
            const PlacedTime &placed = *found;
            if (placed.fit == PlacedTime::Fit::Skipped) {
                assumptions << QStringLiteral("%1 doesn’t exist on %2 in %3 (the clocks go forward): %4 used.")
                                   .arg(clockText(*point), dayText(*point), tz, clockText(placed.actual));
                *point = placed.actual;
            } else if (placed.fit == PlacedTime::Fit::Repeated) {
                assumptions << QStringLiteral("%1 happens twice on %2 in %3 (the clocks go back): the first one is used.")
                                   .arg(clockText(*point), dayText(*point), tz);
            }
        }
        if (!(start < end))
            end = start.plusMinutes(60);
    }
    draft.start_local = start.text(draft.all_day);
    draft.end_local = end.text(draft.all_day);

    // The calendar.
    const auto writable = std::find_if(calendars.begin(), calendars.end(), [](const auto &c) { return c.writable; });
    if (writable == calendars.end())
        return Refusal{403, QStringLiteral("You can’t add events to any calendar.")};
    const auto fallback = std::find_if(calendars.begin(), calendars.end(),
                                       [&](const auto &c) { return c.writable && c.id == defaultCalendarId; });
    const StoredCalendar &usual = fallback != calendars.end() ? *fallback : *writable;
    const StoredCalendar *target = &usual;
    if (named && named->writable) {
        target = &*std::find_if(calendars.begin(), calendars.end(), [&](const auto &c) { return c.id == named->id; });
    } else if (named) {
        assumptions << QStringLiteral("%1 is read-only: the event goes to %2.").arg(named->name, usual.name);
    }
    draft.calendar_id = target->id;

    QuickPreview preview;
    preview.draft = draft;
    preview.when = describeWhen(start, end, draft.all_day);
    preview.repeat_label = rule.isEmpty() ? QString() : recurrence::label(rule, start);
    preview.calendar_name = target->name;
    preview.assumptions = assumptions;
    return preview;
}

} // namespace quick
