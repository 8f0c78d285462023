#include "records.h"

#include "dates.h"

#include <QHashFunctions>
#include <QUtf8StringView>
#include <QVarLengthArray>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Containers nested deeper than this are refused: answers nest three levels, and the bound keeps a
// hostile answer from costing more than its length.
constexpr int maxNesting = 1024;
// Slots of the table of shared texts: a few thousand events hold a few hundred distinct dates and
// times, and a slot costs 40 bytes while one answer is decoded.
constexpr std::size_t sharedTextSlots = 1024;
// Only texts up to this length are shared: zones, statuses, names, places, dates and times.
constexpr std::size_t maxSharedTextBytes = 64;

// How reading one value ended. Wrong: well-formed JSON of the wrong type or content, consumed whole,
// which fails the member but not the document's syntax; Malformed: not JSON, reading stops.
enum class Read { Ok, Wrong, Malformed };

class Reader;

template<typename Record>
struct Member {
    std::string_view name;
    Read (*read)(Reader &, Record &);
    bool required = true;
};

// The members of each record, in the order the server writes them (the order is only a hint).
template<typename Record>
std::span<const Member<Record>> membersOf();

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

int hexValue(char c)
{
    return isDigit(c) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : c - 'A' + 10;
}

// A strict RFC 8259 reader that decodes straight into the records, without a document tree in
// between: UTF-8 only, no byte-order mark, no raw control characters in strings, only the standard
// escapes, and numbers by the JSON grammar. Integer members take only number texts without fraction
// or exponent whose value fits 64 bits. Of repeated member names the last one counts.
class Reader {
public:
    explicit Reader(const QByteArray &json) : m_at(json.constData()), m_end(m_at + json.size()) {}

    // Nothing but white space left.
    bool atEnd()
    {
        skipSpace();
        return m_at == m_end;
    }

    Read read(qint64 &out)
    {
        if (!startsNumber(peek()))
            return skipWrong();
        bool integral = false;
        if (!scanNumber(integral, out))
            return Read::Malformed;
        return integral ? Read::Ok : Read::Wrong;
    }

    Read read(bool &out)
    {
        const char c = peek();
        if (c == 't' || c == 'f') {
            out = c == 't';
            return literal(out ? "true" : "false") ? Read::Ok : Read::Malformed;
        }
        return skipWrong();
    }

    Read read(QString &out, bool share = false)
    {
        if (peek() != '"')
            return skipWrong();
        std::string_view raw;
        bool escaped = false, ascii = true;
        if (!scanString(raw, escaped, ascii))
            return Read::Malformed;
        out = share && !escaped ? sharedText(raw, ascii) : text(raw, escaped, ascii);
        return Read::Ok;
    }

    Read readShared(QString &out) { return read(out, true); }

    // A text, or null for none.
    Read read(std::optional<QString> &out)
    {
        if (peek() == 'n') {
            out.reset();
            return literal("null") ? Read::Ok : Read::Malformed;
        }
        QString value;
        const Read result = read(value);
        if (result == Read::Ok)
            out = std::move(value);
        return result;
    }

    Read read(QStringList &out)
    {
        out.clear();
        return readArray([&] {
            if (peek() != '"')
                return skipWrong();
            return read(out.emplace_back());
        });
    }

    template<typename Record>
    Read read(QList<Record> &out)
    {
        out.clear();
        if (peek() == '[')
            out.reserve(roomFor<Record>());
        return readArray([&] {
            const Read result = read(out.emplace_back());
            return result;
        });
    }

