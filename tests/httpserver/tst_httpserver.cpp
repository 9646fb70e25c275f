// Listener, handler pool and connection handlers end to end, on loopback over TCP and over TLS.

#include "httplistener.h"
#include "testsupport.h"

#include <QProcess>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <stdexcept>
#include <thread>

using namespace corvane;
using namespace testsupport;

namespace {
// Answers by path; counts requests, and those served inside another on the same thread.
struct TestHandler : HttpRequestHandler
{
    std::atomic<int> served{0}, nested{0};
    QSemaphore entered, release; // "/block" holds its request until released

    void service(HttpRequest& request, HttpResponse& response) override
    {
        static thread_local bool inside = false;
        const QByteArray path = request.getPath();
        nested += inside;
        if (++served && path == "/throw") {
            throw std::runtime_error("handler failed");
        }
        inside = true;
        if (path == "/hello" || path == "/echo") {
            response.setHeader("Content-Type", "text/plain");
            response.write(
                path == "/hello" ? "hello" : request.getMethod() + ' ' + request.getBody(), true);
        } else if (path == "/parts" || path == "/raw") {
            response.setHeader("Connection", path == "/raw" ? "close" : "keep-alive");
            response.write("abc");
            response.write("defgh");
        } else if (path == "/block") {
            entered.release();
            release.acquire();
            response.write("released", true);
        } else if (path == "/big") { // as many MiB as asked for, while the client is there
            for (int mb = request.getParameter("mb").toInt(); mb > 0 && response.isConnected();
                 --mb) {
                response.write(QByteArray(1 << 20, 'x'));
            }
        } else if (path == "/default") {
            HttpRequestHandler::service(request, response);
        } // any other path: nothing written, the connection handler finishes the response
        inside = false;
    }
};

bool answersHello(HttpClient& client)
{
    client.send("GET /hello HTTP/1.1\r\n\r\n");
    return client.readResponse().body == "hello";
}
} // namespace

class TestHttpServer : public QObject
{
    Q_OBJECT

    std::unique_ptr<TempSettings> settings;
    std::unique_ptr<TestHandler> handler;
    std::unique_ptr<QThread> thread; // the listener's, with an event loop: the clients block
    HttpListener* listener = nullptr;
    quint16 port = 0;
    bool tls = false;

    void start(bool withTls = false)
    {
        tls = withTls;
        (*settings)->setValue("sslKeyFile", tls ? ":/ssl/kvr.key" : "");
        QSemaphore ready;
        thread.reset(QThread::create([this, &ready] {
            HttpListener own(settings->get(), handler.get());
            listener = &own;
            QTimer::singleShot(0, [&ready] { ready.release(); });
            QEventLoop().exec();
        }));
        thread->start();
        ready.acquire();
        port = quint16(call([](HttpListener* l) { return l->serverPort(); }));
    }
    int call(const std::function<int(HttpListener*)>& function) // in the listener's thread
    {
        int result = 0;
        QMetaObject::invokeMethod(
            listener, [&] { result = function(listener); }, Qt::BlockingQueuedConnection);
        return result;
    }
    int poolSize()
    {
        return call([](HttpListener* l) {
            return l->connectionHandlerPool() ? l->connectionHandlerPool()->size() : -1;
        });
    }
    // A client that has connected, or failed to: its calls then fail.
    std::unique_ptr<HttpClient> client(const QString& host = QStringLiteral("localhost"))
    {
        std::unique_ptr<HttpClient> http(new HttpClient(
            tls, QSslCertificate::fromPath(QStringLiteral(PRINTARRA_TLS_DIR "/rootca.pem"))));
        http->connectTo(port, host);
        return http;
    }

private slots:
    void initTestCase() { keepThreadLogsOutOfTestLog(); }
    void init()
    {
        settings.reset(new TempSettings);
        (*settings)->setValue("host", "127.0.0.1");
        (*settings)->setValue("port", 0);
        (*settings)->setValue("maxThreads", 2);
        (*settings)->setValue("cleanupInterval", 3600000); // ticks are driven by hand
        (*settings)->setValue("sslCertFile", ":/ssl/kvr.cert");
        handler.reset(new TestHandler);
    }
    void cleanup()
    {
        if (thread) {
            thread->quit();
            thread->wait();
        }
    }

