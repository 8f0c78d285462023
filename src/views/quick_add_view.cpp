#include "quick_add_view.h"

#include "calendar_model.h"
#include "calendar_style.h"
#include "report_outcome.h"
#include "server_text.h"

#include <QAbstractTextDocumentLayout>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QVBoxLayout>
#include <QtMath>

namespace {

const QString parsePath = QStringLiteral("/api/native/quick/parse");
constexpr int fewestLines = 2, mostLines = 4; // the field grows with the sentence, then scrolls
constexpr int progressWidth = 80;

void tint(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

QLabel *footnote(const QString &text, QWidget *parent)
{
    QLabel *label = serverText::label(text, parent);
    label->setFont(calendarStyle::footnoteFont(label->font()));
    return label;
}

// An icon from the desktop theme (left out where the theme has none) beside a wrapped label.
QWidget *iconRow(const QString &iconName, QLabel *label, QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    const QIcon icon = QIcon::fromTheme(iconName);
    if (!icon.isNull()) {
        auto *image = new QLabel(row);
        const int side = row->fontMetrics().height();
        image->setPixmap(icon.pixmap(side, side));
        layout->addWidget(image, 0, Qt::AlignTop);
    }
    label->setParent(row);
    layout->addWidget(label, 1);
    return row;
}

} // namespace

QuickAddView::QuickAddView(CalendarModel &model, NativeClient client, QWidget *parent)
    : QWidget(parent), m_model(model), m_client(std::move(client))
{
    setObjectName(QStringLiteral("quickAdd"));

    auto *content = new QWidget;
    auto *column = new QVBoxLayout(content);
    column->setSpacing(12);

    m_text = new QPlainTextEdit(content);
    m_text->setObjectName(QStringLiteral("quickAddText"));
    m_text->setAccessibleName(tr("Describe an event"));
    m_text->setPlaceholderText(tr("Lunch tomorrow at 1pm for an hour"));
    m_text->setTabChangesFocus(true);
    m_text->setPlainText(m_model.quickText());
    connect(m_text->document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            &QuickAddView::fitTextToLines);
    connect(m_text, &QPlainTextEdit::textChanged, this, [this] { m_model.setQuickText(m_text->toPlainText()); });
    column->addWidget(m_text);

    m_zone = footnote(QString(), content);
    m_zone->setObjectName(QStringLiteral("quickAddZone"));
    tint(m_zone, calendarStyle::secondaryText(m_zone->palette()));
    column->addWidget(m_zone);

    m_progress = new QWidget(content);
    m_progress->setObjectName(QStringLiteral("quickAddParsing"));
    auto *progressRow = new QHBoxLayout(m_progress);
    progressRow->setContentsMargins(0, 0, 0, 0);
    auto *spinner = new QProgressBar(m_progress);
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedWidth(progressWidth);
    progressRow->addWidget(spinner);
    progressRow->addWidget(serverText::label(tr("Understanding your event…"), m_progress), 1);
    column->addWidget(m_progress);

    m_previewBlock = new QWidget(content);
    m_previewBlock->setObjectName(QStringLiteral("quickAddPreview"));
    m_previewRows = new QVBoxLayout(m_previewBlock);
    m_previewRows->setContentsMargins(0, 0, 0, 0);
    m_previewRows->setSpacing(8);
    column->addWidget(m_previewBlock);

    m_save = new QPushButton(QIcon::fromTheme(QStringLiteral("list-add")), tr("Add event"), content);
    m_save->setObjectName(QStringLiteral("quickAddSave"));
    m_save->setDefault(true);
    connect(m_save, &QPushButton::clicked, this, &QuickAddView::save);
    column->addWidget(m_save, 0, Qt::AlignLeft);
    for (const QKeySequence &keys : {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
        auto *shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, &QuickAddView::save);
    }

    m_errorText = serverText::label(QString(), content);
    m_errorText->setObjectName(QStringLiteral("quickAddErrorText"));
    tint(m_errorText, calendarStyle::errorText());
    m_errorRow = iconRow(QStringLiteral("dialog-error"), m_errorText, content);
    m_errorRow->setObjectName(QStringLiteral("quickAddError"));
    column->addWidget(m_errorRow);

    m_savedText = serverText::label(QString(), content);
    m_savedRow = iconRow(QStringLiteral("emblem-ok"), m_savedText, content);
    m_savedRow->setObjectName(QStringLiteral("quickAddSaved"));
    column->addWidget(m_savedRow);
    column->addStretch(1);

    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(content);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);

