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
    }
    template <typename T = QWidget>
    T *item(const char *name) const
    {
        if (auto *widget = view.findChild<T *>(QString::fromLatin1(name)))
            return widget;
        qFatal("no widget named %s", name);
    }
    bool shown(const char *name) const { return item(name)->isVisibleTo(&view); }
    QLineEdit *address() const { return item<QLineEdit>("serverAddress"); }
    void typeAddress(const QString &text)
    {
        address()->selectAll();
        QTest::keyClicks(address(), text);
    }
};

} // namespace

class SignInViewTest : public QObject {
    Q_OBJECT
private slots:
    // A person's way through the view: an unusable address (entered with Return), a new attempt,
    // "Open browser again", "Cancel", and a browser that refuses the page. At each step exactly
    // `items` of the state-dependent items show, and the error line shows exactly `error`.
    void showsTheItemsOfEachState()
    {
        Harness h;
        const auto expect = [&](const QStringList &items, const QString &error) {
            for (const char *name : {"addressForm", "waiting", "code", "openBrowserAgain"})
                QVERIFY2(h.shown(name) == items.contains(QLatin1String(name)), name);
            QCOMPARE(h.item<QLabel>("code")->text(), h.connection.code());
            QCOMPARE(h.shown("signInError"), !error.isEmpty());
            QCOMPARE(h.item<QLabel>("errorText")->accessibleName(), error);
        };
        QTRY_VERIFY(!h.connection.restoring());
        expect({"addressForm"}, {});
        QCOMPARE(h.address()->text(), h.peer.origin());

        h.typeAddress(QStringLiteral("ftp://example.com/page"));
        QTest::keyClick(h.address(), Qt::Key_Return);
        QTRY_VERIFY(!h.connection.error().isEmpty());
        expect({"addressForm"}, QStringLiteral("Enter your server\u2019s HTTPS address, without a page path."));

        h.typeAddress(h.peer.origin());
        QTest::mouseClick(h.item("signIn"), Qt::LeftButton);
        QTRY_VERIFY(h.connection.browserURL().isValid());
        expect({"waiting", "code", "openBrowserAgain"}, {});
        QVERIFY(!h.connection.code().isEmpty());
        QTest::mouseClick(h.item("openBrowserAgain"), Qt::LeftButton); // the very page the first attempt opened
        QCOMPARE(h.opened, QList<QUrl>(2, h.opened.first()));

        QTest::mouseClick(h.item("cancel"), Qt::LeftButton);
        expect({"addressForm"}, {});
        h.accept = false;
        QTest::mouseClick(h.item("signIn"), Qt::LeftButton);
        QTRY_VERIFY(!h.connection.error().isEmpty());
        expect({"addressForm"}, QStringLiteral("Could not open your browser."));
    }

    // From the keyboard: the field is announced by its label; Return starts sign-in, and a second
    // Return (or the held key's repeat), wherever focus went, does not cancel it: only a deliberate
    // Space on "Cancel" does. The waiting sentence keeps its text and never leaves "sign-" at the end
    // of a line.
    void waitingFromTheKeyboard()
    {
        Harness h(false);
        QTRY_VERIFY(!h.connection.restoring());
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
        for (int width = sentence->minimumSizeHint().width(); width < 700; width += 3) {
            const QStringList lines = sentence->lines(width);
            QVERIFY2(lines.join(QString()) == sentence->text() && !lines.join(u'|').contains(u"-|"),
                     qPrintable(QString::number(width)));
        }

        QTest::keyClick(h.item("cancel"), Qt::Key_Space);
        QVERIFY(!h.connection.signingIn());
    }
};

QTEST_MAIN(SignInViewTest)
#include "sign_in_view_test.moc"
