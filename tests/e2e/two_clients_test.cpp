// Two people's apps against one development server, each with its own client, session store and
// preferences: what one adds reaches the other's month grid within a second through the live
// stream, and the other's export reads in libical with every event its calendar shows.
#include "calendar_app.h"

#include "browser_approval.h"
#include "calendar_model.h"
#include "calendar_workspace.h"
#include "memory_secret_store.h"
#include "native_sign_in_view.h"
#include "quick_add_view.h"
#include "run_task.h"
#include "virtual_clock.h"

#include <QDialog>
#include <QFile>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <libical/ical.h>

#include <map>
#include <memory>

using namespace std::chrono_literals;

namespace {

// One person's app, signed in through the approval page as `person`.
struct PersonApp {
    QTemporaryDir folder;
    CalendarApp app;

    PersonApp(const QString &origin, const QString &person)
        : app({.preferences = std::make_unique<Preferences>(std::make_unique<QSettings>(
                   folder.filePath(QStringLiteral("prefs.ini")), QSettings::IniFormat)),
               .secrets = std::make_unique<MemorySecretStore>(),
               .clock = std::make_unique<VirtualClock>(),
               .openUrl = [person](QUrl page) { return approveInBrowser(page, {.user = person}); },
               .defaultServer = origin})
    {
    }

    CalendarWorkspace *workspace() { return app.window()->findChild<CalendarWorkspace *>(); }
    CalendarModel &model() { return app.model(); }
    NativeClient client() { return app.connection().client(); }
    // Whether today's cell of the month grid lists an event with this title.
    bool showsToday(const QString &title)
    {
        const QList<CalendarEvent> today = model().dayEvents(model().date());
        return std::any_of(today.cbegin(), today.cend(), [&](const CalendarEvent &event) { return event.title == title; });
    }
};

struct ExportedEvent {
    QString summary;
    QString zone;          // TZID, empty for UTC and dates
    QSet<QString> starts;  // each occurrence's local start in the records' form, up to a horizon
};

// "2025-03-20T09:00", or "2025-03-20" for a date.
QString localForm(icaltimetype time)
{
    QString text = QStringLiteral("%1-%2-%3")
                       .arg(time.year, 4, 10, QChar(u'0'))
                       .arg(time.month, 2, 10, QChar(u'0'))
                       .arg(time.day, 2, 10, QChar(u'0'));
    if (!time.is_date)
        text += QStringLiteral("T%1:%2").arg(time.hour, 2, 10, QChar(u'0')).arg(time.minute, 2, 10, QChar(u'0'));
    return text;
}

// The VEVENTs of an iCalendar text by the event id their UID starts with ("12@…"), series expanded
// by their RRULE up to `until` (a local form); nothing when libical does not read a calendar.
std::optional<std::map<QString, ExportedEvent>> exportedEvents(const QByteArray &text, const QString &until)
{
    std::unique_ptr<icalcomponent, void (*)(icalcomponent *)> calendar(icalparser_parse_string(text.constData()),
                                                                       icalcomponent_free);
    if (!calendar || icalcomponent_isa(calendar.get()) != ICAL_VCALENDAR_COMPONENT)
        return std::nullopt;
    std::map<QString, ExportedEvent> events;
    for (icalcomponent *event = icalcomponent_get_first_component(calendar.get(), ICAL_VEVENT_COMPONENT); event;
         event = icalcomponent_get_next_component(calendar.get(), ICAL_VEVENT_COMPONENT)) {
        const icaltimetype start = icalcomponent_get_dtstart(event);
        ExportedEvent &exported = events[QString::fromUtf8(icalcomponent_get_uid(event)).section(u'@', 0, 0)];
        exported.summary = QString::fromUtf8(icalcomponent_get_summary(event));
        if (!start.is_date && !icaltime_is_utc(start))
            exported.zone = QString::fromUtf8(icaltime_get_tzid(start));
        if (icalproperty *rule = icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY)) {
            icalrecur_iterator *occurrences = icalrecur_iterator_new(icalproperty_get_rrule(rule), start);
            for (icaltimetype next = icalrecur_iterator_next(occurrences);
                 !icaltime_is_null_time(next) && localForm(next) <= until; next = icalrecur_iterator_next(occurrences))
                exported.starts.insert(localForm(next));
            icalrecur_iterator_free(occurrences);
        } else {
            exported.starts.insert(localForm(start));
        }
    }
    return events;
}

} // namespace

