#include "calendar_agenda_row.h"
#include "calendar_model.h"
#include "calendar_month_view.h"
#include "calendar_style.h"
#include "calendar_workspace.h"
#include "event_details_dialog.h"
#include "loopback_peer.h"
#include "preferences.h"
#include "server_text.h"
#include "system_time_zone_watcher.h"

#include <QAccessible>
#include <QAction>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace {

// 2025-03-12 12:00 in Madrid; the March 2025 grid (weeks from Monday) runs 24 Feb … 6 Apr, so
// cell 0 is 24 February, cell 5 is 1 March and cell 16 is 12 March.
const Instant march12 = instantFromSeconds(1741777200);
constexpr int firstOfMarch = 5;
constexpr int twelfth = 16;
constexpr int thirteenth = 17;
constexpr int twentieth = 24;
const QString longWord(300, QLatin1Char('w'));

CalendarEvent event(qint64 id, qint64 calendar, const QString &title, qint64 start, qint64 end)
{
    CalendarEvent e;
    e.id = id;
    e.calendar_id = calendar;
    e.title = title;
    e.start = start;
    e.end = end;
    e.tz = QStringLiteral("Europe/Madrid");
    e.calendar_name = calendar == 1 ? QStringLiteral("Team") : QStringLiteral("Home");
    return e;
}

QByteArray eventsJson()
{
    CalendarEvent standup = event(11, 1, QStringLiteral("Standup"), 1741766400, 1741768200); // 12 Mar 09:00
    CalendarEvent dentist = event(12, 2, QStringLiteral("<b>Dentist</b> ") + longWord, 1741795200, 1741798800);
    dentist.status = QStringLiteral("cancelled");
    dentist.location = longWord;
    CalendarEvent lunch = event(13, 2, QStringLiteral("Lunch"), 1741863600, 1741867200); // 13 Mar 12:00
    lunch.status = QStringLiteral("Cancelled");
    CalendarEvent offsite = event(42, 99, QStringLiteral("Offsite"), 1742425200, 1742511600);
    offsite.all_day = true;
    offsite.day_start = QStringLiteral("2025-03-20");
    offsite.day_end = QStringLiteral("2025-03-21");
    offsite.writable = false;
    QByteArrayList items;
    for (const CalendarEvent &e : {standup, dentist, lunch, offsite})
        items.append(encode(e));
    return R"({"events":[)" + items.join(',') + "]}";
}

const QByteArray sessionJson = R"({"week_start":1,"zone":"UTC","default_calendar_id":1,"calendars":[)"
                               R"({"id":1,"name":"Team","hue":725,"writable":true},)"
                               R"({"id":2,"name":"Home","hue":-30,"writable":false}]})";

// A model on its own preferences file, loading from a loopback peer that serves two calendars.
struct Rig {
    QTemporaryDir folder;
    Preferences preferences{std::make_unique<QSettings>(folder.filePath("prefs.ini"), QSettings::IniFormat)};
    LoopbackPeer peer;
    NativeClient client;
    CalendarModel model;

    explicit Rig(std::optional<QString> zone = QStringLiteral("Europe/Madrid"))
        : client(std::make_shared<const NativeHTTP>(NativeHTTP::origin(peer.origin()), std::nullopt)),
          model(preferences, std::move(zone), march12)
    {
        serve();
    }
    void serve()
    {
        peer.route("GET", "/api/native/session", PeerAnswer::json(200, sessionJson));
        peer.route("GET", "/api/native/events", PeerAnswer::json(200, eventsJson()));
    }
    int loads() const
    {
        return int(std::count_if(peer.requests().cbegin(), peer.requests().cend(),
                                 [](const RecordedRequest &r) { return r.path() == "/api/native/session"; }));
    }
    QByteArray lastQuery() const { return peer.requests().isEmpty() ? QByteArray() : peer.requests().last().query(); }
};

// Waits until `count` loads have been asked for and the newest one has finished.
#define WAIT_LOADS(rig, count)                                                                                     \
    do {                                                                                                           \
        QTRY_COMPARE((rig).loads(), (count));                                                                      \
        QTRY_VERIFY(!(rig).model.loading());                                                                       \
    } while (false)

void click(CalendarMonthGrid *grid, int cell)
{
    QTest::mouseClick(grid, Qt::LeftButton, {}, grid->cellRect(cell).center());
}

QList<CalendarAgendaRow *> rows(const CalendarWorkspace &workspace)
{
    return workspace.findChildren<CalendarAgendaRow *>();
}

