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

    // A client that sends "Expect: 100-continue" is told to go on when its head is
    // acceptable, and refused at once when it is not.
    void answersExpectContinue()
    {
        startServer();
        auto client = connectClient();
        QVERIFY(client);
        client->send("POST /echo HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 3\r\n\r\n");
        const QByteArray interim = "HTTP/1.1 100 Continue\r\n\r\n";
        QByteArray received;
        QElapsedTimer timer;
        timer.start();
        while (received.size() < interim.size() && timer.elapsed() < 5000) {
            client->tcpSocket()->waitForReadyRead(100);
            received += client->tcpSocket()->readAll();
        }
        QCOMPARE(received, interim);
        client->send("abc");
        QCOMPARE(client->readResponse().body, QByteArray("POST /echo abc"));

        auto refused = connectClient();
        QVERIFY(refused);
        refused->send("POST /echo HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: "
                      "999999999\r\n\r\n");
        QVERIFY(refused->readResponse().statusLine.startsWith("HTTP/1.1 413"));
    }

    void neverServesARequestInsideAnother()
    {
        // Bytes that arrive while an answer is written must wait for it: serving them from
        // within the write would nest a request in another on the handler's thread (and
        // deadlock a handler that serialises its calls).
        startServer();
        auto client = connectClient();
        QVERIFY(client);
        client->tcpSocket()->setReadBufferSize(1024); // the big answer stalls in its write
        client->send("GET /big?size=33554432 HTTP/1.1\r\n\r\n");
        QTRY_COMPARE(handler->served.load(), 1);
        QTest::qWait(200);
        client->send("GET /hello HTTP/1.1\r\n\r\n" + QByteArray("junk\r\n").repeated(3));
        QTest::qWait(200);
        client->tcpSocket()->setReadBufferSize(0);
        QCOMPARE(client->readResponse(60000).body.size(), 33554432);
        QCOMPARE(client->readResponse().body, QByteArray("hello"));
        QVERIFY(client->waitForClose()); // the junk is refused
        QCOMPARE(handler->nested.load(), 0);
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

    void refusesMalformedRequests_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("maxRequestSize");
        QTest::addColumn<QByteArray>("answer");
        const QByteArray badRequest =
            "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n400 Bad Request\r\n";
        const auto row = [](const char* name, const QByteArray& request, const QByteArray& answer,
                            int maxRequestSize = 16000) {
            QTest::newRow(name) << request << maxRequestSize << answer;
        };
        const QByteArray smuggled = "GET /hello HTTP/1.1\r\n\r\n";
        const QByteArray length = QByteArray::number(smuggled.size());
        // clang-format off
        row("two words", "GET /\r\n", entityTooLarge);
        row("two spaces", "GET  / HTTP/1.1\r\n", entityTooLarge);
        row("not HTTP", "GET / FTP/1.0\r\n", entityTooLarge);
        row("body over limit", "POST /echo HTTP/1.1\r\nContent-Length: 100\r\n\r\n", entityTooLarge, 100);
        row("negative length", "POST /echo HTTP/1.1\r\nContent-Length: -1\r\n\r\n", entityTooLarge);
        row("signed length", "POST /echo HTTP/1.1\r\nContent-Length: +3\r\n\r\n", entityTooLarge);
        row("overflowing length", "POST /echo HTTP/1.1\r\nContent-Length: 4294967299\r\n\r\n", entityTooLarge);
        row("two lengths", "POST /echo HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\n", entityTooLarge);
        row("chunked body", "POST /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", entityTooLarge);
        row("headers over limit", "GET /hello HTTP/1.1\r\nX-Long: " + QByteArray(200, 'a') + "\r\n", entityTooLarge, 100);
        // After a refusal nothing more of the connection is read: one answer, not one per piece.
        row("long request line, more behind it", ("GET /" + QByteArray(300, 'A') + " HTTP/1.1\r\n\r\n").repeated(20), entityTooLarge, 100);
        // A body that is run as a request of its own if the length or encoding is missed.
        row("blank before the colon", "POST /echo HTTP/1.1\r\nContent-Length : " + length + "\r\n\r\n" + smuggled, badRequest);
        row("tab before the colon", "POST /echo HTTP/1.1\r\nTransfer-Encoding\t: chunked\r\n\r\n" + smuggled, badRequest);
        row("NUL in a header value", QByteArray("GET /hello HTTP/1.1\r\nAuthorization: Bearer k@junk\r\n\r\n").replace('@', '\0'), badRequest);
        row("NUL in the request line", QByteArray("GET /hello@ HTTP/1.1\r\n\r\n").replace('@', '\0'), badRequest);
        row("bare CR in a header value", "GET /hello HTTP/1.1\r\nOrigin: http://localhost\rX-A: b\r\n\r\n", badRequest);
        row("too many header lines", "GET /hello HTTP/1.1\r\n" + QByteArray("X-A: b\r\n").repeated(101) + "\r\n",
            "HTTP/1.1 431 Request Header Fields Too Large\r\nConnection: close\r\n\r\n431 Request Header Fields Too Large\r\n");
        // clang-format on
    }
    void refusesMalformedRequests()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, maxRequestSize);
        QFETCH(QByteArray, answer);
        (*settings)->setValue("maxRequestSize", maxRequestSize);
        startServer();
        auto client = connectClient();
        QVERIFY(client);
        client->send(request);
        QVERIFY(client->waitForClose());
        QCOMPARE(client->unread(), answer);
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

    void cutsATrickleCountedFromTheLastResponse_data()
    {
        QTest::addColumn<QByteArray>("start");
        QTest::newRow("head") << QByteArray("GET /hello HTTP/1.1\r\n");
        // The body's own deadline: the read timeout and 5000 bytes at the slowest rate served.
        QTest::newRow("body") << QByteArray("POST /echo HTTP/1.1\r\nContent-Length: 5000\r\n\r\n");
    }
    void cutsATrickleCountedFromTheLastResponse()
    {
        QFETCH(QByteArray, start);
        (*settings)->setValue("readTimeout", 600);
        startServer();
        auto client = connectClient();
        QVERIFY(client);
        client->send("GET /hello HTTP/1.1\r\n\r\n");
        QCOMPARE(client->readResponse().body, QByteArray("hello"));
        // One byte every 100 ms keeps the connection busy but never completes the request.
        client->send(start);
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
