#include "event_details_dialog.h"

#include "calendar_model.h"
#include "calendar_style.h"
#include "server_text.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

constexpr QSize dialogSize(480, 500);

QLabel *plainLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

void makeSecondary(QWidget *widget, const QFont &font)
{
    widget->setFont(font);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, calendarStyle::secondaryText(palette));
    widget->setPalette(palette);
}

QWidget *iconRow(const QString &iconName, const QString &text, const QString &objectName, QWidget *parent)
{
    auto *row = new QWidget(parent);
    row->setObjectName(objectName);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    const QIcon icon = QIcon::fromTheme(iconName);
    if (!icon.isNull()) {
        auto *image = new QLabel(row);
        image->setTextFormat(Qt::PlainText);
        const int side = row->fontMetrics().height();
        image->setPixmap(icon.pixmap(side, side));
        layout->addWidget(image);
    }
    layout->addWidget(plainLabel(text, row), 1);
    return row;
}

QGroupBox *section(const QString &title, QWidget *parent)
{
    auto *box = new QGroupBox(title, parent);
    return box;
}

} // namespace

QUrl EventDetailsDialog::webCalendarUrl(const QUrl &origin, qint64 id)
{
    QUrl url = origin;
    QString path = url.path();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    url.setPath(path + QStringLiteral("events/") + QString::number(id));
    url.setQuery(QString());
    url.setFragment(QString());
    return url;
}

EventDetailsDialog::EventDetailsDialog(const CalendarModel &model, const NativeClient &client, CalendarEvent event,
                                       QWidget *parent)
    : QDialog(parent), m_event(std::move(event))
{
    setObjectName(QStringLiteral("eventDetails"));
    setWindowTitle(tr("Event"));
    setFixedSize(dialogSize);

    auto *content = new QWidget;
    auto *form = new QVBoxLayout(content);

    auto *heading = new QWidget(content);
    auto *headingLayout = new QVBoxLayout(heading);
    headingLayout->setContentsMargins(0, 0, 0, 0);
    QLabel *title = serverText::label(m_event.title, heading);
    title->setObjectName(QStringLiteral("eventTitle"));
    title->setFont(calendarStyle::titleFont(font()));
    headingLayout->addWidget(title);
    QLabel *calendarName = serverText::label(m_event.calendar_name, heading);
    makeSecondary(calendarName, font());
    headingLayout->addWidget(calendarName);
    form->addWidget(heading);

    if (m_event.status == QLatin1String("cancelled") || m_event.status == QLatin1String("tentative")) {
        const bool cancelled = m_event.status == QLatin1String("cancelled");
        auto *status = section(QString(), content);
        auto *statusLayout = new QVBoxLayout(status);
        statusLayout->addWidget(iconRow(cancelled ? QStringLiteral("process-stop") : QStringLiteral("dialog-question"),
                                        cancelled ? tr("Cancelled") : tr("Tentative"), QStringLiteral("eventStatus"),
                                        status));
        form->addWidget(status);
    }

    auto *when = section(tr("When"), content);
    auto *whenLayout = new QFormLayout(when);
    whenLayout->setRowWrapPolicy(QFormLayout::WrapLongRows);
    const QString stamp = QStringLiteral("d MMM yyyy jm");
    if (m_event.all_day) {
        whenLayout->addRow(tr("Starts"), serverText::label(m_event.day_start, when));
        whenLayout->addRow(tr("Ends before"), serverText::label(m_event.day_end, when));
        QLabel *note = plainLabel(tr("The end date is the first day after the event."), when);
        makeSecondary(note, font());
        whenLayout->addRow(note);
    } else {
        whenLayout->addRow(tr("Starts"),
                           plainLabel(model.display(instantFromSeconds(m_event.start), stamp, m_event.tz), when));
        whenLayout->addRow(tr("Ends"),
                           plainLabel(model.display(instantFromSeconds(m_event.end), stamp, m_event.tz), when));
        whenLayout->addRow(tr("Time zone"), serverText::label(m_event.tz, when));
    }
    if (m_event.recurring)
        whenLayout->addRow(iconRow(QStringLiteral("media-playlist-repeat"), tr("Repeating event"),
                                   QStringLiteral("eventRepeats"), when));
    form->addWidget(when);

    const auto textSection = [&](const QString &name, const QString &text, const QString &objectName) {
        auto *box = section(name, content);
        auto *layout = new QVBoxLayout(box);
        auto *value = new SelectableServerText(text, box);
        value->setObjectName(objectName);
        layout->addWidget(value);
        form->addWidget(box);
    };
    if (!m_event.location.isEmpty())
        textSection(tr("Location"), m_event.location, QStringLiteral("eventLocation"));
    if (!m_event.notes.isEmpty())
        textSection(tr("Notes"), m_event.notes, QStringLiteral("eventNotes"));

    if (m_event.writable) {
        auto *edit = new QPushButton(tr("Edit event"), content);
        edit->setObjectName(QStringLiteral("editEvent"));
        connect(edit, &QPushButton::clicked, this, [this] {
            emit editRequested();
            accept();
        });
        form->addWidget(edit, 0, Qt::AlignLeft);
    } else {
        auto *open = new QPushButton(tr("Open in web calendar"), content);
        open->setObjectName(QStringLiteral("openInWebCalendar"));
        open->setFlat(true);
        open->setCursor(Qt::PointingHandCursor);
        QFont linkFont = open->font();
        linkFont.setUnderline(true);
        open->setFont(linkFont);
        QPalette linkPalette = open->palette();
        linkPalette.setColor(QPalette::ButtonText, linkPalette.color(QPalette::Link));
        open->setPalette(linkPalette);
        const QUrl url = client ? webCalendarUrl(client->origin(), m_event.id) : QUrl();
        open->setToolTip(url.toDisplayString());
        open->setEnabled(url.isValid());
        connect(open, &QPushButton::clicked, this, [url] { QDesktopServices::openUrl(url); });
        form->addWidget(open, 0, Qt::AlignLeft);
    }
    form->addStretch(1);

    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(content);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *done = buttons->addButton(tr("Done"), QDialogButtonBox::AcceptRole);
    done->setObjectName(QStringLiteral("done"));
    done->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(scroll, 1);
    layout->addWidget(buttons);
}
