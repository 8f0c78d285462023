#include "request_url.h"

#include "errors.h"

QUrl requestUrl(const QUrl &origin, const QString &path)
{
    if (!path.startsWith(u'/') || path.startsWith(u"//"))
        throw NativeClientError::invalidPath();
    const QUrl reference(path, QUrl::StrictMode);
    if (!reference.isValid())
        throw NativeClientError::invalidPath();
    const QUrl resolved = origin.resolved(reference);
    if (!resolved.isValid() || resolved.scheme() != origin.scheme() || resolved.host() != origin.host()
        || resolved.port() != origin.port())
        throw NativeClientError::invalidPath();
    return resolved;
}
