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
    void printsItsOriginAndStopsOnSignal_data();
    void printsItsOriginAndStopsOnSignal();
    void refusesBadArguments();
    void tlsSessionUsesTheHostCookie();
};

void ExecutableTest::printsItsOriginAndStopsOnSignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

void ExecutableTest::printsItsOriginAndStopsOnSignal()
{
    QFETCH(int, signal);
    QTemporaryDir dir;
    QProcess server;
    server.start(QStringLiteral(TEODAL_DEVSERVER),
                 {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--database"), dir.filePath(QStringLiteral("db.sqlite"))});
    QVERIFY(server.waitForReadyRead(10'000));
    const QString origin = QString::fromUtf8(server.readLine()).trimmed();
    const auto match = QRegularExpression(QStringLiteral("^http://localhost:(\\d+)$")).match(origin);
    QVERIFY2(match.hasMatch(), qPrintable(origin));

    httplib::Client client("localhost", match.captured(1).toInt());
    const auto home = client.Get("/");
    QVERIFY(home);
    QCOMPARE(home->status, 200);

    ::kill(pid_t(server.processId()), signal);
    QVERIFY(server.waitForFinished(5'000));
    QCOMPARE(server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.exitCode(), 0);
}

void ExecutableTest::refusesBadArguments()
{
    QProcess server;
    server.start(QStringLiteral(TEODAL_DEVSERVER), {QStringLiteral("--port"), QStringLiteral("http"), QStringLiteral("--database"),
                                                    QStringLiteral(":memory:")});
    QVERIFY(server.waitForFinished(5'000));
    QCOMPARE(server.exitCode(), 2);
}

void ExecutableTest::tlsSessionUsesTheHostCookie()
{
    QTemporaryDir dir;
    const QString key = dir.filePath(QStringLiteral("key.pem")), certificate = dir.filePath(QStringLiteral("cert.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"), {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1", "-subj",
                                              "/CN=localhost", "-keyout", key, "-out", certificate});
    QVERIFY(openssl.waitForFinished(30'000));
    QCOMPARE(openssl.exitCode(), 0);

    ServerOptions options;
    options.port = 0;
    options.tlsCertificate = certificate;
    options.tlsKey = key;
    DevServer server(options);
    server.start();
    QVERIFY(server.origin().startsWith(QLatin1String("https://localhost:")));

    httplib::SSLClient client("localhost", server.port());
    client.enable_server_certificate_verification(false);
    const httplib::Headers origin{{"Origin", server.origin().toStdString()}};
    const QString verifier(43, QLatin1Char('v'));
    const QString challenge = QString::fromLatin1(
        QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256).toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    const auto begin = client.Post("/native/request", origin, QStringLiteral("{\"challenge\":\"%1\"}").arg(challenge).toStdString(),
                                   "application/json");
    QVERIFY(begin);
    const QString id = QJsonDocument::fromJson(QByteArray::fromStdString(begin->body)).object().value("id").toString();
    const auto page = client.Get(("/native/start?id=" + id).toStdString());
    QVERIFY(page);
    const QString csrf = QRegularExpression(QStringLiteral("name=\"csrf\" value=\"([^\"]+)\"")).match(QString::fromStdString(page->body)).captured(1);
    const auto approved = client.Post("/native/start", origin,
                                      httplib::Params{{"id", id.toStdString()}, {"csrf", csrf.toStdString()}, {"user", "3"}, {"decision", "approve"}});
    QVERIFY(approved);
    QCOMPARE(approved->status, 200);
    const auto exchanged = client.Post("/native/exchange", origin,
                                       QStringLiteral("{\"id\":\"%1\",\"verifier\":\"%2\"}").arg(id, verifier).toStdString(), "application/json");
    QVERIFY(exchanged);
    const QJsonObject session = QJsonDocument::fromJson(QByteArray::fromStdString(exchanged->body)).object();
    QCOMPARE(session.value("name").toString(), QStringLiteral("__Host-corvane_session"));

    const QString value = session.value("value").toString();
    const auto withCookie = [&](const QString &name) {
        httplib::Headers headers = origin;
        headers.emplace("Cookie", (name + QLatin1Char('=') + value).toStdString());
        const auto answer = client.Get("/api/native/session", headers);
        return answer ? answer->status : 0;
    };
    QCOMPARE(withCookie(QStringLiteral("__Host-corvane_session")), 200);
    QCOMPARE(withCookie(QStringLiteral("corvane_session")), 401);
}

QTEST_GUILESS_MAIN(ExecutableTest)
#include "executable_test.moc"
