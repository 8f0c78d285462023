#pragma once

#include "dates.h"
#include "records.h"

#include <QMetaType>

#include <vector>

// Sentences typed on Wednesday 12 March 2025 at 10:00 in Europe/Madrid, with the calendars Team (1,
// the default), Product (2), Travel (3) and the read-only Holidays (4), and the drafts they must give.
struct QuickCase {
    QString text;
    QuickDraft draft;
    QString when;
    QStringList assumptions;
};
Q_DECLARE_METATYPE(QuickCase)

inline Instant quickNow() { return *dates::parseLocal(u"2025-03-12T10:00", false, QStringLiteral("Europe/Madrid")); }

inline std::vector<QuickCase> quickCases()
{
    const QString madrid = QStringLiteral("Europe/Madrid");
    const auto draft = [&](qint64 calendar, const char *title, const char *location, const char *start, const char *end,
                           const char *repeat = "", QStringList attendees = {}) {
        const QString s = QString::fromUtf8(start);
        return QuickDraft{calendar, QString::fromUtf8(title), QString::fromUtf8(location), s, QString::fromUtf8(end), madrid,
                          !s.contains(QLatin1Char('T')), QString::fromUtf8(repeat), attendees};
    };
    const QString oneHour = QStringLiteral("No end time given: one hour assumed.");
    return {
        {"Lunch tomorrow at 1pm for an hour", draft(1, "Lunch", "", "2025-03-13T13:00", "2025-03-13T14:00"),
         "Thursday, March 13, 2025, 1:00 PM – 2:00 PM", {}},
        {"Team sync every Monday at 9:30", draft(1, "Team sync", "", "2025-03-17T09:30", "2025-03-17T10:30", "FREQ=WEEKLY"),
         "Monday, March 17, 2025, 9:30 AM – 10:30 AM", {"Read “at 9:30” as 9:30 AM.", oneHour}},
        {"Dentist on Friday at 3pm at Smile Clinic",
         draft(1, "Dentist", "Smile Clinic", "2025-03-14T15:00", "2025-03-14T16:00"),
         "Friday, March 14, 2025, 3:00 PM – 4:00 PM", {oneHour}},
        {"Offsite March 20 all day", draft(1, "Offsite", "", "2025-03-20", "2025-03-21"),
         "Thursday, March 20, 2025, all day", {}},
        {"Budget review 3/14 from 2 to 3:30pm in Room 4",
         draft(1, "Budget review", "Room 4", "2025-03-14T14:00", "2025-03-14T15:30"),
         "Friday, March 14, 2025, 2:00 PM – 3:30 PM", {}},
        {"Standup every weekday at 9am for 15 minutes",
         draft(1, "Standup", "", "2025-03-12T09:00", "2025-03-12T09:15", "FREQ=WEEKLY;BYDAY=MO,TU,WE,TH,FR"),
         "Wednesday, March 12, 2025, 9:00 AM – 9:15 AM", {}},
        {"Coffee with Ann and Bo at Moe's next Monday at noon",
         draft(1, "Coffee", "Moe's", "2025-03-17T12:00", "2025-03-17T13:00", "", {"Ann", "Bo"}),
         "Monday, March 17, 2025, 12:00 PM – 1:00 PM", {oneHour}},
        {"Rent due every month", draft(1, "Rent due", "", "2025-03-12", "2025-03-13", "FREQ=MONTHLY"),
         "Wednesday, March 12, 2025, all day",
         {"No date given: today assumed.", "No time given: all-day event assumed."}},
        {"Flight to Lisbon tomorrow 13:00 for 2 hours on Travel calendar",
         draft(3, "Flight to Lisbon", "", "2025-03-13T13:00", "2025-03-13T15:00"),
         "Thursday, March 13, 2025, 1:00 PM – 3:00 PM", {}},
        {"Planning in Holidays calendar on Friday at 10", draft(1, "Planning", "", "2025-03-14T10:00", "2025-03-14T11:00"),
         "Friday, March 14, 2025, 10:00 AM – 11:00 AM",
         {"Read “at 10” as 10:00 AM.", oneHour, "Holidays is read-only: the event goes to Team."}},
        {"Dinner at 8", draft(1, "Dinner", "", "2025-03-12T20:00", "2025-03-12T21:00"),
         "Wednesday, March 12, 2025, 8:00 PM – 9:00 PM",
         {"Read “at 8” as 8:00 PM.", "No date given: today assumed.", oneHour}},
        {"Night call at 2:30am on March 30", draft(1, "Night call", "", "2025-03-30T03:00", "2025-03-30T03:30"),
         "Sunday, March 30, 2025, 3:00 AM – 3:30 AM",
         {oneHour, "2:30 AM doesn’t exist on Sunday, March 30, 2025 in Europe/Madrid (the clocks go forward): 3:00 AM used."}},
        {"Conference on March 24 for 3 days", draft(1, "Conference", "", "2025-03-24", "2025-03-27"),
         "Monday, March 24, 2025 – Wednesday, March 26, 2025, all day", {"No time given: all-day event assumed."}},
        {"Deploy from 11pm to 1am on Friday", draft(1, "Deploy", "", "2025-03-14T23:00", "2025-03-15T01:00"),
         "Friday, March 14, 2025, 11:00 PM – Saturday, March 15, 2025, 1:00 AM", {"Ends the next day."}},
        // Look-alikes: another script's digit is not a number; "ſ" folds to "s".
        {"Lunch in ٣ days at 1pm", draft(1, "Lunch in ٣ days", "", "2025-03-12T13:00", "2025-03-12T14:00"),
         "Wednesday, March 12, 2025, 1:00 PM – 2:00 PM", {"No date given: today assumed.", oneHour}},
        {"Lunch every ſunday at 1pm", draft(1, "Lunch", "", "2025-03-16T13:00", "2025-03-16T14:00", "FREQ=WEEKLY"),
         "Sunday, March 16, 2025, 1:00 PM – 2:00 PM", {oneHour}},
        {"Kickoff January 5 at 09:00", draft(1, "Kickoff", "", "2026-01-05T09:00", "2026-01-05T10:00"),
         "Monday, January 5, 2026, 9:00 AM – 10:00 AM", {"That date has passed this year: 2026 assumed.", oneHour}},
    };
}
