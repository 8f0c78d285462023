// libFuzzer target for the strict record decoders: any input decodes or fails cleanly, and what
// decodes encodes back to an equal record.
#include "records.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray json = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    CalendarEvents events;
    if (decode(json, events)) {
        for (const CalendarEvent &event : events.events) {
            CalendarEvent again;
            if (!decode(encode(event), again) || !(again == event))
                std::abort();
        }
    }
    QuickPreview preview;
    QuickDraft draft;
    if (decode(json, preview) && (!decode(encode(preview.draft), draft) || !(draft == preview.draft)))
        std::abort();
    CalendarSession session;
    SavedEvent saved;
    decode(json, session);
    decode(json, saved);
    return 0;
}