    connect(&m_model, &CalendarModel::quickTextChanged, this, &QuickAddView::quickTextChanged);
    connect(&m_model, &CalendarModel::zoneChanged, this, [this] {
        refresh();
        if (m_appeared)
            restartParse();
    });
    connect(&m_model, &CalendarModel::quickSavedNoticeChanged, this, [this] {
        setState(std::nullopt, m_parsing, m_error);
        refresh();
    });
    connect(&m_model, &CalendarModel::quickSavingChanged, this, &QuickAddView::refresh);

    fitTextToLines();
    refresh();
}

QuickAddView::~QuickAddView()
{
    m_parseStop.request_stop();
}

QString QuickAddView::requestKey() const
{
    return m_model.zone() + QLatin1Char('\n') + m_model.quickText();
}

void QuickAddView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_appeared) {
        m_appeared = true;
        restartParse();
    }
}

void QuickAddView::quickTextChanged()
{
    const QString text = m_model.quickText();
    if (m_text->toPlainText() != text) {
        const QSignalBlocker blocker(m_text);
        m_text->setPlainText(text);
        fitTextToLines();
    }
    setState(std::nullopt, m_parsing, m_error);
    if (!text.isEmpty())
        m_model.setQuickSavedNotice(QString()); // a new sentence hides the last confirmation
    if (m_appeared)
        restartParse();
}

void QuickAddView::restartParse()
{
    m_parseStop.request_stop();
    m_parseStop = std::stop_source();
    parse(m_parseStop.get_token());
}

QCoro::Task<> QuickAddView::parse(std::stop_token stop)
{
    setState(std::nullopt, false, QString());
    const QString text = m_model.quickText();
    if (text.trimmed().isEmpty())
        co_return;
    setState(std::nullopt, true, QString());
    const QString key = requestKey();
    const QPointer<QuickAddView> self(this);
    try {
        co_await m_clock.sleep(typingPause, stop);
        const QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("text"), text},
                                                          {QStringLiteral("zone"), m_model.zone()}})
                                    .toJson(QJsonDocument::Compact);
        QuickPreview answer = co_await m_client->request<QuickPreview>(
            parsePath, QByteArrayLiteral("POST"), body, QStringLiteral("application/json"),
            NativeHTTP::defaultMaxBytes, stop);
        if (!self || stop.stop_requested() || requestKey() != key)
            co_return;
        setState(std::move(answer), false, QString());
    } catch (...) {
        if (!self || stop.stop_requested() || requestKey() != key)
            co_return;
        setState(std::nullopt, false, describeError(std::current_exception()));
    }
}

void QuickAddView::save()
{
    if (!m_preview || m_parsing || m_model.quickSaving())
        return;
    setState(m_preview, m_parsing, QString());
    // The save completes even if the view goes away.
    reportOutcome(this, m_model.saveQuick(*m_preview, m_client), [this](std::exception_ptr failure) {
        if (!failure) {
            setState(std::nullopt, m_parsing, m_error);
            return;
        }
        try {
            std::rethrow_exception(failure);
        } catch (const CancellationError &) {
            return; // a save was already running
        } catch (...) {
            setState(m_preview, m_parsing, describeError(std::current_exception()));
        }
    });
}

