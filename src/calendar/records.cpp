#include "records.h"

#include "dates.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <QUtf8StringView>

#include <algorithm>
#include <cstring>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Length of the JSON number grammar match at the start of `text` (0 when it does not start one).
qsizetype numberLength(const char *text, qsizetype size)
{
    qsizetype i = 0;
    if (i < size && text[i] == '-')
        ++i;
    if (i < size && text[i] == '0') {
        ++i;
    } else if (i < size && isDigit(text[i])) {
        while (i < size && isDigit(text[i]))
            ++i;
    } else {
        return 0;
    }
    if (i < size && text[i] == '.') {
        const qsizetype digits = ++i;
        while (i < size && isDigit(text[i]))
            ++i;
        if (i == digits)
            return 0;
    }
    if (i < size && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < size && (text[i] == '+' || text[i] == '-'))
            ++i;
        const qsizetype digits = i;
        while (i < size && isDigit(text[i]))
            ++i;
        if (i == digits)
            return 0;
    }
    return i;
}

// A number text without fraction or exponent whose value fits a signed 64-bit integer.
bool isPlainInteger(const char *text, qsizetype size)
{
    const bool negative = size > 0 && text[0] == '-';
    const char *digits = text + (negative ? 1 : 0);
    const qsizetype count = size - (negative ? 1 : 0);
    for (qsizetype i = 0; i < count; ++i) {
        if (!isDigit(digits[i]))
            return false;
    }
    static constexpr char maxPositive[] = "9223372036854775807";
    static constexpr char maxNegative[] = "9223372036854775808";
    constexpr qsizetype maxDigits = sizeof(maxPositive) - 1;
    if (count != maxDigits)
        return count > 0 && count < maxDigits;
    return std::memcmp(digits, negative ? maxNegative : maxPositive, maxDigits) <= 0;
}

bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Length of the JSON string at the start of `text` (which begins with '"'), both quotes included;
// 0 when it is not one: no closing quote, a raw control character, or an escape other than
// \" \\ \/ \b \f \n \r \t and \u with four hex digits. Qt's parser takes raw control characters and
// reads an unknown escape as the character after the backslash.
qsizetype stringLength(const char *text, qsizetype size)
{
    for (qsizetype i = 1; i < size; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"')
            return i + 1;
        if (c < 0x20)
            return 0;
        if (c != '\\')
            continue;
        if (++i == size)
            return 0;
        if (text[i] == 'u') {
            if (size - i <= 4 || !std::all_of(text + i + 1, text + i + 5, isHexDigit))
                return 0;
            i += 4;
        } else if (text[i] == '\0' || !std::strchr("\"\\/bfnrt", text[i])) {
            return 0;
        }
    }
    return 0;
}

bool startsNumber(char c) { return isDigit(c) || c == '-' || c == '+' || c == '.'; }
bool isNumberCharacter(char c) { return startsNumber(c) || c == 'e' || c == 'E'; }

// Qt's parser stores an integral floating-point text (1.0, 1e3) as an integer, rounds texts beyond
// 64 bits, and accepts some texts that are not JSON numbers ("1.", "01"), so a decoded value cannot
// tell whether its text was an integer. The number texts are therefore checked first: a malformed
// one refuses the document, and one that is not a plain 64-bit integer is replaced by an empty
// array. Every number this module reads is an integer, so such a text then fails where it is read
// and is ignored in members that are not read. The input is copied only when such a number occurs.
// The same pass refuses what Qt's parser takes but JSON (RFC 8259) does not: text that is not UTF-8,
// a leading byte-order mark, and strings that stringLength() refuses.
std::optional<QByteArray> withPlainNumbersOnly(const QByteArray &json)
{
    if (json.startsWith("\xEF\xBB\xBF") || !QUtf8StringView(json).isValidUtf8())
        return std::nullopt;
    const char *data = json.constData();
    const qsizetype size = json.size();
    QByteArray rewritten;
    qsizetype copied = 0;
    qsizetype i = 0;
    while (i < size) {
        const char c = data[i];
        if (c == '"') {
            const qsizetype length = stringLength(data + i, size - i);
            if (length == 0)
                return std::nullopt;
            i += length;
        } else if (startsNumber(c)) {
            const qsizetype length = numberLength(data + i, size - i);
            if (length == 0 || (i + length < size && isNumberCharacter(data[i + length])))
                return std::nullopt;
            if (!isPlainInteger(data + i, length)) {
                rewritten.append(data + copied, i - copied);
                rewritten.append("[]");
                copied = i + length;
            }
            i += length;
        } else {
            ++i;
        }
    }
    if (copied == 0)
        return json;
    rewritten.append(data + copied, size - copied);
    return rewritten;
}

