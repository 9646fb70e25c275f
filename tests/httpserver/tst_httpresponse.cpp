// HttpResponse and HttpCookie: what the writer puts on a real loopback connection, and how
// cookies are rendered, parsed and split.

#include "httpcookie.h"
#include "httpresponse.h"
#include "testsupport.h"

#include <QThread>
#include <QtTest>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

using corvane::HttpCookie;
using corvane::HttpResponse;

Q_DECLARE_METATYPE(HttpCookie)

namespace {

// Plays one step of a scripted request handler:
// "h<name>=<value>" sets a header, "n<name>=<int>" a numeric header, "s<code> <text>" the status,
// "w<data>" writes a part, "l<data>" the last part, "r<url>" redirects.
void play(HttpResponse& response, const QByteArray& step)
{
    const char kind = step.at(0);
    const QByteArray arg = step.mid(1);
    const int equals = arg.indexOf('=');
    switch (kind) {
    case 'h':
        response.setHeader(arg.left(equals), arg.mid(equals + 1));
        break;
    case 'n':
        response.setHeader(arg.left(equals), arg.mid(equals + 1).toInt());
        break;
    case 's':
        response.setStatus(arg.left(3).toInt(), arg.mid(4));
        break;
    case 'w':
        response.write(arg, false);
        break;
    case 'l':
        response.write(arg, true);
        break;
    case 'r':
        response.redirect(arg);
        break;
    default:
        QFAIL("unknown step");
    }
}

} // namespace

class TestHttpResponse : public QObject
{
    Q_OBJECT

private slots:
    void wire_data();
    void wire();
    void cookiesOnWire();
    void lifecycle();
    void largeBodyArrivesComplete_data();
    void largeBodyArrivesComplete();
    void clientThatStopsReadingIsDropped();
    void cookieRendering_data();
    void cookieRendering();
    void cookieFromText_data();
    void cookieFromText();
    void splitCSV_data();
    void splitCSV();
};

void TestHttpResponse::wire_data()
{
    QTest::addColumn<QByteArrayList>("steps");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray ok = "HTTP/1.1 200 OK\r\n";
    const QByteArray chunked = ok + "Transfer-Encoding: chunked\r\n\r\n";
    QTest::newRow("single last part")
        << QByteArrayList{"lhello"} << ok + "Content-Length: 5\r\n\r\nhello";
    QTest::newRow("empty last part") << QByteArrayList{"l"} << ok + "Content-Length: 0\r\n\r\n";
    QTest::newRow("own length replaced")
        << QByteArrayList{"hContent-Length=99", "lhello"} << ok + "Content-Length: 5\r\n\r\nhello";
    QTest::newRow("part then empty last")
        << QByteArrayList{"whello", "l"} << chunked + "5\r\nhello\r\n0\r\n\r\n";
    QTest::newRow("26 bytes are 1a") << QByteArrayList{"wabcdefghijklmnopqrstuvwxyz", "l"}
                                     << chunked + "1a\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n";
    QTest::newRow("data in the last part")
        << QByteArrayList{"wab", "lcde"} << chunked + "2\r\nab\r\n3\r\ncde\r\n0\r\n\r\n";
    QTest::newRow("empty part sends only headers")
        << QByteArrayList{"w", "w", "wx", "l"} << chunked + "1\r\nx\r\n0\r\n\r\n";
    QTest::newRow("keep-alive is chunked")
        << QByteArrayList{"hConnection=keep-alive", "wab", "l"}
        << ok + "Connection: keep-alive\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\n0\r\n\r\n";
    QTest::newRow("close is raw") << QByteArrayList{"hConnection=close", "wab", "lcd"}
                                  << ok + "Connection: close\r\n\r\nabcd";
    QTest::newRow("lower-case close is raw")
        << QByteArrayList{"hconnection=CLOSE", "wab", "l"} << ok + "connection: CLOSE\r\n\r\nab";
    QTest::newRow("headers in byte order of names")
        << QByteArrayList{"hContent-Type=text/plain",
                          "hx-lower=1",
                          "hConnection=keep-alive",
                          "hAccess-Control-Allow-Origin=*",
                          "nX-Count=42",
                          "hContent-Type=text/html",
                          "lab"}
        << ok + "Access-Control-Allow-Origin: *\r\nConnection: keep-alive\r\nContent-Length: "
                "2\r\nContent-Type: text/html\r\nX-Count: 42\r\nx-lower: 1\r\n\r\nab";
    QTest::newRow("changes after the first write not sent")
        << QByteArrayList{"s404 Not Found", "wa", "hX-Late=1", "s500 Late", "lb"}
        << QByteArray("HTTP/1.1 404 Not Found\r\nTransfer-Encoding: "
                      "chunked\r\n\r\n1\r\na\r\n1\r\nb\r\n0\r\n\r\n");
    QTest::newRow("redirect") << QByteArrayList{"r/login?next=%2F"}
                              << QByteArray(
                                     "HTTP/1.1 303 See Other\r\nContent-Length: 8\r\nLocation: "
                                     "/login?next=%2F\r\n\r\nRedirect");
}

