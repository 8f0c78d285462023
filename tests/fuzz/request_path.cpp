// Request paths: whatever the path, the request goes to the configured origin (same scheme, host
// and port, also once its URL is written out and read back, as the transport sends it) or is
// refused with the invalid-path sentence. The input is an origin's address, a line break, a path.

#include "fuzz_target.h"

#include "native_http.h"
#include "request_url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype lineEnd = input.indexOf(u'\n');
    if (lineEnd < 0)
        return 0;
    QUrl origin;
    try {
        origin = NativeHTTP::origin(input.left(lineEnd));
    } catch (const NativeClientError &) {
        return 0;
    }
    const QString path = input.sliced(lineEnd + 1);
    const QString originText = NativeHTTP::originText(origin);
    try {
        const QUrl url = requestUrl(origin, path);
        const QString written = url.toString(QUrl::FullyEncoded);
        propertyHolds(written.startsWith(originText + u'/'), "the request's URL starts with the origin");
        const QUrl readBack(written, QUrl::StrictMode);
        propertyHolds(readBack.isValid() && readBack.userInfo().isEmpty(), "the request's URL reads back");
        propertyHolds(NativeHTTP::originText(readBack) == originText, "the request stays at the origin");
    } catch (const NativeClientError &refusal) {
        propertyHolds(refusal.description() == NativeClientError::invalidPath().description(),
                      "a refused path gives the invalid-path sentence");
    }
    return 0;
}
