#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// Splits the body of a server-sent event stream into lines of strict UTF-8 text. CR, LF and the
// pair CR LF each end one line, also when the pair is split between two network pieces; a
// byte-order mark is removed from the first line only. One line and one event (the lines between
// two empty lines) are bounded, so a misbehaving server cannot make the client hold more.
// Throws NativeClientError::liveTooLarge() or liveInvalidText().
class NativeStreamLines {
public:
    static constexpr qint64 defaultMaxLineBytes = 256 * 1024;   // one line, terminator excluded
    static constexpr qint64 defaultMaxEventBytes = 1024 * 1024; // content bytes of one event

    NativeStreamLines(qint64 maxLineBytes = defaultMaxLineBytes, qint64 maxEventBytes = defaultMaxEventBytes)
        : m_maxLineBytes(maxLineBytes), m_maxEventBytes(maxEventBytes)
    {
    }

    // The definition: one byte in, a completed line (possibly empty) out when the byte ended one.
    std::optional<QString> append(char byte);

    // The same rules over many bytes at once: consumes bytes from the front of `rest` until a line is
    // completed (returned, with `rest` just past its terminator) or `rest` is used up (nothing
    // returned). Throws at the same byte as append() would.
    std::optional<QString> next(QByteArrayView &rest);

private:
    // Ends the current line, whose bytes are `bytes` (the buffer, or a span of the input when the
    // whole line arrived in one piece).
    QString completeLine(QByteArrayView bytes, bool carriageReturn);

    QByteArray m_buffer;     // the unfinished line, terminators excluded
    qint64 m_eventBytes = 0; // content bytes since the last empty line
    bool m_afterCarriageReturn = false;
    bool m_atStart = true;
    qint64 m_maxLineBytes;
    qint64 m_maxEventBytes;
};
