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
#include <QDesktopServices>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QSignalSpy>
#include <QToolButton>

namespace {

// The March 2025 grid (weeks from Monday) runs 24 Feb … 6 Apr: cell 0 is 24 February.
constexpr int twelfth = 16, thirteenth = 17, twentieth = 24;
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

// Two calendars and their events, shown in a workspace.
struct Rig : ViewRig {
    std::unique_ptr<CalendarWorkspace> workspace;

    explicit Rig(std::optional<QString> zone = QStringLiteral("Europe/Madrid")) : ViewRig(std::move(zone))
    {
        serve(session(), eventsJson());
    }
    int loads() const
    {
        return int(std::count_if(peer.requests().cbegin(), peer.requests().cend(),
                                 [](const RecordedRequest &r) { return r.path() == "/api/native/session"; }));
    }
    CalendarWorkspace &showWorkspace(QSize size = {1080, 800})
    {
        workspace = std::make_unique<CalendarWorkspace>(model, client, preferences);
        workspace->resize(size);
        workspace->show();
        return *workspace;
    }
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
    QListWidgetItem *item = list->findItems(text, Qt::MatchExactly).value(0);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
}

} // namespace

class CalendarViewsTest : public QObject {
    Q_OBJECT
public slots:
    void openedUrl(const QUrl &url) { m_opened.append(url); }

private:
    QList<QUrl> m_opened;

private slots:
    void monthGridCells()
    {
        Rig rig;
        CalendarMonthView view(rig.model);
        view.setClock([] { return instantFromSeconds(1742472000); }); // 20 March
        view.show();
        CalendarMonthGrid *grid = view.grid();
        QCOMPARE(grid->cell(0).foreground, calendarStyle::secondaryText(grid->palette())); // another month
        QVERIFY(grid->cell(twentieth).today && grid->cell(twentieth).ring == calendarStyle::accent());

        QAccessibleInterface *cells = QAccessible::queryAccessibleInterface(grid);
        QCOMPARE(cells->child(0)->text(QAccessible::Name) + " / " + cells->child(0)->text(QAccessible::Value),
                 QStringLiteral("Monday, February 24, 2025 / 0 events"));
        QVERIFY(cells->child(twelfth)->state().selected && !cells->child(0)->state().selected);

        // A day of the previous month, once chosen, is selected and the grid turns to its month.
        click(grid, 0);
        QCOMPARE(rig.model.date(), rig.model.calendar().startOfDay(instantFromSeconds(1740405600)));
        QCOMPARE(child<QLabel>(&view, "monthTitle")->text(), QStringLiteral("February 2025"));
        QVERIFY(grid->cell(28).selected); // 24 Feb in the February grid, which starts 27 Jan

        // The keyboard moves a cursor; only Return chooses.
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_Right);
        QCOMPARE(rig.model.calendar().fields(rig.model.date()).day, 24);
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

    void reloadTriggers()
    {
        Rig rig(std::nullopt);
        CalendarWorkspace &workspace = rig.showWorkspace();
        QVERIFY(rig.waitLoads(1));
        CalendarMonthGrid *grid = workspace.monthView()->grid();
        QTest::mouseClick(child<QToolButton>(&workspace, "previousMonth"), Qt::LeftButton);
        QVERIFY(rig.waitLoads(2));
        QVERIFY(rig.peer.requests().last().query().startsWith("from=2025-01-27&to=2025-03-10&zone="));

        // The refresh key works wherever the focus is, also after the agenda was rebuilt under it.
        workspace.agendaList()->setFocus();
        click(grid, twentieth);
        QVERIFY(QApplication::focusWidget());
        QTest::keySequence(QApplication::focusWidget(), QKeySequence::Refresh);
        QVERIFY(rig.waitLoads(3));

        // A different zone reloads, the same one does not.
        rig.preferences.setTimeZoneOverride(rig.model.zone());
        rig.preferences.setTimeZoneOverride(QStringLiteral("Asia/Tokyo"));
        QVERIFY(rig.waitLoads(4));
    }

    // A refused load shows its sentence and "Try again"; "New event" waits for a writable calendar.
    void loadErrorAndNewEvent()
    {
        Rig rig;
        rig.peer.route("GET", "/api/native/session", PeerAnswer(404));
        CalendarWorkspace &workspace = rig.showWorkspace();
        QVERIFY(rig.waitLoads(1));
        auto *panel = child<QWidget>(&workspace, "loadError");
        auto *agenda = child<QWidget>(&workspace, "agenda");
        QVERIFY(panel->isVisible() && !agenda->isVisible() && !rig.model.error().isEmpty());
        QCOMPARE(child<QLabel>(&workspace, "loadErrorText")->accessibleName(), rig.model.error());

        rig.serve(session(false), eventsJson());
        QTest::mouseClick(child(&workspace, "tryAgain"), Qt::LeftButton);
        QVERIFY(rig.waitLoads(2));
        QVERIFY(!panel->isVisible() && agenda->isVisible());
        QVERIFY(!workspace.newEventAction()->isEnabled());
        QTest::keySequence(&workspace, QKeySequence::New);
        QVERIFY(!workspace.editor());

        rig.serve(session(), eventsJson());
        workspace.refreshAction()->trigger();
        QVERIFY(rig.waitLoads(3));
        QTest::keySequence(&workspace, QKeySequence::New);
        QVERIFY(workspace.editor());
        QCOMPARE(workspace.editor()->calendarEvent().start_local, QStringLiteral("2025-03-12T09:00"));
    }

