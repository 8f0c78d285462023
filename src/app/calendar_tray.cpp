#include "calendar_tray.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <QWidget>

namespace {

const QString productName = QStringLiteral("Teodal Calendar"); // product name, not translated
constexpr int panelGap = 4; // between the icon and the panel

} // namespace

CalendarTray::CalendarTray(const QIcon &icon, Actions actions, QObject *parent)
    : QObject(parent), m_actions(std::move(actions))
{
    m_menu = new QMenu;
    m_menu->addAction(tr("Open Calendar"), [this] { m_actions.openCalendar(); });
    m_menu->addAction(tr("Settings…"), [this] { m_actions.openSettings(); });
    m_menu->addSeparator();
    m_menu->addAction(tr("Quit Calendar"), [this] { m_actions.quit(); });

    m_icon = new QSystemTrayIcon(icon, this);
    m_icon->setToolTip(productName);
    m_icon->setContextMenu(m_menu);
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            togglePanel();
    });
    m_icon->show();
}

CalendarTray::~CalendarTray()
{
    closePanel();
    delete m_menu;
}

void CalendarTray::togglePanel()
{
    if (m_panel) {
        closePanel();
        return;
    }
    auto *panel = new QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint);
    panel->setObjectName(QStringLiteral("trayPanel"));
    panel->setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_actions.makePanel());
    panel->adjustSize();
    placePanel(panel);
    m_panel = panel;
    panel->show();
    panel->activateWindow();
}

void CalendarTray::closePanel()
{
    if (m_panel)
        m_panel->close();
}

void CalendarTray::placePanel(QWidget *panel) const
{
    // Beside the icon, on the icon's screen, kept inside the screen's free area; where the tray
    // does not say where the icon is, at the pointer that clicked it.
    const QRect iconArea = m_icon->geometry();
    const QPoint anchor = iconArea.isValid() ? iconArea.center() : QCursor::pos();
    QScreen *screen = QGuiApplication::screenAt(anchor);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect free = screen ? screen->availableGeometry() : QRect(QPoint(), panel->size());
    const QSize size = panel->size();
    QPoint at(anchor.x() - size.width() / 2, 0);
    const bool below = anchor.y() < free.center().y();
    at.setY(below ? (iconArea.isValid() ? iconArea.bottom() : anchor.y()) + panelGap
                  : (iconArea.isValid() ? iconArea.top() : anchor.y()) - panelGap - size.height());
    at.setX(qBound(free.left(), at.x(), qMax(free.left(), free.right() - size.width() + 1)));
    at.setY(qBound(free.top(), at.y(), qMax(free.top(), free.bottom() - size.height() + 1)));
    panel->move(at);
}