void TestHttpResponse::wire()
{
    QFETCH(QByteArrayList, steps);
    QFETCH(QByteArray, expected);

    testsupport::SocketPair pair;
    HttpResponse response(pair.serverSide.get());
    for (const QByteArray& step : steps) {
        play(response, step);
    }
    QVERIFY(response.hasSentLastPart());
    QCOMPARE(pair.receive(), expected);
}

void TestHttpResponse::cookiesOnWire()
{
    testsupport::SocketPair pair;
    HttpResponse response(pair.serverSide.get());
    response.setHeader("Content-Type", "text/plain");
    response.setCookie(HttpCookie("b", "v", 60, "/p", "c", "example.org", true, true));
    response.setCookie(HttpCookie("a", "1", 0));
    response.setCookie(HttpCookie("a", "2", 0));   // replaces the first "a"
    response.setCookie(HttpCookie("", "lost", 0)); // no name: ignored
    QCOMPARE(response.getCookies().keys(), QByteArrayList({"a", "b"}));
    response.write("x", false);
    response.setCookie(HttpCookie("late", "1", 0)); // after the headers went out
    response.write("", true);

    QCOMPARE(pair.receive(),
             QByteArray("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nTransfer-Encoding: "
                        "chunked\r\nSet-Cookie: a=2; Version=1\r\nSet-Cookie: b=v; Comment=c; "
                        "Domain=example.org; Max-Age=60; Path=/p; Secure; HttpOnly; "
                        "Version=1\r\n\r\n1\r\nx\r\n0\r\n\r\n"));
}

void TestHttpResponse::lifecycle()
{
    testsupport::SocketPair pair;
    HttpResponse response(pair.serverSide.get());
    QCOMPARE(response.getStatusCode(), 200);
    QVERIFY(response.isConnected());
    QVERIFY(!response.hasSentLastPart());
    response.setStatus(404, "Not Found");
    QCOMPARE(response.getStatusCode(), 404);

    // A client that went away: writing sends nothing, reports nothing and does not hang.
    pair.serverSide->close();
    QVERIFY(!response.isConnected());
    response.write("gone", false);
    response.write("", true);
    QVERIFY(response.hasSentLastPart());
    QCOMPARE(pair.receive(), QByteArray());
}

void TestHttpResponse::largeBodyArrivesComplete_data()
{
    QTest::addColumn<int>("partSize");
    QTest::addColumn<int>("parts");
    QTest::newRow("one last part of 3 MB") << 3 * 1024 * 1024 << 1;
    QTest::newRow("40 chunked parts of 100000 bytes") << 100000 << 40;
}

void TestHttpResponse::largeBodyArrivesComplete()
{
    QFETCH(int, partSize);
    QFETCH(int, parts);

    // The writer blocks until the client takes data, so the client reads on its own thread.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const quint16 port = server.serverPort();
    testsupport::Response received;
    std::unique_ptr<QThread> reader(QThread::create([&received, port] {
        testsupport::HttpClient client;
        if (client.connectTo(port)) {
            received = client.readResponse(25000);
        }
    }));
    reader->start();
    if (!server.waitForNewConnection(5000)) {
        reader->wait();
        QFAIL("no connection");
    }
    std::unique_ptr<QTcpSocket> socket(server.nextPendingConnection());
    HttpResponse response(socket.get());
    QByteArray expected;
    qint64 mostPending = 0;
    for (int i = 0; i < parts; ++i) {
        const QByteArray part(partSize, char('a' + i % 26));
        expected += part;
        response.write(part, i == parts - 1);
        mostPending = qMax(mostPending, HttpResponse::pendingBytes(socket.get()));
    }
    QElapsedTimer timer;
    timer.start();
    while (socket->bytesToWrite() > 0 && timer.elapsed() < 20000) {
        socket->waitForBytesWritten(100);
    }
    QVERIFY(reader->wait(30000));

    QVERIFY(received.complete);
    QCOMPARE(received.header(parts == 1 ? "Content-Length" : "Transfer-Encoding"),
             parts == 1 ? QByteArray::number(partSize) : QByteArray("chunked"));
    QCOMPARE(received.body.size(), expected.size());
    QVERIFY(received.body == expected);
    // Back-pressure: beyond the part just written, at most the threshold stays queued.
    QVERIFY2(mostPending <= 16384 + partSize + 16, QByteArray::number(mostPending));
}

