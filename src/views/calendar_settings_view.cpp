#include "calendar_settings_view.h"

#include "calendar_style.h"
#include "dates.h"
#include "preferences.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QSignalBlocker>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr QSize viewSize(460, 300);

} // namespace

CalendarSettingsView::CalendarSettingsView(Preferences &preferences, QWidget *parent)
    : QWidget(parent), m_preferences(preferences)
{
    setObjectName(QStringLiteral("calendarSettings"));
    setWindowTitle(tr("Calendar settings"));
    setFixedSize(viewSize);

    auto *trayBox = new QGroupBox(this);
    m_showMenuBar = new QCheckBox(tr("Show calendar in menu bar"), trayBox);
    m_showMenuBar->setObjectName(QStringLiteral("showMenuBar"));
    connect(m_showMenuBar, &QCheckBox::toggled, &m_preferences, &Preferences::setShowMenuBar);
    auto *trayRows = new QVBoxLayout(trayBox);
    trayRows->addWidget(m_showMenuBar);
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        // The preference is kept for a desktop that has a tray; say why nothing shows here.
        auto *noTray = new QLabel(tr("This desktop has no system tray, so the calendar cannot be shown there."),
                                  trayBox);
        noTray->setObjectName(QStringLiteral("noTray"));
        noTray->setWordWrap(true);
        noTray->setFont(calendarStyle::footnoteFont(noTray->font()));
        QPalette dimmed = noTray->palette();
        dimmed.setColor(QPalette::WindowText, calendarStyle::secondaryText(dimmed));
        noTray->setPalette(dimmed);
        trayRows->addWidget(noTray);
    }

    auto *zoneBox = new QGroupBox(this);
    auto *zoneRows = new QFormLayout(zoneBox);
    zoneRows->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_useSystemZone = new QCheckBox(tr("Use system time zone"), zoneBox);
    m_useSystemZone->setObjectName(QStringLiteral("useSystemZone"));
    connect(m_useSystemZone, &QCheckBox::toggled, this, &CalendarSettingsView::useSystemZoneToggled);
    zoneRows->addRow(m_useSystemZone);

    auto *zoneValue = new QWidget(zoneBox);
    auto *zoneValueLayout = new QVBoxLayout(zoneValue);
    zoneValueLayout->setContentsMargins(0, 0, 0, 0);
    m_systemZone = new QLabel(zoneValue);
    m_systemZone->setObjectName(QStringLiteral("systemZone"));
    m_systemZone->setTextFormat(Qt::PlainText);
    zoneValueLayout->addWidget(m_systemZone);

    // About six hundred names: the list view lays them out as equal rows, and typing any part of a
    // name narrows the choice.
    m_zonePicker = new QComboBox(zoneValue);
    m_zonePicker->setObjectName(QStringLiteral("zonePicker"));
    m_zonePicker->setAccessibleName(tr("Time zone"));
    m_zonePicker->setEditable(true);
    m_zonePicker->setInsertPolicy(QComboBox::NoInsert);
    m_zonePicker->setMaxVisibleItems(16);
    auto *rows = new QListView(m_zonePicker);
    rows->setUniformItemSizes(true);
    m_zonePicker->setView(rows);
    m_zonePicker->completer()->setFilterMode(Qt::MatchContains);
    m_zonePicker->completer()->setCompletionMode(QCompleter::PopupCompletion);
    m_zonePicker->completer()->setCaseSensitivity(Qt::CaseInsensitive);
    connect(m_zonePicker, &QComboBox::activated, this, &CalendarSettingsView::zoneChosen);
    zoneValueLayout->addWidget(m_zonePicker);
    zoneRows->addRow(tr("Time zone"), zoneValue);

    auto *footer = new QLabel(tr("Used for your agenda, new events and quick-add on this device. Existing events "
                                 "keep their original time zones."),
                              this);
    footer->setObjectName(QStringLiteral("zoneFooter"));
    footer->setTextFormat(Qt::PlainText);
    footer->setWordWrap(true);
    footer->setFont(calendarStyle::footnoteFont(footer->font()));
    QPalette palette = footer->palette();
    palette.setColor(QPalette::WindowText, calendarStyle::secondaryText(palette));
    footer->setPalette(palette);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(trayBox);
    layout->addWidget(zoneBox);
    layout->addWidget(footer);
    layout->addStretch(1);

    connect(&m_preferences, &Preferences::changed, this, &CalendarSettingsView::refresh);
    refresh();
}

QStringList CalendarSettingsView::zoneList()
{
    QStringList ids = zones::knownIds();
    ids.append(QStringLiteral("UTC"));
    ids.append(zones::systemId());
    std::sort(ids.begin(), ids.end()); // UTF-16 order: code-point order for these ASCII names
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

QString CalendarSettingsView::displayName(QString zoneId)
{
    return zoneId.replace(QLatin1Char('_'), QLatin1Char(' '));
}

void CalendarSettingsView::refresh()
{
    const QSignalBlocker trayBlocker(m_showMenuBar);
    m_showMenuBar->setChecked(m_preferences.showMenuBar());

    const QString chosen = m_preferences.timeZoneOverride();
    const QSignalBlocker zoneBlocker(m_useSystemZone);
    m_useSystemZone->setChecked(chosen.isEmpty());
    m_systemZone->setText(displayName(zones::systemId()));
    m_systemZone->setVisible(chosen.isEmpty());
    m_zonePicker->setVisible(!chosen.isEmpty());
    if (!chosen.isEmpty()) {
        fillZonePicker();
        const QSignalBlocker pickerBlocker(m_zonePicker);
        m_zonePicker->setCurrentIndex(m_zonePicker->findData(chosen));
        if (m_zonePicker->currentIndex() < 0)
            m_zonePicker->setEditText(QString()); // a stored name that is not a zone matches no entry
    }
}

void CalendarSettingsView::fillZonePicker()
{
    const QStringList ids = zoneList();
    if (m_zonePicker->count() == ids.size())
        return;
    const QSignalBlocker blocker(m_zonePicker);
    m_zonePicker->clear();
    for (const QString &id : ids)
        m_zonePicker->addItem(displayName(id), id);
}

void CalendarSettingsView::useSystemZoneToggled(bool useSystem)
{
    // Turning it off keeps the zone in use, so the picker starts where the calendar already is.
    m_preferences.setTimeZoneOverride(useSystem ? QString() : zones::systemId());
}

void CalendarSettingsView::zoneChosen(int index)
{
    if (index >= 0)
        m_preferences.setTimeZoneOverride(m_zonePicker->itemData(index).toString());
}
