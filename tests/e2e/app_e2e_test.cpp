// The whole app against the development server, signed in through the approval page as a person's
// browser would: two people whose apps see each other's changes live, one of them from sign-in to
// sign-out.
#include "calendar_app.h"

#include "browser_approval.h"
#include "calendar_model.h"
#include "calendar_workspace.h"
#include "clock.h"
#include "errors.h"
#include "event_editor.h"
#include "memory_secret_store.h"
#include "native_sign_in_view.h"
#include "preferences.h"
#include "quick_add_view.h"
#include "run_task.h"
#include "system_time_zone_watcher.h"
#include "wall_clock_edit.h"

#include <QAction>
#include <QCoroTimer>
#include <QDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <libical/ical.h>

using namespace std::chrono_literals;

namespace {

// Time that passes only when someone sleeps: the sign-in poll keeps its 2-second rule without the
// test waiting for it.
class VirtualClock final : public Clock {
public:
    TimePoint now() const override { return m_now; }
    QCoro::Task<> sleep(std::chrono::milliseconds duration, std::stop_token stop) override
    {
        m_now += duration;
        co_await QCoro::sleepFor(1ms);
        if (stop.stop_requested())
            throw CancellationError();
    }

private:
    TimePoint m_now = std::chrono::steady_clock::now();
};

// Reads answer later, from the event loop, as a platform store's do; while `stalled` they wait (a
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
        return inner.write(service, account, data);
    }
    QCoro::Task<bool> remove(QString service, QString account) override { return inner.remove(service, account); }
};

std::unique_ptr<Preferences> preferencesIn(const QTemporaryDir &folder)
{
    return std::make_unique<Preferences>(std::make_unique<QSettings>(folder.filePath("prefs.ini"), QSettings::IniFormat));
}

// One person's app on preferences of its own; the browser approves as `person` (empty: the first).
struct PersonApp {
    QTemporaryDir folder;
    MemorySecretStore *secrets = new MemorySecretStore;
    QList<QUrl> opened;
    CalendarApp app;

    explicit PersonApp(const QString &origin, const QString &person = {})
        : app({.preferences = preferencesIn(folder),
               .secrets = std::unique_ptr<SecretStore>(secrets),
               .clock = std::make_unique<VirtualClock>(),
               .openUrl = [this, person](QUrl page) {
                   opened.append(page);
                   return approveInBrowser(page, person);
               },
               .defaultServer = origin})
    {
    }
    void signIn()
    {
        app.show();
        QTRY_VERIFY(app.window()->findChild<NativeSignInView *>());
        QTest::mouseClick(app.window()->findChild<QPushButton *>(QStringLiteral("signIn")), Qt::LeftButton);
    }
    CalendarWorkspace *workspace() { return app.window()->findChild<CalendarWorkspace *>(); }
    CalendarModel &model() { return app.model(); }
    bool loaded() { return workspace() && !model().calendars().isEmpty() && !model().loading(); }
    bool showsToday(const QString &title)
    {
        const QList<CalendarEvent> today = model().dayEvents(model().date());
        return std::any_of(today.cbegin(), today.cend(), [&](const CalendarEvent &e) { return e.title == title; });
    }
};

std::optional<CalendarEvent> loadedEvent(const CalendarModel &model, const QString &title)
{
    for (const CalendarEvent &event : model.events())
        if (event.title == title)
            return event;
    return std::nullopt;
}

// Types at the end of the open editor's title and saves; the editor closes once the server took it.
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

// "2025-03-20T09:00", or "2025-03-20" for a date.
QString localForm(icaltimetype t)
{
    return t.is_date ? QString::asprintf("%04d-%02d-%02d", t.year, t.month, t.day)
                     : QString::asprintf("%04d-%02d-%02dT%02d:%02d", t.year, t.month, t.day, t.hour, t.minute);
}

