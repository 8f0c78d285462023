#include "native_sign_in_view.h"

#include "clock.h"
#include "loopback_peer.h"
#include "memory_secret_store.h"
#include "preferences.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString addressError = QStringLiteral("Enter your server\u2019s HTTPS address, without a page path.");
const QString browserError = QStringLiteral("Could not open your browser.");

QByteArray validId()
{
    return QByteArray(32, '\x5a').toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

// One connection against a scripted server, and the view on it. The browser-open action records
// what it was asked to open and answers `accept`.
struct Harness {
    QTemporaryDir folder;
    Preferences preferences{std::make_unique<QSettings>(folder.filePath(QStringLiteral("prefs.ini")),
                                                        QSettings::IniFormat)};
    MemorySecretStore secrets;
    SystemClock clock;
    LoopbackPeer peer;
    QList<QUrl> opened;
    bool accept = true;
    std::unique_ptr<NativeConnection> connection;
    std::unique_ptr<NativeSignInView> view;

    explicit Harness(bool serverAnswers = true)
    {
        peer.route("POST", "/native/request",
                   serverAnswers ? PeerAnswer::json(200, "{\"id\":\"" + validId() + "\"}") : PeerAnswer::never());
        peer.route("POST", "/native/exchange", PeerAnswer(202));
        connection = std::make_unique<NativeConnection>(
            peer.origin(), NativeConnection::Services{preferences, secrets, clock, {}, QStringLiteral("app.teodal.calendar")});
        view = std::make_unique<NativeSignInView>(
            QStringLiteral("Teodal Calendar"), QStringLiteral("calendar"), *connection,
            [this](QUrl url) -> QCoro::Task<bool> {
                opened.append(url);
                co_return accept;
            });
        view->resize(600, 700);
    }

    template <typename T = QWidget>
    T *item(const char *name) const
    {
        auto *widget = view->findChild<T *>(QString::fromLatin1(name));
        if (!widget)
            qFatal("no widget named %s", name);
        return widget;
    }
    bool shown(const char *name) const { return item(name)->isVisibleTo(view.get()); }
    QLineEdit *address() const { return item<QLineEdit>("serverAddress"); }

    void typeAddress(const QString &text)
    {
        address()->selectAll();
        QTest::keyClicks(address(), text);
    }
};

enum class Scenario { Fresh, BadAddress, Starting, Waiting, Cancelled, BrowserRefused };

// Drives the harness into the scenario the way a person would, through the view's own controls.
void enter(Harness &h, Scenario scenario)
{
    switch (scenario) {
    case Scenario::Fresh:
        return;
    case Scenario::BadAddress:
        h.typeAddress(QStringLiteral("ftp://example.com/page"));
        QTest::mouseClick(h.item("signIn"), Qt::LeftButton);
        QTRY_VERIFY(!h.connection->error().isEmpty());
        return;
    case Scenario::Starting:
        QTest::mouseClick(h.item("signIn"), Qt::LeftButton);
        QVERIFY(h.peer.waitForRequests(1));
        return;
    case Scenario::Waiting:
    case Scenario::Cancelled:
        QTest::mouseClick(h.item("signIn"), Qt::LeftButton);
        QTRY_VERIFY(h.connection->browserURL().isValid());
        if (scenario == Scenario::Cancelled)
            QTest::mouseClick(h.item("cancel"), Qt::LeftButton);
        return;
    case Scenario::BrowserRefused:
        h.accept = false;
        QTest::mouseClick(h.item("signIn"), Qt::LeftButton);
        QTRY_VERIFY(!h.connection->error().isEmpty());
        return;
    }
}

} // namespace

class SignInViewTest : public QObject {
    Q_OBJECT
private slots:
    void showsTheItemsOfEachState_data()
    {
        QTest::addColumn<Scenario>("scenario");
        QTest::addColumn<bool>("serverAnswers");
        QTest::addColumn<bool>("form");
        QTest::addColumn<bool>("waiting");
        QTest::addColumn<bool>("code");
        QTest::addColumn<bool>("openAgain");
        QTest::addColumn<QString>("error");

        QTest::newRow("signed out") << Scenario::Fresh << true << true << false << false << false << QString();
        QTest::newRow("unusable address") << Scenario::BadAddress << true << true << false << false << false << addressError;
        QTest::newRow("request sent, no code yet") << Scenario::Starting << false << false << true << false << false << QString();
        QTest::newRow("code and page known") << Scenario::Waiting << true << false << true << true << true << QString();
        QTest::newRow("cancelled while waiting") << Scenario::Cancelled << true << true << false << false << false << QString();
        QTest::newRow("browser refused the page") << Scenario::BrowserRefused << true << true << false << false << false << browserError;
    }

