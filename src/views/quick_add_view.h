#pragma once

#include "clock.h"
#include "native_http.h"
#include "records.h"

#include <QWidget>

#include <optional>
#include <stop_token>

class CalendarModel;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

// Quick add: the user describes an event in a sentence, the server interprets it after a pause in
// typing, the view shows the proposed event, and "Add event" (Ctrl+Return) stores it. The sentence
// lives in the model (quickText), so every quick add view of one model edits the same text. Only
// the answer for the current text and zone is ever shown: a change of either restarts the parse
// and cancels the one before.
class QuickAddView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool parsing READ parsing NOTIFY stateChanged)
    Q_PROPERTY(QString error READ error NOTIFY stateChanged)
public:
    static constexpr std::chrono::milliseconds typingPause{350};

    QuickAddView(CalendarModel &model, NativeClient client, QWidget *parent = nullptr);
    ~QuickAddView() override;

    const std::optional<QuickPreview> &preview() const { return m_preview; }
    bool parsing() const { return m_parsing; }
    QString error() const { return m_error; }
    // The zone and the text, a line feed between them: what the current parse is for.
    QString requestKey() const;

    // Stores the previewed event; ignored without a preview or while a parse or save runs.
    void save();

signals:
    // The preview, the parsing flag or the error changed.
    void stateChanged();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void restartParse();
    QCoro::Task<> parse(std::stop_token stop);
    void quickTextChanged();
    void setState(std::optional<QuickPreview> preview, bool parsing, QString error);
    void refresh();
    void rebuildPreview();
    void fitTextToLines();

    CalendarModel &m_model;
    NativeClient m_client;
    SystemClock m_clock;
    std::stop_source m_parseStop;
    bool m_appeared = false;
    std::optional<QuickPreview> m_preview;
    bool m_parsing = false;
    QString m_error;

    QPlainTextEdit *m_text = nullptr;
    QLabel *m_zone = nullptr;
    QWidget *m_progress = nullptr;
    QWidget *m_previewBlock = nullptr;
    QVBoxLayout *m_previewRows = nullptr;
    QPushButton *m_save = nullptr;
    QWidget *m_errorRow = nullptr;
    QLabel *m_errorText = nullptr;
    QWidget *m_savedRow = nullptr;
    QLabel *m_savedText = nullptr;
};