// Whether a VEVENT starts at this local form: at its DTSTART, or at an occurrence of its RRULE.
bool startsAt(icalcomponent *event, const QString &local)
{
    const icaltimetype start = icalcomponent_get_dtstart(event);
    icalproperty *rule = icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY);
    if (!rule)
        return localForm(start) == local;
    icalrecur_iterator *occurrences = icalrecur_iterator_new(icalproperty_get_rrule(rule), start);
    QString reached;
    for (icaltimetype next = icalrecur_iterator_next(occurrences);
         !icaltime_is_null_time(next) && (reached = localForm(next)) < local;)
        next = icalrecur_iterator_next(occurrences);
    icalrecur_iterator_free(occurrences);
    return reached == local;
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
        // Views replaced at sign-out hold a client (and its open connection) until their deferred
        // deletion, and the server waits for open connections before it stops.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_server.terminate();
        QVERIFY2(m_server.waitForFinished(5000), "the development server did not stop on SIGTERM");
    }

    // Ana and Ben sign in through the browser. A restart with Ana's stored session opens her calendar,
    // and a system zone change reloads it. She creates an event and moves it; what she adds by quick
    // add reaches Ben's month grid within a second through the live stream, and Ben's export, read by
    // libical, holds every event his month shows (a series through its rule) at the same local start
    // in the same zone.
    void twoPeopleFromSignInToSignOut()
    {
        PersonApp ana(m_origin, QStringLiteral("Ana Ruiz")), ben(m_origin, QStringLiteral("Ben Okafor"));
        for (PersonApp *person : {&ana, &ben})
            person->signIn();
        for (PersonApp *person : {&ana, &ben})
            QTRY_VERIFY_WITH_TIMEOUT(person->loaded(), 15000);
        QTRY_VERIFY(!ana.app.window()->findChild<NativeSignInView *>());
        CalendarWorkspace &workspace = *ana.workspace();
        CalendarModel &model = ana.model();

        // A restart with the stored session never offers the address form: while the store is locked
        // the window says it is restoring, and then the calendar opens.
        {
            auto stored = std::make_unique<SlowSecretStore>();
            SlowSecretStore &store = *stored;
            store.inner.items = ana.secrets->items;
            store.stalled = true;
            CalendarApp restarted({.preferences = preferencesIn(ana.folder), .secrets = std::move(stored),
                                   .defaultServer = QStringLiteral("https://calendar.example")});
            restarted.show();
            QPointer<NativeSignInView> view;
            QTRY_VERIFY((view = restarted.window()->findChild<NativeSignInView *>()));
            const auto shows = [&](const char *name) { return view && view->findChild<QWidget *>(name)->isVisible(); };
            QVERIFY(restarted.connection().restoring() && shows("restoring") && !shows("addressForm"));
            store.stalled = false;
            QTRY_VERIFY(restarted.window()->findChild<CalendarWorkspace *>());
        }

        emit ana.app.zoneWatcher().changed(); // the system zone changed: the shown calendar reloads
        QVERIFY(model.loading());
        QTRY_VERIFY_WITH_TIMEOUT(!model.loading(), 10000);
        QCOMPARE(model.error(), QString());

        // A new event, then moved an hour: the server places it by its wall-clock times.
        workspace.newEventAction()->trigger();
        retitleAndSave(workspace, QStringLiteral("Design review"));
        QTRY_VERIFY_WITH_TIMEOUT(loadedEvent(model, QStringLiteral("Design review")), 10000);
        const std::optional<CalendarEvent> created = loadedEvent(model, QStringLiteral("Design review"));
        QVERIFY(created && created->start_local.endsWith(QLatin1String("T09:00")));

        workspace.edit(*created);
        for (const char *picker : {"endsPicker", "startsPicker"}) {
            auto *edit = workspace.editor()->findChild<WallClockEdit *>(QLatin1String(picker));
            edit->setDateTime(edit->dateTime().addSecs(3600));
        }
        retitleAndSave(workspace, QStringLiteral(" (moved)"));
        QTRY_VERIFY_WITH_TIMEOUT(loadedEvent(model, QStringLiteral("Design review (moved)")), 10000);
        const CalendarEvent moved = *loadedEvent(model, QStringLiteral("Design review (moved)"));
        QCOMPARE(moved.start_local, QString(created->start_local).replace(QLatin1String("T09:00"), QLatin1String("T10:00")));
        QCOMPARE(moved.start - created->start, 3600);

        // Nothing says when Ben's stream is open: Ana saves markers until one reaches him.
        for (int marker = 1;; ++marker) {
            CalendarEvent event = model.newEvent();
            event.title = QStringLiteral("Stream check %1").arg(marker);
            runTask(model.save(event, ana.app.connection().client()));
            if (QTest::qWaitFor([&] { return ben.showsToday(event.title); }, 500))
                break;
            QVERIFY2(marker < 20, "Ben's calendar never heard of Ana's saves");
        }

        workspace.quickAddAction()->trigger();
        auto *quickAdd = workspace.quickAddSheet()->findChild<QuickAddView *>();
        QTest::keyClicks(quickAdd->findChild<QPlainTextEdit *>(QStringLiteral("quickAddText")),
                         QStringLiteral("Release retro today at 5pm"));
        QTRY_VERIFY_WITH_TIMEOUT(quickAdd->preview(), 10000);
        QTest::mouseClick(quickAdd->findChild<QPushButton *>(QStringLiteral("quickAddSave")), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(ben.showsToday(QStringLiteral("Release retro")), 1000);

        QTemporaryDir downloads;
        const QString file = downloads.filePath(QStringLiteral("calendar.ics"));
        runTask(ben.app.connection().client()->download(QStringLiteral("/api/native/export.ics"),
                                                        QUrl::fromLocalFile(file)));
        QFile exported(file);
        QVERIFY(exported.open(QIODevice::ReadOnly));
        std::unique_ptr<icalcomponent, decltype(&icalcomponent_free)> calendar(
            icalparser_parse_string(exported.readAll().constData()), icalcomponent_free);
        QVERIFY(calendar && icalcomponent_isa(calendar.get()) == ICAL_VCALENDAR_COMPONENT);
        QHash<QString, icalcomponent *> vevents; // by the event id their UID starts with ("12@…")
        for (icalcomponent *e = icalcomponent_get_first_component(calendar.get(), ICAL_VEVENT_COMPONENT); e;
             e = icalcomponent_get_next_component(calendar.get(), ICAL_VEVENT_COMPONENT))
            vevents.insert(QString::fromUtf8(icalcomponent_get_uid(e)).section(u'@', 0, 0), e);
        QVERIFY(!ben.model().events().isEmpty());
        for (const CalendarEvent &event : ben.model().events()) {
            icalcomponent *vevent = vevents.value(QString::number(event.id));
            QVERIFY2(vevent, qPrintable(event.title));
            QCOMPARE(QString::fromUtf8(icalcomponent_get_summary(vevent)), event.title);
            QVERIFY2(startsAt(vevent, event.start_local), qPrintable(event.title + u' ' + event.start_local));
            const icaltimetype start = icalcomponent_get_dtstart(vevent);
            QCOMPARE(QString::fromUtf8(start.is_date || icaltime_is_utc(start) ? "" : icaltime_get_tzid(start)),
                     event.all_day || event.tz == u"UTC" ? QString() : event.tz);
        }

        // Ana signs out: the sign-in view is back, nothing is stored, the next sign-in starts empty,
        // and the server soon no longer opens the calendar for the old session.
        const CalendarModel *before = &model;
        NativeSession session;
        QVERIFY(decode(ana.secrets->items.begin().value(), session));
        QTest::mouseClick(workspace.findChild<QPushButton *>(QStringLiteral("signOut")), Qt::LeftButton);
        QTRY_VERIFY(ana.app.window()->findChild<NativeSignInView *>() && !ana.workspace());
        QVERIFY(!ana.app.connection().client() && ana.secrets->items.isEmpty());
        QVERIFY(&ana.model() != before && ana.model().calendars().isEmpty() && ana.model().events().isEmpty());
        const NativeHTTP oldSession(NativeHTTP::origin(m_origin), session);
        QTRY_COMPARE_WITH_TIMEOUT(
            runTask(oldSession.responseDetails(QStringLiteral("/api/native/session"), "GET", std::nullopt), 10s).status,
            401, 10000);
    }
};

QTEST_MAIN(AppEndToEndTest)
#include "app_e2e_test.moc"
