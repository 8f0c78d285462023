#include "native_stream_lines.h"

#include "errors.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstring>

namespace {

constexpr char carriageReturn = '\r';
constexpr char lineFeed = '\n';
constexpr char16_t byteOrderMark = u'\uFEFF';

// Where the next CR or LF is, or the end.
qsizetype terminatorIn(QByteArrayView bytes)
{
    const char *begin = bytes.data();
    const char *end = begin + bytes.size();
    const auto *cr = static_cast<const char *>(std::memchr(begin, carriageReturn, size_t(bytes.size())));
    const char *searchEnd = cr ? cr : end;
    const auto *lf = static_cast<const char *>(std::memchr(begin, lineFeed, size_t(searchEnd - begin)));
    return (lf ? lf : searchEnd) - begin;
}

} // namespace

QString NativeStreamLines::completeLine(bool carriageReturn)
{
    m_afterCarriageReturn = carriageReturn;
    // Stateless and keeping a leading byte-order mark: every line is judged on its own bytes, and
    // only the first line loses its mark (below).
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8(m_buffer);
    if (utf8.hasError())
        throw NativeClientError::liveInvalidText();
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
        return completeLine(byte == carriageReturn);
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
        m_buffer.append(rest.first(content));
        m_eventBytes += content;
        if (content == rest.size()) {
            rest = {};
            return std::nullopt;
        }
        const bool cr = rest[content] == carriageReturn;
        rest = rest.sliced(content + 1);
        return completeLine(cr);
    }
    return std::nullopt;
}