    // An object holding every required member of `Record`.
    template<typename Record>
    Read read(Record &out)
    {
        const std::span<const Member<Record>> members = membersOf<Record>();
        if (peek() != '{')
            return skipWrong();
        if (!enter())
            return Read::Malformed;
        quint32 ok = 0, wrong = 0, required = 0;
        for (std::size_t i = 0; i < members.size(); ++i)
            required |= members[i].required ? 1u << i : 0;
        std::size_t next = 0;
        if (!take('}')) {
            do {
                std::string_view name;
                if (!readName(name) || !take(':'))
                    return Read::Malformed;
                const std::size_t index = find(members, name, next);
                if (index == members.size()) {
                    if (!skipValue())
                        return Read::Malformed;
                    continue;
                }
                next = index + 1;
                const quint32 bit = 1u << index;
                switch (members[index].read(*this, out)) {
                case Read::Malformed:
                    return Read::Malformed;
                case Read::Ok:
                    ok |= bit, wrong &= ~bit;
                    break;
                case Read::Wrong:
                    wrong |= bit, ok &= ~bit;
                    break;
                }
            } while (take(','));
            if (!take('}'))
                return Read::Malformed;
        }
        --m_depth;
        return wrong == 0 && (ok & required) == required ? Read::Ok : Read::Wrong;
    }

private:
    void skipSpace()
    {
        while (m_at < m_end && (*m_at == ' ' || *m_at == '\n' || *m_at == '\r' || *m_at == '\t'))
            ++m_at;
    }

    // The next character after white space; '\0' at the end, which starts no JSON value either.
    char peek()
    {
        skipSpace();
        return m_at < m_end ? *m_at : '\0';
    }

    bool take(char c)
    {
        if (peek() != c)
            return false;
        ++m_at;
        return true;
    }

    // Steps into the object or array at m_at.
    bool enter()
    {
        if (++m_depth > maxNesting)
            return false;
        ++m_at;
        return true;
    }

    static bool startsNumber(char c) { return isDigit(c) || c == '-'; }

    bool literal(std::string_view word)
    {
        if (std::size_t(m_end - m_at) < word.size() || std::memcmp(m_at, word.data(), word.size()) != 0)
            return false;
        m_at += word.size();
        return true;
    }

    Read skipWrong() { return skipValue() ? Read::Wrong : Read::Malformed; }

    // The elements of an array, each read by `element` (which returns Wrong after consuming a value
    // it does not take). Every element is read to the end, so the syntax of the whole is checked.
    template<typename Element>
    Read readArray(Element element)
    {
        if (peek() != '[')
            return skipWrong();
        if (!enter())
            return Read::Malformed;
        Read result = Read::Ok;
        if (!take(']')) {
            do {
                const Read read = result == Read::Ok ? element() : (skipValue() ? Read::Wrong : Read::Malformed);
                if (read == Read::Malformed)
                    return read;
                if (read == Read::Wrong)
                    result = Read::Wrong;
            } while (take(','));
            if (!take(']'))
                return Read::Malformed;
        }
        --m_depth;
        return result;
    }

    // Room for the objects of the list that starts at m_at: the '{' left in the input, but no more
    // than could fit in it, so text inside strings cannot make it reserve more than a few times the
    // records the input can hold.
    template<typename Record>
    qsizetype roomFor() const
    {
        std::size_t smallest = 2;
        for (const Member<Record> &member : membersOf<Record>())
            smallest += member.required ? member.name.size() + 5 : 0; // "name":0,
        const qsizetype braces = std::count(m_at, m_end, '{');
        return std::min<qsizetype>(braces, (m_end - m_at) / qsizetype(smallest) + 1);
    }

    template<typename Record>
    static std::size_t find(std::span<const Member<Record>> members, std::string_view name, std::size_t next)
    {
        if (next < members.size() && members[next].name == name)
            return next;
        for (std::size_t i = 0; i < members.size(); ++i) {
            if (members[i].name == name)
                return i;
        }
        return members.size();
    }

    // A member name as UTF-8, escapes resolved.
    bool readName(std::string_view &name)
    {
        if (peek() != '"')
            return false;
        bool escaped = false, ascii = true;
        if (!scanString(name, escaped, ascii))
            return false;
        if (escaped) {
            m_name = text(name, true, ascii).toStdString();
            name = m_name;
        }
        return true;
    }

