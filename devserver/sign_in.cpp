#include "sign_in.h"

#include "store.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace signin {

QString base64url(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString randomToken()
{
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    return base64url(bytes);
}

bool validToken(const QString &text)
{
    if (text.size() != 43)
        return false;
    const auto decoded = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::Base64UrlEncoding |
                                                                              QByteArray::AbortOnBase64DecodingErrors);
    return decoded && decoded.decoded.size() == 32 && base64url(decoded.decoded) == text;
}

bool validVerifier(const QString &text)
{
    static const QRegularExpression form(QStringLiteral(R"(^[A-Za-z0-9\-._~]{43,128}$)"));
    return form.match(text).hasMatch();
}

QString challengeOf(const QString &verifier)
{
    return base64url(QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256));
}

QString verificationCode(const QString &id)
{
    const QString hex =
        QString::fromLatin1(QCryptographicHash::hash(id.toUtf8(), QCryptographicHash::Sha256).left(4).toHex()).toUpper();
    return hex.left(4) + QLatin1Char('-') + hex.mid(4);
}

QString tokenHash(const QString &token)
{
    return QString::fromLatin1(QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex());
}

bool sameText(const QString &a, const QString &b)
{
    const QByteArray x = a.toUtf8(), y = b.toUtf8();
    if (x.size() != y.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < x.size(); ++i)
        difference |= static_cast<unsigned char>(x[i] ^ y[i]);
    return difference == 0;
}

QString escapeHtml(const QString &text) { return text.toHtmlEscaped().replace(QLatin1Char('\''), QLatin1String("&#39;")); }

namespace {
QByteArray page(const QString &title, const QString &body)
{
    return QStringLiteral(R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>%1</title>
<style>
body { font: 16px/1.5 system-ui, sans-serif; background: #f6f4f4; color: #222; margin: 0; }
main { max-width: 28rem; margin: 4rem auto; background: #fff; padding: 2rem; border-radius: 12px;
       box-shadow: 0 1px 4px rgba(0,0,0,.12); }
h1 { font-size: 1.3rem; margin-top: 0; color: #c7384a; }
.code { font: 600 2rem/1.2 ui-monospace, monospace; letter-spacing: .1em; text-align: center;
        padding: .75rem; border: 2px solid #c7384a; border-radius: 8px; margin: 1rem 0; }
label, select { display: block; width: 100%; margin: .25rem 0 1rem; }
select { font-size: 1rem; padding: .4rem; }
.buttons { display: flex; gap: .75rem; }
button { flex: 1; font-size: 1rem; padding: .6rem; border-radius: 8px; border: 1px solid #999; background: #fff; }
button[value=approve] { background: #c7384a; border-color: #c7384a; color: #fff; }
</style>
</head>
<body><main>
%2
</main></body>
</html>
)")
        .arg(escapeHtml(title), body)
        .toUtf8();
}
} // namespace

QByteArray approvalPage(const QString &id, const QString &csrf, const std::vector<StoredUser> &users)
{
    QString options;
    for (const auto &user : users)
        options += QStringLiteral("<option value=\"%1\">%2</option>\n").arg(user.id).arg(escapeHtml(user.name));
    // Tests and the end-to-end run approve by submitting this form as it is: keep one form, its hidden
    // inputs, the "user" select and the two "decision" buttons.
    const QString body = QStringLiteral(R"(<h1>Sign in to Teodal Calendar</h1>
<p>Check that Teodal Calendar shows this code:</p>
<div class="code" id="code">%1</div>
<p>Only approve if the codes match.</p>
<form method="post" action="/native/start">
<input type="hidden" name="id" value="%2">
<input type="hidden" name="csrf" value="%3">
<label for="user">Sign in as</label>
<select id="user" name="user">
%4</select>
<div class="buttons">
<button type="submit" name="decision" value="deny">Deny</button>
<button type="submit" name="decision" value="approve">Approve</button>
</div>
</form>)")
                             .arg(verificationCode(id), escapeHtml(id), escapeHtml(csrf), options);
    return page(QStringLiteral("Sign in to Teodal Calendar"), body);
}

QByteArray messagePage(const QString &heading, const QString &message)
{
    return page(heading, QStringLiteral("<h1>%1</h1>\n<p>%2</p>").arg(escapeHtml(heading), escapeHtml(message)));
}

} // namespace signin
