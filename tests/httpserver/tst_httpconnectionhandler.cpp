// The connection handler end to end: a listener in its own thread, clients on
// loopback over plain TCP and over TLS with the build's certificate chain.

#include "testserver.h"

#include <QtTest>

using namespace corvane;
using namespace testsupport;

namespace {
const QByteArray entityTooLarge =
    "HTTP/1.1 413 entity too large\r\nConnection: close\r\n\r\n413 Entity too large\r\n";
} // namespace

class TestConnectionHandler : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempSettings> settings;
    std::unique_ptr<TestHandler> handler;
    std::unique_ptr<ServerThread> server;

    void startServer(HttpRequestHandler* requestHandler = nullptr)
    {
        server.reset(
            new ServerThread(settings->get(), requestHandler ? requestHandler : handler.get()));
        QVERIFY(server->port() != 0);
    }
    std::unique_ptr<HttpClient> connectClient()
    {
        QFETCH_GLOBAL(bool, tls);
        std::unique_ptr<HttpClient> client(new HttpClient(tls, rootCertificate()));
        if (!client->connectTo(server->port(), QStringLiteral("localhost"))) {
            return nullptr;
        }
        return client;
    }

private slots:
    void initTestCase() { keepThreadLogsOutOfTestLog(); }

    void initTestCase_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::newRow("tcp") << false;
        QTest::newRow("tls") << true;
    }

    void init()
    {
        QFETCH_GLOBAL(bool, tls);
        settings.reset(new TempSettings);
        (*settings)->setValue("host", "127.0.0.1");
        (*settings)->setValue("port", 0);
        (*settings)->setValue("minThreads", 1);
        (*settings)->setValue("maxThreads", 10);
        (*settings)->setValue("cleanupInterval", 3600000);
        if (tls) {
            (*settings)->setValue("sslKeyFile", ":/ssl/kvr.key");
            (*settings)->setValue("sslCertFile", ":/ssl/kvr.cert");
        }
        handler.reset(new TestHandler);
    }

    void cleanup()
    {
        server.reset();
        handler.reset();
        settings.reset();
    }

    void keepsTheConnectionForTheNextRequest()
    {
        startServer();
        auto client = connectClient();
        QVERIFY(client);
        for (int i = 0; i < 3; ++i) {
            client->send("GET /hello HTTP/1.1\r\nHost: localhost\r\n\r\n");
            const Response response = client->readResponse();
            QVERIFY(response.complete);
            QCOMPARE(response.raw, QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"
                                              "Content-Type: text/plain\r\n\r\nhello"));
        }
        QCOMPARE(client->tcpSocket()->state(), QAbstractSocket::ConnectedState);
        QCOMPARE(handler->served.load(), 3);
    }

    void answersPipelinedRequestsInOrder()
    {
        startServer();
        auto client = connectClient();
        QVERIFY(client);
        client->send("GET /echo HTTP/1.1\r\n\r\n"
                     "POST /echo HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc"
                     "PUT /echo?x=1 HTTP/1.1\r\nContent-Length: 2\r\n\r\nxy");
        QCOMPARE(client->readResponse().body, QByteArray("GET /echo "));
        QCOMPARE(client->readResponse().body, QByteArray("POST /echo abc"));
        QCOMPARE(client->readResponse().body, QByteArray("PUT /echo xy"));
        QVERIFY(!client->waitForClose(300));
    }

    void closesWhenAsked_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("Connection: close")
            << QByteArray("GET /hello HTTP/1.1\r\nConnection: close\r\n\r\n");
        QTest::newRow("lower case")
            << QByteArray("GET /hello HTTP/1.1\r\nconnection: close\r\n\r\n");
        QTest::newRow("upper case")
            << QByteArray("GET /hello HTTP/1.1\r\nConnection: CLOSE\r\n\r\n");
        QTest::newRow("mixed case")
            << QByteArray("GET /hello HTTP/1.1\r\nCONNECTION: cLoSe\r\n\r\n");
        QTest::newRow("HTTP/1.0") << QByteArray("GET /hello HTTP/1.0\r\n\r\n");
    }
    void closesWhenAsked()
    {
        QFETCH(QByteArray, request);
        startServer();
        auto client = connectClient();
        QVERIFY(client);
        client->send(request);
        const Response response = client->readResponse();
        QCOMPARE(response.raw, QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\n"
                                          "Content-Length: 5\r\nContent-Type: text/plain\r\n\r\n"
                                          "hello"));
        QVERIFY(client->waitForClose());
    }

    void finishesWhatTheHandlerLeftOpen_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<bool>("closes");
        QTest::newRow("nothing written")
            << QByteArray("/nothing") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")
            << false;
        QTest::newRow("parts without last part")
            << QByteArray("/parts")
            << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                          "3\r\nabc\r\n5\r\ndefgh\r\n0\r\n\r\n")
            << false;
        QTest::newRow("raw body under Connection: close")
            << QByteArray("/raw")
            << QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nraw body") << true;
        QTest::newRow("handler threw")
            << QByteArray("/throw") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")
            << false;
    }
    void finishesWhatTheHandlerLeftOpen()
    {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, expected);
        QFETCH(bool, closes);
        startServer();
        auto client = connectClient();
        QVERIFY(client);
        client->send("GET " + path + " HTTP/1.1\r\n\r\n");
        const Response response = client->readResponse();
        QVERIFY(response.complete);
        QCOMPARE(response.raw, expected);
        if (closes) {
            QVERIFY(client->waitForClose());
        } else {
            client->send("GET /hello HTTP/1.1\r\n\r\n");
            QCOMPARE(client->readResponse().body, QByteArray("hello"));
        }
    }

    void abortsMalformedRequestsWith413_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("maxRequestSize");
        QTest::newRow("two words") << QByteArray("GET /\r\n") << 16000;
        QTest::newRow("two spaces") << QByteArray("GET  / HTTP/1.1\r\n") << 16000;
        QTest::newRow("not HTTP") << QByteArray("GET / FTP/1.0\r\n") << 16000;
        QTest::newRow("body over limit")
            << QByteArray("POST /echo HTTP/1.1\r\nContent-Length: 100\r\n\r\n") << 100;
        QTest::newRow("negative length")
            << QByteArray("POST /echo HTTP/1.1\r\nContent-Length: -1\r\n\r\n") << 16000;
        QTest::newRow("signed length")
            << QByteArray("POST /echo HTTP/1.1\r\nContent-Length: +3\r\n\r\n") << 16000;
        QTest::newRow("overflowing length")
            << QByteArray("POST /echo HTTP/1.1\r\nContent-Length: 4294967299\r\n\r\n") << 16000;
        QTest::newRow("two lengths")
            << QByteArray("POST /echo HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\n")
            << 16000;
        QTest::newRow("chunked body")
            << QByteArray("POST /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n") << 16000;
        QTest::newRow("headers over limit")
            << QByteArray("GET /hello HTTP/1.1\r\nX-Long: " + QByteArray(200, 'a') + "\r\n") << 100;
    }
    void abortsMalformedRequestsWith413()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, maxRequestSize);
        (*settings)->setValue("maxRequestSize", maxRequestSize);
        startServer();
        auto client = connectClient();
        QVERIFY(client);
        client->send(request);
        QVERIFY(client->waitForClose());
        QCOMPARE(client->unread(), entityTooLarge);
        QCOMPARE(handler->served.load(), 0);
    }

    void cutsASilentClientWithoutAnswer()
    {
        (*settings)->setValue("readTimeout", 400);
        startServer();
        auto client = connectClient();
        QVERIFY(client);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(client->waitForClose(5000));
        QVERIFY2(timer.elapsed() >= 300, "cut before the read timeout");
        QCOMPARE(client->unread(), QByteArray());
    }

    void cutsSlowHeadersCountedFromTheLastResponse()
    {
        (*settings)->setValue("readTimeout", 600);
        startServer();
        auto client = connectClient();
        QVERIFY(client);
        client->send("GET /hello HTTP/1.1\r\n\r\n");
        QCOMPARE(client->readResponse().body, QByteArray("hello"));
        // One header byte every 100 ms keeps the line alive but never completes it.
        client->send("GET /hello HTTP/1.1\r\n");
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 3000 &&
               client->tcpSocket()->state() == QAbstractSocket::ConnectedState) {
            client->send("a");
            client->waitForClose(100);
        }
        QVERIFY(client->tcpSocket()->state() != QAbstractSocket::ConnectedState);
        QCOMPARE(client->unread(), QByteArray());
        QCOMPARE(handler->served.load(), 1);
    }

    void doesNotCutASteadyBody()
    {
        (*settings)->setValue("readTimeout", 400);
        (*settings)->setValue("maxRequestSize", 1000000);
        startServer();
        auto client = connectClient();
        QVERIFY(client);
        const int pieces = 20;
        const QByteArray piece(5000, 'b');
        client->send("POST /echo HTTP/1.1\r\nContent-Length: " +
                     QByteArray::number(pieces * piece.size()) + "\r\n\r\n");
        // 20 pieces 150 ms apart: the whole body takes far longer than the read timeout.
        for (int i = 0; i < pieces; ++i) {
            QTest::qSleep(150);
            client->send(piece);
        }
        const Response response = client->readResponse();
        QVERIFY(response.complete);
        QCOMPARE(response.body, "POST /echo " + piece.repeated(pieces));
    }

    void defaultServiceAnswers501()
    {
        HttpRequestHandler base;
        startServer(&base);
        auto client = connectClient();
        QVERIFY(client);
        client->send("GET /anything HTTP/1.1\r\n\r\n");
        QCOMPARE(client->readResponse().raw,
                 QByteArray("HTTP/1.1 501 not implemented\r\nContent-Length: 19\r\n\r\n"
                            "501 not implemented"));
    }

    void dropsAClientThatStopsReading()
    {
        // One handler only: the second client is served once the first one's handler is free.
        (*settings)->setValue("maxThreads", 1);
        (*settings)->setValue("writeTimeout", 500);
        startServer();
        auto stuck = connectClient();
        QVERIFY(stuck);
        stuck->tcpSocket()->setReadBufferSize(1024); // take almost nothing from the kernel
        stuck->send("GET /big?size=268435456 HTTP/1.1\r\n\r\n");
        QTRY_VERIFY(handler->served.load() == 1);

        QElapsedTimer timer;
        timer.start();
        bool served = false;
        while (!served && timer.elapsed() < 20000) {
            auto other = connectClient();
            if (other) {
                other->send("GET /hello HTTP/1.1\r\n\r\n");
                served = other->readResponse(2000).body == "hello";
            }
            if (!served) {
                QTest::qSleep(200);
            }
        }
        QVERIFY2(served, "the handler stayed blocked on a client that does not read");
    }

    void freesAHandlerWhoseDescriptorCannotBeAdopted()
    {
        MessageRecorder messages;
        HttpConnectionHandler connectionHandler(settings->get(), handler.get(), nullptr);
        connectionHandler.setBusy();
        QMetaObject::invokeMethod(&connectionHandler, "handleConnection", Qt::QueuedConnection,
                                  Q_ARG(tSocketDescriptor, tSocketDescriptor(-1)));
        QTRY_VERIFY(!connectionHandler.isBusy());
        QVERIFY(messages.contains(QStringLiteral("cannot initialize socket")));
    }
};

QTEST_GUILESS_MAIN(TestConnectionHandler)
#include "tst_httpconnectionhandler.moc"
