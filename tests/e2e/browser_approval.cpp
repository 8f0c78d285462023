#include "browser_approval.h"

#include <QCoroNetworkReply>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QRegularExpression>

#include <memory>

namespace {

bool succeeded(const QNetworkReply &reply)
{
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return reply.error() == QNetworkReply::NoError && status >= 200 && status < 300;
}

QString unescaped(QString html)
{
    for (const auto &[entity, character] :
         {std::pair{"&quot;", "\""}, {"&#39;", "'"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}})
        html.replace(QLatin1String(entity), QLatin1String(character));
    return html;
}

// The approval form's action and the fields a browser submits for it: its hidden inputs, `user`
// chosen in its "user" list and its "approve" button pressed. Nothing when the page has no such form.
std::optional<std::pair<QString, QByteArray>> approvalForm(const QString &page, const QString &user)
{
    static const QRegularExpression form(QStringLiteral(R"re(<form method="post" action="([^"]*)">(.*?)</form>)re"),
                                         QRegularExpression::DotMatchesEverythingOption),
        hidden(QStringLiteral(R"re(<input type="hidden" name="([^"]+)" value="([^"]*)">)re")),
        option(QStringLiteral(R"re(<option value="([^"]*)">([^<]*)</option>)re"));
    const QRegularExpressionMatch found = form.match(page);
    if (!found.hasMatch() || !found.captured(2).contains(QLatin1String(R"(name="decision" value="approve")")))
        return std::nullopt;
    QByteArrayList fields;
    const auto add = [&](const QString &name, const QString &value) {
        fields.append(QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value));
    };
    for (const QRegularExpressionMatch &input : hidden.globalMatch(found.captured(2)))
        add(input.captured(1), unescaped(input.captured(2)));
    for (const QRegularExpressionMatch &choice : option.globalMatch(found.captured(2))) {
        const QString value = unescaped(choice.captured(1));
        if (user.isEmpty() || user == value || user == unescaped(choice.captured(2))) {
            add(QStringLiteral("user"), value);
            add(QStringLiteral("decision"), QStringLiteral("approve"));
            return std::pair{unescaped(found.captured(1)), fields.join('&')};
        }
    }
    return std::nullopt;
}

} // namespace

QCoro::Task<bool> approveInBrowser(QUrl page, QString user)
{
    auto network = std::make_unique<QNetworkAccessManager>();
    network->setCookieJar(new QNetworkCookieJar(network.get()));
    network->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    std::unique_ptr<QNetworkReply> loaded(co_await network->get(QNetworkRequest(page)));
    const QUrl landed = loaded->url();
    const auto form = succeeded(*loaded) ? approvalForm(QString::fromUtf8(loaded->readAll()), user) : std::nullopt;
    if (!form)
        co_return false;

    QNetworkRequest submit(landed.resolved(QUrl(form->first)));
    submit.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    const QUrl origin = landed.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment);
    submit.setRawHeader("Origin", origin.toString(QUrl::FullyEncoded).toUtf8());
    submit.setRawHeader("Referer", landed.toString(QUrl::FullyEncoded).toUtf8());
    submit.setRawHeader("Sec-Fetch-Site", "same-origin");
    std::unique_ptr<QNetworkReply> submitted(co_await network->post(submit, form->second));
    co_return succeeded(*submitted);
}