    void showsTheItemsOfEachState()
    {
        QFETCH(Scenario, scenario);
        QFETCH(bool, serverAnswers);
        Harness h(serverAnswers);
        QTRY_VERIFY(!h.connection->restoring());
        const QString typed = scenario == Scenario::BadAddress ? QStringLiteral("ftp://example.com/page") : h.peer.origin();
        enter(h, scenario);

        QVERIFY(h.shown("title") && h.shown("tagline"));
        QTEST(h.shown("addressForm"), "form");
        QTEST(h.shown("waiting"), "waiting");
        QTEST(h.shown("code") && !h.item<QLabel>("code")->text().isEmpty(), "code");
        QCOMPARE(h.item<QLabel>("code")->text(), h.connection->code());
        QTEST(h.shown("openBrowserAgain"), "openAgain");
        QFETCH(QString, error);
        QCOMPARE(h.shown("signInError"), !error.isEmpty());
        QCOMPARE(h.item<QLabel>("errorText")->accessibleName(), error);
        QCOMPARE(h.address()->text(), typed);
    }

    void openBrowserAgainOpensTheSamePage()
    {
        Harness h;
        QTRY_VERIFY(!h.connection->restoring());
        enter(h, Scenario::Waiting);
        QCOMPARE(h.opened.size(), 1);
        QTest::mouseClick(h.item("openBrowserAgain"), Qt::LeftButton);
        QCOMPARE(h.opened.size(), 2);
        QCOMPARE(h.opened.at(1), h.opened.at(0));
        QCOMPARE(h.opened.at(0).path(), QStringLiteral("/native/start"));
    }

    void aNewAttemptRemovesTheErrorLine()
    {
        Harness h(false);
        QTRY_VERIFY(!h.connection->restoring());
        enter(h, Scenario::BadAddress);
        QVERIFY(h.shown("signInError"));
        h.typeAddress(h.peer.origin());
        QTest::keyClick(h.address(), Qt::Key_Return);
        QVERIFY(!h.shown("signInError"));
        QVERIFY(h.shown("waiting"));
    }

    // Return in the address field and the "Sign in" button must start one and the same sign-in:
    // the published changes they cause must match, step for step.
    void returnAndTheButtonStartTheSameSignIn_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("reachesBrowser");
        QTest::newRow("server address") << QString() << true;
        QTest::newRow("unusable address") << QStringLiteral("https://example.com/path") << false;
    }

    void returnAndTheButtonStartTheSameSignIn()
    {
        QFETCH(QString, address);
        QFETCH(bool, reachesBrowser);
        QList<QStringList> traces;
        for (bool byReturn : {true, false}) {
            QStringList trace;
            Harness h;
            QTRY_VERIFY(!h.connection->restoring());
            if (!address.isEmpty())
                h.typeAddress(address);
            const auto record = [&](const char *name) { return [&trace, name] { trace << QString::fromLatin1(name); }; };
            connect(h.connection.get(), &NativeConnection::signingInChanged, record("signingIn"));
            connect(h.connection.get(), &NativeConnection::codeChanged, record("code"));
            connect(h.connection.get(), &NativeConnection::browserURLChanged, record("browserURL"));
            connect(h.connection.get(), &NativeConnection::errorChanged, record("error"));
            if (byReturn)
                QTest::keyClick(h.address(), Qt::Key_Return);
            else
                QTest::mouseClick(h.item("signIn"), Qt::LeftButton);
            if (reachesBrowser)
                QTRY_COMPARE(h.opened.size(), 1);
            else
                QTRY_VERIFY(!h.connection->error().isEmpty());
            QTest::qWait(50);
            QCOMPARE(h.opened.size(), reachesBrowser ? 1 : 0);
            traces << trace;
        }
        QCOMPARE(traces.at(0), traces.at(1));
    }
};

QTEST_MAIN(SignInViewTest)
#include "sign_in_view_test.moc"