    // The string at m_at: `raw` gets the bytes between the quotes. Refuses an unterminated string,
    // raw control characters, escapes other than \" \\ \/ \b \f \n \r \t and \u with four hex
    // digits, and bytes that are not UTF-8.
    bool scanString(std::string_view &raw, bool &escaped, bool &ascii)
    {
        const char *const begin = ++m_at;
        const char *p = begin;
        for (;;) {
            while (p < m_end) {
                const auto c = static_cast<unsigned char>(*p);
                if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80)
                    break;
                ++p;
            }
            if (p == m_end)
                return false;
            const auto c = static_cast<unsigned char>(*p);
            if (c == '"')
                break;
            if (c < 0x20)
                return false;
            if (c >= 0x80) {
                ascii = false;
                ++p;
                continue;
            }
            escaped = true;
            if (m_end - p < 2)
                return false;
            if (p[1] == 'u') {
                if (m_end - p < 6 || !std::all_of(p + 2, p + 6, isHexDigit))
                    return false;
                p += 6;
            } else if (p[1] != '\0' && std::strchr("\"\\/bfnrt", p[1])) {
                p += 2;
            } else {
                return false;
            }
        }
        raw = std::string_view(begin, std::size_t(p - begin));
        m_at = p + 1;
        return ascii || QUtf8StringView(raw.data(), qsizetype(raw.size())).isValidUtf8();
    }

    // The text of a scanned string. \u escapes are UTF-16 code units, taken as they are.
    static QString text(std::string_view raw, bool escaped, bool ascii)
    {
        const auto size = qsizetype(raw.size());
        if (!escaped)
            return ascii ? QString::fromLatin1(raw.data(), size) : QString::fromUtf8(raw.data(), size);
        QString out;
        out.reserve(size);
        const char *p = raw.data();
        const char *const end = p + size;
        while (p < end) {
            const char *run = p;
            while (p < end && *p != '\\')
                ++p;
            if (p > run)
                out += QString::fromUtf8(run, p - run);
            if (p == end)
                break;
            const char e = p[1];
            p += 2;
            switch (e) {
            case 'b': out += QChar(u'\b'); break;
            case 'f': out += QChar(u'\f'); break;
            case 'n': out += QChar(u'\n'); break;
            case 'r': out += QChar(u'\r'); break;
            case 't': out += QChar(u'\t'); break;
            case 'u':
                out += QChar(char16_t(hexValue(p[0]) << 12 | hexValue(p[1]) << 8 | hexValue(p[2]) << 4 | hexValue(p[3])));
                p += 4;
                break;
            default: out += QLatin1Char(e); break; // " \ /
            }
        }
        return out;
    }

    // Texts that many events repeat (zones, statuses, calendar names, dates and times) share one
    // copy. The texts met last are kept in a table of fixed size, each in the slot its hash picks:
    // a lookup is one comparison, and a text that no other event repeats costs no more than a slot.
    QString sharedText(std::string_view raw, bool ascii)
    {
        if (raw.size() > maxSharedTextBytes)
            return text(raw, false, ascii);
        if (m_shared.empty())
            m_shared.resize(sharedTextSlots);
        SharedText &slot = m_shared[qHashBits(raw.data(), raw.size()) % sharedTextSlots];
        if (slot.raw != raw || slot.text.isNull())
            slot = {raw, text(raw, false, ascii)};
        return slot.text;
    }

    // A number by the JSON grammar. `integral`: it has no fraction or exponent and fits 64 bits;
    // then `value` holds it.
    bool scanNumber(bool &integral, qint64 &value)
    {
        const char *p = m_at;
        const bool negative = *p == '-';
        if (negative)
            ++p;
        const char *const digits = p;
        if (p < m_end && *p == '0') {
            ++p;
        } else if (p < m_end && isDigit(*p)) {
            while (p < m_end && isDigit(*p))
                ++p;
        } else {
            return false;
        }
        const std::size_t count = std::size_t(p - digits);
        integral = true;
        if (p < m_end && *p == '.') {
            const char *const fraction = ++p;
            while (p < m_end && isDigit(*p))
                ++p;
            if (p == fraction)
                return false;
            integral = false;
        }
        if (p < m_end && (*p == 'e' || *p == 'E')) {
            ++p;
            if (p < m_end && (*p == '+' || *p == '-'))
                ++p;
            const char *const exponent = p;
            while (p < m_end && isDigit(*p))
                ++p;
            if (p == exponent)
                return false;
            integral = false;
        }
        m_at = p;
        static constexpr std::string_view maxPositive = "9223372036854775807", maxNegative = "9223372036854775808";
        if (count > maxPositive.size()
            || (count == maxPositive.size()
                && std::string_view(digits, count) > (negative ? maxNegative : maxPositive)))
            integral = false;
        if (integral) {
            quint64 magnitude = 0;
            for (std::size_t i = 0; i < count; ++i)
                magnitude = magnitude * 10 + quint64(digits[i] - '0');
            value = negative ? qint64(0 - magnitude) : qint64(magnitude);
        }
        return true;
    }

    // Steps over one value, checking its syntax; iterative, so deep nesting costs no stack.
    bool skipValue()
    {
        const int outer = m_depth;
        QVarLengthArray<bool, 32> inObject; // per open container: object (true) or array
        bool wantName = false;
        for (;;) {
            if (wantName) {
                std::string_view name;
                if (!readName(name) || !take(':'))
                    return false;
                wantName = false;
            }
            const char c = peek();
            if (c == '{' || c == '[') {
                if (!enter())
                    return false;
                inObject.append(c == '{');
                if (!take(c == '{' ? '}' : ']')) {
                    wantName = c == '{';
                    continue;
                }
                --m_depth;
                inObject.removeLast();
            } else if (c == '"') {
                std::string_view raw;
                bool escaped = false, ascii = true;
                if (!scanString(raw, escaped, ascii))
                    return false;
            } else if (startsNumber(c)) {
                bool integral = false;
                qint64 value = 0;
                if (!scanNumber(integral, value))
                    return false;
            } else if (!literal(c == 't' ? "true" : c == 'f' ? "false" : "null")) {
                return false;
            }
            // After a value: close the containers that end here, or go on to the next element.
            for (;;) {
                if (inObject.isEmpty())
                    return m_depth == outer;
                if (take(',')) {
                    wantName = inObject.last();
                    break;
                }
                if (!take(inObject.last() ? '}' : ']'))
                    return false;
                --m_depth;
                inObject.removeLast();
            }
        }
    }

    const char *m_at;
    const char *const m_end;
    int m_depth = 0;
    std::string m_name; // a member name whose escapes were resolved
    struct SharedText {
        std::string_view raw;
        QString text;
    };
    std::vector<SharedText> m_shared;
};

