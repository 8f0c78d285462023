// Stands in for the web browser in scripts: `teodal-approve-in-browser URL [SECONDS]` waits the
// given seconds (so the waiting screen can be seen), then approves the sign-in request on the
// development server's approval page as the first demo user.
#include "browser_approval.h"

#include <QCoreApplication>
#include <QCoroTimer>
#include <QTimer>

#include <cstdio>

namespace {

QCoro::Task<> run(QUrl page, int delaySeconds)
{
    if (delaySeconds > 0) {
        QTimer wait;
        wait.setSingleShot(true);
        wait.start(delaySeconds * 1000);
        co_await wait;
    }
    const bool approved = co_await approveInBrowser(page);
    std::fprintf(stderr, "%s\n", approved ? "approved" : "approval failed");
    QCoreApplication::exit(approved ? 0 : 1);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    const QUrl page(arguments.value(1));
    if (!page.isValid() || page.scheme().isEmpty()) {
        std::fprintf(stderr, "usage: teodal-approve-in-browser URL [SECONDS]\n");
        return 2;
    }
    QTimer::singleShot(0, [&] { run(page, arguments.value(2).toInt()); });
    return application.exec();
}
