#include "calendar_agenda.h"
#include "calendar_month_view.h"
#include "calendar_style.h"
#include "calendar_workspace.h"
#include "event_details_dialog.h"
#include "event_editor.h"
#include "server_text.h"
#include "system_time_zone_watcher.h"
#include "view_rig.h"

#include <QAccessible>
#include <QApplication>
#include <QAction>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QToolButton>

namespace {

// The March 2025 grid (weeks from Monday) runs 24 Feb … 6 Apr: cell 0 is 24 February.
constexpr int firstOfMarch = 5, twelfth = 16, thirteenth = 17, twentieth = 24;
const QString longWord(300, QLatin1Char('w'));

QByteArray eventsJson()
{
    QByteArrayList items;
    for (const CalendarEvent &e :
         {CalendarEvent{.id = 11, .calendar_id = 1, .title = "Standup", .tz = "Europe/Madrid", // 12 Mar 09:00
                        .start = 1741766400, .end = 1741768200, .calendar_name = "Team"},
          CalendarEvent{.id = 12, .calendar_id = 2, .status = "cancelled", .title = "<b>Dentist</b> " + longWord,
                        .location = longWord, .tz = "Europe/Madrid", .start = 1741795200, .end = 1741798800,
                        .calendar_name = "Home"},
          CalendarEvent{.id = 13, .calendar_id = 2, .status = "Cancelled", .title = "Lunch", .tz = "Europe/Madrid",
                        .start = 1741863600, .end = 1741867200, .calendar_name = "Home"}, // 13 Mar 12:00
          CalendarEvent{.id = 42, .calendar_id = 99, .title = "Offsite", .all_day = true, .tz = "Europe/Madrid",
                        .start = 1742425200, .end = 1742511600, .writable = false, .calendar_name = "Home",
                        .day_start = "2025-03-20", .day_end = "2025-03-21"}})
        items.append(encode(e));
    return R"({"events":[)" + items.join(',') + "]}";
}

QByteArray session(bool teamWritable = true)
{
    return sessionJson(1, R"({"id":1,"name":"Team","hue":725,"writable":)" + QByteArray(teamWritable ? "true" : "false")
                              + R"(},{"id":2,"name":"Home","hue":-30,"writable":false})");
}

// Two calendars and their events, shown in a workspace tinted as the shell tints the window's content.
struct Rig : ViewRig {
    std::unique_ptr<CalendarWorkspace> workspace;

    explicit Rig(std::optional<QString> zone = QStringLiteral("Europe/Madrid")) : ViewRig(std::move(zone))
    {
        serve(session(), eventsJson());
    }
    int loads() const { return requests("/api/native/session"); }
    CalendarWorkspace &showWorkspace(QSize size = {1080, 800})
    {
        workspace = std::make_unique<CalendarWorkspace>(model, client, preferences);
        QPalette tinted = workspace->palette();
        tinted.setColor(QPalette::Link, calendarStyle::accent());
        workspace->setPalette(tinted);
        workspace->resize(size);
        workspace->show();
        return *workspace;
    }
    // Whether `count` loads have been asked for and the newest one has finished, in time.
    bool waitLoads(int count)
    {
        return QTest::qWaitFor([&] { return loads() == count && !model.loading(); });
    }
};

void click(CalendarMonthGrid *grid, int cell)
{
    QTest::mouseClick(grid, Qt::LeftButton, {}, grid->cellRect(cell).center());
}

QList<CalendarAgendaModel::Row> rows(const CalendarWorkspace &workspace)
{
    return workspace.agendaList()->agendaModel()->rows();
}

void chooseFilter(CalendarWorkspace &workspace, const QString &text)
{
    auto *list = child<QListWidget>(&workspace, "calendarFilter");
    const QList<QListWidgetItem *> found = list->findItems(text, Qt::MatchExactly);
    QVERIFY(!found.isEmpty());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(found.first()).center());
}

} // namespace