template<>
std::span<const Member<TeamCalendar>> membersOf()
{
    using C = TeamCalendar;
    static constexpr Member<C> members[] = {
        {"id", [](Reader &in, C &c) { return in.read(c.id); }},
        {"name", [](Reader &in, C &c) { return in.read(c.name); }},
        {"hue", [](Reader &in, C &c) { return in.read(c.hue); }},
        {"writable", [](Reader &in, C &c) { return in.read(c.writable); }},
    };
    return members;
}

template<>
std::span<const Member<CalendarEvent>> membersOf()
{
    using E = CalendarEvent;
    static constexpr Member<E> members[] = {
        {"id", [](Reader &in, E &e) { return in.read(e.id); }},
        {"calendar_id", [](Reader &in, E &e) { return in.read(e.calendar_id); }},
        {"status", [](Reader &in, E &e) { return in.readShared(e.status); }},
        {"title", [](Reader &in, E &e) { return in.read(e.title); }},
        {"location", [](Reader &in, E &e) { return in.readShared(e.location); }},
        {"notes", [](Reader &in, E &e) { return in.read(e.notes); }},
        {"all_day", [](Reader &in, E &e) { return in.read(e.all_day); }},
        {"start_local", [](Reader &in, E &e) { return in.readShared(e.start_local); }},
        {"end_local", [](Reader &in, E &e) { return in.readShared(e.end_local); }},
        {"tz", [](Reader &in, E &e) { return in.readShared(e.tz); }},
        {"start", [](Reader &in, E &e) { return in.read(e.start); }},
        {"end", [](Reader &in, E &e) { return in.read(e.end); }},
        {"recurring", [](Reader &in, E &e) { return in.read(e.recurring); }},
        {"writable", [](Reader &in, E &e) { return in.read(e.writable); }},
        {"calendar_name", [](Reader &in, E &e) { return in.readShared(e.calendar_name); }},
        {"occurrence", [](Reader &in, E &e) { return in.read(e.occurrence); }},
        {"day_start", [](Reader &in, E &e) { return in.readShared(e.day_start); }},
        {"day_end", [](Reader &in, E &e) { return in.readShared(e.day_end); }},
    };
    return members;
}

