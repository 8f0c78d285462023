#include "browser_approval.h"

#include <QCoroNetworkReply>
#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QRegularExpression>

#include <memory>
#include <optional>

namespace {

QString decodeEntities(QString text)
{
    static const QRegularExpression numeric(QStringLiteral("&#([0-9]+);"));
    for (QRegularExpressionMatch m; (m = numeric.match(text)).hasMatch();)
        text.replace(m.capturedStart(), m.capturedLength(), QChar(char16_t(m.captured(1).toUInt())));
    return text.replace(QLatin1String("&quot;"), QLatin1String("\""))
        .replace(QLatin1String("&lt;"), QLatin1String("<"))
        .replace(QLatin1String("&gt;"), QLatin1String(">"))
        .replace(QLatin1String("&amp;"), QLatin1String("&"));
}

QHash<QString, QString> attributesOf(const QString &tag)
{
    static const QRegularExpression attribute(QStringLiteral(R"re(([a-zA-Z_:-]+)\s*=\s*"([^"]*)")re"));
    QHash<QString, QString> out;
    for (const QRegularExpressionMatch &m : attribute.globalMatch(tag))
        out.insert(m.captured(1).toLower(), decodeEntities(m.captured(2)));
    return out;
}

QRegularExpression element(const char *pattern)
{
    return QRegularExpression(QString::fromLatin1(pattern), QRegularExpression::CaseInsensitiveOption
                                                                | QRegularExpression::DotMatchesEverythingOption);
}

QByteArray formField(const QString &name, const QString &value)
{
    return QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value);
}

// The action and the fields a browser would submit for the page's POST form, or nothing.
std::optional<std::pair<QString, QByteArray>> fillForm(const QString &html, const QString &user)
{
    static const QRegularExpression form = element(R"(<form\b([^>]*)>(.*?)</form>)"),
                                    input = element(R"(<input\b([^>]*)>)"),
                                    select = element(R"(<select\b([^>]*)>(.*?)</select>)"),
                                    option = element(R"(<option\b([^>]*)>(.*?)</option>)"),
                                    button = element(R"(<button\b([^>]*)>)");
    for (const QRegularExpressionMatch &f : form.globalMatch(html)) {
        const QHash<QString, QString> formAttributes = attributesOf(f.captured(1));
        if (formAttributes.value(QStringLiteral("method")).toLower() != QLatin1String("post"))
            continue;
        QByteArrayList fields;
        for (const QRegularExpressionMatch &i : input.globalMatch(f.captured(2))) {
            const QHash<QString, QString> a = attributesOf(i.captured(1));
            if (a.value(QStringLiteral("type")).toLower() == QLatin1String("hidden"))
                fields.append(formField(a.value(QStringLiteral("name")), a.value(QStringLiteral("value"))));
        }
        for (const QRegularExpressionMatch &s : select.globalMatch(f.captured(2))) {
            std::optional<QString> picked;
            for (const QRegularExpressionMatch &o : option.globalMatch(s.captured(2))) {
                const QString value = attributesOf(o.captured(1)).value(QStringLiteral("value"));
                if (!picked && (user.isEmpty() || user == value || user == decodeEntities(o.captured(2)).trimmed()))
                    picked = value;
            }
            if (!picked)
                return std::nullopt;
            fields.append(formField(attributesOf(s.captured(1)).value(QStringLiteral("name")), *picked));
        }
        for (const QRegularExpressionMatch &b : button.globalMatch(f.captured(2))) {
            const QHash<QString, QString> a = attributesOf(b.captured(1));
            if (a.value(QStringLiteral("name")) == u"decision" && a.value(QStringLiteral("value")) == u"approve")
                return std::pair{formAttributes.value(QStringLiteral("action")), fields.join('&') + "&decision=approve"};
        }
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

QCoro::Task<bool> approveInBrowser(QUrl page, QString user)
{
    auto network = std::make_unique<QNetworkAccessManager>();
    network->setCookieJar(new QNetworkCookieJar(network.get()));
    network->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    const auto succeeded = [](QNetworkReply *reply) {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        return reply->error() == QNetworkReply::NoError && status >= 200 && status < 300;
    };

    std::unique_ptr<QNetworkReply> pageReply(co_await network->get(QNetworkRequest(page)));
    if (!succeeded(pageReply.get()))
        co_return false;
    const QUrl landed = pageReply->url();
    const auto form = fillForm(QString::fromUtf8(pageReply->readAll()), user);
    if (!form)
        co_return false;

    QNetworkRequest submit(landed.resolved(QUrl(form->first)));
    submit.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    submit.setRawHeader("Origin", landed.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment)
                                      .toString(QUrl::FullyEncoded)
                                      .toUtf8());
    submit.setRawHeader("Referer", landed.toString(QUrl::FullyEncoded).toUtf8());
    submit.setRawHeader("Sec-Fetch-Site", "same-origin");
    std::unique_ptr<QNetworkReply> submitted(co_await network->post(submit, form->second));
    co_return succeeded(submitted.get());
}
