// The stream's line splitter: taking the bytes in pieces gives exactly the lines, and the error at
// the same place, as taking them one at a time. Small limits so that inputs reach them.

#include "fuzz_target.h"

#include "errors.h"
#include "native_stream_lines.h"

#include <QStringList>

namespace {

struct Split {
    QStringList lines;
    QString error;
    bool operator==(const Split &) const = default;
};

template <typename Feed>
Split split(Feed feed)
{
    Split result;
    try {
        feed(result.lines);
    } catch (const NativeClientError &e) {
        result.error = e.description();
    }
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    const qint64 maxLine = 1 + data[0] % 64;
    const qint64 maxEvent = 1 + data[1] % 256;
    const qsizetype piece = 1 + data[2] % 17;
    const QByteArrayView body(reinterpret_cast<const char *>(data + 3), qsizetype(size - 3));

    const Split byBytes = split([&](QStringList &out) {
        NativeStreamLines lines(maxLine, maxEvent);
        for (char byte : body)
            if (auto line = lines.append(byte))
                out << *line;
    });
    const Split inPieces = split([&](QStringList &out) {
        NativeStreamLines lines(maxLine, maxEvent);
        for (qsizetype at = 0; at < body.size(); at += piece) {
            QByteArrayView rest = body.sliced(at, std::min(piece, body.size() - at));
            while (auto line = lines.next(rest))
                out << *line;
        }
    });
    propertyHolds(byBytes == inPieces, "pieces split like single bytes");
    for (const QString &line : byBytes.lines)
        propertyHolds(line.toUtf8().size() <= maxLine, "a line stays within its limit");
    return 0;
}
