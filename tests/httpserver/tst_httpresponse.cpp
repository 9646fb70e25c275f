// HttpResponse and HttpCookie: what the writer puts on a real loopback connection.

#include "httpcookie.h"
#include "httpresponse.h"
#include "testsupport.h"

#include <QtTest>

using corvane::HttpCookie;
using corvane::HttpResponse;

class TestHttpResponse : public QObject
{
    Q_OBJECT

    QTcpServer server;

    std::unique_ptr<QTcpSocket> accept() // the server side of the client's connection
    {
        server.waitForNewConnection(5000);
        return std::unique_ptr<QTcpSocket>(server.nextPendingConnection());
    }

private slots:
    void initTestCase() { QVERIFY(server.listen(QHostAddress::LocalHost)); }

    // Steps of a scripted request handler: "h<name>=<value>" sets a header, "n<name>=<int>" a
    // numeric one, "s<code> <text>" the status, "c<text>" the cookie parsed from the text,
    // "w<data>" writes a part, "l<data>" the last part, "r<url>" redirects.
    void wire_data()
    {
        QTest::addColumn<QByteArrayList>("steps");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray ok = "HTTP/1.1 200 OK\r\n";
        // clang-format off
        QTest::newRow("last part, own length replaced") << QByteArrayList{"hContent-Length=99", "lhello"} << ok + "Content-Length: 5\r\n\r\nhello";
        // An empty part sends only the headers, not an early end; 26 bytes are announced as 1a.
        QTest::newRow("several parts are chunked") << QByteArrayList{"w", "wabcdefghijklmnopqrstuvwxyz", "lcde"} << ok + "Transfer-Encoding: chunked\r\n\r\n1a\r\nabcdefghijklmnopqrstuvwxyz\r\n3\r\ncde\r\n0\r\n\r\n";
        QTest::newRow("close is raw, in any case") << QByteArrayList{"hconnection=CLOSE", "wab", "lcd", "wlate"} << ok + "connection: CLOSE\r\n\r\nabcd";
        QTest::newRow("headers in byte order of names") << QByteArrayList{"hContent-Type=text/plain", "hx-lower=1", "hConnection=keep-alive", "nX-Count=42", "hContent-Type=text/html", "lab"} << ok + "Connection: keep-alive\r\nContent-Length: 2\r\nContent-Type: text/html\r\nX-Count: 42\r\nx-lower: 1\r\n\r\nab";
        QTest::newRow("changes after the first write not sent") << QByteArrayList{"s404 Not Found", "wa", "hX-Late=1", "s500 Late", "clate=1", "lb"} << QByteArray("HTTP/1.1 404 Not Found\r\nTransfer-Encoding: chunked\r\n\r\n1\r\na\r\n1\r\nb\r\n0\r\n\r\n");
        // Attributes in a fixed order; the name is the first part that is no attribute (names are
        // case-sensitive); the last cookie of a name wins; one without a name is not sent.
        QTest::newRow("cookies") << QByteArrayList{"cb=v; Secure; HttpOnly; Path=/p; Max-Age=60; Domain=example.org; Comment=c; Foo=bar", "ca=1", "ca=2", "cSecure", "c Comment = hi ; Domain=d; Version=2; x=\"1;2\"", "cMax-Age=abc; m", "csecure; z=b", "cq=\"1;2; r=1,s=2", "l"} << ok + "Content-Length: 0\r\nSet-Cookie: a=2; Version=1\r\nSet-Cookie: b=v; Comment=c; Domain=example.org; Max-Age=60; Path=/p; Secure; HttpOnly; Version=1\r\nSet-Cookie: m=; Version=1\r\nSet-Cookie: q=1;2; r=1,s=2; Version=1\r\nSet-Cookie: secure=; Version=1\r\nSet-Cookie: x=1;2; Comment=hi; Domain=d; Version=2\r\n\r\n";
        // A value taken from the request (an echoed origin) must not split the head.
        QTest::newRow("header or cookie with a line break or NUL left out") << QByteArrayList{"hX-A=a\rb", "hX\nB=a", "hX-C=" + QByteArray("a\0b", 3), "hX-D=1", "cc=a\r\nX: y", "l"} << ok + "Content-Length: 0\r\nX-D: 1\r\n\r\n";
        QTest::newRow("redirect") << QByteArrayList{"r/login?next=%2F"} << QByteArray("HTTP/1.1 303 See Other\r\nContent-Length: 8\r\nLocation: /login?next=%2F\r\n\r\nRedirect");
        // clang-format on
    }
    void wire()
    {
        QFETCH(QByteArrayList, steps);
        testsupport::HttpClient client;
        client.connectTo(server.serverPort());
        const auto socket = accept();
        HttpResponse response(socket.get());
        for (const QByteArray& step : steps) {
            const QByteArray arg = step.mid(1), name = arg.left(arg.indexOf('='));
            const QByteArray value = arg.mid(arg.indexOf('=') + 1);
            switch (step.at(0)) {
            case 'h':
                response.setHeader(name, value);
                break;
            case 'n':
                response.setHeader(name, value.toInt());
                break;
            case 's':
                response.setStatus(arg.left(3).toInt(), arg.mid(4));
                break;
            case 'c':
                response.setCookie(HttpCookie(arg));
                break;
            case 'r':
                response.redirect(arg);
                break;
            default:
                response.write(arg, step.at(0) == 'l');
            }
        }
        QVERIFY(response.hasSentLastPart());
        socket->disconnectFromHost();
        QVERIFY(client.waitForClose());
        QTEST(client.unread(), "expected");
    }

    // The writer waits while the client does not take data, so the client reads on a thread.
    void largeBodyArrivesComplete_data()
    {
        QTest::addColumn<int>("partSize");
        QTest::addColumn<int>("parts");
        QTest::newRow("one last part of 3 MB") << 3 * 1024 * 1024 << 1;
        QTest::newRow("40 chunked parts of 100000 bytes") << 100000 << 40;
    }
    void largeBodyArrivesComplete()
    {
        QFETCH(int, partSize);
        QFETCH(int, parts);
        auto received = std::async(std::launch::async, [port = server.serverPort()] {
            testsupport::HttpClient client;
            client.connectTo(port);
            return client.readResponse(25000);
        });
        const auto socket = accept();
        HttpResponse response(socket.get());
        QByteArray expected;
        qint64 mostPending = 0;
        for (int i = 0; i < parts; ++i) {
            expected += QByteArray(partSize, char('a' + i % 26));
            response.write(expected.right(partSize), i == parts - 1);
            mostPending = qMax(mostPending, HttpResponse::pendingBytes(socket.get()));
        }
        while (socket->bytesToWrite() > 0 && socket->waitForBytesWritten(5000)) {
        }
        const testsupport::Response answer = received.get();
        QVERIFY(answer.body == expected);
        QCOMPARE(answer.header("Transfer-Encoding").isEmpty(), parts == 1);
        // Back-pressure: beyond the part just written, at most the threshold stays queued.
        QVERIFY2(mostPending <= 16384 + partSize + 16, QByteArray::number(mostPending));
    }
};

QTEST_GUILESS_MAIN(TestHttpResponse)
#include "tst_httpresponse.moc"