template<>
std::span<const Member<QuickDraft>> membersOf()
{
    using D = QuickDraft;
    static constexpr Member<D> members[] = {
        {"calendar_id", [](Reader &in, D &d) { return in.read(d.calendar_id); }},
        {"title", [](Reader &in, D &d) { return in.read(d.title); }},
        {"location", [](Reader &in, D &d) { return in.read(d.location); }},
        {"start_local", [](Reader &in, D &d) { return in.read(d.start_local); }},
        {"end_local", [](Reader &in, D &d) { return in.read(d.end_local); }},
        {"tz", [](Reader &in, D &d) { return in.read(d.tz); }},
        {"all_day", [](Reader &in, D &d) { return in.read(d.all_day); }},
        {"repeat", [](Reader &in, D &d) { return in.read(d.repeat); }},
        {"attendees", [](Reader &in, D &d) { return in.read(d.attendees); }},
    };
    return members;
}

template<>
std::span<const Member<CalendarEvents>> membersOf()
{
    static constexpr Member<CalendarEvents> members[] = {
        {"events", [](Reader &in, CalendarEvents &e) { return in.read(e.events); }},
    };
    return members;
}

template<>
std::span<const Member<CalendarSession>> membersOf()
{
    using S = CalendarSession;
    static constexpr Member<S> members[] = {
        {"week_start", [](Reader &in, S &s) { return in.read(s.week_start); }},
        {"zone", [](Reader &in, S &s) { return in.read(s.zone); }},
        {"calendars", [](Reader &in, S &s) { return in.read(s.calendars); }},
        {"default_calendar_id", [](Reader &in, S &s) { return in.read(s.default_calendar_id); }},
    };
    return members;
}

template<>
std::span<const Member<SavedEvent>> membersOf()
{
    using S = SavedEvent;
    static constexpr Member<S> members[] = {
        {"id", [](Reader &in, S &s) { return in.read(s.id); }},
        {"warning", [](Reader &in, S &s) { return in.read(s.warning); }, false}, // missing or null: none
    };
    return members;
}

template<>
std::span<const Member<QuickPreview>> membersOf()
{
    using P = QuickPreview;
    static constexpr Member<P> members[] = {
        {"draft", [](Reader &in, P &p) { return in.read(p.draft); }},
        {"when", [](Reader &in, P &p) { return in.read(p.when); }},
        {"repeat_label", [](Reader &in, P &p) { return in.read(p.repeat_label); }},
        {"calendar_name", [](Reader &in, P &p) { return in.read(p.calendar_name); }},
        {"assumptions", [](Reader &in, P &p) { return in.read(p.assumptions); }},
    };
    return members;
}

// One JSON object with nothing but white space around it.
template<typename Record>
bool decodeRecord(const QByteArray &json, Record &out)
{
    Reader in(json);
    out = Record{};
    return in.read(out) == Read::Ok && in.atEnd();
}

// Compact JSON written straight into one buffer: the development server encodes thousands of events
// per answer, where a QJsonObject per event cost more than listing them. Members are written in the
// order given; strings as UTF-8 with only the escapes JSON requires, and a lone surrogate, which has
// no UTF-8 form, as its \u escape (as QJsonDocument wrote it), so that it decodes to itself.
class Writer {
public:
    explicit Writer(qsizetype reserve) { m_out.reserve(reserve); }

