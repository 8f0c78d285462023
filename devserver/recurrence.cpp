#include "recurrence.h"

#include <QRegularExpression>
#include <QStringList>

#include <libical/ical.h>

namespace {
// libical's parser is only handed rules of this shape.
bool wellFormed(const QString &rule)
{
    static const QRegularExpression part(
        QStringLiteral(R"(^(FREQ|INTERVAL|COUNT|UNTIL|BYDAY|BYMONTHDAY|BYMONTH|BYSETPOS|WKST)=[A-Z0-9,+\-]{1,60}$)"));
    if (rule.isEmpty() || rule.size() > 200)
        return false;
    QStringList seen;
    for (const QString &piece : rule.split(QLatin1Char(';'))) {
        if (!part.match(piece).hasMatch())
            return false;
        const QString key = piece.section(QLatin1Char('='), 0, 0);
        if (seen.contains(key))
            return false;
        seen.append(key);
    }
    return seen.contains(QStringLiteral("FREQ"));
}

std::optional<icalrecurrencetype> parsed(const QString &rule)
{
    if (!wellFormed(rule))
        return std::nullopt;
    icalerror_set_errors_are_fatal(0);
    const icalrecurrencetype recur = icalrecurrencetype_from_string(rule.toLatin1().constData());
    icalerror_clear_errno();
    switch (recur.freq) {
    case ICAL_DAILY_RECURRENCE:
    case ICAL_WEEKLY_RECURRENCE:
    case ICAL_MONTHLY_RECURRENCE:
    case ICAL_YEARLY_RECURRENCE:
        break;
    default:
        return std::nullopt;
    }
    if (recur.interval < 1 || recur.interval > 1000)
        return std::nullopt;
    return recur;
}

icaltimetype toIcal(const LocalDateTime &t, bool allDay)
{
    icaltimetype result = icaltime_null_time();
    result.year = int(t.date.year());
    result.month = int(unsigned(t.date.month()));
    result.day = int(unsigned(t.date.day()));
    result.is_date = allDay ? 1 : 0;
    if (!allDay) {
        result.hour = t.hour();
        result.minute = t.minute();
    }
    return result;
}

LocalDateTime fromIcal(const icaltimetype &t)
{
    LocalDateTime result;
    result.date = std::chrono::year_month_day{std::chrono::year(t.year), std::chrono::month(unsigned(t.month)),
                                              std::chrono::day(unsigned(t.day))};
    result.minutes = t.is_date ? 0 : t.hour * 60 + t.minute;
    return result;
}

const char *const weekdayNames[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char *const monthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                  "July",    "August",   "September", "October", "November", "December"};

QString ordinal(unsigned n)
{
    const char *suffix = (n % 100 >= 11 && n % 100 <= 13) ? "th"
                         : n % 10 == 1                    ? "st"
                         : n % 10 == 2                    ? "nd"
                         : n % 10 == 3                    ? "rd"
                                                          : "th";
    return QString::number(n) + QLatin1String(suffix);
}
} // namespace

namespace recurrence {

bool valid(const QString &rule) { return parsed(rule).has_value(); }

bool quickRule(const QString &rule)
{
    static const QRegularExpression form(
        QStringLiteral(R"(^FREQ=(DAILY|WEEKLY|MONTHLY|YEARLY)(;INTERVAL=[1-9]\d?)?(;BYDAY=MO,TU,WE,TH,FR)?$)"));
    return form.match(rule).hasMatch() && valid(rule);
}

std::vector<LocalDateTime> starts(const QString &rule, const LocalDateTime &first, bool allDay,
                                  const LocalDateTime &from, const LocalDateTime &to, std::size_t limit)
{
    std::vector<LocalDateTime> result;
    const auto recur = parsed(rule);
    if (!recur || to < first)
        return result;
    icalrecur_iterator *iterator = icalrecur_iterator_new(*recur, toIcal(first, allDay));
    if (!iterator)
        return result;
    // Bounds the walk from the series' first start to the window for rules that match rarely.
    constexpr int maximumSteps = 100'000;
    for (int step = 0; step < maximumSteps && result.size() < limit; ++step) {
        const icaltimetype next = icalrecur_iterator_next(iterator);
        if (icaltime_is_null_time(next))
            break;
        const LocalDateTime start = fromIcal(next);
        if (to < start)
            break;
        if (!(start < from))
            result.push_back(start);
    }
    icalrecur_iterator_free(iterator);
    return result;
}

QString label(const QString &rule, const LocalDateTime &first)
{
    const auto recur = parsed(rule);
    if (!recur)
        return {};
    const QString weekday = QString::fromLatin1(weekdayNames[first.weekday()]);
    const unsigned dayOfMonth = unsigned(first.date.day());
    const bool weekdays = rule.contains(QStringLiteral("BYDAY=MO,TU,WE,TH,FR"));
    const int interval = recur->interval;
    QString text;
    switch (recur->freq) {
    case ICAL_DAILY_RECURRENCE:
        text = interval == 1 ? QStringLiteral("Every day") : QStringLiteral("Every %1 days").arg(interval);
        break;
    case ICAL_WEEKLY_RECURRENCE:
        if (weekdays)
            text = QStringLiteral("Every weekday (Monday to Friday)");
        else if (interval == 1)
            text = QStringLiteral("Every week on %1").arg(weekday);
        else if (interval == 2)
            text = QStringLiteral("Every other week on %1").arg(weekday);
        else
            text = QStringLiteral("Every %1 weeks on %2").arg(interval).arg(weekday);
        break;
    case ICAL_MONTHLY_RECURRENCE:
        text = interval == 1 ? QStringLiteral("Every month on the %1").arg(ordinal(dayOfMonth))
                             : QStringLiteral("Every %1 months on the %2").arg(interval).arg(ordinal(dayOfMonth));
        break;
    default:
        text = QStringLiteral("Every year on %1 %2")
                   .arg(QString::fromLatin1(monthNames[unsigned(first.date.month()) - 1]))
                   .arg(dayOfMonth);
        break;
    }
    if (recur->count > 0)
        text += recur->count == 1 ? QStringLiteral(", once") : QStringLiteral(", %1 times").arg(recur->count);
    return text;
}

} // namespace recurrence
