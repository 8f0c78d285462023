#include "native_sign_in_view.h"

#include "clock.h"
#include "loopback_peer.h"
#include "memory_secret_store.h"
#include "preferences.h"
#include "server_text.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString badAddress = QStringLiteral("ftp://example.com/page");

// One connection against a scripted server that answers the start request (or never does), and the
// view on it; the browser records what it was asked to open and answers `accept`.
struct Harness {
    QTemporaryDir folder;
    Preferences preferences{std::make_unique<QSettings>(folder.filePath("prefs.ini"), QSettings::IniFormat)};
    MemorySecretStore secrets;
    SystemClock clock;
    LoopbackPeer peer;
    QList<QUrl> opened;
    bool accept = true;
    NativeConnection connection{peer.origin(), {preferences, secrets, clock, {}, QStringLiteral("app.teodal.calendar")}};
    NativeSignInView view{QStringLiteral("Teodal Calendar"), QStringLiteral("calendar"), connection,
                          [this](QUrl url) -> QCoro::Task<bool> {
                              opened.append(url);
                              co_return accept;
                          }};

    explicit Harness(bool serverAnswers = true)
    {
        const QByteArray id = QByteArray(32, 'Z').toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
        peer.route("POST", "/native/request",
                   serverAnswers ? PeerAnswer::json(200, "{\"id\":\"" + id + "\"}") : PeerAnswer::never());
        peer.route("POST", "/native/exchange", PeerAnswer(202));
        view.resize(600, 700);
    }
    template <typename T = QWidget>
    T *item(const char *name) const
    {
        auto *widget = view.findChild<T *>(QString::fromLatin1(name));
        if (!widget)
            qFatal("no widget named %s", name);
        return widget;
    }
    bool shown(const char *name) const { return item(name)->isVisibleTo(&view); }
    QLineEdit *address() const { return item<QLineEdit>("serverAddress"); }
    void typeAddress(const QString &text)
    {
        address()->selectAll();
        QTest::keyClicks(address(), text);
    }
};

enum class Scenario { Fresh, BadAddress, Retried, Starting, Waiting, Cancelled, BrowserRefused };

// Drives the harness into the scenario the way a person would, through the view's own controls.
void enter(Harness &h, Scenario scenario)
{
    QTRY_VERIFY(!h.connection.restoring());
    if (scenario == Scenario::Fresh)
        return;
    if (scenario == Scenario::BadAddress || scenario == Scenario::Retried)
        h.typeAddress(badAddress);
    h.accept = scenario != Scenario::BrowserRefused;
    QTest::mouseClick(h.item("signIn"), Qt::LeftButton);
    if (scenario == Scenario::Starting)
        QVERIFY(h.peer.waitForRequests(1));
    else if (scenario == Scenario::Waiting || scenario == Scenario::Cancelled)
        QTRY_VERIFY(h.connection.browserURL().isValid());
    else
        QTRY_VERIFY(!h.connection.error().isEmpty());
    if (scenario == Scenario::Cancelled)
        QTest::mouseClick(h.item("cancel"), Qt::LeftButton);
    if (scenario == Scenario::Retried) {
        h.typeAddress(h.peer.origin());
        QTest::keyClick(h.address(), Qt::Key_Return);
    }
}

} // namespace

class SignInViewTest : public QObject {
    Q_OBJECT
private slots:
    // `items`: which of the state-dependent items show; the error line shows exactly when `error` is set.
    void showsTheItemsOfEachState_data()
    {
        QTest::addColumn<Scenario>("scenario");
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QString>("error");
        const QStringList form{"addressForm"}, waiting{"waiting"};
        QTest::newRow("signed out") << Scenario::Fresh << form << QString();
        QTest::newRow("unusable address") << Scenario::BadAddress << form
                                          << QStringLiteral("Enter your server\u2019s HTTPS address, without a page path.");
        QTest::newRow("new attempt after an error") << Scenario::Retried << waiting << QString();
        QTest::newRow("request sent, no code yet") << Scenario::Starting << waiting << QString();
        QTest::newRow("code and page known") << Scenario::Waiting << QStringList{"waiting", "code", "openBrowserAgain"}
                                             << QString();
        QTest::newRow("cancelled while waiting") << Scenario::Cancelled << form << QString();
        QTest::newRow("browser refused the page") << Scenario::BrowserRefused << form
                                                  << QStringLiteral("Could not open your browser.");
    }

