#include "errors.h"

#include <QCoreApplication>

namespace {
QString tr(const char *text)
{
    return QCoreApplication::translate("NativeClientError", text);
}
} // namespace

UserFacingError::UserFacingError(QString description)
    : m_description(std::move(description)), m_utf8(m_description.toUtf8())
{
}

NativeClientError NativeClientError::invalidAddress()
{
    return NativeClientError(tr("Enter your server\u2019s HTTPS address, without a page path."));
}
NativeClientError NativeClientError::invalidPath() { return NativeClientError(tr("Invalid server path.")); }
NativeClientError NativeClientError::invalidLimit() { return NativeClientError(tr("Invalid response size limit.")); }
NativeClientError NativeClientError::invalidResponse() { return NativeClientError(tr("Invalid server response.")); }
NativeClientError NativeClientError::responseTooLarge()
{
    return NativeClientError(tr("The server response is too large."));
}
NativeClientError NativeClientError::sessionEnded()
{
    return NativeClientError(tr("Your session has ended. Sign out and sign in again."));
}
NativeClientError NativeClientError::featureMissing()
{
    return NativeClientError(tr("This server does not support this native feature yet."));
}
NativeClientError NativeClientError::notCompleted(qint64 status)
{
    return NativeClientError(
        tr("The request could not be completed (%1). Your changes have not been confirmed.").arg(status));
}
NativeClientError NativeClientError::unsupportedResponse()
{
    return NativeClientError(tr("The server returned an unsupported response."));
}
NativeClientError NativeClientError::keychainUpdateFailed()
{
    return NativeClientError(tr("Could not update this session in Keychain."));
}
NativeClientError NativeClientError::keychainSaveFailed()
{
    return NativeClientError(tr("Could not save this session in Keychain."));
}
NativeClientError NativeClientError::liveRefused()
{
    return NativeClientError(tr("The live connection was refused. Reconnect to refresh your session."));
}
NativeClientError NativeClientError::liveTooLarge()
{
    return NativeClientError(tr("The live update is too large. Reconnect to refresh it."));
}
NativeClientError NativeClientError::liveInvalidText()
{
    return NativeClientError(tr("The live connection returned invalid text."));
}
NativeClientError NativeClientError::exportDestinationInvalid()
{
    return NativeClientError(tr("Invalid export destination."));
}
NativeClientError NativeClientError::exportFailed()
{
    return NativeClientError(tr("The export could not be completed. Refresh your session and try again."));
}
NativeClientError NativeClientError::signInStartFailed()
{
    return NativeClientError(tr("Could not start secure sign-in."));
}
NativeClientError NativeClientError::signInResponseInvalid()
{
    return NativeClientError(tr("Invalid sign-in response."));
}
NativeClientError NativeClientError::browserOpenFailed()
{
    return NativeClientError(tr("Could not open your browser."));
}
NativeClientError NativeClientError::signInExpired()
{
    return NativeClientError(tr("Sign-in expired. Please try again."));
}
NativeClientError NativeClientError::signInRefused()
{
    return NativeClientError(tr("Sign-in expired or was refused. Please try again."));
}

void NativeClientError::throwForStatus(qint64 status)
{
    if (status >= 200 && status <= 299)
        return;
    if (status == 303 || status == 401)
        throw sessionEnded();
    if (status == 404)
        throw featureMissing();
    throw notCompleted(status);
}

TransportError::TransportError(Kind kind, QString description)
    : UserFacingError(std::move(description)), m_kind(kind)
{
}

CancellationError::CancellationError()
    : UserFacingError(QCoreApplication::translate("CancellationError", "The operation was cancelled."))
{
}

QString describeError(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const UserFacingError &e) {
        return e.description();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QCoreApplication::translate("NativeClientError", "An unexpected error occurred.");
    }
}