    Writer &member(const char *name, const QString &value)
    {
        key(name);
        string(value);
        return *this;
    }
    Writer &member(const char *name, qint64 value)
    {
        key(name);
        char digits[24];
        const auto written = std::to_chars(digits, digits + sizeof digits, value);
        m_out.append(digits, written.ptr - digits);
        return *this;
    }
    Writer &member(const char *name, bool value)
    {
        key(name);
        m_out.append(value ? "true" : "false");
        return *this;
    }
    Writer &member(const char *name, const QStringList &values)
    {
        key(name);
        m_out.append('[');
        for (qsizetype i = 0; i < values.size(); ++i) {
            if (i)
                m_out.append(',');
            string(values.at(i));
        }
        m_out.append(']');
        return *this;
    }
    QByteArray finish()
    {
        m_out.append('}');
        return std::move(m_out);
    }

private:
    void key(const char *name)
    {
        m_out.append(m_out.isEmpty() ? "{\"" : ",\"").append(name).append("\":");
    }

    void unicodeEscape(char16_t c)
    {
        static constexpr char hex[] = "0123456789abcdef";
        const char escape[] = {'\\', 'u', hex[c >> 12], hex[(c >> 8) & 0xf], hex[(c >> 4) & 0xf], hex[c & 0xf]};
        m_out.append(escape, sizeof escape);
    }

    void string(const QString &text)
    {
        m_out.append('"');
        const char16_t *p = reinterpret_cast<const char16_t *>(text.utf16()), *end = p + text.size();
        while (p < end) {
            char32_t c = *p++;
            if (c < 0x80) {
                if (c == u'"' || c == u'\\') {
                    m_out.append('\\').append(char(c));
                } else if (c >= 0x20) {
                    m_out.append(char(c));
                } else if (c == u'\n') {
                    m_out.append("\\n");
                } else if (c == u'\t') {
                    m_out.append("\\t");
                } else if (c == u'\r') {
                    m_out.append("\\r");
                } else {
                    unicodeEscape(char16_t(c));
                }
                continue;
            }
            if (QChar::isHighSurrogate(c) && p < end && QChar::isLowSurrogate(*p)) {
                c = QChar::surrogateToUcs4(char16_t(c), *p++);
            } else if (QChar::isSurrogate(c)) {
                unicodeEscape(char16_t(c));
                continue;
            }
            utf8(c);
        }
        m_out.append('"');
    }

    void utf8(char32_t c)
    {
        if (c < 0x800) {
            const char bytes[] = {char(0xc0 | (c >> 6)), char(0x80 | (c & 0x3f))};
            m_out.append(bytes, 2);
        } else if (c < 0x10000) {
            const char bytes[] = {char(0xe0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3f)), char(0x80 | (c & 0x3f))};
            m_out.append(bytes, 3);
        } else {
            const char bytes[] = {char(0xf0 | (c >> 18)), char(0x80 | ((c >> 12) & 0x3f)),
                                  char(0x80 | ((c >> 6) & 0x3f)), char(0x80 | (c & 0x3f))};
            m_out.append(bytes, 4);
        }
    }

    QByteArray m_out;
};

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

// Members in name order.
QByteArray encode(const CalendarEvent &event)
{
    return Writer(384 + 3 * (event.title.size() + event.location.size() + event.notes.size()))
        .member("all_day", event.all_day)
        .member("calendar_id", event.calendar_id)
        .member("calendar_name", event.calendar_name)
        .member("day_end", event.day_end)
        .member("day_start", event.day_start)
        .member("end", event.end)
        .member("end_local", event.end_local)
        .member("id", event.id)
        .member("location", event.location)
        .member("notes", event.notes)
        .member("occurrence", event.occurrence)
        .member("recurring", event.recurring)
        .member("start", event.start)
        .member("start_local", event.start_local)
        .member("status", event.status)
        .member("title", event.title)
        .member("tz", event.tz)
        .member("writable", event.writable)
        .finish();
}

QByteArray encode(const QuickDraft &draft)
{
    return Writer(256 + 3 * (draft.title.size() + draft.location.size()))
        .member("all_day", draft.all_day)
        .member("attendees", draft.attendees)
        .member("calendar_id", draft.calendar_id)
        .member("end_local", draft.end_local)
        .member("location", draft.location)
        .member("repeat", draft.repeat)
        .member("start_local", draft.start_local)
        .member("title", draft.title)
        .member("tz", draft.tz)
        .finish();
}