    void showsTheItemsOfEachState()
    {
        QFETCH(Scenario, scenario);
        QFETCH(QStringList, items);
        QFETCH(QString, error);
        Harness h(scenario != Scenario::Starting && scenario != Scenario::Retried);
        enter(h, scenario);

        QVERIFY(h.shown("title") && h.shown("tagline"));
        for (const char *name : {"addressForm", "waiting", "openBrowserAgain"})
            QVERIFY2(h.shown(name) == items.contains(QLatin1String(name)), name);
        QCOMPARE(h.shown("code") && !h.item<QLabel>("code")->text().isEmpty(), items.contains(QStringLiteral("code")));
        QCOMPARE(h.item<QLabel>("code")->text(), h.connection.code());
        QCOMPARE(h.shown("signInError"), !error.isEmpty());
        QCOMPARE(h.item<QLabel>("errorText")->accessibleName(), error);
        QCOMPARE(h.address()->text(), scenario == Scenario::BadAddress ? badAddress : h.peer.origin());

        // "Open browser again" opens the very page the first attempt opened.
        if (h.shown("openBrowserAgain")) {
            QTest::mouseClick(h.item("openBrowserAgain"), Qt::LeftButton);
            QCOMPARE(h.opened.size(), 2);
            QCOMPARE(h.opened.at(1), h.opened.at(0));
        }
    }

    // Return in the address field and the "Sign in" button start one and the same sign-in: the
    // connection's published changes match step for step.
    void returnAndTheButtonStartTheSameSignIn_data()
    {
        QTest::addColumn<QString>("address"); // empty: the server's own
        QTest::newRow("usable address") << QString();
        QTest::newRow("unusable address") << QStringLiteral("https://example.com/path");
    }

    void returnAndTheButtonStartTheSameSignIn()
    {
        QFETCH(QString, address);
        QList<QStringList> traces;
        for (bool byReturn : {true, false}) {
            QStringList trace;
            Harness h;
            enter(h, Scenario::Fresh);
            if (!address.isEmpty())
                h.typeAddress(address);
            for (const auto &[name, signal] : {std::pair{"signingIn", &NativeConnection::signingInChanged},
                                               {"code", &NativeConnection::codeChanged},
                                               {"browserURL", &NativeConnection::browserURLChanged},
                                               {"error", &NativeConnection::errorChanged}})
                connect(&h.connection, signal, [&trace, name = name] { trace << QString::fromLatin1(name); });
            if (byReturn)
                QTest::keyClick(h.address(), Qt::Key_Return);
            else
                QTest::mouseClick(h.item("signIn"), Qt::LeftButton);
            QTRY_VERIFY(h.opened.size() == 1 || !h.connection.error().isEmpty());
            QTest::qWait(50);
            QCOMPARE(h.opened.size(), address.isEmpty() ? 1 : 0);
            traces << trace;
        }
        QCOMPARE(traces.at(0), traces.at(1));
    }

    // From the keyboard: the field is announced by its label; Return starts sign-in, and a second
    // Return (or the held key's repeat), wherever focus went, does not cancel it: only a deliberate
    // Space on "Cancel" does. The waiting sentence keeps its exact characters and never leaves
    // "sign-" at the end of a line.
    void waitingFromTheKeyboard()
    {
        Harness h(false);
        enter(h, Scenario::Fresh);
        QCOMPARE(QAccessible::queryAccessibleInterface(h.address())->text(QAccessible::Name),
                 QStringLiteral("Server address"));
        h.view.show();
        QApplication::setActiveWindow(&h.view);
        QVERIFY(QTest::qWaitForWindowActive(&h.view));
        h.address()->setFocus();
        QTest::keyClick(h.address(), Qt::Key_Return);
        QVERIFY(h.connection.signingIn());
        QVERIFY(QApplication::focusWidget() && h.item("waiting")->isAncestorOf(QApplication::focusWidget()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTest::keyClick(h.item("cancel"), Qt::Key_Return);
        QVERIFY(h.connection.signingIn());

        auto *sentence = h.item<SentenceLabel>("compare");
        QCOMPARE(sentence->text(), QStringLiteral("Compare this code with the one in your browser before approving sign-in."));
        for (int width = sentence->minimumSizeHint().width(); width < 700; width += 3) {
            const QStringList lines = sentence->lines(width);
            QCOMPARE(lines.join(QString()), sentence->text());
            for (const QString &line : lines)
                QVERIFY2(!line.endsWith(QLatin1Char('-')), qPrintable(QString::number(width)));
        }

        QTest::keyClick(h.item("cancel"), Qt::Key_Space);
        QVERIFY(!h.connection.signingIn());
    }
};

QTEST_MAIN(SignInViewTest)
#include "sign_in_view_test.moc"
