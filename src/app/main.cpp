#include "app_translations.h"
#include "calendar_app.h"
#include "single_instance.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    CalendarApp::describeApplication();
    QApplication application(argc, argv);
    // A second start shows the running window and ends here.
    SingleInstance instance(QGuiApplication::desktopFileName());
    if (!instance.claim())
        return 0;
    installAppTranslations();
    CalendarApp app;
    QObject::connect(&instance, &SingleInstance::activationRequested, &app, [&app] {
        QMainWindow *window = app.window();
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->show();
        window->raise();
        window->activateWindow();
    });
    app.show();
    return application.exec();
}