    void filterAgendaAndDetails()
    {
        Rig rig;
        CalendarWorkspace &workspace = rig.showWorkspace({780, 650});
        QVERIFY(rig.waitLoads(1));
        CalendarMonthGrid *grid = workspace.monthView()->grid();
        CalendarAgendaList *agenda = workspace.agendaList();

        // The filter changes the dots and the agenda without a reload.
        const auto shows = [&](qsizetype agendaRows, qsizetype onThirteenth) {
            QCOMPARE(std::pair(rows(workspace).size(), grid->cell(thirteenth).count), std::pair(agendaRows, onThirteenth));
            QCOMPARE(grid->cell(thirteenth).dot.alpha() > 0, onThirteenth > 0);
        };
        shows(2, 1);
        chooseFilter(workspace, QStringLiteral("Team"));
        shows(1, 0);
        QCOMPARE(child<QLabel>(&workspace, "detailTitle")->accessibleName(), QStringLiteral("Team"));
        QCOMPARE(rig.model.selectedCalendar(), std::optional<qint64>(1));
        chooseFilter(workspace, QStringLiteral("All calendars"));
        shows(2, 1);

        // Long server words wrap instead of widening the window; each row is read as one element,
        // with its text as received. Hues are angles on the circle.
        QVERIFY(workspace.minimumSizeHint().width() <= 780);
        const CalendarAgendaModel::Row standup = rows(workspace).at(0), cancelled = rows(workspace).at(1);
        QCOMPARE(std::pair(standup.barColor, cancelled.barColor),
                 std::pair(calendarStyle::hueColor(5), calendarStyle::hueColor(330)));
        QCOMPARE(QAccessible::queryAccessibleInterface(agenda)->child(1)->text(QAccessible::Name),
                 QStringList({cancelled.event.title, "Cancelled", "Home", longWord, cancelled.time}).join(", "));

        click(grid, thirteenth);
        QCOMPARE(rows(workspace).first().badge, QString()); // only the exact status "cancelled" counts

        // A read-only event from a calendar not loaded: no editing, a link to the web calendar.
        click(grid, twentieth);
        QCOMPARE(std::pair(rows(workspace).first().barColor, rows(workspace).first().time),
                 std::pair(calendarStyle::accent(), QStringLiteral("All day")));
        QTest::mouseClick(agenda->viewport(), Qt::LeftButton, {}, agenda->visualRect(agenda->model()->index(0, 0)).center());
        EventDetailsDialog *details = workspace.detailsDialog();
        QVERIFY(details && !child(details, "editEvent"));
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "openedUrl");
        QTest::mouseClick(child(details, "openInWebCalendar"), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QCOMPARE(m_opened, QList<QUrl>{QUrl(rig.peer.origin() + QStringLiteral("/events/42"))});
        QTest::mouseClick(child(details, "done"), Qt::LeftButton);
        QTRY_VERIFY(!workspace.detailsDialog());

        // A writable event hands over to the editor only after its details have closed; asking for
        // the same event again raises that editor.
        click(grid, twelfth);
        agenda->setFocus();
        agenda->setCurrentIndex(agenda->model()->index(0, 0));
        QTest::keyClick(agenda, Qt::Key_Return);
        details = workspace.detailsDialog();
        connect(details, &EventDetailsDialog::editRequested, this, [&] { QVERIFY(!workspace.editor()); });
        QTest::mouseClick(child(details, "editEvent"), Qt::LeftButton);
        QVERIFY(!details->isVisible());
        QPointer<EventEditor> editor = workspace.editor();
        QVERIFY(editor && editor->isVisible());
        QCOMPARE(editor->calendarEvent().id, 11);
        workspace.edit(editor->calendarEvent());
        QCOMPARE(workspace.editor(), editor.data());
        QCOMPARE(rig.loads(), 1); // nothing here asked for a reload
    }

    // Break opportunities go into long runs only between grapheme clusters: a surrogate pair, an accent,
    // a flag, a family joined by ZWJ, a Devanagari conjunct (two letters in front put them off any stride).
    void breakableKeepsTheText()
    {
        for (const char *cluster : {"😀", "e\u0301", "🇪🇸", "👩\u200D👩\u200D👧", "क्ष"}) {
            const QString one = QString::fromUtf8(cluster), text = QStringLiteral("xx") + one.repeated(40);
            const QStringList pieces = serverText::breakable(text).split(QChar(0x200B));
            QVERIFY2(pieces.size() > 1 && pieces.join(QString()) == text, cluster);
            qsizetype offset = -2;
            for (const QString &piece : pieces)
                QVERIFY2((offset += piece.size()) % one.size() == 0, cluster);
        }
    }

    // The zone file replaced the way zone tools do it (a new file renamed over the old one), then
    // written in place.
    void zoneFileChangeIsAnnounced()
    {
        QTemporaryDir folder;
        const QString zoneFile = folder.filePath(QStringLiteral("localtime")), next = folder.filePath(QStringLiteral("next"));
        const auto write = [](const QString &path, const QByteArray &bytes) {
            QFile file(path);
            return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
        };
        QVERIFY(write(zoneFile, "TZif Madrid"));
        SystemTimeZoneWatcher watcher(zoneFile, std::nullopt);
        QSignalSpy changed(&watcher, &SystemTimeZoneWatcher::changed);
        QVERIFY(write(next, "TZif Tokyo") && QFile::remove(zoneFile) && QFile::rename(next, zoneFile));
        QVERIFY(changed.wait(2000));
        QVERIFY(write(zoneFile, "TZif Lisbon") && changed.wait(2000));
    }
};

QTEST_MAIN(CalendarViewsTest)
#include "calendar_views_test.moc"
