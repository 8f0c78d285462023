#pragma once

#include <QCoroTask>
#include <QString>
#include <QUrl>

// Acts as a person's browser on the development server's approval page: loads the page (keeping its
// cookies), fills in its form (hidden inputs, `user` chosen by option value or label from the "user"
// list, the first when empty) and submits it with the "approve" decision. Yields whether the page
// and the submission both succeeded.
QCoro::Task<bool> approveInBrowser(QUrl page, QString user = {});
