// Origin validation: an accepted origin's text validates to itself, and plain http is only ever
// accepted for the three loopback hosts.

#include "fuzz_target.h"

#include "native_http.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString address = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    QString text;
    try {
        text = NativeHTTP::originText(NativeHTTP::origin(address));
    } catch (const NativeClientError &) {
        return 0;
    }
    try {
        propertyHolds(NativeHTTP::originText(NativeHTTP::origin(text)) == text, "an origin's text gives itself");
    } catch (const NativeClientError &) {
        propertyHolds(false, "an origin's text is accepted");
    }
    if (text.startsWith(u"http://")) {
        const QStringView rest = QStringView(text).sliced(7);
        bool loopback = false;
        for (const QStringView host : {u"localhost", u"127.0.0.1", u"[::1]"})
            loopback = loopback || rest == host || rest.startsWith(host.toString() + u':');
        propertyHolds(loopback, "plain http only on loopback");
    } else {
        propertyHolds(text.startsWith(u"https://"), "https otherwise");
    }
    return 0;
}
