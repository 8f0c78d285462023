#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

class QFileSystemWatcher;
class QTimer;

// Announces changes of the system time zone: systemd's timedate1 "Timezone" property on the system
// bus, and changes of the zone file as a fall-back where there is no bus. Before announcing, it
// makes the date services re-read the system zone. Works (file watch only) without a system bus.
class SystemTimeZoneWatcher : public QObject {
    Q_OBJECT
public:
    explicit SystemTimeZoneWatcher(QObject *parent = nullptr);
    // Tests watch a zone file and a bus of their own; without a bus only the file is watched.
    SystemTimeZoneWatcher(const QString &zoneFile, std::optional<QDBusConnection> bus, QObject *parent = nullptr);

signals:
    void changed();

private slots:
    void propertiesChanged(const QString &interface, const QVariantMap &changedProperties,
                           const QStringList &invalidatedProperties);

private:
    void fileChanged();
    void announce();
    void watchZoneFile();
    QByteArray zoneFileSignature() const;

    QString m_zoneFile;
    QFileSystemWatcher *m_files = nullptr;
    QTimer *m_settle = nullptr;
    QByteArray m_signature;
    bool m_pending = false;
};