void chooseFilter(CalendarWorkspace &workspace, const QString &text)
{
    auto *list = workspace.findChild<QListWidget *>(QStringLiteral("calendarFilter"));
    const QList<QListWidgetItem *> found = list->findItems(text, Qt::MatchExactly);
    QVERIFY(!found.isEmpty());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(found.first()).center());
}

QString title(const CalendarWorkspace &workspace)
{
    return workspace.findChild<QLabel *>(QStringLiteral("detailTitle"))->accessibleName();
}

} // namespace

class CalendarViewsTest : public QObject {
    Q_OBJECT
public slots:
    void openedUrl(const QUrl &url) { m_opened.append(url); }

private:
    QList<QUrl> m_opened;

private slots:
    void calendarColours_data()
    {
        QTest::addColumn<qint64>("hue");
        QTest::addColumn<int>("degrees");
        QTest::newRow("in range") << qint64(200) << 200;
        QTest::newRow("past a turn") << qint64(725) << 5;
        QTest::newRow("whole turn") << qint64(360) << 0;
        QTest::newRow("negative") << qint64(-30) << 330;
        QTest::newRow("negative turns") << qint64(-750) << 330;
    }
    void calendarColours()
    {
        QFETCH(qint64, hue);
        QFETCH(int, degrees);
        const QColor colour = calendarStyle::hueColor(hue);
        QCOMPARE(colour.hsvHue(), degrees);
        QCOMPARE(colour.hsvSaturationF(), 0.6f);
        QCOMPARE(colour.valueF(), 0.75f);
        const QList<TeamCalendar> calendars{{7, QStringLiteral("Seven"), hue, true}};
        QCOMPARE(calendarStyle::calendarColor(calendars, 7), colour);
        QCOMPARE(calendarStyle::calendarColor(calendars, 8), calendarStyle::accent());
    }

    void monthGridCells()
    {
        Rig rig;
        CalendarMonthView view(rig.model);
        view.setClock([] { return instantFromSeconds(1742472000); }); // 20 March
        view.resize(600, 500);
        view.show();
        CalendarMonthGrid *grid = view.grid();
        const QColor secondary = calendarStyle::secondaryText(grid->palette());
        const QColor primary = grid->palette().color(QPalette::WindowText);
        QVERIFY(secondary != primary);

        QCOMPARE(grid->cellCount(), 42);
        struct Expected {
            int index;
            QColor foreground, background, ring;
        };
        const QColor accent = calendarStyle::accent();
        const QColor clear(Qt::transparent);
        for (const Expected &e : {Expected{0, secondary, clear, clear}, Expected{firstOfMarch, primary, clear, clear},
                                  Expected{twelfth, Qt::white, accent, clear}, Expected{twentieth, primary, clear, accent},
                                  Expected{41, secondary, clear, clear}}) {
            const CalendarMonthGrid::Cell cell = grid->cell(e.index);
            QCOMPARE(cell.foreground, e.foreground);
            QCOMPARE(cell.background, e.background);
            QCOMPARE(cell.ring, e.ring);
            QCOMPARE(cell.dot.alpha(), 0);
        }
        QCOMPARE(grid->cellRect(0).height(), 44);

        QAccessibleInterface *cells = QAccessible::queryAccessibleInterface(grid);
        QCOMPARE(cells->childCount(), 42);
        QCOMPARE(cells->child(0)->text(QAccessible::Name), QStringLiteral("Monday, February 24, 2025"));
        QCOMPARE(cells->child(0)->text(QAccessible::Value), QStringLiteral("0 events"));
        QVERIFY(cells->child(twelfth)->state().selected);
        QVERIFY(!cells->child(0)->state().selected);

        // A day of the previous month, once chosen, is selected and the grid turns to its month.
        click(grid, 0);
        QCOMPARE(rig.model.date(), rig.model.calendar().startOfDay(instantFromSeconds(1740405600)));
        QCOMPARE(view.findChild<QLabel *>(QStringLiteral("monthTitle"))->text(), QStringLiteral("February 2025"));
        QCOMPARE(grid->cell(28).foreground, Qt::white); // 24 Feb in the February grid, which starts 27 Jan

        // The keyboard moves a cursor; only Return chooses.
        grid->setFocus();
        const Instant before = rig.model.date();
        QTest::keyClick(grid, Qt::Key_Right);
        QCOMPARE(rig.model.date(), before);
        QTest::keyClick(grid, Qt::Key_Return);
        QCOMPARE(rig.model.calendar().fields(rig.model.date()).day, 25);

        // 31 January plus a month is the last day of February.
        rig.model.setDate(instantFromSeconds(1738324800)); // 31 Jan 2025 12:00
        QTest::mouseClick(view.findChild<QToolButton *>(QStringLiteral("nextMonth")), Qt::LeftButton);
        const GregorianCalendar::Fields moved = rig.model.calendar().fields(rig.model.date());
        QCOMPARE(std::tuple(moved.month, moved.day), std::tuple(2, 28));

        QTest::mouseClick(view.findChild<QPushButton *>(QStringLiteral("today")), Qt::LeftButton);
        QCOMPARE(rig.model.date(), instantFromSeconds(1742472000));

        QCOMPARE(grid->headings().first(), QStringLiteral("Mon"));
        QFont large = view.font();
        large.setPointSizeF(large.pointSizeF() * 4);
        view.setFont(large);
        view.resize(332, 500);
        QCOMPARE(grid->headings(), QString("MTWTFSS").split(QString(), Qt::SkipEmptyParts));

        CalendarMonthView small(rig.model, calendarStyle::ControlSize::Small);
        QCOMPARE(small.grid()->cellRect(0).height(), 28);
        QVERIFY(small.findChild<QToolButton *>(QStringLiteral("previousMonth"))->minimumSize() == QSize(28, 28));
    }