void TestHttpResponse::clientThatStopsReadingIsDropped()
{
    testsupport::SocketPair pair; // its client never reads
    QTcpSocket* socket = pair.serverSide.get();
    HttpResponse response(socket);
    response.setWriteTimeout(300);

    // Should a write wait without bound, end the program with a clear message instead of
    // leaving it hanging.
    std::mutex mutex;
    std::condition_variable condition;
    bool finished = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!condition.wait_for(lock, std::chrono::seconds(25), [&] { return finished; })) {
            qFatal("a write to a client that does not read did not return within 25 s");
        }
    });

    QElapsedTimer timer;
    timer.start();
    const QByteArray part(1024 * 1024, 'x');
    for (int i = 0; i < 64; ++i) {
        response.write(part, false);
    }
    response.write(QByteArray(), true);
    const qint64 elapsed = timer.elapsed();
    {
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
    }
    condition.notify_one();
    watchdog.join();

    QVERIFY2(elapsed < 15000, QByteArray::number(elapsed));
    QCOMPARE(socket->state(), QAbstractSocket::UnconnectedState);
    QVERIFY(!response.isConnected());
}

void TestHttpResponse::cookieRendering_data()
{
    QTest::addColumn<HttpCookie>("cookie");
    QTest::addColumn<QByteArray>("expected");

    HttpCookie pathOnly("a", "b", 0, "/");
    pathOnly.setHttpOnly(true);
    QTest::newRow("path and http-only")
        << pathOnly << QByteArray("a=b; Path=/; HttpOnly; Version=1");
    QTest::newRow("all attributes")
        << HttpCookie("s", "x y", 60, "/p", "note", "example.org", true, true)
        << QByteArray("s=x y; Comment=note; Domain=example.org; Max-Age=60; Path=/p; Secure; "
                      "HttpOnly; Version=1");
    HttpCookie set;
    set.setName("n");
    set.setValue("v;w");
    set.setMaxAge(-1);
    set.setSecure(true);
    set.setDomain("d");
    set.setComment("c");
    QTest::newRow("setters, negative max age")
        << set << QByteArray("n=v;w; Comment=c; Domain=d; Max-Age=-1; Secure; Version=1");
    QTest::newRow("default") << HttpCookie() << QByteArray("=; Version=1");
}

void TestHttpResponse::cookieRendering()
{
    QFETCH(HttpCookie, cookie);
    QFETCH(QByteArray, expected);
    QCOMPARE(cookie.toByteArray(), expected);
}

void TestHttpResponse::cookieFromText_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("rendered");
    QTest::addColumn<QByteArray>("warning");

    QTest::newRow("attributes and unknown")
        << QByteArray("a=b; Path=/; Secure; HttpOnly; Max-Age=60; Foo=bar")
        << QByteArray("a=b; Max-Age=60; Path=/; Secure; HttpOnly; Version=1")
        << QByteArray("HttpCookie: Ignoring unknown Foo=bar");
    QTest::newRow("name after attributes, quoted value")
        << QByteArray(" Comment = hi ; Domain=d; Version=2; x=\"1;2\"")
        << QByteArray("x=1;2; Comment=hi; Domain=d; Version=2") << QByteArray();
    QTest::newRow("bad max age, bare name")
        << QByteArray("Max-Age=abc; a") << QByteArray("a=; Version=1") << QByteArray();
    QTest::newRow("attribute names are case-sensitive")
        << QByteArray("secure; a=b") << QByteArray("secure=; Version=1")
        << QByteArray("HttpCookie: Ignoring unknown a=b");
}

void TestHttpResponse::cookieFromText()
{
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, rendered);
    QFETCH(QByteArray, warning);
    if (!warning.isEmpty()) {
        QTest::ignoreMessage(QtWarningMsg, warning.constData());
    }
    const HttpCookie cookie(source);
    QCOMPARE(cookie.toByteArray(), rendered);
}

void TestHttpResponse::splitCSV_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArrayList>("parts");
    QTest::newRow("quoted separator, empty parts")
        << QByteArray("a=1; b=\"x;y\";; c") << QByteArrayList{"a=1", "b=x;y", "c"};
    QTest::newRow("commas do not separate") << QByteArray("a=1,b=2") << QByteArrayList{"a=1,b=2"};
    QTest::newRow("quotes inside a part")
        << QByteArray(" k = \" v \" ; ") << QByteArrayList{"k =  v"};
    QTest::newRow("unterminated quote") << QByteArray("a=\"1;2") << QByteArrayList{"a=1;2"};
    QTest::newRow("nothing") << QByteArray(" ; ;") << QByteArrayList{};
}

void TestHttpResponse::splitCSV()
{
    QFETCH(QByteArray, source);
    QFETCH(QByteArrayList, parts);
    QCOMPARE(HttpCookie::splitCSV(source), parts);
}

QTEST_GUILESS_MAIN(TestHttpResponse)
#include "tst_httpresponse.moc"
