// Stands in for the web browser in scripts: `teodal-approve-in-browser URL [SECONDS]` waits the
// given seconds (so the waiting screen can be seen), then approves the sign-in request on the
// development server's approval page as the first demo user.
#include "browser_approval.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

static QCoro::Task<> approve(QUrl page)
{
    const bool approved = co_await approveInBrowser(page);
    std::fprintf(stderr, "%s\n", approved ? "approved" : "approval failed");
    QCoreApplication::exit(approved ? 0 : 1);
}

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QUrl page(application.arguments().value(1));
    if (!page.isValid() || page.scheme().isEmpty()) {
        std::fprintf(stderr, "usage: teodal-approve-in-browser URL [SECONDS]\n");
        return 2;
    }
    QTimer::singleShot(application.arguments().value(2).toInt() * 1000, [page] { approve(page); });
    return application.exec();
}
