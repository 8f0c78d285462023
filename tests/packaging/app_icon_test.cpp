#include "app_icon.h"

#include <QGuiApplication>
#include <QTest>

// The icon built into the binary, with no icon theme to fall back on.
class AppIconTest : public QObject {
    Q_OBJECT
private slots:
    void embeddedSizes()
    {
        QIcon::setThemeSearchPaths({});
        QGuiApplication::setDesktopFileName(QStringLiteral("app.teodal.calendar"));
        const QIcon icon = appIcon();
        QVERIFY(!icon.isNull());
        for (int size : {16, 48, 256}) {
            const QImage image = icon.pixmap(size, size).toImage();
            QCOMPARE(image.size(), QSize(size, size));
            // The header band is drawn in the accent colour.
            const QColor header = image.pixelColor(size / 2, size * 27 / 128);
            QVERIFY2(header.red() > 150 && header.green() < 90, qPrintable(header.name()));
        }
    }
};

QTEST_MAIN(AppIconTest)
#include "app_icon_test.moc"
