#pragma once

#include "native_connection.h"

#include <QScrollArea>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QWidget;

// The screen shown while the app has no signed-in client: the server address and "Sign in", then the
// verification code while the browser approval is pending, and the last sign-in error. While the
// connection is still reading the stored session it shows only a progress indicator. Everything it
// shows comes from the connection; it keeps no state of its own.
class NativeSignInView : public QScrollArea {
    Q_OBJECT
public:
    // Opens the URL with QDesktopServices; yields whether the desktop accepted it.
    static NativeConnection::OpenUrl desktopOpenUrl();

    // `name` is shown as the title, `systemImage` names the icon above it ("calendar" draws a
    // calendar page). `open` reaches the browser; tests pass their own.
    NativeSignInView(const QString &name, const QString &systemImage, NativeConnection &connection,
                     NativeConnection::OpenUrl open = desktopOpenUrl(), QWidget *parent = nullptr);
    ~NativeSignInView() override;

private:
    void signIn();
    void openBrowserAgain();
    void syncAddress();
    void syncState();

    NativeConnection &m_connection;
    NativeConnection::OpenUrl m_open;

    QWidget *m_restoring = nullptr;

    QWidget *m_form = nullptr;
    QLineEdit *m_address = nullptr;
    QPushButton *m_signIn = nullptr;

    QWidget *m_waiting = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_code = nullptr;
    QPushButton *m_openAgain = nullptr;
    QPushButton *m_cancel = nullptr;

    QWidget *m_error = nullptr;
    QLabel *m_errorText = nullptr;
};
