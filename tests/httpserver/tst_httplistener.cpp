// The listener and its pool of handler threads: reuse, the 503 answer, the cleanup
// tick, close and listen again, binding failures and the TLS configuration.

#include "testserver.h"

#include <QFile>
#include <QThread>
#include <QtTest>

#include <thread>

using namespace corvane;
using namespace testsupport;

namespace {
const QByteArray tooManyConnections =
    "HTTP/1.1 503 too many connections\r\nConnection: close\r\n\r\nToo many connections\r\n";
} // namespace

class TestListener : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempSettings> settings;
    TestHandler handler;

    std::unique_ptr<HttpClient> connectPlain(quint16 port)
    {
        std::unique_ptr<HttpClient> client(new HttpClient);
        if (!client->connectTo(port)) {
            return nullptr;
        }
        return client;
    }
    static bool answersHello(HttpClient& client)
    {
        client.send("GET /hello HTTP/1.1\r\n\r\n");
        return client.readResponse().body == "hello";
    }

private slots:
    void initTestCase() { keepThreadLogsOutOfTestLog(); }

    void init()
    {
        settings.reset(new TempSettings);
        (*settings)->setValue("host", "127.0.0.1");
        (*settings)->setValue("port", 0);
        (*settings)->setValue("cleanupInterval", 3600000); // ticks are driven by hand
    }

    void reusesAnIdleHandler()
    {
        ServerThread server(settings->get(), &handler);
        for (int i = 0; i < 3; ++i) {
            auto client = connectPlain(server.port());
            QVERIFY(client);
            QVERIFY(answersHello(*client));
            client.reset();
            QTRY_COMPARE(server.poolSize(), 1);
            // the handler goes idle once the server has seen the disconnect
            QTest::qWait(50);
        }
        QCOMPARE(server.poolSize(), 1);
    }

    void answers503WhenEveryHandlerIsBusy_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::newRow("plain") << false;
        QTest::newRow("tls") << true; // the answer comes over TLS, not as a broken handshake
    }
    void answers503WhenEveryHandlerIsBusy()
    {
        QFETCH(bool, tls);
        (*settings)->setValue("maxThreads", 2);
        if (tls) {
            (*settings)->setValue("sslKeyFile", ":/ssl/kvr.key");
            (*settings)->setValue("sslCertFile", ":/ssl/kvr.cert");
        }
        ServerThread server(settings->get(), &handler);
        // Both handlers serve requests that do not end: nobody gives way.
        std::vector<std::unique_ptr<HttpClient>> busy;
        for (int i = 0; i < 2; ++i) {
            busy.emplace_back(new HttpClient(tls));
            QVERIFY(busy.back()->connectTo(server.port()));
            busy.back()->send("GET /block HTTP/1.1\r\n\r\n");
            QVERIFY(handler.entered.tryAcquire(1, 5000));
        }

        // A newcomer waits for a handler a while, then is told why it is not served.
        QElapsedTimer waited;
        waited.start();
        HttpClient third(tls);
        QVERIFY(third.connectTo(server.port()));
        QVERIFY(third.waitForClose(10000));
        QVERIFY2(waited.elapsed() >= 2500, qPrintable(QString::number(waited.elapsed())));
        QCOMPARE(third.unread(), tooManyConnections);

        // One that comes while a handler frees waits for it and is served.
        std::thread releaser([this] {
            QThread::msleep(500);
            handler.release.release(2);
        });
        HttpClient fourth(tls);
        const bool connected = fourth.connectTo(server.port());
        releaser.join();
        QVERIFY(connected);
        QVERIFY(answersHello(fourth));
        for (auto& client : busy) {
            QCOMPARE(client->readResponse().body, QByteArray("released"));
        }
        QCOMPARE(server.poolSize(), 2);
    }

    // While a connection waits for a handler, a keep-alive connection that has had its turn
    // is closed after its next answer, and the waiting one is served.
    void keepAliveConnectionsTakeTurnsWithWaitingOnes()
    {
        (*settings)->setValue("maxThreads", 2);
        ServerThread server(settings->get(), &handler);
        auto first = connectPlain(server.port());
        auto second = connectPlain(server.port());
        QVERIFY(first && second && answersHello(*first) && answersHello(*second));
        HttpClient third;
        QVERIFY(third.connectTo(server.port()));
        third.send("GET /hello HTTP/1.1\r\n\r\n");
        QTest::qWait(150);
        QVERIFY(!third.waitForClose(0));

        first->send("GET /hello HTTP/1.1\r\n\r\n");
        const Response answer = first->readResponse();
        QCOMPARE(answer.body, QByteArray("hello"));
        QCOMPARE(answer.header("Connection"), QByteArray("close"));
        QCOMPARE(third.readResponse().body, QByteArray("hello"));
        QVERIFY(answersHello(*second)); // nobody waits any more: it keeps its connection
        QCOMPARE(second->tcpSocket()->state(), QAbstractSocket::ConnectedState);
    }

    void theLongestWaitingConnectionGivesWay()
    {
        // Clients that never finish a request hold every handler; after a grace period the
        // one that has waited longest makes room for a newcomer, which is served.
        (*settings)->setValue("maxThreads", 2);
        (*settings)->setValue("readTimeout", 60000);
        ServerThread server(settings->get(), &handler);
        std::vector<std::unique_ptr<HttpClient>> slow;
        for (int i = 0; i < 2; ++i) {
            slow.push_back(connectPlain(server.port()));
            QVERIFY(slow.back());
            slow.back()->send("GET /hello HTTP/1.1\r\nX-Slow: ");
            QTest::qWait(100);
        }
        QTest::qWait(2100);
        for (int round = 0; round < 2; ++round) {
            auto client = connectPlain(server.port());
            QVERIFY(client);
            QVERIFY(answersHello(*client));
        }
        QVERIFY(slow[0]->waitForClose());
        QCOMPARE(slow[0]->unread(), QByteArray());
        QCOMPARE(slow[1]->tcpSocket()->state(), QAbstractSocket::ConnectedState);
        QCOMPARE(server.poolSize(), 2);
    }

    void cleanupRetiresOneSurplusIdleHandlerPerTick()
    {
        (*settings)->setValue("minThreads", 4);
        (*settings)->setValue("maxThreads", 20);
        ServerThread server(settings->get(), &handler);

        // Ten connections at once make ten handlers; two of them stay busy.
        std::vector<std::unique_ptr<HttpClient>> clients;
        for (int i = 0; i < 10; ++i) {
            clients.push_back(connectPlain(server.port()));
            QVERIFY(clients.back());
            QVERIFY(answersHello(*clients.back()));
        }
        QCOMPARE(server.poolSize(), 10);
        clients.resize(2);
        QTest::qWait(200); // let the eight disconnects reach their handlers

        for (int expected = 9; expected >= 6; --expected) {
            server.cleanupTick();
            QCOMPARE(server.poolSize(), expected);
        }
        // Four idle handlers are left besides the two busy ones: nothing more goes.
        server.cleanupTick();
        server.cleanupTick();
        QCOMPARE(server.poolSize(), 6);
        QVERIFY(answersHello(*clients[0]));
        QVERIFY(answersHello(*clients[1]));

        // Busy handlers are never removed, however few idle ones there are.
        (*settings)->setValue("minThreads", 0);
        for (int i = 0; i < 10; ++i) {
            server.cleanupTick();
        }
        QCOMPARE(server.poolSize(), 2);
        QVERIFY(answersHello(*clients[0]));
        QVERIFY(answersHello(*clients[1]));
    }

    void servesAgainAfterCloseAndListen()
    {
        ServerThread server(settings->get(), &handler);
        const quint16 port = server.port();
        (*settings)->setValue("port", port); // listen() binds the same port again
        auto client = connectPlain(port);
        QVERIFY(client);
        QVERIFY(answersHello(*client));

        server.call([&] { server.listener->close(); });
        QVERIFY(client->waitForClose());
        QCOMPARE(server.poolSize(), -1);
        QVERIFY(!connectPlain(port) || !answersHello(*connectPlain(port)));

        server.call([&] { server.listener->listen(); });
        auto again = connectPlain(port);
        QVERIFY(again);
        QVERIFY(answersHello(*again));
    }

    void reportsAPortInUseAndCanListenLater()
    {
        QTcpServer blocker;
        QVERIFY(blocker.listen(QHostAddress::LocalHost));
        const quint16 port = blocker.serverPort();
        (*settings)->setValue("port", port);

        MessageRecorder messages;
        HttpListener listener(settings->get(), &handler);
        QVERIFY(!listener.isListening());
        QVERIFY(
            messages.contains(QStringLiteral("HttpListener: Cannot bind on port %1: ").arg(port)));

        blocker.close();
        listener.listen();
        QVERIFY(listener.isListening());
        QVERIFY(messages.contains(QStringLiteral("HttpListener: Listening on port %1").arg(port)));
    }

    void tlsConfiguration_data()
    {
        QTest::addColumn<QString>("keyFile");
        QTest::addColumn<QString>("certFile");
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QString>("message");
        QTest::newRow("no key") << QString() << ":/ssl/kvr.cert" << false << QString();
        QTest::newRow("no certificate") << ":/ssl/kvr.key" << QString() << false << QString();
        QTest::newRow("resources")
            << ":/ssl/kvr.key"
            << ":/ssl/kvr.cert" << true << "HttpConnectionHandlerPool: SSL settings loaded";
        QTest::newRow("next to the settings file")
            << "kvr.key"
            << "kvr.cert" << true << "HttpConnectionHandlerPool: SSL settings loaded";
        QTest::newRow("certificate missing")
            << "kvr.key"
            << "missing.cert" << false << "HttpConnectionHandlerPool: cannot open sslCertFile ";
        QTest::newRow("key missing")
            << "missing.key"
            << "kvr.cert" << false << "HttpConnectionHandlerPool: cannot open sslKeyFile ";
    }
    void tlsConfiguration()
    {
        QFETCH(QString, keyFile);
        QFETCH(QString, certFile);
        QFETCH(bool, tls);
        QFETCH(QString, message);
        QVERIFY(QFile::copy(tlsFile("kvr.key"), settings->path("kvr.key")));
        QVERIFY(QFile::copy(tlsFile("kvr.cert"), settings->path("kvr.cert")));
        (*settings)->setValue("sslKeyFile", keyFile);
        (*settings)->setValue("sslCertFile", certFile);
        (*settings)->sync();

        MessageRecorder messages;
        ServerThread server(settings->get(), &handler);
        bool enabled = false;
        server.call([&] { enabled = server.listener->connectionHandlerPool()->isSslEnabled(); });
        QCOMPARE(enabled, tls);
        if (message.isEmpty()) {
            for (const QString& text : messages.all()) {
                QVERIFY2(!text.startsWith("HttpConnectionHandlerPool"), qPrintable(text));
            }
        } else {
            QVERIFY2(messages.contains(message), qPrintable(messages.all().join('\n')));
        }

        HttpClient client(tls, rootCertificate());
        QVERIFY(client.connectTo(server.port(), QStringLiteral("localhost")));
        QVERIFY(answersHello(client));
    }

    void clientTrustingTheRootCompletesTheHandshake_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("localhost") << "localhost";
        QTest::newRow("127.0.0.1") << "127.0.0.1";
    }
    void clientTrustingTheRootCompletesTheHandshake()
    {
        QFETCH(QString, host);
        (*settings)->setValue("host", QString());
        (*settings)->setValue("sslKeyFile", ":/ssl/kvr.key");
        (*settings)->setValue("sslCertFile", ":/ssl/kvr.cert");
        ServerThread server(settings->get(), &handler);

        const QList<QSslCertificate> root = rootCertificate();
        QCOMPARE(root.size(), 1);
        HttpClient client(true, root); // verifies the peer against the root CA only
        QVERIFY2(client.connectTo(server.port(), host),
                 qPrintable(client.sslSocket()->errorString()));
        QVERIFY(client.sslSocket()->sslHandshakeErrors().isEmpty());
        const QList<QSslCertificate> chain = client.sslSocket()->peerCertificateChain();
        QCOMPARE(chain.size(), 2);
        QCOMPARE(chain.last(), root.first());
        QVERIFY(answersHello(client));

        // A client that trusts only the system's roots refuses the connector.
        HttpClient stranger(true, QSslConfiguration::systemCaCertificates());
        QVERIFY(!stranger.connectTo(server.port(), host));
    }
};

QTEST_GUILESS_MAIN(TestListener)
#include "tst_httplistener.moc"