    // What one connection receives for the bytes sent, a request that closes it sent behind them:
    // everything a kept connection answers, and nothing after an answer that closes.
    void exchange_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("maxRequestSize");
        QTest::addColumn<QByteArray>("answer");
        // clang-format off
        const QByteArray ok = "HTTP/1.1 200 OK\r\n", empty = ok + "Content-Length: 0\r\n\r\n", text = "Content-Type: text/plain\r\n\r\n";
        const QByteArray closed = ok + "Connection: close\r\nContent-Length: 5\r\n" + text + "hello";
        const QByteArray tooLarge = "HTTP/1.1 413 entity too large\r\nConnection: close\r\n\r\n413 Entity too large\r\n";
        const auto refused = [](const QByteArray& status) { return "HTTP/1.1 " + status + "\r\nConnection: close\r\n\r\n" + status + "\r\n"; };
        for (bool tls : {false, true}) {
            const auto row = [tls](const char* name, const QByteArray& request, const QByteArray& answer, int maxRequestSize = 16000) {
                QTest::addRow("%s%s", tls ? "tls, " : "", name) << tls << request << maxRequestSize << answer;
            };
            row("pipelined", "GET /hello HTTP/1.1\r\n\r\nPOST /echo HTTP/1.1\r\nContent-Length: 3\r\n\r\nabcGET /echo HTTP/1.1\r\n\r\n", ok + "Content-Length: 5\r\n" + text + "hello" + ok + "Content-Length: 8\r\n" + text + "POST abc" + ok + "Content-Length: 4\r\n" + text + "GET " + closed);
            row("close in any case", "GET /hello HTTP/1.1\r\nCONNECTION: cLoSe\r\n\r\n", closed);
            row("HTTP/1.0", "GET /hello HTTP/1.0\r\n\r\n", closed);
            row("nothing written", "GET /nothing HTTP/1.1\r\n\r\n", empty + closed);
            row("parts without a last part", "GET /parts HTTP/1.1\r\n\r\n", ok + "Connection: keep-alive\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n5\r\ndefgh\r\n0\r\n\r\n" + closed);
            row("raw body under Connection: close", "GET /raw HTTP/1.1\r\n\r\n", ok + "Connection: close\r\n\r\nabcdefgh");
            row("handler threw", "GET /throw HTTP/1.1\r\n\r\n", empty + closed);
            row("default service", "GET /default HTTP/1.1\r\n\r\n", "HTTP/1.1 501 not implemented\r\nContent-Length: 19\r\n\r\n501 not implemented" + closed);
            // A refused head is answered at once, without asking for the body, and nothing more of
            // the connection is read: one answer, not one per piece.
            row("head refused", "POST /echo HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 100\r\n\r\n" + QByteArray(100, 'b'), tooLarge, 100);
            row("long lines", ("GET /" + QByteArray(300, 'A') + " HTTP/1.1\r\n\r\n").repeated(20), tooLarge, 100);
            row("bad request", "GET /hello HTTP/1.1\r\nA\t: b\r\n\r\n", refused("400 Bad Request"));
            row("too many header lines", "GET /hello HTTP/1.1\r\n" + QByteArray("X-A: b\r\n").repeated(101) + "\r\n", refused("431 Request Header Fields Too Large"));
        }
        // clang-format on
    }
    void exchange()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, maxRequestSize);
        QFETCH(bool, tls);
        (*settings)->setValue("maxRequestSize", maxRequestSize);
        start(tls);
        auto http = client(QStringLiteral("127.0.0.1"));
        http->send(request + "GET /hello HTTP/1.1\r\nConnection: close\r\n\r\n");
        QVERIFY(http->waitForClose());
        QTEST(http->unread(), "answer");
    }

    void answersExpectContinue()
    {
        start();
        auto http = client();
        http->send("POST /echo HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 3\r\n\r\n");
        QByteArray received;
        QTRY_COMPARE((received += http->tcpSocket()->readAll()),
                     QByteArray("HTTP/1.1 100 Continue\r\n\r\n"));
        http->send("abc");
        QCOMPARE(http->readResponse().body, QByteArray("POST abc"));
    }

    // Bytes that arrive while an answer is written wait for it, not nested in the write; the
    // answer the network could not take at once goes out whole as the client reads.
    void neverServesARequestInsideAnother_data() { answers503WhenEveryHandlerIsBusy_data(); }
    void neverServesARequestInsideAnother()
    {
        QFETCH(bool, tls);
        start(tls);
        auto http = client();
        http->tcpSocket()->setReadBufferSize(1024); // the big answer stalls in its write
        http->send("GET /big?mb=32 HTTP/1.1\r\n\r\n");
        QTRY_COMPARE(handler->served.load(), 1);
        http->send("GET /hello HTTP/1.1\r\n\r\njunk\r\n");
        QTest::qWait(200);
        http->tcpSocket()->setReadBufferSize(0);
        QCOMPARE(http->readResponse(60000).body.size(), 32 << 20);
        QCOMPARE(http->readResponse().body, QByteArray("hello"));
        QVERIFY(http->waitForClose()); // the junk is refused
        QCOMPARE(handler->nested.load(), 0);
    }

    // An answer written in one last part, larger than the network takes while the client is not
    // reading, leaves its rest queued when the handler returns; it follows as the client reads.
    void sendsTheRestOfALastPartLater_data() { answers503WhenEveryHandlerIsBusy_data(); }
    void sendsTheRestOfALastPartLater()
    {
        QFETCH(bool, tls);
        (*settings)->setValue("maxRequestSize", 16 << 20);
        (*settings)->setValue("readTimeout", 120000); // closing would flush the rest too
        start(tls);
        auto http = client();
        http->tcpSocket()->setReadBufferSize(1024);
        const QByteArray body(8 << 20, 'b');
        http->send("POST /echo HTTP/1.1\r\nContent-Length: " + QByteArray::number(body.size()) +
                   "\r\n\r\n" + body);
        QTRY_COMPARE(handler->served.load(), 1);
        QTest::qWait(200);
        http->tcpSocket()->setReadBufferSize(0);
        QCOMPARE(http->readResponse(30000).body.size(), body.size() + 5);
    }

    // A connection idle after its answer, or trickling a request, is cut after the read timeout
    // (for a body, with time for its length at the slowest rate); a steady body is not.
    void readTimeout_data()
    {
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<QByteArray>("trickle");
        QTest::addColumn<int>("pieces");
        QTest::addColumn<QByteArray>("answer");
        const QByteArray post = "POST /echo HTTP/1.1\r\nConnection: close\r\nContent-Length: ";
        // clang-format off
        QTest::newRow("idle") << QByteArray() << QByteArray() << 0 << QByteArray();
        QTest::newRow("head") << QByteArray("GET /hello HTTP/1.1\r\n") << QByteArray("a") << 50 << QByteArray();
        QTest::newRow("body") << post + "5000\r\n\r\n" << QByteArray("a") << 50 << QByteArray();
        QTest::newRow("steady body") << post + "100000\r\n\r\n" << QByteArray(10000, 'b') << 10 << "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 100005\r\nContent-Type: text/plain\r\n\r\nPOST " + QByteArray(100000, 'b');
        // clang-format on
    }
    void readTimeout()
    {
        QFETCH(QByteArray, start);
        QFETCH(QByteArray, trickle);
        QFETCH(int, pieces);
        (*settings)->setValue("readTimeout", 500);
        (*settings)->setValue("maxRequestSize", 1000000);
        this->start();
        auto http = client();
        QVERIFY(answersHello(*http));
        http->send(start);
        for (int i = 0; i < 50 && !http->waitForClose(150); ++i)
            http->send(i < pieces ? trickle : QByteArray());
        QVERIFY(http->waitForClose(0));
        QTEST(http->unread(), "answer");
    }

    // One handler: a client that stops reading is dropped, and the next is served afresh.
    void dropsAClientThatStopsReading_data() { answers503WhenEveryHandlerIsBusy_data(); }
    void dropsAClientThatStopsReading()
    {
        QFETCH(bool, tls);
        (*settings)->setValue("maxThreads", 1);
        (*settings)->setValue("writeTimeout", 500);
        start(tls);
        auto stuck = client();
        stuck->tcpSocket()->setReadBufferSize(1024); // takes almost nothing from the kernel
        stuck->send("GET /big?mb=256 HTTP/1.1\r\n\r\n");
        QTRY_COMPARE(handler->served.load(), 1);
        bool served = false;
        for (int i = 0; i < 20 && !served; ++i) // a client refused with 503 tries again
            served = answersHello(*client());
        QVERIFY(served);
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
        start(tls);
        auto first = client(), second = client();
        first->send("GET /block HTTP/1.1\r\n\r\n");
        second->send("GET /block HTTP/1.1\r\n\r\n");
        QVERIFY(handler->entered.tryAcquire(2, 5000));
        auto third = client();
        QVERIFY(third->waitForClose(10000));
        QCOMPARE(third->unread(), QByteArray("HTTP/1.1 503 too many connections\r\nConnection: "
                                             "close\r\n\r\nToo many connections\r\n"));
        std::thread releaser([this] {
            QThread::msleep(500);
            handler->release.release(2);
        });
        auto fourth = client();
        releaser.join();
        QVERIFY(answersHello(*fourth));
        QCOMPARE(first->readResponse().body + second->readResponse().body, "releasedreleased");
        QCOMPARE(poolSize(), 2);
    }

    // While one waits for a handler, a keep-alive connection that has had its turn, or sits idle
    // past the grace, is parked: the waiting one is served, the parked one later on the same one.
    void keepAliveConnectionsTakeTurnsWithWaitingOnes_data()
    {
        answers503WhenEveryHandlerIsBusy_data();
    }
    void keepAliveConnectionsTakeTurnsWithWaitingOnes()
    {
        QFETCH(bool, tls);
        (*settings)->setValue("readTimeout", 2500);
        start(tls);
        auto first = client(), second = client();
        QVERIFY(answersHello(*first) && answersHello(*second));
        auto third = client();
        third->send("GET /hello HTTP/1.1\r\n\r\n");
        QVERIFY(!third->waitForClose(150));
        QVERIFY(answersHello(*first));
        QCOMPARE(third->readResponse().body, QByteArray("hello"));
        QVERIFY(answersHello(*first) && answersHello(*second) && answersHello(*third));
        QVERIFY(!first->waitForClose(0) && !second->waitForClose(0));
        QCOMPARE(poolSize(), 2);
        // Idle, parked or not, each is closed at the read timeout.
        QVERIFY(first->waitForClose(6000) && second->waitForClose(6000) &&
                third->waitForClose(6000));
    }

    // Clients that never finish a request: after a grace the longest waiting gives way.
    void theLongestWaitingConnectionGivesWay()
    {
        (*settings)->setValue("readTimeout", 60000);
        start();
        auto first = client();
        first->send("GET /hello HTTP/1.1\r\nX-Slow: ");
        QTest::qWait(100);
        auto second = client();
        second->send("GET /hello HTTP/1.1\r\nX-Slow: ");
        QTest::qWait(2100);
        QVERIFY(answersHello(*client()) && answersHello(*client()));
        QVERIFY(first->waitForClose() && first->unread().isEmpty());
        QVERIFY(!second->waitForClose(0));
        QCOMPARE(poolSize(), 2);
    }

    // Each cleanup tick retires one idle handler beyond the minimum, never a busy one.
    void cleanupRetiresOneSurplusIdleHandlerPerTick()
    {
        (*settings)->setValue("minThreads", 4);
        (*settings)->setValue("maxThreads", 20);
        start();
        std::vector<std::unique_ptr<HttpClient>> clients(10);
        for (auto& http : clients)
            QVERIFY(answersHello(*(http = client())));
        clients.resize(2);
        QTest::qWait(500); // the eight disconnects reach their handlers
        const auto tick = [this](int times) {
            while (times--)
                call([](HttpListener* l) {
                    return QMetaObject::invokeMethod(l->connectionHandlerPool(), "cleanup");
                });
            return poolSize();
        };
        QCOMPARE(tick(1), 9);
        QCOMPARE(tick(3), 6);
        QCOMPARE(tick(2), 6); // four idle handlers are kept besides the two busy ones
        QVERIFY(answersHello(*clients[0]) && answersHello(*clients[1]));
    }

    // A returning client (OpenSSL's own) resumes its session instead of a full handshake.
    void resumesSessions_data()
    {
        QTest::addColumn<QStringList>("protocol");
        QTest::newRow("TLS 1.3") << QStringList();
        QTest::newRow("TLS 1.2") << QStringList{"-tls1_2"};
    }
    void resumesSessions()
    {
        QFETCH(QStringList, protocol);
        start(true);
        QTemporaryDir dir;
        const auto visit = [&](const char* sessionOption) {
            QProcess client;
            client.start("openssl", QStringList{"s_client", "-ign_eof", "-connect",
                                                QString("127.0.0.1:%1").arg(port), sessionOption,
                                                dir.filePath("session")} +
                                        protocol);
            client.write("GET /hello HTTP/1.0\r\n\r\n");
            client.closeWriteChannel();
            client.waitForFinished(10000);
            return client.readAllStandardOutput();
        };
        const QByteArray first = visit("-sess_out"), second = visit("-sess_in");
        QVERIFY(first.contains("\nNew, ") && first.contains("\r\n\r\nhello"));
        QVERIFY(second.contains("\nReused, ") && second.contains("\r\n\r\nhello"));
    }

    // A client that leaves frees its handler, and leaves nothing behind for the next client:
    // one that speaks no TLS on the TLS port, one that closes its session mid-request.
    void freesTheHandlerOfAClientThatLeaves_data()
    {
        QTest::addColumn<bool>("withTls");
        QTest::newRow("no TLS") << false;
        QTest::newRow("session closed mid-request") << true;
    }
    void freesTheHandlerOfAClientThatLeaves()
    {
        QFETCH(bool, withTls);
        start(true);
        for (int i = 0; i < 3; ++i) { // more than the pool's two handlers
            QSslSocket leaving;
            leaving.setPeerVerifyMode(QSslSocket::VerifyNone);
            if (withTls) {
                leaving.connectToHostEncrypted("127.0.0.1", port);
                QVERIFY(leaving.waitForEncrypted(5000));
            } else {
                leaving.connectToHost("127.0.0.1", port);
            }
            leaving.write("GET /hello HTTP/1.1\r\nX-Half: ");
            QVERIFY(leaving.waitForBytesWritten(5000));
            if (withTls)
                leaving.disconnectFromHost(); // with the session's closing alert
            QVERIFY(leaving.state() == QAbstractSocket::UnconnectedState ||
                    leaving.waitForDisconnected(5000));
        }
        QVERIFY(answersHello(*client()));
    }

    // Key and certificate next to the settings file (those from resources: exchange()).
    void tlsConfiguration()
    {
        const QStringList keys{"kvr.key", "kvr.key", "x"}, certs{"kvr.cert", "x", "kvr.cert"};
        for (const QString name : {"kvr.key", "kvr.cert"})
            QFile::copy(PRINTARRA_TLS_DIR "/" + name, settings->path(name));
        for (int i = 0; i < 3; ++i) {
            (*settings)->setValue("sslKeyFile", keys[i]);
            (*settings)->setValue("sslCertFile", certs[i]);
            QCOMPARE(HttpConnectionHandlerPool(settings->get(), handler.get()).isSslEnabled(),
                     i == 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_httpserver.moc"
