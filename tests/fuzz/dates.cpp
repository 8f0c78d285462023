// The strict local date-time parse: text it accepts formats back to the same text, in zones with
// and without clock changes (a half-hour one included).

#include "fuzz_target.h"

#include "dates.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    static const QString zones[] = {QStringLiteral("UTC"), QStringLiteral("Europe/Madrid"),
                                    QStringLiteral("America/New_York"), QStringLiteral("Australia/Lord_Howe")};
    const bool allDay = data[0] & 1;
    const QString &zone = zones[(data[0] >> 1) % 4];
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    if (const auto instant = dates::parseLocal(text, allDay, zone))
        propertyHolds(dates::formatLocal(*instant, allDay, zone) == text, "accepted text formats back to itself");
    return 0;
}