    void filterChangesDotsAndAgendaWithoutReload()
    {
        Rig rig;
        CalendarWorkspace workspace(rig.model, rig.client, rig.preferences);
        workspace.resize(1080, 800);
        workspace.show();
        WAIT_LOADS(rig, 1);
        CalendarMonthGrid *grid = workspace.monthView()->grid();

        QCOMPARE(rows(workspace).size(), 2);
        QCOMPARE(grid->cell(thirteenth).count, 1);
        QCOMPARE(grid->cell(thirteenth).dot, calendarStyle::accent());
        QCOMPARE(grid->cell(twelfth).dot, QColor(Qt::white));
        QCOMPARE(title(workspace), QStringLiteral("Calendar"));

        chooseFilter(workspace, QStringLiteral("Team"));
        QCOMPARE(rig.model.selectedCalendar(), std::optional<qint64>(1));
        QCOMPARE(rows(workspace).size(), 1);
        QCOMPARE(rows(workspace).first()->calendarEvent().title, QStringLiteral("Standup"));
        QCOMPARE(grid->cell(thirteenth).count, 0);
        QCOMPARE(grid->cell(thirteenth).dot.alpha(), 0);
        QCOMPARE(QAccessible::queryAccessibleInterface(grid)->child(thirteenth)->text(QAccessible::Value),
                 QStringLiteral("0 events"));
        QCOMPARE(title(workspace), QStringLiteral("Team"));

        chooseFilter(workspace, QStringLiteral("All calendars"));
        QCOMPARE(rig.model.selectedCalendar(), std::nullopt);
        QCOMPARE(rows(workspace).size(), 2);
        QCOMPARE(title(workspace), QStringLiteral("Calendar"));

        // A calendar that is not loaded (any more) still filters: nothing matches, no row is chosen.
        rig.model.setSelectedCalendar(3);
        QCOMPARE(rows(workspace).size(), 0);
        QCOMPARE(grid->cell(twelfth).count, 0);
        QCOMPARE(title(workspace), QStringLiteral("Calendar"));
        QVERIFY(workspace.findChild<QListWidget *>(QStringLiteral("calendarFilter"))->selectedItems().isEmpty());
        QTest::qWait(50);
        QCOMPARE(rig.loads(), 1);
    }

    void reloadTriggers()
    {
        Rig rig(std::nullopt);
        CalendarWorkspace workspace(rig.model, rig.client, rig.preferences);
        workspace.resize(1080, 800);
        workspace.show();
        WAIT_LOADS(rig, 1);
        CalendarMonthGrid *grid = workspace.monthView()->grid();

        click(grid, thirteenth);
        QCOMPARE(rows(workspace).size(), 1);
        QCOMPARE(rows(workspace).first()->calendarEvent().title, QStringLiteral("Lunch"));
        QTest::qWait(50);
        QCOMPARE(rig.loads(), 1);

        QTest::mouseClick(workspace.findChild<QToolButton *>(QStringLiteral("previousMonth")), Qt::LeftButton);
        WAIT_LOADS(rig, 2);
        QVERIFY(rig.lastQuery().startsWith("from=2025-01-27&to=2025-03-10&zone="));

        click(grid, 41); // 9 March, in the next month's rows of the February grid
        WAIT_LOADS(rig, 3);

        workspace.refreshAction()->trigger();
        WAIT_LOADS(rig, 4);

        rig.preferences.setShowMenuBar(false);
        rig.preferences.setTimeZoneOverride(rig.model.zone());
        QTest::qWait(50);
        QCOMPARE(rig.loads(), 4);
        rig.preferences.setTimeZoneOverride(rig.model.zone() == QLatin1String("Asia/Tokyo")
                                                ? QStringLiteral("Europe/Lisbon")
                                                : QStringLiteral("Asia/Tokyo"));
        WAIT_LOADS(rig, 5);

        emit workspace.findChild<SystemTimeZoneWatcher *>()->changed();
        WAIT_LOADS(rig, 6);
    }

