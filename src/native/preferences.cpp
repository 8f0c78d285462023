#include "preferences.h"

#include <QSettings>

namespace {
const QString serverKey = QStringLiteral("native.server");
const QString timeZoneOverrideKey = QStringLiteral("calendar.timeZoneOverride");
const QString showMenuBarKey = QStringLiteral("calendar.showMenuBar");
const QString windowGeometryKey = QStringLiteral("window.geometry");
const QString splitterStateKey = QStringLiteral("window.splitter");
}

Preferences::Preferences(QObject *parent)
    : Preferences(std::make_unique<QSettings>(QStringLiteral("Teodal"), QStringLiteral("Calendar")), parent)
{
}

Preferences::Preferences(std::unique_ptr<QSettings> settings, QObject *parent)
    : QObject(parent), m_settings(std::move(settings))
{
}

Preferences::~Preferences() = default;

std::optional<QString> Preferences::server() const
{
    if (!m_settings->contains(serverKey))
        return std::nullopt;
    return m_settings->value(serverKey).toString();
}

void Preferences::setServer(const QString &origin)
{
    m_settings->setValue(serverKey, origin);
    emit changed();
}

QString Preferences::timeZoneOverride() const
{
    return m_settings->value(timeZoneOverrideKey, QString()).toString();
}

void Preferences::setTimeZoneOverride(const QString &zone)
{
    m_settings->setValue(timeZoneOverrideKey, zone);
    emit changed();
}

bool Preferences::showMenuBar() const
{
    return m_settings->value(showMenuBarKey, true).toBool();
}

void Preferences::setShowMenuBar(bool show)
{
    m_settings->setValue(showMenuBarKey, show);
    emit changed();
}

QByteArray Preferences::windowGeometry() const
{
    return m_settings->value(windowGeometryKey).toByteArray();
}

void Preferences::setWindowGeometry(const QByteArray &geometry)
{
    m_settings->setValue(windowGeometryKey, geometry);
}

QByteArray Preferences::splitterState() const
{
    return m_settings->value(splitterStateKey).toByteArray();
}

void Preferences::setSplitterState(const QByteArray &state)
{
    m_settings->setValue(splitterStateKey, state);
}
