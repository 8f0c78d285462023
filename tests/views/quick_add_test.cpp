#include "calendar_menu_view.h"
#include "calendar_settings_view.h"
#include "calendar_workspace.h"
#include "dates.h"
#include "quick_add_view.h"
#include "view_rig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPlainTextEdit>

namespace {

// A preview titled after the text it was asked about.
PeerAnswer previewOf(const RecordedRequest &parse, std::chrono::milliseconds delay = 0ms)
{
    const QString text = QJsonDocument::fromJson(parse.body).object().value("text").toString().trimmed();
    PeerAnswer answer = PeerAnswer::json(
        200, QStringLiteral(R"({"draft":{"calendar_id":1,"title":"%1","location":"","start_local":"2025-03-13T13:00",)"
                            R"("end_local":"2025-03-13T14:00","tz":"Europe/Madrid","all_day":false,"repeat":"",)"
                            R"("attendees":["Ann","Bo"]},"when":"Thursday 13 March, 13:00–14:00","repeat_label":"",)"
                            R"("calendar_name":"Team","assumptions":["One hour long.","In your calendar Team."]})")
                 .arg(text).toUtf8());
    answer.delay = delay;
    return answer;
}

struct Rig : ViewRig {
    QuickAddView view{model, client};

    Rig() : ViewRig(std::nullopt)
    {
        peer.setHandler([](const RecordedRequest &r) { return previewOf(r); });
        serve(sessionJson(1));
        view.resize(440, 480);
        view.show();
    }
    QPlainTextEdit *text() const { return view.findChild<QPlainTextEdit *>("quickAddText"); }
    void type(const QString &typed) { QTest::keyClicks(text(), typed); }
    QList<QJsonObject> parses() const
    {
        QList<QJsonObject> bodies;
        for (const RecordedRequest &r : peer.requests())
            if (r.path() == "/api/native/quick/parse")
                bodies.append(QJsonDocument::fromJson(r.body).object());
        return bodies;
    }
    QPushButton *saveButton() const { return view.findChild<QPushButton *>("quickAddSave"); }
};

} // namespace

class QuickAddTest : public QObject {
    Q_OBJECT
private slots:
    void parsesOncePerPauseWithTheTextAsTyped()
    {
        Rig rig;
        rig.type(" Lunch");
        QTest::qWait(200);
        rig.type(" tomorrow ");
        QVERIFY(rig.view.parsing());
        QTest::qWait(250); // 450 ms since the first keystroke, 250 since the last
        QVERIFY(rig.parses().isEmpty());
        QTRY_VERIFY(rig.view.preview());
        QCOMPARE(rig.parses().size(), 1);
        QCOMPARE(rig.parses().first().value("text").toString(), QStringLiteral(" Lunch tomorrow "));
        QCOMPARE(rig.parses().first().value("zone").toString(), rig.model.zone());
        QVERIFY(!rig.view.parsing() && rig.view.findChild<QWidget *>("quickAddPreview")->isVisible());
        QCOMPARE(rig.view.findChildren<QLabel *>("quickAddAssumption").size(), 2);

        // Only white space: nothing is sent, nothing shows.
        rig.model.setQuickText(QStringLiteral("  \n\t "));
        QVERIFY(!rig.view.parsing() && !rig.view.preview());
        QTest::qWait(500);
        QCOMPARE(rig.parses().size(), 1);
    }

    void onlyTheCurrentTextAndZoneAreShown()
    {
        Rig rig;
        rig.peer.setHandler([](const RecordedRequest &r) { return previewOf(r, r.body.contains("\"Lunch\"") ? 600ms : 0ms); });
        rig.model.setQuickText(QStringLiteral("Lunch"));
        QVERIFY(rig.peer.waitForRequests(1));
        rig.model.setQuickText(QStringLiteral("Dinner"));
        QTRY_VERIFY(rig.view.preview());
        QCOMPARE(rig.view.preview()->draft.title, QStringLiteral("Dinner"));
        QTest::qWait(700); // the answer for "Lunch" would have come by now
        QCOMPARE(rig.view.preview()->draft.title, QStringLiteral("Dinner"));

        // A zone change with text present asks again, with the new zone.
        rig.preferences.setTimeZoneOverride(QStringLiteral("Asia/Tokyo"));
        rig.model.load(rig.client);
        QTRY_COMPARE(rig.parses().size(), 3);
        QCOMPARE(rig.parses().last().value("zone").toString(), QStringLiteral("Asia/Tokyo"));
        QTRY_VERIFY(rig.view.preview());
        QCOMPARE(rig.view.findChild<QLabel *>("quickAddZone")->text(), QStringLiteral("Asia/Tokyo"));
    }