class TwoClientsTest : public QObject {
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
    }

    void cleanupTestCase()
    {
        m_server.terminate();
        QVERIFY(m_server.waitForFinished(5000));
    }

    void liveChangeAndExport()
    {
        PersonApp ana(m_origin, QStringLiteral("Ana Ruiz"));
        PersonApp ben(m_origin, QStringLiteral("Ben Okafor"));
        for (PersonApp *person : {&ana, &ben}) {
            person->app.show();
            QTRY_VERIFY(person->app.window()->findChild<NativeSignInView *>());
            QTest::mouseClick(person->app.window()->findChild<NativeSignInView *>()->findChild<QPushButton *>(
                                  QStringLiteral("signIn")),
                              Qt::LeftButton);
        }
        for (PersonApp *person : {&ana, &ben}) {
            QTRY_VERIFY_WITH_TIMEOUT(person->workspace(), 15000);
            QTRY_VERIFY_WITH_TIMEOUT(!person->model().calendars().isEmpty() && !person->model().loading(), 10000);
        }

        // Ben's stream opens beside his first load and nothing says when it is open: Ana saves
        // markers until one reaches him, then his stream is known to be listening.
        for (int marker = 1;; ++marker) {
            CalendarEvent event = ana.model().newEvent();
            event.title = QStringLiteral("Stream check %1").arg(marker);
            runTask(ana.model().save(event, ana.client()));
            if (QTest::qWaitFor([&] { return ben.showsToday(event.title); }, 500))
                break;
            QVERIFY2(marker < 20, "Ben's calendar never heard of Ana's saves");
        }

        // Ana adds by sentence; Ben's grid shows it within a second of her choosing Add.
        ana.workspace()->quickAddAction()->trigger();
        auto *quickAdd = ana.workspace()->quickAddSheet()->findChild<QuickAddView *>();
        QTest::keyClicks(quickAdd->findChild<QPlainTextEdit *>(QStringLiteral("quickAddText")),
                         QStringLiteral("Release retro today at 5pm"));
        QTRY_VERIFY_WITH_TIMEOUT(quickAdd->preview(), 10000);
        QTest::mouseClick(quickAdd->findChild<QPushButton *>(QStringLiteral("quickAddSave")), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(ben.showsToday(QStringLiteral("Release retro")), 1000);
        QCOMPARE(ana.model().quickSavedNotice(), QStringLiteral("Added Release retro."));

        // Ben's export holds every event of his month (a series through its rule) at the same local
        // start in the same zone.
        QTemporaryDir downloads;
        const QString file = downloads.filePath(QStringLiteral("calendar.ics"));
        runTask(ben.client()->download(QStringLiteral("/api/native/export.ics"), QUrl::fromLocalFile(file)));
        QFile exported(file);
        QVERIFY(exported.open(QIODevice::ReadOnly));
        const QList<CalendarEvent> &shown = ben.model().events();
        QVERIFY(!shown.isEmpty());
        const auto last = std::max_element(shown.cbegin(), shown.cend(), [](const auto &a, const auto &b) {
            return a.start_local < b.start_local;
        });
        const auto vevents = exportedEvents(exported.readAll(), last->start_local);
        QVERIFY(vevents);
        for (const CalendarEvent &event : shown) {
            const auto found = vevents->find(QString::number(event.id));
            QVERIFY2(found != vevents->end(), qPrintable(event.title));
            QCOMPARE(found->second.summary, event.title);
            QVERIFY2(found->second.starts.contains(event.start_local), qPrintable(event.title + u' ' + event.start_local));
            QCOMPARE(found->second.zone, event.all_day || event.tz == u"UTC" ? QString() : event.tz);
        }
    }
};

QTEST_MAIN(TwoClientsTest)
#include "two_clients_test.moc"
