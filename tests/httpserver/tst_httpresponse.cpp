// HttpResponse and HttpCookie: what the writer puts on a real loopback connection, and how
// cookies are rendered, parsed and split.

#include "httpcookie.h"
#include "httpresponse.h"
#include "testsupport.h"

#include <QThread>
#include <QtTest>
#include <memory>

using corvane::HttpCookie;
using corvane::HttpResponse;

namespace {

// Plays one step of a scripted request handler:
// "h<name>=<value>" sets a header, "n<name>=<int>" a numeric header, "s<code> <text>" the status,
// "c<text>" sets the cookie parsed from the text, "w<data>" writes a part, "l<data>" the last
// part, "r<url>" redirects.
void play(HttpResponse& response, const QByteArray& step)
{
    const QByteArray arg = step.mid(1);
    const QByteArray name = arg.left(arg.indexOf('=')), value = arg.mid(arg.indexOf('=') + 1);
    switch (step.at(0)) {
    case 'h':
        return response.setHeader(name, value);
    case 'n':
        return response.setHeader(name, value.toInt());
    case 's':
        return response.setStatus(arg.left(3).toInt(), arg.mid(4));
    case 'c':
        return response.setCookie(HttpCookie(arg));
    case 'w':
    case 'l':
        return response.write(arg, step.at(0) == 'l');
    case 'r':
        return response.redirect(arg);
    }
    QFAIL("unknown step");
}

} // namespace

class TestHttpResponse : public QObject
{
    Q_OBJECT

private slots:
    void wire_data();
    void wire();
    void largeBodyArrivesComplete_data();
    void largeBodyArrivesComplete();
    void clientThatStopsReadingIsDropped();
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
    QTest::newRow("single last part, own length replaced")
        << QByteArrayList{"hContent-Length=99", "lhello"} << ok + "Content-Length: 5\r\n\r\nhello";
    // An empty part sends only the headers, not an early end; 26 bytes are announced as 1a.
    QTest::newRow("several parts are chunked")
        << QByteArrayList{"w", "wabcdefghijklmnopqrstuvwxyz", "lcde"}
        << ok + "Transfer-Encoding: chunked\r\n\r\n1a\r\nabcdefghijklmnopqrstuvwxyz\r\n3\r\ncde\r\n"
                "0\r\n\r\n";
    QTest::newRow("close is raw, in any case") << QByteArrayList{"hconnection=CLOSE", "wab", "lcd"}
                                               << ok + "connection: CLOSE\r\n\r\nabcd";
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
    QTest::newRow("cookies with attributes in order")
        << QByteArrayList{"hContent-Type=text/plain",
                          "cb=v; Secure; HttpOnly; Path=/p; Max-Age=60; Domain=example.org; "
                          "Comment=c",
                          "ca=1",
                          "ca=2",
                          "wx",
                          "clate=1",
                          "l"}
        << ok + "Content-Type: text/plain\r\nTransfer-Encoding: chunked\r\nSet-Cookie: a=2; "
                "Version=1\r\nSet-Cookie: b=v; Comment=c; Domain=example.org; Max-Age=60; "
                "Path=/p; Secure; HttpOnly; Version=1\r\n\r\n1\r\nx\r\n0\r\n\r\n";
    // A value taken from the request (an echoed origin) must not split the head.
    QTest::newRow("header or cookie with a line break or NUL left out")
        << QByteArrayList{"hX-A=a\rb", "hX-B=a\nb",    "hX-C=" + QByteArray("a\0b", 3),
                          "hX-D=1",    "cc=a\r\nX: y", "l"}
        << ok + "Content-Length: 0\r\nX-D: 1\r\n\r\n";
    QTest::newRow("redirect") << QByteArrayList{"r/login?next=%2F"}
                              << QByteArray("HTTP/1.1 303 See Other\r\nContent-Length: 8\r\n"
                                            "Location: /login?next=%2F\r\n\r\nRedirect");
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
    HttpResponse response(pair.serverSide.get());
    response.setWriteTimeout(300);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 64; ++i) {
        response.write(QByteArray(1024 * 1024, 'x'), false);
    }
    response.write(QByteArray(), true);
    QVERIFY2(timer.elapsed() < 15000, QByteArray::number(timer.elapsed()));
    QCOMPARE(pair.serverSide->state(), QAbstractSocket::UnconnectedState);
    QVERIFY(!response.isConnected());
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