void QuickAddView::setState(std::optional<QuickPreview> preview, bool parsing, QString error)
{
    const bool previewChanged = preview.has_value() || m_preview.has_value();
    if (!previewChanged && parsing == m_parsing && error == m_error)
        return;
    m_preview = std::move(preview);
    m_parsing = parsing;
    m_error = std::move(error);
    if (previewChanged)
        rebuildPreview();
    refresh();
    emit stateChanged();
}

void QuickAddView::refresh()
{
    QString zone = m_model.zone();
    m_zone->setText(serverText::breakable(zone.replace(QLatin1Char('_'), QLatin1Char(' '))));
    m_zone->setAccessibleName(zone);

    const bool saving = m_model.quickSaving();
    m_text->setEnabled(!saving);
    m_progress->setVisible(m_parsing);
    m_previewBlock->setVisible(m_preview.has_value());
    m_save->setVisible(m_preview.has_value());
    m_save->setEnabled(!saving && !m_parsing);
    m_save->setText(saving ? tr("Adding…") : tr("Add event"));
    m_errorText->setText(serverText::breakable(m_error));
    m_errorText->setAccessibleName(m_error);
    m_errorRow->setVisible(!m_error.isEmpty());
    const QString saved = m_model.quickSavedNotice();
    m_savedText->setText(serverText::breakable(saved));
    m_savedText->setAccessibleName(saved);
    m_savedRow->setVisible(!saved.isEmpty());
}

void QuickAddView::rebuildPreview()
{
    while (QLayoutItem *item = m_previewRows->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    if (!m_preview)
        return;
    const QuickDraft &draft = m_preview->draft;

    auto *summary = new QWidget(m_previewBlock);
    summary->setObjectName(QStringLiteral("quickAddSummary"));
    auto *lines = new QVBoxLayout(summary);
    lines->setContentsMargins(0, 0, 0, 0);
    QStringList spoken;
    const auto addLine = [&](const QString &iconName, const QString &text) {
        lines->addWidget(iconRow(iconName, serverText::label(text), summary));
        spoken.append(text);
    };
    QLabel *title = serverText::label(draft.title, summary);
    title->setFont(calendarStyle::headlineFont(title->font()));
    lines->addWidget(title);
    spoken.append(draft.title);
    addLine(QStringLiteral("appointment-soon"), m_preview->when);
    addLine(QStringLiteral("x-office-calendar"), m_preview->calendar_name);
    if (!draft.location.isEmpty())
        addLine(QStringLiteral("mark-location"), draft.location);
    if (!m_preview->repeat_label.isEmpty())
        addLine(QStringLiteral("media-playlist-repeat"), m_preview->repeat_label);
    if (!draft.attendees.isEmpty()) {
        addLine(QStringLiteral("system-users"), draft.attendees.join(QStringLiteral(", ")));
        const QString notInvited = tr("Attendees are recorded, not invited. No invitations are sent.");
        lines->addWidget(footnote(notInvited, summary));
        spoken.append(notInvited);
    }
    // Read by assistive technology as one element.
    summary->setAccessibleName(spoken.join(QStringLiteral(", ")));
    m_previewRows->addWidget(summary);

    for (const QString &assumption : m_preview->assumptions) {
        QLabel *line = footnote(assumption, m_previewBlock);
        line->setObjectName(QStringLiteral("quickAddAssumption"));
        tint(line, calendarStyle::secondaryText(line->palette()));
        m_previewRows->addWidget(line);
    }
}

void QuickAddView::fitTextToLines()
{
    // The plain-text layout measures the document in lines.
    const int lines = qBound(fewestLines, int(m_text->document()->documentLayout()->documentSize().height()), mostLines);
    const QMargins margins = m_text->contentsMargins();
    m_text->setFixedHeight(lines * m_text->fontMetrics().lineSpacing()
                           + qCeil(2 * m_text->document()->documentMargin()) + 2 * m_text->frameWidth()
                           + margins.top() + margins.bottom());
}