class CalendarViewsTest : public QObject {
    Q_OBJECT
public slots:
    void openedUrl(const QUrl &url) { m_opened.append(url); }

private:
    QList<QUrl> m_opened;

private slots:
    void hueIsAnAngleOnTheCircle()
    {
        for (const auto &[hue, degrees] :
             {std::pair<qint64, int>{200, 200}, {725, 5}, {360, 0}, {-30, 330}, {-750, 330}})
            QCOMPARE(calendarStyle::hueColor(hue).hsvHue(), degrees);
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

        const QColor accent = calendarStyle::accent(), clear(Qt::transparent);
        for (const auto &[index, foreground, background, ring] :
             {std::tuple{0, secondary, clear, clear}, {firstOfMarch, primary, clear, clear},
              {twelfth, QColor(Qt::white), accent, clear}, {twentieth, primary, clear, accent},
              {41, secondary, clear, clear}}) {
            const CalendarMonthGrid::Cell cell = grid->cell(index);
            QCOMPARE(std::tuple(cell.foreground, cell.background, cell.ring, cell.dot.alpha()),
                     std::tuple(foreground, background, ring, 0));
        }

        QAccessibleInterface *cells = QAccessible::queryAccessibleInterface(grid);
        QCOMPARE(cells->childCount(), 42);
        QCOMPARE(cells->child(0)->text(QAccessible::Name), QStringLiteral("Monday, February 24, 2025"));
        QCOMPARE(cells->child(0)->text(QAccessible::Value), QStringLiteral("0 events"));
        QVERIFY(cells->child(twelfth)->state().selected && !cells->child(0)->state().selected);

        // A day of the previous month, once chosen, is selected and the grid turns to its month.
        click(grid, 0);
        QCOMPARE(rig.model.date(), rig.model.calendar().startOfDay(instantFromSeconds(1740405600)));
        QCOMPARE(child<QLabel>(&view, "monthTitle")->text(), QStringLiteral("February 2025"));
        QCOMPARE(grid->cell(28).foreground, Qt::white); // 24 Feb in the February grid, which starts 27 Jan

        // The keyboard moves a cursor; only Return chooses.
        grid->setFocus();
        const Instant before = rig.model.date();
        QTest::keyClick(grid, Qt::Key_Right);
        QCOMPARE(rig.model.date(), before);
        QTest::keyClick(grid, Qt::Key_Return);
        QCOMPARE(rig.model.calendar().fields(rig.model.date()).day, 25);

        QTest::mouseClick(child(&view, "today"), Qt::LeftButton);
        QCOMPARE(rig.model.date(), instantFromSeconds(1742472000));

        // A load that changes only the first weekday (same calendars, same events) still turns the
        // days under the headings.
        for (const char *weekStart : {"\"week_start\":1", "\"week_start\":0"}) {
            rig.peer.route("GET", "/api/native/session",
                           PeerAnswer::json(200, session().replace("\"week_start\":1", weekStart)));
            rig.model.load(rig.client);
            QTRY_VERIFY(!rig.model.loading());
        }
        QVERIFY(grid->headings().first().startsWith(QLatin1Char('S')));
        QVERIFY(grid->cellLabel(0).startsWith(QLatin1String("Sunday")));
        for (int i = 0; i < grid->cellCount(); ++i)
            QCOMPARE(grid->cellLabel(i).endsWith(QLatin1String(", today")), grid->cell(i).today);
    }

    void filterChangesDotsAndAgendaWithoutReload()
    {
        Rig rig;
        CalendarWorkspace &workspace = rig.showWorkspace();
        QVERIFY(rig.waitLoads(1));
        CalendarMonthGrid *grid = workspace.monthView()->grid();
        const auto shows = [&](qsizetype agendaRows, int onThirteenth) {
            QCOMPARE(rows(workspace).size(), agendaRows);
            QCOMPARE(grid->cell(thirteenth).count, onThirteenth);
            const QColor dot = grid->cell(thirteenth).dot;
            QVERIFY(onThirteenth ? dot == calendarStyle::accent() : dot.alpha() == 0);
        };
        shows(2, 1);
        QCOMPARE(grid->cell(twelfth).dot, QColor(Qt::white));

        chooseFilter(workspace, QStringLiteral("Team"));
        QCOMPARE(rig.model.selectedCalendar(), std::optional<qint64>(1));
        shows(1, 0);
        QCOMPARE(rows(workspace).first().event.title, QStringLiteral("Standup"));
        QCOMPARE(child<QLabel>(&workspace, "detailTitle")->accessibleName(), QStringLiteral("Team"));

        // Neither the heading nor the keys past it take the highlight off the filter.
        auto *list = child<QListWidget>(&workspace, "calendarFilter");
        chooseFilter(workspace, QStringLiteral("Calendars"));
        QTest::keyClick(list, Qt::Key_Home);
        QCOMPARE(list->selectedItems().value(0)->text(), QStringLiteral("Team"));
        QCOMPARE(rig.model.selectedCalendar(), std::optional<qint64>(1));

        chooseFilter(workspace, QStringLiteral("All calendars"));
        QCOMPARE(rig.model.selectedCalendar(), std::nullopt);
        shows(2, 1);

        // A calendar that is not loaded (any more) still filters: nothing matches, no row is chosen.
        rig.model.setSelectedCalendar(3);
        shows(0, 0);
        QVERIFY(child<QListWidget>(&workspace, "calendarFilter")->selectedItems().isEmpty());
        QTest::qWait(50);
        QCOMPARE(rig.loads(), 1);
    }

