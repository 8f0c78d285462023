#pragma once

#include <QString>
#include <QUrl>

// Where a request for `path` (an absolute path with an optional query, "/api/…") goes: the path
// resolved against `origin`, whose scheme, host and port it keeps. Anything else, a path that would
// name another host ("//host/…", "http://…") or that does not parse, throws
// NativeClientError::invalidPath().
QUrl requestUrl(const QUrl &origin, const QString &path);
