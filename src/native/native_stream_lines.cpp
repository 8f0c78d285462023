#include "native_stream_lines.h"

#include "errors.h"

#include <QStringDecoder>

#include <algorithm>

namespace {

constexpr char carriageReturn = '\r';
constexpr char lineFeed = '\n';
constexpr char16_t byteOrderMark = u'\uFEFF';

// Where the next CR or LF is, or the end.
qsizetype terminatorIn(QByteArrayView bytes)
{
    const char *begin = bytes.data();
    const char *end = begin + bytes.size();
    return std::find_if(begin, end, [](char c) { return c == carriageReturn || c == lineFeed; }) - begin;
}

} // namespace

QString NativeStreamLines::completeLine(QByteArrayView bytes, bool carriageReturn)
{
    m_afterCarriageReturn = carriageReturn;
    QString text;
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; })) {
        text = QString::fromLatin1(bytes); // ASCII, the usual case: valid as it is
    } else {
        // Stateless and keeping a leading byte-order mark: every line is judged on its own bytes, and
        // only the first line loses its mark (below).
        QStringDecoder utf8(QStringDecoder::Utf8,
                            QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
        text = utf8(bytes);
        if (utf8.hasError())
            throw NativeClientError::liveInvalidText();
    }
    if (std::exchange(m_atStart, false) && text.startsWith(byteOrderMark))
        text.remove(0, 1);
    m_buffer.clear();
    if (text.isEmpty())
        m_eventBytes = 0;
    return text;
}

std::optional<QString> NativeStreamLines::append(char byte)
{
    if (std::exchange(m_afterCarriageReturn, false) && byte == lineFeed)
        return std::nullopt;
    if (byte == carriageReturn || byte == lineFeed)
        return completeLine(m_buffer, byte == carriageReturn);
    if (m_buffer.size() >= m_maxLineBytes || m_eventBytes >= m_maxEventBytes)
        throw NativeClientError::liveTooLarge();
    m_buffer.append(byte);
    ++m_eventBytes;
    return std::nullopt;
}

std::optional<QString> NativeStreamLines::next(QByteArrayView &rest)
{
    while (!rest.isEmpty()) {
        if (std::exchange(m_afterCarriageReturn, false) && rest.front() == lineFeed) {
            rest = rest.sliced(1);
            continue;
        }
        const qsizetype content = terminatorIn(rest);
        // append() refuses a content byte once the line or the event is full: of these `content`
        // bytes, only `room` fit.
        const qint64 room = std::min(m_maxLineBytes - m_buffer.size(), m_maxEventBytes - m_eventBytes);
        if (content > room)
            throw NativeClientError::liveTooLarge();
        m_eventBytes += content;
        if (content == rest.size()) {
            m_buffer.append(rest);
            rest = {};
            return std::nullopt;
        }
        const bool cr = rest[content] == carriageReturn;
        const QByteArrayView line = rest.first(content);
        rest = rest.sliced(content + 1);
        if (m_buffer.isEmpty())
            return completeLine(line, cr); // the whole line is in this piece: no copy
        m_buffer.append(line);
        return completeLine(m_buffer, cr);
    }
    return std::nullopt;
}
