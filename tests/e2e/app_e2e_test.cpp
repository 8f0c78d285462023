// The whole app against the development server: sign in through the approval page as a person's
// browser would, see the seeded calendar, open an event, create and change events, add one by
// sentence, change the zone, sign out.
#include "calendar_app.h"

#include "browser_approval.h"
#include "calendar_agenda.h"
#include "calendar_model.h"
#include "calendar_workspace.h"
#include "clock.h"
#include "errors.h"
#include "event_details_dialog.h"
#include "event_editor.h"
#include "quick_add_view.h"
#include "memory_secret_store.h"
#include "native_sign_in_view.h"
#include "preferences.h"
#include "run_task.h"
#include "virtual_clock.h"
#include "system_time_zone_watcher.h"
#include "wall_clock_edit.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoroTimer>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;

namespace {

// Answers like a platform store does: later, from the event loop; while `stalled`, reads wait (a
// locked keyring showing its unlock prompt).
class SlowSecretStore final : public SecretStore {
public:
    MemorySecretStore inner;
    bool stalled = false;
    QCoro::Task<ReadResult> read(QString service, QString account) override
    {
        do
            co_await QCoro::sleepFor(100ms);
        while (stalled);
        co_return co_await inner.read(service, account);
    }
    QCoro::Task<bool> write(QString service, QString account, QByteArray data) override
    {
        co_await QCoro::sleepFor(100ms);
        co_return co_await inner.write(service, account, data);
    }
    QCoro::Task<bool> remove(QString service, QString account) override
    {
        co_await QCoro::sleepFor(100ms);
        co_return co_await inner.remove(service, account);
    }
};

const QColor accent = QColor::fromRgbF(0.78f, 0.22f, 0.29f);

std::unique_ptr<Preferences> preferencesIn(const QTemporaryDir &folder)
{
    return std::make_unique<Preferences>(
        std::make_unique<QSettings>(folder.filePath(QStringLiteral("prefs.ini")), QSettings::IniFormat));
}

// The agenda row showing the event with this title, or -1.
int agendaRow(const CalendarWorkspace &workspace, const QString &title)
{
    const QList<CalendarAgendaModel::Row> rows = workspace.agendaList()->agendaModel()->rows();
    for (qsizetype i = 0; i < rows.size(); ++i)
        if (workspace.agendaList()->isVisible() && rows.at(i).event.title == title)
            return int(i);
    return -1;
}

void clickRow(const CalendarWorkspace &workspace, int row)
{
    CalendarAgendaList *list = workspace.agendaList();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(row, 0)).center());
}

std::optional<CalendarEvent> loadedEvent(const CalendarModel &model, const QString &title)
{
    for (const CalendarEvent &event : model.events())
        if (event.title == title)
            return event;
    return std::nullopt;
}

