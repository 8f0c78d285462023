#include "app_icon.h"

#include <QFile>
#include <QGuiApplication>
#include <QImageReader>

namespace {

QIcon embeddedIcon()
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString path = QStringLiteral(":/teodal/icons/%1x%1/app.png").arg(size);
        if (QFile::exists(path))
            icon.addFile(path, QSize(size, size));
    }
    // The drawing scales to any size where Qt can read SVG; the fixed sizes cover the rest.
    if (QImageReader::supportedImageFormats().contains("svg"))
        icon.addFile(QStringLiteral(":/teodal/icons/scalable/app.svg"));
    return icon;
}

} // namespace

QIcon appIcon()
{
    const QString id = QGuiApplication::desktopFileName();
    if (!id.isEmpty() && QIcon::hasThemeIcon(id))
        return QIcon::fromTheme(id);
    const QIcon embedded = embeddedIcon();
    if (!embedded.isNull())
        return embedded;
    return QIcon::fromTheme(QStringLiteral("x-office-calendar"));
}
