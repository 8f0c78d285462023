#pragma once

#include <QCoroTask>
#include <QString>
#include <QUrl>

// Acts as a person's browser on the development server's approval page: loads the page (keeping
// its cookies), fills in its one form (hidden inputs, a demo user from the "user" list) and submits
// it with the chosen decision button. Yields whether the page and the submission both succeeded.
struct BrowserApproval {
    QString decision = QStringLiteral("approve"); // value of the "decision" button
    QString user;                                 // option value or label; empty picks the first
};

QCoro::Task<bool> approveInBrowser(QUrl page, BrowserApproval choice = {});