    // What the model does with a quick save is its own test's; here, what the view shows meanwhile.
    void addingKeepsThePreviewOnFailure()
    {
        Rig rig;
        rig.peer.route("POST", "/api/native/quick", PeerAnswer::json(500, "{}"));
        rig.type(QStringLiteral("Lunch"));
        QTRY_VERIFY(rig.view.preview());
        QTest::keyClick(rig.text(), Qt::Key_Return, Qt::ControlModifier);
        QTRY_COMPARE(rig.view.error(),
                     QStringLiteral("The request could not be completed (500). Your changes have not been confirmed."));
        QVERIFY(rig.view.preview() && rig.view.findChild<QWidget *>("quickAddError")->isVisible());

        rig.peer.route("POST", "/api/native/quick", PeerAnswer::json(200, R"({"id":5})").inChunks(3, 30ms));
        QTest::mouseClick(rig.saveButton(), Qt::LeftButton);
        QCOMPARE(rig.saveButton()->text(), QStringLiteral("Adding…"));
        QVERIFY(!rig.saveButton()->isEnabled() && !rig.text()->isEnabled());
        QTRY_VERIFY(!rig.model.quickSaving());
        QVERIFY(!rig.view.preview() && rig.view.findChild<QWidget *>("quickAddSaved")->isVisible());

        rig.type(QStringLiteral("D"));
        QCOMPARE(rig.model.quickSavedNotice(), QString());
    }

    void workspaceSheets()
    {
        Rig rig;
        rig.peer.route("POST", "/api/native/quick", PeerAnswer::json(200, R"({"id":5})").inChunks(3, 30ms));
        rig.model.setQuickText(QStringLiteral("Lunch"));
        CalendarWorkspace workspace(rig.model, rig.client, rig.preferences);
        workspace.show();
        workspace.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&workspace));
        QTest::keyClick(&workspace, Qt::Key_K, Qt::ControlModifier);
        QDialog *sheet = workspace.quickAddSheet();
        QVERIFY(sheet && sheet->isVisible());
        auto *view = sheet->findChild<QuickAddView *>();
        QCOMPARE(view->findChild<QPlainTextEdit *>("quickAddText")->toPlainText(), QStringLiteral("Lunch"));
        QTRY_VERIFY(view->preview());

        // While the save runs the sheet stays: "Done" is disabled and Escape is refused.
        view->save();
        auto *done = sheet->findChild<QPushButton *>("done");
        QVERIFY(rig.model.quickSaving() && !done->isEnabled());
        QTest::keyClick(sheet, Qt::Key_Escape);
        QVERIFY(sheet->isVisible());
        QTRY_VERIFY(done->isEnabled());
    }

    void trayPanel()
    {
        Rig rig;
        rig.view.hide();
        rig.serve(sessionJson(1, R"({"id":1,"name":"Team","hue":0,"writable":true})"));
        CalendarMenuView panel(rig.model, rig.client, rig.preferences);
        const auto visible = [&](const char *name) { return panel.findChild<QWidget *>(name)->isVisible(); };
        panel.show(); // every showing loads
        QTRY_VERIFY(!rig.model.calendars().isEmpty() && !rig.model.loading());
        QVERIFY(!visible("menuLoading") && visible("menuNoEvents"));

        rig.peer.route("GET", "/api/native/session", PeerAnswer::json(500, "{}"));
        panel.reload();
        QTRY_VERIFY(visible("menuError") && !visible("menuNoEvents"));
        QTest::mouseClick(panel.findChild<QPushButton *>("menuTryAgain"), Qt::LeftButton);
        QVERIFY(rig.model.loading());
    }

    void settingsFollowThePreferences()
    {
        ViewRig rig(std::nullopt);
        Preferences &preferences = rig.preferences;
        CalendarSettingsView view(preferences);
        auto *useSystem = view.findChild<QCheckBox *>("useSystemZone");
        auto *picker = view.findChild<QComboBox *>("zonePicker");
        QVERIFY(useSystem->isChecked() && picker->isHidden());
        QCOMPARE(view.findChild<QLabel *>("systemZone")->text(), QStringLiteral("America/Argentina/Buenos Aires"));

        // Fixing the zone keeps the zone in use; then another is chosen from the list.
        useSystem->click();
        QCOMPARE(preferences.timeZoneOverride(), zones::systemId());
        QVERIFY(!picker->isHidden());
        QCOMPARE(picker->currentData().toString(), zones::systemId());
        const int tokyo = picker->findData(QStringLiteral("Asia/Tokyo"));
        picker->setCurrentIndex(tokyo);
        emit picker->activated(tokyo);
        QCOMPARE(preferences.timeZoneOverride(), QStringLiteral("Asia/Tokyo"));

        // Changes made elsewhere show at once.
        preferences.setTimeZoneOverride(QStringLiteral("Europe/Lisbon"));
        QCOMPARE(picker->currentData().toString(), QStringLiteral("Europe/Lisbon"));
        preferences.setShowMenuBar(false);
        QVERIFY(!view.findChild<QCheckBox *>("showMenuBar")->isChecked());
    }
};

QTEST_MAIN(QuickAddTest)
#include "quick_add_test.moc"
