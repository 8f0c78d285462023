#pragma once

#include "native_http.h"
#include "records.h"

#include <QDialog>

class CalendarModel;
class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;
class WallClockEdit;

// The form for a new event (id 0) or a changed one, 500 × 560. It edits its own copy of the event
// and shows times as wall-clock time in the event's own zone. An event whose local texts cannot be
// placed in that zone (a time skipped by a clock change, a malformed or empty text) is edited as
// the texts themselves. Times reach the server only when the user changed the schedule; otherwise
// the local texts travel exactly as loaded. Save runs the model's save; a save in flight completes
// and reloads the model even if the editor is closed.
class EventEditor : public QDialog {
    Q_OBJECT
    Q_PROPERTY(bool saving READ saving NOTIFY savingChanged)
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)
public:
    EventEditor(CalendarModel &model, NativeClient client, CalendarEvent event, QWidget *parent = nullptr);

    // The working copy as the form has edited it so far.
    const CalendarEvent &calendarEvent() const { return m_event; }
    // Text fields for the local times instead of pickers; decided once, at construction.
    bool wallClockFields() const { return m_wallClockFields; }
    Instant start() const { return m_start; }
    Instant end() const { return m_end; }
    bool scheduleChanged() const { return m_scheduleChanged; }
    bool saving() const { return m_saving; }
    QString error() const { return m_error; }

    // Writes the picked times into the copy when the schedule changed, then saves it; closes on
    // success, shows the failure otherwise.
    void save();

public slots:
    // Refused while a save runs, like Cancel.
    void reject() override;

signals:
    void savingChanged();
    void errorChanged();

private:
    QWidget *buildGeneral();
    QWidget *buildWhen();
    QWidget *buildNotes();
    void allDayToggled(bool allDay);
    void markScheduleChanged();
    void showSchedule();
    void setSaving(bool saving);
    void refreshButtons();

    CalendarModel &m_model;
    NativeClient m_client;
    CalendarEvent m_event;
    QString m_zone; // the resolved zone of event.tz: the pickers' zone
    Instant m_start{};
    Instant m_end{};
    bool m_wallClockFields = false;
    bool m_scheduleChanged = false;
    bool m_saving = false;
    QString m_error;

    QLineEdit *m_title = nullptr;
    QCheckBox *m_allDay = nullptr;
    WallClockEdit *m_startPicker = nullptr;
    WallClockEdit *m_endPicker = nullptr;
    QLabel *m_endLabel = nullptr;
    QLabel *m_allDayNote = nullptr;
    QWidget *m_errorSection = nullptr;
    QLabel *m_errorText = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QPushButton *m_saveButton = nullptr;
};
