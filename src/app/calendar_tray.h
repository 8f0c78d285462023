#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>

#include <functional>

class QMenu;
class QSystemTrayIcon;
class QWidget;

// The calendar in the desktop's system tray: an icon titled "Teodal Calendar" whose left click
// toggles a panel beside it and whose menu offers "Open Calendar", "Settings…" and "Quit Calendar".
// The panel is a popup that closes when it loses focus; its content is built each time it opens,
// by `makePanel`, so it always shows the current model and sign-in state.
class CalendarTray : public QObject {
    Q_OBJECT
public:
    struct Actions {
        std::function<QWidget *()> makePanel;
        std::function<void()> openCalendar;
        std::function<void()> openSettings;
        std::function<void()> quit;
    };

    CalendarTray(const QIcon &icon, Actions actions, QObject *parent = nullptr);
    ~CalendarTray() override;

    QSystemTrayIcon *icon() const { return m_icon; }
    // The open panel, if any.
    QWidget *panel() const { return m_panel; }
    void togglePanel();
    void closePanel();

private:
    void placePanel(QWidget *panel) const;

    Actions m_actions;
    QSystemTrayIcon *m_icon = nullptr;
    QMenu *m_menu = nullptr;
    QPointer<QWidget> m_panel;
};
