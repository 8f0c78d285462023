#include "browser_approval.h"

#include <QCoroNetworkReply>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>

#include <memory>
#include <optional>
#include <utility>

namespace {

using Attributes = QList<std::pair<QString, QString>>;

QString decodeEntities(QString text)
{
    static const QRegularExpression numeric(QStringLiteral("&#(x?)([0-9a-fA-F]+);"));
    QString out;
    qsizetype last = 0;
    for (auto it = numeric.globalMatch(text); it.hasNext();) {
        const auto match = it.next();
        out += text.mid(last, match.capturedStart() - last);
        const bool hex = !match.captured(1).isEmpty();
        out += QChar(char16_t(match.captured(2).toUInt(nullptr, hex ? 16 : 10)));
        last = match.capturedEnd();
    }
    out += text.mid(last);
    out.replace(QLatin1String("&quot;"), QLatin1String("\""));
    out.replace(QLatin1String("&lt;"), QLatin1String("<"));
    out.replace(QLatin1String("&gt;"), QLatin1String(">"));
    out.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return out;
}

Attributes attributesOf(const QString &tag)
{
    static const QRegularExpression attribute(
        QStringLiteral(R"re(([a-zA-Z_:-]+)\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s>]+)))re"));
    Attributes out;
    for (auto it = attribute.globalMatch(tag); it.hasNext();) {
        const auto m = it.next();
        const QString value = m.capturedStart(2) >= 0 ? m.captured(2)
                              : m.capturedStart(3) >= 0 ? m.captured(3)
                                                        : m.captured(4);
        out.append({m.captured(1).toLower(), decodeEntities(value)});
    }
    return out;
}

QString attribute(const Attributes &attributes, const QString &name)
{
    for (const auto &[key, value] : attributes)
        if (key == name)
            return value;
    return {};
}

QByteArray formField(const QString &name, const QString &value)
{
    return QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value);
}

// The fields a browser would submit for the first POST form of the page, or nothing.
std::optional<std::pair<QString, QByteArray>> fillForm(const QString &html, const BrowserApproval &choice)
{
    static const QRegularExpression formTag(QStringLiteral(R"re(<form\b([^>]*)>(.*?)</form>)re"),
                                            QRegularExpression::CaseInsensitiveOption |
                                                QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression inputTag(QStringLiteral(R"re(<input\b([^>]*)>)re"),
                                             QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression selectTag(QStringLiteral(R"re(<select\b([^>]*)>(.*?)</select>)re"),
                                              QRegularExpression::CaseInsensitiveOption |
                                                  QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression optionTag(QStringLiteral(R"re(<option\b([^>]*)>(.*?)</option>)re"),
                                              QRegularExpression::CaseInsensitiveOption |
                                                  QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression buttonTag(QStringLiteral(R"re(<(?:button|input)\b([^>]*)>)re"),
                                              QRegularExpression::CaseInsensitiveOption);

    for (auto forms = formTag.globalMatch(html); forms.hasNext();) {
        const auto form = forms.next();
        const Attributes formAttributes = attributesOf(form.captured(1));
        if (attribute(formAttributes, QStringLiteral("method")).toLower() != QLatin1String("post"))
            continue;
        const QString body = form.captured(2);
        QList<QByteArray> fields;
        for (auto inputs = inputTag.globalMatch(body); inputs.hasNext();) {
            const Attributes input = attributesOf(inputs.next().captured(1));
            if (attribute(input, QStringLiteral("type")).toLower() == QLatin1String("hidden"))
                fields.append(formField(attribute(input, QStringLiteral("name")), attribute(input, QStringLiteral("value"))));
        }
        for (auto selects = selectTag.globalMatch(body); selects.hasNext();) {
            const auto select = selects.next();
            const QString name = attribute(attributesOf(select.captured(1)), QStringLiteral("name"));
            std::optional<QString> picked;
            for (auto options = optionTag.globalMatch(select.captured(2)); options.hasNext();) {
                const auto option = options.next();
                const Attributes optionAttributes = attributesOf(option.captured(1));
                const QString label = decodeEntities(option.captured(2)).trimmed();
                const QString value = optionAttributes.isEmpty() ? label : attribute(optionAttributes, QStringLiteral("value"));
                if (!picked && (choice.user.isEmpty() || choice.user == value || choice.user == label))
                    picked = value;
            }
            if (!picked)
                return std::nullopt;
            fields.append(formField(name, *picked));
        }
        bool decided = false;
        for (auto buttons = buttonTag.globalMatch(body); buttons.hasNext();) {
            const Attributes button = attributesOf(buttons.next().captured(1));
            if (attribute(button, QStringLiteral("name")) == QLatin1String("decision") &&
                attribute(button, QStringLiteral("value")) == choice.decision) {
                fields.append(formField(QStringLiteral("decision"), choice.decision));
                decided = true;
                break;
            }
        }
        if (!decided)
            return std::nullopt;
        return std::pair{attribute(formAttributes, QStringLiteral("action")), fields.join('&')};
    }
    return std::nullopt;
}

} // namespace

QCoro::Task<bool> approveInBrowser(QUrl page, BrowserApproval choice)
{
    auto network = std::make_unique<QNetworkAccessManager>();
    network->setCookieJar(new QNetworkCookieJar(network.get()));
    network->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);

    QNetworkRequest load(page);
    std::unique_ptr<QNetworkReply> pageReply(co_await network->get(load));
    const int pageStatus = pageReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (pageReply->error() != QNetworkReply::NoError || pageStatus != 200)
        co_return false;
    const QUrl landed = pageReply->url();
    const auto form = fillForm(QString::fromUtf8(pageReply->readAll()), choice);
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
    const int status = submitted->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    co_return submitted->error() == QNetworkReply::NoError && status >= 200 && status < 300;
}