    void reloadTriggers()
    {
        Rig rig(std::nullopt);
        CalendarWorkspace &workspace = rig.showWorkspace();
        QVERIFY(rig.waitLoads(1));
        CalendarMonthGrid *grid = workspace.monthView()->grid();

        click(grid, thirteenth);
        QCOMPARE(rows(workspace).size(), 1);
        QCOMPARE(rows(workspace).first().event.title, QStringLiteral("Lunch"));
        QTest::qWait(50);
        QCOMPARE(rig.loads(), 1);

        QTest::mouseClick(child<QToolButton>(&workspace, "previousMonth"), Qt::LeftButton);
        QVERIFY(rig.waitLoads(2));
        QVERIFY(rig.peer.requests().last().query().startsWith("from=2025-01-27&to=2025-03-10&zone="));

        click(grid, 41); // 9 March, in the next month's rows of the February grid
        QVERIFY(rig.waitLoads(3));

        workspace.refreshAction()->trigger();
        QVERIFY(rig.waitLoads(4));

        // The refresh key works wherever the focus is, also after the agenda was rebuilt under it.
        workspace.agendaList()->setFocus();
        click(grid, twentieth);
        QVERIFY(QApplication::focusWidget());
        QTest::keySequence(QApplication::focusWidget(), QKeySequence::Refresh);
        QVERIFY(rig.waitLoads(5));

        // Only a different zone reloads; other preferences and the same zone do not.
        rig.preferences.setShowMenuBar(false);
        rig.preferences.setTimeZoneOverride(rig.model.zone());
        QTest::qWait(50);
        QCOMPARE(rig.loads(), 5);
        rig.preferences.setTimeZoneOverride(QStringLiteral("Asia/Tokyo"));
        QVERIFY(rig.waitLoads(6));
    }

    // A refused load shows its sentence and "Try again"; "New event" waits for a writable calendar.
    void loadErrorAndNewEvent()
    {
        Rig rig;
        rig.peer.route("GET", "/api/native/session", PeerAnswer(404));
        CalendarWorkspace &workspace = rig.showWorkspace();
        QVERIFY(rig.waitLoads(1));
        QVERIFY(!rig.model.error().isEmpty());
        auto *panel = child<QWidget>(&workspace, "loadError");
        auto *agenda = child<QWidget>(&workspace, "agenda");
        QVERIFY(panel->isVisible() && !agenda->isVisible());
        QCOMPARE(child<QLabel>(&workspace, "loadErrorText")->accessibleName(), rig.model.error());

        rig.serve(session(false), eventsJson());
        QTest::mouseClick(child(&workspace, "tryAgain"), Qt::LeftButton);
        QVERIFY(rig.waitLoads(2));
        QVERIFY(!panel->isVisible() && agenda->isVisible());
        QCOMPARE(rows(workspace).size(), 2);
        QVERIFY(!workspace.newEventAction()->isEnabled());
        QTest::keySequence(&workspace, QKeySequence::New);
        QVERIFY(!workspace.editor());

        rig.serve(session(), eventsJson());
        workspace.reload();
        QVERIFY(rig.waitLoads(3));
        QTest::keySequence(&workspace, QKeySequence::New);
        QVERIFY(workspace.editor());
        QCOMPARE(workspace.editor()->calendarEvent().start_local, QStringLiteral("2025-03-12T09:00"));
    }

