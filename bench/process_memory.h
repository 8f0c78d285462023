#pragma once

#include <QByteArray>
#include <QFile>

// A memory figure of this process from /proc/self/status ("VmRSS" now, "VmHWM" the peak), in KiB;
// -1 where the system does not report it.
inline qint64 processStatusKiB(const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    return -1;
}
