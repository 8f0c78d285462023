// The development server's quick-add interpreter: any sentence ends (no crash, no hang) in a
// refusal or in a draft whose end comes after its start.

#include "fuzz_target.h"

#include "local_time.h"
#include "quick_add.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::vector<StoredCalendar> calendars = {
        {1, QStringLiteral("Team"), 350, true}, {2, QStringLiteral("Travel"), 140, true},
        {3, QStringLiteral("Holidays"), 40, false}};
    static const Instant now = instantFromSeconds(1'742'461'200); // 2025-03-20 10:00 in Madrid
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto answer = quick::interpret(text, QStringLiteral("Europe/Madrid"), now, calendars, 1);
    if (const auto *preview = std::get_if<QuickPreview>(&answer)) {
        const QuickDraft &draft = preview->draft;
        const auto start = LocalDateTime::parse(draft.start_local, draft.all_day);
        const auto end = LocalDateTime::parse(draft.end_local, draft.all_day);
        propertyHolds(start && end, "a draft's times are in the local form");
        propertyHolds(*start < *end, "a draft ends after it starts");
    }
    return 0;
}
