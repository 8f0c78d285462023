#include "system_time_zone_watcher.h"

#include "dates.h"

#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

namespace {

const QString timedateService = QStringLiteral("org.freedesktop.timedate1");
const QString timedatePath = QStringLiteral("/org/freedesktop/timedate1");
// The bus signal and the file change of one zone switch arrive close together; they are announced
// once after this pause.
constexpr int settleMilliseconds = 200;
constexpr qint64 largestZoneFile = 1024 * 1024; // compiled zone files are a few kilobytes

} // namespace

SystemTimeZoneWatcher::SystemTimeZoneWatcher(QObject *parent)
    : SystemTimeZoneWatcher(QStringLiteral("/etc/localtime"), QDBusConnection::systemBus(), parent)
{
}

SystemTimeZoneWatcher::SystemTimeZoneWatcher(const QString &zoneFile, std::optional<QDBusConnection> bus,
                                             QObject *parent)
    : QObject(parent), m_zoneFile(zoneFile)
{
    m_settle = new QTimer(this);
    m_settle->setSingleShot(true);
    m_settle->setInterval(settleMilliseconds);
    connect(m_settle, &QTimer::timeout, this, &SystemTimeZoneWatcher::announce);

    // No service name: matching on the path needs no blocking name lookup on the bus.
    if (bus && bus->isConnected())
        bus->connect(QString(), timedatePath, QStringLiteral("org.freedesktop.DBus.Properties"),
                     QStringLiteral("PropertiesChanged"), this,
                     SLOT(propertiesChanged(QString, QVariantMap, QStringList)));

    // The zone file is usually a symbolic link that is replaced, not rewritten, so its folder is
    // watched as well and the file is compared before announcing.
    m_files = new QFileSystemWatcher(this);
    m_signature = zoneFileSignature();
    watchZoneFile();
    connect(m_files, &QFileSystemWatcher::fileChanged, this, &SystemTimeZoneWatcher::fileChanged);
    connect(m_files, &QFileSystemWatcher::directoryChanged, this, &SystemTimeZoneWatcher::fileChanged);
}

void SystemTimeZoneWatcher::watchZoneFile()
{
    const QString folder = QFileInfo(m_zoneFile).absolutePath();
    if (!m_files->directories().contains(folder))
        m_files->addPath(folder);
    if (QFileInfo::exists(m_zoneFile) && !m_files->files().contains(m_zoneFile))
        m_files->addPath(m_zoneFile);
}

QByteArray SystemTimeZoneWatcher::zoneFileSignature() const
{
    const QFileInfo info(m_zoneFile);
    QByteArray signature = info.symLinkTarget().toUtf8();
    QFile file(m_zoneFile);
    if (file.open(QIODevice::ReadOnly))
        signature += '\0' + file.read(largestZoneFile);
    return signature;
}

void SystemTimeZoneWatcher::propertiesChanged(const QString &interface, const QVariantMap &changedProperties,
                                              const QStringList &invalidatedProperties)
{
    const QString property = QStringLiteral("Timezone");
    if (interface != timedateService)
        return;
    if (!changedProperties.contains(property) && !invalidatedProperties.contains(property))
        return;
    m_pending = true;
    m_settle->start();
}

void SystemTimeZoneWatcher::fileChanged()
{
    watchZoneFile();
    m_settle->start();
}

void SystemTimeZoneWatcher::announce()
{
    const QByteArray signature = zoneFileSignature();
    if (signature != m_signature)
        m_pending = true;
    m_signature = signature;
    if (!m_pending)
        return;
    m_pending = false;
    zones::refreshSystemZone();
    emit changed();
}
