#include "loopback_peer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;

// The peer is what every network test trusts, so its recording and its misbehaviour are checked
// here against Qt's own client.
class LoopbackPeerTest : public QObject {
    Q_OBJECT

    QNetworkReply *get(QNetworkAccessManager &manager, const QString &url)
    {
        QNetworkRequest request{QUrl(url)};
        request.setRawHeader("Content-Type", "text/plain");
        request.setRawHeader("X-First", "1");
        request.setRawHeader("x-second", "two words");
        return manager.post(request, QByteArray("payload"));
    }

private slots:
    void recordsRequestsAndServesRoutesQueueAndHandler()
    {
        LoopbackPeer peer;
        peer.route("POST", "/routed", PeerAnswer(201).withBody("r"));
        peer.enqueue(PeerAnswer(202).withBody("q"));
        peer.setHandler([](const RecordedRequest &r) { return PeerAnswer(203).withBody(r.query()); });
        QNetworkAccessManager manager;
        const QList<std::pair<QString, std::pair<int, QByteArray>>> cases = {
            {"/routed?x=1", {201, "r"}}, {"/other", {202, "q"}}, {"/other?a=%2F", {203, "a=%2F"}}};
        for (const auto &[target, expected] : cases) {
            QNetworkReply *reply = get(manager, peer.origin() + target);
            QVERIFY(QTest::qWaitFor([&] { return reply->isFinished(); }, 5000));
            QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), expected.first);
            QCOMPARE(reply->readAll(), expected.second);
            reply->deleteLater();
        }
        QCOMPARE(peer.requests().size(), 3);
        const RecordedRequest &last = peer.requests().at(2);
        QCOMPARE(last.method, QByteArray("POST"));
        QCOMPARE(last.target, QByteArray("/other?a=%2F"));
        QCOMPARE(last.path(), QByteArray("/other"));
        QCOMPARE(last.body, QByteArray("payload"));
        QCOMPARE(last.header("x-first"), QByteArray("1"));
        QCOMPARE(last.headerValues("X-SECOND"), QList<QByteArray>{"two words"});
        QVERIFY(last.head.endsWith("\r\n\r\n"));
        QCOMPARE(peer.connectionsAccepted(), 1);
    }

    void tricklesAndDrops()
    {
        LoopbackPeer peer;
        peer.enqueue(PeerAnswer(200).withBody("abcdef").inChunks(2, 30ms));
        peer.enqueue(PeerAnswer(200).withBody("abcdef").dropAfterBytes(3));
        QNetworkAccessManager manager;

        QNetworkReply *trickled = get(manager, peer.origin() + "/t");
        QSignalSpy reads(trickled, &QNetworkReply::readyRead);
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(QTest::qWaitFor([&] { return trickled->isFinished(); }, 5000));
        QVERIFY(elapsed.elapsed() >= 85);
        QVERIFY(reads.size() >= 2);
        QCOMPARE(trickled->error(), QNetworkReply::NoError);

        QNetworkReply *dropped = get(manager, peer.origin() + "/d");
        QVERIFY(QTest::qWaitFor([&] { return dropped->isFinished(); }, 5000));
        QCOMPARE(dropped->error(), QNetworkReply::RemoteHostClosedError);
        QCOMPARE(peer.bodyBytesWritten(), 9);
        QVERIFY(peer.waitForAllClosed());
    }

    void servesTlsWithTheTrustedCertificate()
    {
        LoopbackPeer::trustInThisProcess();
        LoopbackPeer peer(LoopbackPeer::Tls);
        peer.enqueue(PeerAnswer(200).withBody("secure"));
        QNetworkAccessManager manager;
        QNetworkReply *reply = get(manager, peer.origin(QStringLiteral("localhost")));
        QVERIFY(QTest::qWaitFor([&] { return reply->isFinished(); }, 5000));
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        QCOMPARE(reply->readAll(), QByteArray("secure"));
        QCOMPARE(peer.requests().at(0).header("host"), QByteArray("localhost:") + QByteArray::number(peer.port()));
    }
};

QTEST_GUILESS_MAIN(LoopbackPeerTest)
#include "loopback_peer_test.moc"