    void agendaRowsAndDetails()
    {
        Rig rig;
        CalendarWorkspace &workspace = rig.showWorkspace({780, 650});
        QVERIFY(rig.waitLoads(1));
        CalendarMonthGrid *grid = workspace.monthView()->grid();

        // Long server words wrap instead of widening the window; markup stays text.
        QVERIFY(workspace.minimumSizeHint().width() <= 780);
        const CalendarAgendaModel::Row cancelled = rows(workspace).at(1);
        QCOMPARE(cancelled.badge, QStringLiteral("Cancelled"));
        QCOMPARE(cancelled.barColor, calendarStyle::hueColor(330));
        // Each row is read as one element, with its text as received.
        QAccessibleInterface *list = QAccessible::queryAccessibleInterface(workspace.agendaList());
        QCOMPARE(list->child(1)->text(QAccessible::Name),
                 QStringList({cancelled.event.title, "Cancelled", "Home", longWord, cancelled.time}).join(", "));

        // Only the exact status "cancelled" counts.
        click(grid, thirteenth);
        QCOMPARE(rows(workspace).first().badge, QString());

        click(grid, twentieth);
        const CalendarAgendaModel::Row offsite = rows(workspace).first();
        QCOMPARE(offsite.barColor, calendarStyle::accent());
        QCOMPARE(offsite.time, QStringLiteral("All day"));

        QTest::mouseClick(workspace.agendaList()->viewport(), Qt::LeftButton, {},
                          workspace.agendaList()->visualRect(workspace.agendaList()->model()->index(0, 0)).center());
        EventDetailsDialog *details = workspace.detailsDialog();
        QVERIFY(details);
        QCOMPARE(details->palette().color(QPalette::Link), calendarStyle::accent());
        QVERIFY(!child(details, "editEvent"));
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "openedUrl");
        QTest::mouseClick(child(details, "openInWebCalendar"), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QCOMPARE(m_opened, QList<QUrl>{QUrl(rig.peer.origin() + QStringLiteral("/events/42"))});
        QTest::mouseClick(child(details, "done"), Qt::LeftButton);
        QTRY_VERIFY(!workspace.detailsDialog());

        // A writable event hands over to the editor only after its details have closed; asking for
        // the same event again raises that editor.
        click(grid, twelfth);
        workspace.agendaList()->setFocus();
        workspace.agendaList()->setCurrentIndex(workspace.agendaList()->model()->index(0, 0));
        QTest::keyClick(workspace.agendaList(), Qt::Key_Return);
        details = workspace.detailsDialog();
        QVERIFY(!child(details, "openInWebCalendar"));
        connect(details, &EventDetailsDialog::editRequested, this, [&] { QVERIFY(!workspace.editor()); });
        QTest::mouseClick(child(details, "editEvent"), Qt::LeftButton);
        QVERIFY(!details->isVisible());
        QPointer<EventEditor> editor = workspace.editor();
        QVERIFY(editor && editor->isVisible());
        QCOMPARE(editor->calendarEvent().id, 11);
        workspace.edit(editor->calendarEvent());
        QCOMPARE(workspace.editor(), editor.data());
    }

    // Break opportunities go only into long runs, and never inside what reads as one character.
    void breakableKeepsTheText()
    {
        const QString text = QStringLiteral("short words stay ") + longWord;
        const QString shown = serverText::breakable(text);
        QVERIFY(shown.count(QChar(0x200B)) > 30);
        QVERIFY(shown.startsWith(QStringLiteral("short words stay ")));
        QCOMPARE(QString(shown).remove(QChar(0x200B)), text);

        // A surrogate pair, an accent, a flag, a family joined by ZWJ, a Devanagari conjunct; the
        // two letters in front put the clusters off any fixed stride.
        for (const char *cluster : {"😀", "e\u0301", "🇪🇸", "👩\u200D👩\u200D👧", "क्ष"}) {
            const QString one = QString::fromUtf8(cluster);
            const QStringList pieces = serverText::breakable(QStringLiteral("xx") + one.repeated(40)).split(QChar(0x200B));
            QVERIFY(pieces.size() > 1);
            qsizetype offset = -2;
            for (const QString &piece : pieces)
                QVERIFY2((offset += piece.size()) % one.size() == 0, cluster);
        }
    }

    void zoneFileChangeIsAnnounced()
    {
        QTemporaryDir folder;
        const QString zoneFile = folder.filePath(QStringLiteral("localtime"));
        const QString next = folder.filePath(QStringLiteral("next"));
        const auto write = [](const QString &path, const QByteArray &bytes) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        };
        write(zoneFile, "TZif Madrid");
        SystemTimeZoneWatcher watcher(zoneFile, std::nullopt);
        QSignalSpy changed(&watcher, &SystemTimeZoneWatcher::changed);

        // Replaced the way zone tools do it: a new file renamed over the old one; then written in place.
        write(next, "TZif Tokyo");
        QVERIFY(QFile::remove(zoneFile) && QFile::rename(next, zoneFile));
        QVERIFY(changed.wait(2000));
        write(zoneFile, "TZif Lisbon");
        QVERIFY(changed.wait(2000));
    }

    void timedatePropertyIsAnnounced()
    {
        QProcess daemon;
        daemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
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
            const auto announce = [&](const char *interface, const QVariantMap &values, const QStringList &dropped) {
                QDBusMessage signal = QDBusMessage::createSignal(
                    "/org/freedesktop/timedate1", "org.freedesktop.DBus.Properties", "PropertiesChanged");
                signal << QString::fromLatin1(interface) << values << dropped;
                QVERIFY(sender.send(signal));
            };
            // Other properties and other interfaces are not a zone change.
            announce("org.freedesktop.timedate1", {{QStringLiteral("NTP"), true}}, {});
            announce("org.example.Other", {{QStringLiteral("Timezone"), QStringLiteral("UTC")}}, {});
            QTest::qWait(500);
            QCOMPARE(changed.count(), 0);
            announce("org.freedesktop.timedate1", {{QStringLiteral("Timezone"), QStringLiteral("Asia/Tokyo")}}, {});
            QVERIFY(changed.wait(2000));
            announce("org.freedesktop.timedate1", {}, {QStringLiteral("Timezone")});
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
