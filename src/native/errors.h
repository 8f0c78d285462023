#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// Every error the app shows carries exactly one user-facing sentence; views show description() and
// never parse it.
class UserFacingError : public std::exception {
public:
    explicit UserFacingError(QString description);
    const QString &description() const noexcept { return m_description; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_description;
    QByteArray m_utf8;
};

// A failure the client library detects itself: one final English sentence, nothing else.
class NativeClientError : public UserFacingError {
public:
    using UserFacingError::UserFacingError;

    static NativeClientError invalidAddress();          // the typed address is not a valid origin
    static NativeClientError invalidPath();             // the path leaves the origin or is malformed
    static NativeClientError invalidLimit();            // maxBytes outside 1 … 2^28
    static NativeClientError invalidResponse();         // the answer is not an HTTP response
    static NativeClientError responseTooLarge();        // the body grew past maxBytes
    static NativeClientError sessionEnded();            // 303 or 401
    static NativeClientError featureMissing();          // 404
    static NativeClientError notCompleted(qint64 status);
    static NativeClientError unsupportedResponse();     // a 2xx body that does not decode
    static NativeClientError keychainUpdateFailed();
    static NativeClientError keychainSaveFailed();
    static NativeClientError liveRefused();
    static NativeClientError liveTooLarge();
    static NativeClientError liveInvalidText();
    static NativeClientError exportDestinationInvalid();
    static NativeClientError exportFailed();
    static NativeClientError signInStartFailed();
    static NativeClientError signInResponseInvalid();
    static NativeClientError browserOpenFailed();
    static NativeClientError signInExpired();
    static NativeClientError signInRefused();

    // Throws the sentence for a status outside 200…299; returns for a success.
    static void throwForStatus(qint64 status);
};

// A failure of the network layer (no route, TLS, reset, time-out), with the network layer's own
// description unchanged.
class TransportError : public UserFacingError {
public:
    enum class Kind { Failure, TimedOut };
    TransportError(Kind kind, QString description);
    Kind kind() const noexcept { return m_kind; }

private:
    Kind m_kind;
};

// The operation was stopped through its std::stop_token (or its owner went away) before it finished.
class CancellationError : public UserFacingError {
public:
    CancellationError();
};

// The user-facing description of any exception: ours carry one; anything else gets a plain sentence.
QString describeError(std::exception_ptr error);