// Types at the end of a field of the open editor and saves; the editor closes once the server took it.
void retitleAndSave(CalendarWorkspace &workspace, const QString &suffix)
{
    QPointer<EventEditor> editor = workspace.editor();
    QVERIFY(editor);
    auto *title = editor->findChild<QLineEdit *>(QStringLiteral("eventTitle"));
    QTest::keyClick(title, Qt::Key_End);
    QTest::keyClicks(title, suffix);
    QTest::mouseClick(editor->findChild<QPushButton *>(QStringLiteral("save")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!editor || !editor->isVisible(), 10000);
    QCOMPARE(editor ? editor->error() : QString(), QString());
}

// Creates an event, moves it, and renames an event of another zone without touching its times.
void editEvents(CalendarWorkspace &workspace, CalendarModel &model)
{
    workspace.newEventAction()->trigger();
    retitleAndSave(workspace, QStringLiteral("Design review"));
    QTRY_VERIFY_WITH_TIMEOUT(agendaRow(workspace, QStringLiteral("Design review")) >= 0, 10000);

    std::optional<CalendarEvent> created = loadedEvent(model, QStringLiteral("Design review"));
    QVERIFY(created);
    QVERIFY(created->start_local.endsWith(QLatin1String("T09:00")));
    workspace.edit(*created);
    auto *ends = workspace.editor()->findChild<WallClockEdit *>(QStringLiteral("endsPicker"));
    auto *starts = workspace.editor()->findChild<WallClockEdit *>(QStringLiteral("startsPicker"));
    ends->setDateTime(ends->dateTime().addSecs(3600));
    starts->setDateTime(starts->dateTime().addSecs(3600));
    retitleAndSave(workspace, QStringLiteral(" (moved)"));
    QTRY_VERIFY_WITH_TIMEOUT(loadedEvent(model, QStringLiteral("Design review (moved)")), 10000);
    const CalendarEvent moved = *loadedEvent(model, QStringLiteral("Design review (moved)"));
    QCOMPARE(moved.start_local, QString(created->start_local).replace(QLatin1String("T09:00"), QLatin1String("T10:00")));
    QCOMPARE(moved.start - created->start, 3600);

    // An event kept in New York time, renamed through its details' "Edit event".
    const std::optional<CalendarEvent> call = loadedEvent(model, QStringLiteral("Customer call"));
    QVERIFY(call && call->tz == QLatin1String("America/New_York") && call->tz != model.zone());
    model.setDate(instantFromSeconds(call->start));
    QTRY_VERIFY(agendaRow(workspace, call->title) >= 0);
    clickRow(workspace, agendaRow(workspace, call->title));
    QTRY_VERIFY(workspace.detailsDialog());
    QTest::mouseClick(workspace.detailsDialog()->findChild<QPushButton *>(QStringLiteral("editEvent")), Qt::LeftButton);
    QTRY_VERIFY(workspace.editor() && workspace.editor()->calendarEvent().id == call->id);
    retitleAndSave(workspace, QStringLiteral(" (renamed)"));
    QTRY_VERIFY_WITH_TIMEOUT(loadedEvent(model, QStringLiteral("Customer call (renamed)")), 10000);
    const CalendarEvent renamed = *loadedEvent(model, QStringLiteral("Customer call (renamed)"));
    QCOMPARE(std::tuple(renamed.start_local, renamed.end_local, renamed.tz, renamed.start),
             std::tuple(call->start_local, call->end_local, call->tz, call->start));
}

// Adds an event by sentence through the quick add sheet, then fixes the zone in the settings sheet.
void quickAddThenChangeZone(CalendarWorkspace &workspace, CalendarModel &model)
{
    workspace.quickAddAction()->trigger();
    QPointer<QDialog> sheet = workspace.quickAddSheet();
    QVERIFY(sheet);
    auto *view = sheet->findChild<QuickAddView *>();
    QTest::keyClicks(view->findChild<QPlainTextEdit *>(QStringLiteral("quickAddText")),
                     QStringLiteral("Dentist tomorrow at 3pm at Smile Clinic"));
    QTRY_VERIFY_WITH_TIMEOUT(view->preview(), 10000);
    QCOMPARE(view->preview()->draft.location, QStringLiteral("Smile Clinic"));
    QCOMPARE(view->preview()->assumptions, QStringList{QStringLiteral("No end time given: one hour assumed.")});
    QTest::mouseClick(view->findChild<QPushButton *>(QStringLiteral("quickAddSave")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!model.quickSaving(), 10000);
    QCOMPARE(model.quickSavedNotice(), QStringLiteral("Added Dentist."));
    QTRY_VERIFY_WITH_TIMEOUT(agendaRow(workspace, QStringLiteral("Dentist")) >= 0, 10000);
    QTest::mouseClick(sheet->findChild<QPushButton *>(QStringLiteral("done")), Qt::LeftButton);
    QTRY_VERIFY(!sheet);

    QTest::mouseClick(workspace.findChild<QPushButton *>(QStringLiteral("settings")), Qt::LeftButton);
    QDialog *settings = workspace.settingsSheet();
    QVERIFY(settings);
    settings->findChild<QCheckBox *>(QStringLiteral("useSystemZone"))->click();
    auto *picker = settings->findChild<QComboBox *>(QStringLiteral("zonePicker"));
    const int tokyo = picker->findData(QStringLiteral("Asia/Tokyo"));
    picker->setCurrentIndex(tokyo);
    emit picker->activated(tokyo);
    QTRY_COMPARE_WITH_TIMEOUT(model.zone(), QStringLiteral("Asia/Tokyo"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!model.loading() && model.error().isEmpty(), 10000);
    QCOMPARE(model.calendar().zoneId(), QStringLiteral("Asia/Tokyo"));
    QTest::mouseClick(settings->findChild<QPushButton *>(QStringLiteral("done")), Qt::LeftButton);
}

bool showsLabel(QWidget *root, const QString &text)
{
    for (QLabel *label : root->findChildren<QLabel *>())
        if (label->isVisible() && QString(label->text()).remove(QChar(0x200B)) == text)
            return true;
    return false;
}

} // namespace

class AppEndToEndTest : public QObject {
    Q_OBJECT
    QProcess m_server;
    QString m_origin;

private slots:
    void initTestCase()
    {
        m_server.setProgram(QStringLiteral(TEODAL_DEVSERVER));
        m_server.setArguments({"--port", "0", "--database", ":memory:"});
        m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_server.start();
        QVERIFY2(m_server.waitForStarted(), qPrintable(m_server.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(m_server.canReadLine(), 10000);
        m_origin = QString::fromUtf8(m_server.readLine()).trimmed();
        QVERIFY2(m_origin.startsWith(QLatin1String("http://")), qPrintable(m_origin));
    }

    void cleanupTestCase()
    {
        // Views replaced at sign-out still hold a client (and its open connection) until their
        // deferred deletion; the server waits for open connections before it stops.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_server.terminate();
        if (!m_server.waitForFinished(5000)) {
            m_server.kill();
            m_server.waitForFinished();
            QFAIL("the development server did not stop on SIGTERM");
        }
    }

    void signInSeeTheCalendarAndSignOut()
    {
        QTemporaryDir folder;
        auto *secrets = new MemorySecretStore;
        QList<QUrl> opened;
        CalendarApp app({.preferences = preferencesIn(folder),
                         .secrets = std::unique_ptr<SecretStore>(secrets),
                         .clock = std::make_unique<VirtualClock>(),
                         .openUrl = [&opened](QUrl page) {
                             opened.append(page);
                             return approveInBrowser(page);
                         },
                         .defaultServer = m_origin});
        app.show();
        QMainWindow *window = app.window();
        QCOMPARE(window->objectName(), QStringLiteral("calendar"));
        QCOMPARE(window->windowTitle(), QStringLiteral("Calendar"));
        QCOMPARE(window->size(), QSize(1080, 800));
        window->resize(300, 200);
        QCOMPARE(window->centralWidget()->size(), QSize(780, 650)); // the content, below the menu
        window->resize(1080, 800);

        // Signed out: the sign-in view offers the default server.
        QTRY_VERIFY(window->findChild<NativeSignInView *>());
        auto *view = window->findChild<NativeSignInView *>();
        QCOMPARE(view->palette().color(QPalette::Highlight), accent);
        QCOMPARE(view->findChild<QLineEdit *>(QStringLiteral("serverAddress"))->text(), m_origin);
        QTest::mouseClick(view->findChild<QPushButton *>(QStringLiteral("signIn")), Qt::LeftButton);

        // The browser approves; the calendar replaces the sign-in view.
        QTRY_VERIFY_WITH_TIMEOUT(window->findChild<CalendarWorkspace *>(), 15000);
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened.at(0).path(), QStringLiteral("/native/start"));
        QTRY_VERIFY(!window->findChild<NativeSignInView *>());
        QCOMPARE(secrets->items.size(), 1);
        QCOMPARE(window->findChild<CalendarWorkspace *>()->palette().color(QPalette::Highlight), accent);

        // A restart with the stored session goes straight to the calendar, never through sign-in.
        {
            auto restartSecrets = std::make_unique<SlowSecretStore>();
            restartSecrets->inner.items = secrets->items;
            CalendarApp restarted({.preferences = preferencesIn(folder),
                                   .secrets = std::move(restartSecrets),
                                   .defaultServer = QStringLiteral("https://calendar.example")});
            restarted.show();
            bool sawSignIn = false;
            QTRY_VERIFY((sawSignIn |= restarted.window()->findChild<NativeSignInView *>() != nullptr,
                         restarted.window()->findChild<CalendarWorkspace *>() != nullptr));
            QVERIFY(!sawSignIn);
            QCOMPARE(restarted.connection().client()->origin(), NativeHTTP::origin(m_origin));
        }
        QCOMPARE(opened.size(), 1);

        auto *workspace = window->findChild<CalendarWorkspace *>();
        CalendarModel &model = app.model();
        QTRY_VERIFY_WITH_TIMEOUT(!model.calendars().isEmpty() && !model.loading(), 10000);
        emit app.zoneWatcher().changed(); // the system zone changed: the shown calendar reloads
        QVERIFY(model.loading());
        QTRY_VERIFY_WITH_TIMEOUT(!model.loading(), 10000);
        QCOMPARE(model.error(), QString());

        // Every seeded calendar is in the sidebar.
        auto *sidebar = workspace->findChild<QListWidget *>(QStringLiteral("calendarFilter"));
        QVERIFY(sidebar);
        for (const TeamCalendar &calendar : model.calendars())
            QVERIFY2(!sidebar->findItems(calendar.name, Qt::MatchExactly).isEmpty(), qPrintable(calendar.name));

        // The current month's events are loaded; choose a day that has some.
        const QList<Instant> days = model.days();
        const auto busyDay = std::find_if(days.cbegin(), days.cend(), [&](Instant day) {
            return model.calendar().sameMonth(day, instantNow()) && !model.dayEvents(day).isEmpty();
        });
        QVERIFY2(busyDay != days.cend(), "no events in the current month");
        const CalendarEvent event = model.dayEvents(*busyDay).first();
        model.setDate(*busyDay);

        // Open the event from the day's agenda and close its details.
        QTRY_VERIFY(agendaRow(*workspace, event.title) >= 0);
        clickRow(*workspace, agendaRow(*workspace, event.title));
        QTRY_VERIFY(workspace->detailsDialog() && workspace->detailsDialog()->isVisible());
        QPointer<QDialog> details = workspace->detailsDialog();
        QVERIFY(showsLabel(details, event.title));
        QVERIFY(showsLabel(details, event.calendar_name));
        QTest::mouseClick(details->findChild<QPushButton *>(QStringLiteral("done")), Qt::LeftButton);
        QTRY_VERIFY(!details || !details->isVisible());

        editEvents(*workspace, model);
        quickAddThenChangeZone(*workspace, model);

        // Sign out: the sign-in view is back, nothing is stored, and the next sign-in starts empty.
        const CalendarModel *before = &app.model();
        NativeSession session;
        QVERIFY(decode(secrets->items.begin().value(), session));
        QTest::mouseClick(workspace->findChild<QPushButton *>(QStringLiteral("signOut")), Qt::LeftButton);
        QTRY_VERIFY(window->findChild<NativeSignInView *>());
        QTRY_VERIFY(!window->findChild<CalendarWorkspace *>());
        QVERIFY(!app.connection().client());
        QVERIFY(secrets->items.isEmpty());
        QVERIFY(&app.model() != before);
        QVERIFY(app.model().calendars().isEmpty());
        QVERIFY(app.model().events().isEmpty());

        // The server was told: the old session soon no longer opens the calendar.
        const NativeHTTP oldSession(NativeHTTP::origin(m_origin), session);
        const auto status = [&] {
            return runTask(oldSession.responseDetails(QStringLiteral("/api/native/session"), "GET", std::nullopt), 10s)
                .status;
        };
        QTRY_COMPARE_WITH_TIMEOUT(status(), 401, 10000);
    }

    // A stored session that takes its time: after a moment of blank window the sign-in view says it
    // is being read; when the store answers without one, the same view offers the address form.
    void stalledSecretStore()
    {
        QTemporaryDir folder;
        auto secrets = std::make_unique<SlowSecretStore>();
        SlowSecretStore &store = *secrets;
        store.stalled = true;
        CalendarApp app({.preferences = preferencesIn(folder), .secrets = std::move(secrets), .defaultServer = m_origin});
        app.show();
        QPointer<NativeSignInView> view;
        QTRY_VERIFY((view = app.window()->findChild<NativeSignInView *>()));
        const auto shows = [&](const char *name) { return view->findChild<QWidget *>(name)->isVisible(); };
        QVERIFY(app.connection().restoring() && shows("restoring") && !shows("addressForm"));

        store.stalled = false;
        QTRY_VERIFY(!app.connection().restoring());
        QCOMPARE(app.window()->findChild<NativeSignInView *>(), view.data());
        QVERIFY(!shows("restoring") && shows("addressForm"));
    }
};

QTEST_MAIN(AppEndToEndTest)
#include "app_e2e_test.moc"
