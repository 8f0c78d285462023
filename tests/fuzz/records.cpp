// Every wire record decoder is total (any bytes decode or fail cleanly); for the records the client
// also writes, decode → encode → decode gives the same value.

#include "fuzz_target.h"

#include "native_session.h"
#include "records.h"

namespace {

template <typename T>
void decodes(const QByteArray &json)
{
    T value{};
    decode(json, value);
}

template <typename T>
void roundTrips(const QByteArray &json, const char *what)
{
    T first{};
    if (!decode(json, first))
        return;
    T second{};
    propertyHolds(decode(encode(first), second), what);
    propertyHolds(second == first, what);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray json(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    switch (data[0] % 8) {
    case 0: roundTrips<CalendarEvent>(json, "an event survives encoding"); break;
    case 1: roundTrips<QuickDraft>(json, "a draft survives encoding"); break;
    case 2: roundTrips<NativeSession>(json, "a session survives encoding"); break;
    case 3: decodes<TeamCalendar>(json); break;
    case 4: decodes<CalendarEvents>(json); break;
    case 5: decodes<CalendarSession>(json); break;
    case 6: decodes<SavedEvent>(json); break;
    case 7: decodes<QuickPreview>(json); break;
    }
    return 0;
}
