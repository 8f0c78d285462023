// The app against a development server of its own, for a screen reader's view of it: prints
// "signed-out" once the sign-in view is up, signs in (the browser's approval played by
// approveInBrowser) when a line arrives on standard input, prints "signed-in" once the calendar is
// loaded, and quits when standard input closes.
#include "browser_approval.h"
#include "calendar_app.h"
#include "calendar_model.h"
#include "calendar_workspace.h"
#include "memory_secret_store.h"
#include "native_sign_in_view.h"
#include "preferences.h"

#include <QApplication>
#include <QMainWindow>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

void say(const char *line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

// Calls `check` from the event loop until it holds, then `then` once.
void whenTrue(std::function<bool()> check, std::function<void()> then)
{
    auto *poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, check = std::move(check), then = std::move(then)] {
        if (!check())
            return;
        poll->deleteLater();
        then();
    });
    poll->start(50);
}

} // namespace

int main(int argc, char *argv[])
{
    CalendarApp::describeApplication();
    QApplication application(argc, argv);

    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral(TEODAL_DEVSERVER), {"--port", "0", "--database", ":memory:"});
    if (!server.waitForStarted() || !server.waitForReadyRead(10000))
        return 1;
    const QString origin = QString::fromUtf8(server.readLine()).trimmed();

    QTemporaryDir folder;
    CalendarApp app({.preferences = std::make_unique<Preferences>(std::make_unique<QSettings>(
                         folder.filePath(QStringLiteral("prefs.ini")), QSettings::IniFormat)),
                     .secrets = std::make_unique<MemorySecretStore>(),
                     .openUrl = [](QUrl page) { return approveInBrowser(page); },
                     .defaultServer = origin});
    app.show();
    QMainWindow *window = app.window();

    whenTrue([window] { return window->findChild<NativeSignInView *>() && window->isVisible(); },
             [] { say("signed-out"); });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        if (auto *signIn = window->findChild<QPushButton *>(QStringLiteral("signIn")))
            signIn->click();
        whenTrue(
            [&app, window] {
                return window->findChild<CalendarWorkspace *>() && !app.model().loading() &&
                       !app.model().calendars().isEmpty();
            },
            [] { say("signed-in"); });
    });
    return application.exec();
}
