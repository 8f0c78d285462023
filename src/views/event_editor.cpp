#include "event_editor.h"

#include "calendar_model.h"
#include "calendar_style.h"
#include "report_outcome.h"
#include "server_text.h"
#include "wall_clock_edit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr QSize dialogSize(500, 560);
constexpr int notesMinimumHeight = 100;
constexpr int calendarNameMinimumCharacters = 12;

QLabel *note(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFont(calendarStyle::footnoteFont(label->font()));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, calendarStyle::secondaryText(palette));
    label->setPalette(palette);
    return label;
}

QLineEdit *lineEdit(const QString &text, const QString &accessibleName, QWidget *parent)
{
    auto *edit = new QLineEdit(text, parent);
    edit->setAccessibleName(accessibleName);
    edit->setCursorPosition(0);
    return edit;
}

// Notes start at their minimum height and take whatever room the form leaves, so the form needs no
// scrolling until it really is taller than the dialog.
class NotesEdit : public QPlainTextEdit {
public:
    using QPlainTextEdit::QPlainTextEdit;
    QSize sizeHint() const override { return {QPlainTextEdit::sizeHint().width(), notesMinimumHeight}; }
};

} // namespace

EventEditor::EventEditor(CalendarModel &model, NativeClient client, CalendarEvent event, QWidget *parent)
    : QDialog(parent), m_model(model), m_client(std::move(client)), m_event(std::move(event)),
      m_zone(GregorianCalendar(m_event.tz, 1).zoneId())
{
    setObjectName(QStringLiteral("eventEditor"));
    setWindowTitle(m_event.id == 0 ? tr("New event") : tr("Edit event"));
    setFixedSize(dialogSize);

    const std::optional<Instant> parsedStart = m_model.parse(m_event.start_local, m_event.all_day, m_event.tz);
    const std::optional<Instant> parsedEnd = m_model.parse(m_event.end_local, m_event.all_day, m_event.tz);
    m_wallClockFields = !parsedStart || !parsedEnd;
    m_start = parsedStart.value_or(m_model.date());
    m_end = parsedEnd.value_or(m_model.date());

    auto *content = new QWidget;
    auto *form = new QVBoxLayout(content);
    form->addWidget(buildGeneral());
    form->addWidget(buildWhen());
    form->addWidget(buildNotes(), 1);

    m_errorSection = new QGroupBox(content);
    m_errorSection->setObjectName(QStringLiteral("editorError"));
    m_errorText = serverText::label(QString(), m_errorSection);
    m_errorText->setObjectName(QStringLiteral("editorErrorText"));
    QPalette errorPalette = m_errorText->palette();
    errorPalette.setColor(QPalette::WindowText, calendarStyle::errorText());
    m_errorText->setPalette(errorPalette);
    (new QVBoxLayout(m_errorSection))->addWidget(m_errorText);
    m_errorSection->hide();
    form->addWidget(m_errorSection);

    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(content);

    auto *buttons = new QDialogButtonBox(this);
    m_cancelButton = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    m_cancelButton->setObjectName(QStringLiteral("cancel"));
    m_saveButton = buttons->addButton(tr("Save"), QDialogButtonBox::AcceptRole);
    m_saveButton->setObjectName(QStringLiteral("save"));
    m_saveButton->setDefault(true);
    connect(m_cancelButton, &QPushButton::clicked, this, &EventEditor::reject);
    connect(m_saveButton, &QPushButton::clicked, this, &EventEditor::save);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(scroll, 1);
    layout->addWidget(buttons);

    showSchedule();
    refreshButtons();
    m_title->setFocus();
}

QWidget *EventEditor::buildGeneral()
{
    auto *section = new QGroupBox;
    auto *rows = new QFormLayout(section);
    rows->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

    m_title = lineEdit(m_event.title, tr("Title"), section);
    m_title->setObjectName(QStringLiteral("eventTitle"));
    connect(m_title, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_event.title = text;
        refreshButtons();
    });
    rows->addRow(tr("Title"), m_title);

    auto *location = lineEdit(m_event.location, tr("Location"), section);
    location->setObjectName(QStringLiteral("eventLocation"));
    connect(location, &QLineEdit::textChanged, this, [this](const QString &text) { m_event.location = text; });
    rows->addRow(tr("Location"), location);

    // An existing event stays in its calendar; a new one goes to a calendar the user may write to.
    if (m_event.id == 0) {
        auto *calendars = new QComboBox(section);
        calendars->setObjectName(QStringLiteral("eventCalendar"));
        calendars->setAccessibleName(tr("Calendar"));
        calendars->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        calendars->setMinimumContentsLength(calendarNameMinimumCharacters);
        for (const TeamCalendar &calendar : m_model.calendars()) {
            if (calendar.writable)
                calendars->addItem(calendar.name, QVariant::fromValue(calendar.id));
        }
        calendars->setCurrentIndex(calendars->findData(QVariant::fromValue(m_event.calendar_id)));
        connect(calendars, &QComboBox::currentIndexChanged, this, [this, calendars](int index) {
            if (index >= 0)
                m_event.calendar_id = calendars->itemData(index).toLongLong();
        });
        rows->addRow(tr("Calendar"), calendars);
    }
    return section;
}

