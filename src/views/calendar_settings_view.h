#pragma once

#include <QStringList>
#include <QWidget>

class Preferences;
class QCheckBox;
class QComboBox;
class QLabel;

// The calendar's device settings, 460 × 300: whether the calendar is shown in the tray, and the
// time zone (the system's, or one chosen from the zone list). Bound both ways to the preferences:
// a change made elsewhere shows at once.
class CalendarSettingsView : public QWidget {
    Q_OBJECT
public:
    explicit CalendarSettingsView(Preferences &preferences, QWidget *parent = nullptr);

    // "UTC", the system zone and every known identifier, without duplicates, in code-point order.
    static QStringList zoneList();
    // An identifier as shown: "_" as spaces.
    static QString displayName(QString zoneId);

private:
    void refresh();
    void fillZonePicker();
    void useSystemZoneToggled(bool useSystem);
    void zoneChosen(int index);

    Preferences &m_preferences;
    QCheckBox *m_showMenuBar = nullptr;
    QCheckBox *m_useSystemZone = nullptr;
    QLabel *m_systemZone = nullptr;
    QComboBox *m_zonePicker = nullptr;
};
