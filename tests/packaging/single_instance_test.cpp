#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

// Starts of the app, and of a probe with the app's start-up, against private runtime folders and,
// where a test starts one, a private session bus.
class SingleInstanceTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_home;
    std::vector<std::unique_ptr<QProcess>> m_started;
    QString m_bus; // the session bus's address, or empty for none

    QProcess &start(const QString &program, const QTemporaryDir &runtime)
    {
        auto &process = m_started.emplace_back(std::make_unique<QProcess>());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        if (m_bus.isEmpty())
            env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        else
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus);
        process->setProcessEnvironment(env);
        process->start(program, {});
        return *process;
    }
    // The next line the probe prints, or an empty one after 15 s.
    static QByteArray nextLine(QProcess &process)
    {
        QElapsedTimer timer;
        timer.start();
        while (!process.canReadLine() && timer.elapsed() < 15000)
            process.waitForReadyRead(100);
        return process.readLine().trimmed();
    }
    static QString socketIn(const QTemporaryDir &dir) { return dir.filePath(QStringLiteral("app.teodal.calendar.instance")); }

private slots:
    void initTestCase() { QVERIFY(m_home.isValid()); }
    void cleanup()
    {
        for (auto &process : m_started) {
            process->kill();
            process->waitForFinished(5000);
        }
        m_started.clear();
        m_bus.clear();
    }

    void secondStartShowsTheFirst_data()
    {
        QTest::addColumn<bool>("sessionBus");
        QTest::newRow("local socket") << false;
        QTest::newRow("session bus") << true;
    }
    void secondStartShowsTheFirst()
    {
        QFETCH(bool, sessionBus);
        if (sessionBus) {
            QProcess &bus = *m_started.emplace_back(std::make_unique<QProcess>());
            bus.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
            m_bus = QString::fromUtf8(nextLine(bus));
            QVERIFY2(!m_bus.isEmpty(), "dbus-daemon did not start");
        }
        QTemporaryDir runtime;
        QProcess &first = start(QStringLiteral(PROBE), runtime);
        QCOMPARE(nextLine(first), "running");
        QProcess &second = start(QStringLiteral(PROBE), runtime);
        QVERIFY(second.waitForFinished(5000));
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(nextLine(second), "forwarded");
        QCOMPARE(nextLine(first), "activated");
        QCOMPARE(QFileInfo::exists(socketIn(runtime)), !sessionBus);

        // Another session (another bus or none, another runtime folder) has an instance of its own.
        m_bus.clear();
        QTemporaryDir otherRuntime;
        QCOMPARE(nextLine(start(QStringLiteral(PROBE), otherRuntime)), "running");
    }

    void crashedCopyIsTakenOver()
    {
        QTemporaryDir runtime;
        QProcess &crashed = start(QStringLiteral(PROBE), runtime);
        QCOMPARE(nextLine(crashed), "running");
        crashed.kill();
        QVERIFY(crashed.waitForFinished(5000));
        QVERIFY(QFileInfo::exists(socketIn(runtime)));
        QProcess &next = start(QStringLiteral(PROBE), runtime);
        QCOMPARE(nextLine(next), "running");
        QCOMPARE(nextLine(start(QStringLiteral(PROBE), runtime)), "forwarded");
        QCOMPARE(nextLine(next), "activated");
    }

    void simultaneousStartsSettleOnOne()
    {
        QTemporaryDir runtime;
        for (int i = 0; i < 4; ++i)
            start(QStringLiteral(PROBE), runtime);
        QByteArrayList said;
        for (auto &process : m_started)
            said << nextLine(*process);
        std::sort(said.begin(), said.end());
        QCOMPARE(said, (QByteArrayList{"forwarded", "forwarded", "forwarded", "running"}));
    }

    void theAppItself()
    {
        QTemporaryDir runtime;
        QProcess &first = start(QStringLiteral(APP), runtime);
        QElapsedTimer timer;
        timer.start();
        while (!QFileInfo::exists(socketIn(runtime)) && timer.elapsed() < 15000)
            QTest::qWait(50);
        QVERIFY(QFileInfo::exists(socketIn(runtime)));
        QProcess &second = start(QStringLiteral(APP), runtime);
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "single_instance_test.moc"