bool parseObject(const QByteArray &json, QJsonObject &out)
{
    const std::optional<QByteArray> checked = withPlainNumbersOnly(json);
    if (!checked)
        return false;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(*checked, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    out = document.object();
    return true;
}

bool read(const QJsonObject &object, QLatin1String name, qint64 &out)
{
    const QJsonValue value = object.value(name);
    if (!value.isDouble())
        return false;
    out = value.toInteger();
    return true;
}

bool read(const QJsonObject &object, QLatin1String name, QString &out)
{
    const QJsonValue value = object.value(name);
    if (!value.isString())
        return false;
    out = value.toString();
    return true;
}

bool read(const QJsonObject &object, QLatin1String name, bool &out)
{
    const QJsonValue value = object.value(name);
    if (!value.isBool())
        return false;
    out = value.toBool();
    return true;
}

bool read(const QJsonObject &object, QLatin1String name, QStringList &out)
{
    const QJsonValue value = object.value(name);
    if (!value.isArray())
        return false;
    const QJsonArray array = value.toArray();
    out.clear();
    out.reserve(array.size());
    for (const QJsonValue &element : array) {
        if (!element.isString())
            return false;
        out.append(element.toString());
    }
    return true;
}

template<typename Record>
bool readList(const QJsonObject &object, QLatin1String name, QList<Record> &out,
              bool (*readRecord)(const QJsonObject &, Record &))
{
    const QJsonValue value = object.value(name);
    if (!value.isArray())
        return false;
    const QJsonArray array = value.toArray();
    out.clear();
    out.reserve(array.size());
    for (const QJsonValue &element : array) {
        if (!element.isObject())
            return false;
        Record record;
        if (!readRecord(element.toObject(), record))
            return false;
        out.append(std::move(record));
    }
    return true;
}

bool readRecord(const QJsonObject &o, TeamCalendar &out)
{
    return read(o, QLatin1String("id"), out.id) && read(o, QLatin1String("name"), out.name)
        && read(o, QLatin1String("hue"), out.hue) && read(o, QLatin1String("writable"), out.writable);
}

bool readRecord(const QJsonObject &o, CalendarEvent &out)
{
    return read(o, QLatin1String("id"), out.id) && read(o, QLatin1String("calendar_id"), out.calendar_id)
        && read(o, QLatin1String("status"), out.status) && read(o, QLatin1String("title"), out.title)
        && read(o, QLatin1String("location"), out.location) && read(o, QLatin1String("notes"), out.notes)
        && read(o, QLatin1String("all_day"), out.all_day) && read(o, QLatin1String("start_local"), out.start_local)
        && read(o, QLatin1String("end_local"), out.end_local) && read(o, QLatin1String("tz"), out.tz)
        && read(o, QLatin1String("start"), out.start) && read(o, QLatin1String("end"), out.end)
        && read(o, QLatin1String("recurring"), out.recurring) && read(o, QLatin1String("writable"), out.writable)
        && read(o, QLatin1String("calendar_name"), out.calendar_name)
        && read(o, QLatin1String("occurrence"), out.occurrence)
        && read(o, QLatin1String("day_start"), out.day_start) && read(o, QLatin1String("day_end"), out.day_end);
}

bool readRecord(const QJsonObject &o, QuickDraft &out)
{
    return read(o, QLatin1String("calendar_id"), out.calendar_id) && read(o, QLatin1String("title"), out.title)
        && read(o, QLatin1String("location"), out.location) && read(o, QLatin1String("start_local"), out.start_local)
        && read(o, QLatin1String("end_local"), out.end_local) && read(o, QLatin1String("tz"), out.tz)
        && read(o, QLatin1String("all_day"), out.all_day) && read(o, QLatin1String("repeat"), out.repeat)
        && read(o, QLatin1String("attendees"), out.attendees);
}

bool readRecord(const QJsonObject &o, CalendarEvents &out)
{
    return readList<CalendarEvent>(o, QLatin1String("events"), out.events, readRecord);
}

bool readRecord(const QJsonObject &o, CalendarSession &out)
{
    return read(o, QLatin1String("week_start"), out.week_start) && read(o, QLatin1String("zone"), out.zone)
        && readList<TeamCalendar>(o, QLatin1String("calendars"), out.calendars, readRecord)
        && read(o, QLatin1String("default_calendar_id"), out.default_calendar_id);
}

bool readRecord(const QJsonObject &o, SavedEvent &out)
{
    if (!read(o, QLatin1String("id"), out.id))
        return false;
    const QJsonValue warning = o.value(QLatin1String("warning"));
    if (warning.isUndefined() || warning.isNull()) {
        out.warning.reset();
        return true;
    }
    if (!warning.isString())
        return false;
    out.warning = warning.toString();
    return true;
}

bool readRecord(const QJsonObject &o, QuickPreview &out)
{
    const QJsonValue draft = o.value(QLatin1String("draft"));
    return draft.isObject() && readRecord(draft.toObject(), out.draft) && read(o, QLatin1String("when"), out.when)
        && read(o, QLatin1String("repeat_label"), out.repeat_label)
        && read(o, QLatin1String("calendar_name"), out.calendar_name)
        && read(o, QLatin1String("assumptions"), out.assumptions);
}

template<typename Record>
bool decodeRecord(const QByteArray &json, Record &out)
{
    QJsonObject object;
    return parseObject(json, object) && readRecord(object, out);
}

QByteArray compact(const QJsonObject &object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

} // namespace

QString CalendarEvent::identity() const
{
    return QString::number(id) + QLatin1Char('-') + occurrence + QLatin1Char('-') + QString::number(start);
}

bool CalendarEvent::occurs(Instant date, const GregorianCalendar &calendar) const
{
    if (all_day) {
        const QString day = dates::formatLocal(date, true, calendar.zoneId());
        return day >= day_start && day < day_end;
    }
    // The day ends where the next one starts: where that midnight is skipped, one day after the
    // start of this day would overshoot it.
    const auto [dayStart, nextDayStart] = calendar.dayBounds(date);
    return secondsSinceEpoch(nextDayStart) > start && secondsSinceEpoch(dayStart) < end;
}

bool decode(const QByteArray &json, TeamCalendar &out) { return decodeRecord(json, out); }
bool decode(const QByteArray &json, CalendarEvent &out) { return decodeRecord(json, out); }
bool decode(const QByteArray &json, CalendarEvents &out) { return decodeRecord(json, out); }
bool decode(const QByteArray &json, CalendarSession &out) { return decodeRecord(json, out); }
bool decode(const QByteArray &json, SavedEvent &out) { return decodeRecord(json, out); }
bool decode(const QByteArray &json, QuickDraft &out) { return decodeRecord(json, out); }
bool decode(const QByteArray &json, QuickPreview &out) { return decodeRecord(json, out); }

QByteArray encode(const CalendarEvent &event)
{
    return compact(QJsonObject{
        {QLatin1String("id"), event.id},
        {QLatin1String("calendar_id"), event.calendar_id},
        {QLatin1String("status"), event.status},
        {QLatin1String("title"), event.title},
        {QLatin1String("location"), event.location},
        {QLatin1String("notes"), event.notes},
        {QLatin1String("all_day"), event.all_day},
        {QLatin1String("start_local"), event.start_local},
        {QLatin1String("end_local"), event.end_local},
        {QLatin1String("tz"), event.tz},
        {QLatin1String("start"), event.start},
        {QLatin1String("end"), event.end},
        {QLatin1String("recurring"), event.recurring},
        {QLatin1String("writable"), event.writable},
        {QLatin1String("calendar_name"), event.calendar_name},
        {QLatin1String("occurrence"), event.occurrence},
        {QLatin1String("day_start"), event.day_start},
        {QLatin1String("day_end"), event.day_end},
    });
}

QByteArray encode(const QuickDraft &draft)
{
    return compact(QJsonObject{
        {QLatin1String("calendar_id"), draft.calendar_id},
        {QLatin1String("title"), draft.title},
        {QLatin1String("location"), draft.location},
        {QLatin1String("start_local"), draft.start_local},
        {QLatin1String("end_local"), draft.end_local},
        {QLatin1String("tz"), draft.tz},
        {QLatin1String("all_day"), draft.all_day},
        {QLatin1String("repeat"), draft.repeat},
        {QLatin1String("attendees"), QJsonArray::fromStringList(draft.attendees)},
    });
}