    void loadErrorAndTryAgain()
    {
        Rig rig;
        rig.peer.reset();
        rig.peer.route("GET", "/api/native/session", PeerAnswer(404));
        CalendarWorkspace workspace(rig.model, rig.client, rig.preferences);
        workspace.show();
        QTRY_VERIFY(!rig.model.error().isEmpty());
        QTRY_VERIFY(!rig.model.loading());
        auto *panel = workspace.findChild<QWidget *>(QStringLiteral("loadError"));
        auto *agenda = workspace.findChild<QWidget *>(QStringLiteral("agenda"));
        QVERIFY(panel->isVisible());
        QVERIFY(!agenda->isVisible());
        QCOMPARE(workspace.findChild<QLabel *>(QStringLiteral("loadErrorText"))->accessibleName(), rig.model.error());

        rig.peer.reset();
        rig.serve();
        QTest::mouseClick(workspace.findChild<QPushButton *>(QStringLiteral("tryAgain")), Qt::LeftButton);
        WAIT_LOADS(rig, 1);
        QVERIFY(!panel->isVisible());
        QVERIFY(agenda->isVisible());
        QCOMPARE(rows(workspace).size(), 2);
    }

    void agendaRowsAndDetails()
    {
        Rig rig;
        CalendarWorkspace workspace(rig.model, rig.client, rig.preferences);
        workspace.resize(780, 650);
        workspace.show();
        WAIT_LOADS(rig, 1);

        // Long server words wrap instead of widening the window; markup stays text.
        QVERIFY(workspace.minimumSizeHint().width() <= 780);
        const CalendarAgendaRow *cancelled = rows(workspace).at(1);
        QCOMPARE(cancelled->badge(), QStringLiteral("Cancelled"));
        QCOMPARE(cancelled->barColor(), calendarStyle::hueColor(330));
        auto *cancelledTitle = cancelled->findChild<QLabel *>(QStringLiteral("agendaTitle"));
        QVERIFY(cancelledTitle->font().strikeOut());
        QCOMPARE(cancelledTitle->textFormat(), Qt::PlainText);
        QVERIFY(cancelledTitle->text().startsWith(QStringLiteral("<b>Dentist</b>")));
        QCOMPARE(cancelledTitle->text().remove(QChar(0x200B)), cancelled->calendarEvent().title);

        click(workspace.monthView()->grid(), thirteenth);
        QCOMPARE(rows(workspace).first()->badge(), QString());
        QVERIFY(!rows(workspace).first()->findChild<QLabel *>(QStringLiteral("agendaTitle"))->font().strikeOut());

        click(workspace.monthView()->grid(), twentieth);
        CalendarAgendaRow *offsite = rows(workspace).first();
        QCOMPARE(offsite->barColor(), calendarStyle::accent());
        QCOMPARE(offsite->timeText(), QStringLiteral("All day"));

        QTest::mouseClick(offsite, Qt::LeftButton);
        EventDetailsDialog *details = workspace.detailsDialog();
        QVERIFY(details);
        QCOMPARE(details->size(), QSize(480, 500));
        QVERIFY(!details->findChild<QPushButton *>(QStringLiteral("editEvent")));
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "openedUrl");
        QTest::mouseClick(details->findChild<QPushButton *>(QStringLiteral("openInWebCalendar")), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QCOMPARE(m_opened, QList<QUrl>{QUrl(rig.peer.origin() + QStringLiteral("/events/42"))});
        QTest::mouseClick(details->findChild<QPushButton *>(QStringLiteral("done")), Qt::LeftButton);
        QTRY_VERIFY(!workspace.detailsDialog());

        // A writable event hands over to the editor only after its details have closed.
        QList<qint64> edited;
        workspace.setEditHandler([&](const CalendarEvent &e) {
            QVERIFY(!workspace.detailsDialog() || !workspace.detailsDialog()->isVisible());
            edited.append(e.id);
        });
        click(workspace.monthView()->grid(), twelfth);
        QTest::mouseClick(rows(workspace).first(), Qt::LeftButton);
        QVERIFY(!workspace.detailsDialog()->findChild<QPushButton *>(QStringLiteral("openInWebCalendar")));
        QTest::mouseClick(workspace.detailsDialog()->findChild<QPushButton *>(QStringLiteral("editEvent")),
                          Qt::LeftButton);
        QCOMPARE(edited, QList<qint64>{11});
    }

