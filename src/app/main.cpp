#include "calendar_app.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    CalendarApp::describeApplication();
    QApplication application(argc, argv);
    CalendarApp app;
    app.show();
    return application.exec();
}
