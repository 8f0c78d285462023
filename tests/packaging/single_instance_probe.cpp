#include "single_instance.h"

#include <QCoreApplication>

#include <cstdio>

// The app's start-up without its window: prints "running" or "forwarded" after claiming the
// single instance, then "activated" for each later start that asks for the window.
int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    SingleInstance instance(QStringLiteral("app.teodal.calendar"));
    const bool running = instance.claim();
    std::printf("%s\n", running ? "running" : "forwarded");
    std::fflush(stdout);
    if (!running)
        return 0;
    QObject::connect(&instance, &SingleInstance::activationRequested, [] {
        std::printf("activated\n");
        std::fflush(stdout);
    });
    return application.exec();
}