    void breakableKeepsTheText()
    {
        const QString text = QStringLiteral("short words stay ") + longWord + QStringLiteral(" 😀") + longWord;
        const QString shown = serverText::breakable(text);
        QVERIFY(shown.count(QChar(0x200B)) > 30);
        QCOMPARE(QString(shown).remove(QChar(0x200B)), text);
        QVERIFY(shown.startsWith(QStringLiteral("short words stay ")));
        for (qsizetype i = 0; i + 1 < shown.size(); ++i)
            QVERIFY(!(shown[i].isHighSurrogate() && shown[i + 1] == QChar(0x200B)));
    }

    void zoneFileChangeIsAnnounced()
    {
        QTemporaryDir folder;
        const QString zoneFile = folder.filePath(QStringLiteral("localtime"));
        const auto write = [&](const QString &path, const QByteArray &bytes) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        };
        write(zoneFile, "TZif Madrid");
        SystemTimeZoneWatcher watcher(zoneFile, std::nullopt);
        QSignalSpy changed(&watcher, &SystemTimeZoneWatcher::changed);

        write(folder.filePath(QStringLiteral("unrelated")), "x");
        QTest::qWait(400);
        QCOMPARE(changed.count(), 0);

        // Replaced the way zone tools do it: a new file renamed over the old one.
        write(folder.filePath(QStringLiteral("next")), "TZif Tokyo");
        QVERIFY(QFile::remove(zoneFile));
        QVERIFY(QFile::rename(folder.filePath(QStringLiteral("next")), zoneFile));
        QVERIFY(changed.wait(2000));
        QTest::qWait(300);
        QCOMPARE(changed.count(), 1);

        write(zoneFile, "TZif Lisbon");
        QVERIFY(changed.wait(2000));
    }

    void timedatePropertyIsAnnounced()
    {
        QProcess daemon;
        daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                     QStringLiteral("--print-address=1")});
        if (!daemon.waitForStarted(2000))
            QSKIP("no dbus-daemon to stand in for the system bus");
        QVERIFY(daemon.waitForReadyRead(5000));
        const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
        QTemporaryDir folder;
        {
            QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("watched"));
            QVERIFY(bus.isConnected());
            SystemTimeZoneWatcher watcher(folder.filePath(QStringLiteral("localtime")), bus);
            QSignalSpy changed(&watcher, &SystemTimeZoneWatcher::changed);
            QDBusConnection sender = QDBusConnection::connectToBus(address, QStringLiteral("timedated"));
            const auto announce = [&](const QString &interface, const QVariantMap &values, const QStringList &dropped) {
                QDBusMessage signal = QDBusMessage::createSignal(
                    QStringLiteral("/org/freedesktop/timedate1"), QStringLiteral("org.freedesktop.DBus.Properties"),
                    QStringLiteral("PropertiesChanged"));
                signal << interface << values << dropped;
                QVERIFY(sender.send(signal));
            };
            const QString timedate = QStringLiteral("org.freedesktop.timedate1");
            announce(timedate, {{QStringLiteral("NTP"), true}}, {});
            announce(QStringLiteral("org.example.Other"), {{QStringLiteral("Timezone"), QStringLiteral("UTC")}}, {});
            QTest::qWait(500);
            QCOMPARE(changed.count(), 0);
            announce(timedate, {{QStringLiteral("Timezone"), QStringLiteral("Asia/Tokyo")}}, {});
            QVERIFY(changed.wait(2000));
            announce(timedate, {}, {QStringLiteral("Timezone")});
            QVERIFY(changed.wait(2000));
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("watched"));
        QDBusConnection::disconnectFromBus(QStringLiteral("timedated"));
        daemon.terminate();
        QVERIFY(daemon.waitForFinished(5000));
    }
};

QTEST_MAIN(CalendarViewsTest)
#include "calendar_views_test.moc"