QWidget *EventEditor::buildWhen()
{
    auto *section = new QGroupBox(tr("When"));
    auto *rows = new QFormLayout(section);
    rows->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    rows->setRowWrapPolicy(QFormLayout::WrapLongRows);

    m_allDay = new QCheckBox(tr("All day"), section);
    m_allDay->setObjectName(QStringLiteral("allDay"));
    m_allDay->setChecked(m_event.all_day);
    m_allDay->setEnabled(!m_wallClockFields);
    connect(m_allDay, &QCheckBox::toggled, this, &EventEditor::allDayToggled);
    rows->addRow(m_allDay);

    if (m_wallClockFields) {
        auto *starts = lineEdit(m_event.start_local, tr("Starts"), section);
        starts->setObjectName(QStringLiteral("startsText"));
        connect(starts, &QLineEdit::textChanged, this, [this](const QString &text) { m_event.start_local = text; });
        rows->addRow(tr("Starts"), starts);
        auto *ends = lineEdit(m_event.end_local, tr("Ends"), section);
        ends->setObjectName(QStringLiteral("endsText"));
        connect(ends, &QLineEdit::textChanged, this, [this](const QString &text) { m_event.end_local = text; });
        rows->addRow(tr("Ends"), ends);
        auto *clockChange = note(tr("This event uses a local time during a clock change. Its original local dates "
                                    "are preserved; edit them as YYYY-MM-DDTHH:mm."),
                                 section);
        clockChange->setObjectName(QStringLiteral("clockChangeNote"));
        rows->addRow(clockChange);
    } else {
        const auto picker = [&](const QString &name, Instant &field) {
            auto *edit = new WallClockEdit(m_zone, section);
            edit->setObjectName(name);
            edit->setInstant(field);
            connect(edit, &WallClockEdit::instantEdited, this, [this, &field](Instant instant) {
                field = instant;
                markScheduleChanged();
            });
            return edit;
        };
        m_startPicker = picker(QStringLiteral("startsPicker"), m_start);
        m_startPicker->setAccessibleName(tr("Starts"));
        rows->addRow(tr("Starts"), m_startPicker);
        m_endPicker = picker(QStringLiteral("endsPicker"), m_end);
        m_endLabel = new QLabel(section);
        m_endLabel->setBuddy(m_endPicker);
        rows->addRow(m_endLabel, m_endPicker);
    }

    QLabel *zone = serverText::label(m_event.tz, section);
    zone->setObjectName(QStringLiteral("eventZone"));
    rows->addRow(tr("Time zone"), zone);

    m_allDayNote = note(tr("The end date is the first day after this event."), section);
    m_allDayNote->setObjectName(QStringLiteral("allDayNote"));
    rows->addRow(m_allDayNote);
    return section;
}

QWidget *EventEditor::buildNotes()
{
    auto *section = new QGroupBox(tr("Notes"));
    auto *notes = new NotesEdit(m_event.notes, section);
    notes->setObjectName(QStringLiteral("eventNotes"));
    notes->setAccessibleName(tr("Notes"));
    notes->setMinimumHeight(notesMinimumHeight);
    notes->setTabChangesFocus(true);
    connect(notes, &QPlainTextEdit::textChanged, this, [this, notes] { m_event.notes = notes->toPlainText(); });
    (new QVBoxLayout(section))->addWidget(notes);
    return section;
}

void EventEditor::allDayToggled(bool allDay)
{
    m_event.all_day = allDay;
    markScheduleChanged();
    if (allDay && !m_wallClockFields) {
        // Whole days in the event's zone: from the start's day to at least the day after it.
        const GregorianCalendar calendar(m_zone, 1);
        const auto [dayStart, nextDay] = calendar.dayBounds(m_start);
        m_start = dayStart;
        m_end = std::max(nextDay, calendar.startOfDay(m_end));
    }
    showSchedule();
    refreshButtons();
}

void EventEditor::markScheduleChanged()
{
    m_scheduleChanged = true;
    refreshButtons();
}

void EventEditor::save()
{
    if (!m_saveButton->isEnabled())
        return;
    if (m_scheduleChanged && !m_wallClockFields) {
        m_event.start_local = m_model.format(m_start, m_event.all_day, m_event.tz);
        m_event.end_local = m_model.format(m_end, m_event.all_day, m_event.tz);
    }
    setSaving(true);
    // The model finishes the save and its reload even when the editor is gone.
    reportOutcome(this, m_model.save(m_event, m_client), [this](std::exception_ptr failure) {
        if (!failure) {
            accept(); // `saving` stays on until the editor is gone
            return;
        }
        m_error = describeError(failure);
        m_errorText->setText(serverText::breakable(m_error));
        m_errorText->setAccessibleName(m_error);
        m_errorSection->show();
        emit errorChanged();
        setSaving(false);
    });
}

void EventEditor::reject()
{
    if (!m_saving)
        QDialog::reject();
}

void EventEditor::setSaving(bool saving)
{
    if (m_saving == saving)
        return;
    m_saving = saving;
    refreshButtons();
    emit savingChanged();
}

void EventEditor::showSchedule()
{
    if (m_startPicker) {
        m_startPicker->setDateOnly(m_event.all_day);
        m_startPicker->setInstant(m_start);
        m_endPicker->setDateOnly(m_event.all_day);
        m_endPicker->setInstant(m_end);
        m_endLabel->setText(m_event.all_day ? tr("Ends before") : tr("Ends"));
        m_endPicker->setAccessibleName(m_endLabel->text());
    }
    m_allDayNote->setVisible(m_event.all_day);
}

void EventEditor::refreshButtons()
{
    const bool titled = !m_event.title.trimmed().isEmpty();
    const bool ordered = m_wallClockFields || m_end > m_start;
    m_saveButton->setEnabled(!m_saving && titled && ordered);
    m_saveButton->setText(m_saving ? tr("Saving…") : tr("Save"));
    m_saveButton->setToolTip(!titled ? tr("Give the event a title.")
                             : !ordered ? tr("The end must be after the start.")
                                        : QString());
    m_cancelButton->setEnabled(!m_saving);
}
