#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

struct StoredUser;

namespace signin {
constexpr qint64 requestLifetimeSeconds = 5 * 60; // an approval link lasts five minutes

QString base64url(const QByteArray &bytes);
// 32 fresh random bytes as canonical unpadded Base64url (43 characters).
QString randomToken();
// Exactly the canonical unpadded Base64url text of 32 bytes.
bool validToken(const QString &text);
// RFC 7636 verifier: 43 to 128 characters of A-Z a-z 0-9 - . _ ~
bool validVerifier(const QString &text);
QString challengeOf(const QString &verifier); // S256
// SHA-256 of the id, first four bytes in upper-case hex with a hyphen in the middle: "1A2B-3C4D".
QString verificationCode(const QString &id);
// What the database keeps instead of a session's value.
QString tokenHash(const QString &token);
bool sameText(const QString &a, const QString &b); // compares in constant time for equal lengths

QString escapeHtml(const QString &text);
// The approval page: one <form method="post" action="/native/start"> with hidden inputs "id" and
// "csrf", a <select name="user"> of the demo users and two submit buttons named "decision" with
// the values "approve" and "deny".
QByteArray approvalPage(const QString &id, const QString &csrf, const std::vector<StoredUser> &users);
// A short page with a heading and one paragraph (results and errors of the approval).
QByteArray messagePage(const QString &heading, const QString &message);
} // namespace signin
