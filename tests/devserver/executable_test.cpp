#include "server.h"

#include <httplib.h>

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class ExecutableTest : public QObject {
    Q_OBJECT
private slots:
    void printsItsOriginAndStopsOnSignal_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }

    void printsItsOriginAndStopsOnSignal()
    {
        QFETCH(int, signal);
        QTemporaryDir dir;
        QProcess server;
        server.start(QStringLiteral(TEODAL_DEVSERVER), {"--port", "0", "--database", dir.filePath(QStringLiteral("db.sqlite"))});
        QVERIFY(server.waitForReadyRead(10'000));
        const QString origin = QString::fromUtf8(server.readLine()).trimmed();
        const auto match = QRegularExpression(QStringLiteral("^http://localhost:(\\d+)$")).match(origin);
        QVERIFY2(match.hasMatch(), qPrintable(origin));
        const auto home = httplib::Client("localhost", match.captured(1).toInt()).Get("/");
        QVERIFY(home && home->status == 200);

        ::kill(pid_t(server.processId()), signal);
        QVERIFY(server.waitForFinished(5'000));
        QCOMPARE(server.exitStatus(), QProcess::NormalExit);
        QCOMPARE(server.exitCode(), 0);
    }

    void refusesBadArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("port by name") << QStringList{"--port", "http"};
        QTest::newRow("negative seeded events") << QStringList{"--seed-events", "-1"};
    }

    void refusesBadArguments()
    {
        QFETCH(QStringList, arguments);
        QProcess server;
        server.start(QStringLiteral(TEODAL_DEVSERVER), arguments + QStringList{"--database", ":memory:"});
        QVERIFY(server.waitForFinished(5'000));
        QCOMPARE(server.exitCode(), 2);
    }

    // Over TLS the session cookie carries the __Host- prefix, and only that name opens a session.
    void tlsSessionUsesTheHostCookie()
    {
        QTemporaryDir dir;
        const QString key = dir.filePath(QStringLiteral("key.pem")), certificate = dir.filePath(QStringLiteral("cert.pem"));
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"), {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                                                  "-days", "1", "-subj", "/CN=localhost", "-keyout", key, "-out", certificate});
        QVERIFY(openssl.waitForFinished(30'000) && openssl.exitCode() == 0);

        DevServer server(ServerOptions{.port = 0, .tlsCertificate = certificate, .tlsKey = key});
        server.start();
        QVERIFY(server.origin().startsWith(QLatin1String("https://localhost:")));
        httplib::SSLClient client("localhost", server.port());
        client.enable_server_certificate_verification(false);
        const httplib::Headers origin{{"Origin", server.origin().toStdString()}};
        const auto postJson = [&](const char *path, const QJsonObject &body) {
            const auto answer = client.Post(path, origin, QJsonDocument(body).toJson().toStdString(), "application/json");
            return answer ? QJsonDocument::fromJson(QByteArray::fromStdString(answer->body)).object() : QJsonObject();
        };
        const QString verifier(43, QLatin1Char('v'));
        const QByteArray challenge = QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256)
                                         .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
        const QString id = postJson("/native/request", {{"challenge", QString::fromLatin1(challenge)}}).value("id").toString();
        const auto page = client.Get(("/native/start?id=" + id).toStdString());
        QVERIFY(page);
        const auto csrf = QRegularExpression(QStringLiteral("name=\"csrf\" value=\"([^\"]+)\"")).match(QString::fromStdString(page->body));
        const auto approved = client.Post("/native/start", origin,
                                          httplib::Params{{"id", id.toStdString()}, {"csrf", csrf.captured(1).toStdString()},
                                                          {"user", "3"}, {"decision", "approve"}});
        QVERIFY(approved && approved->status == 200);
        const QJsonObject session = postJson("/native/exchange", {{"id", id}, {"verifier", verifier}});
        QCOMPARE(session.value("name").toString(), QStringLiteral("__Host-corvane_session"));
        for (const auto &[name, status] : {std::pair("__Host-corvane_session", 200), std::pair("corvane_session", 401)}) {
            httplib::Headers headers = origin;
            headers.emplace("Cookie", name + ("=" + session.value("value").toString().toStdString()));
            const auto answer = client.Get("/api/native/session", headers);
            QCOMPARE(answer ? answer->status : 0, status);
        }
    }
};

QTEST_GUILESS_MAIN(ExecutableTest)
#include "executable_test.moc"
