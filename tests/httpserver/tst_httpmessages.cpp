// HttpRequest and HttpResponse on a real loopback connection: requests fed whole or in pieces
// as the connection handler feeds them, and what the response writer puts on the wire.

#include "httpcookie.h"
#include "httprequest.h"
#include "httpresponse.h"
#include "testsupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QtTest>

using namespace corvane;
using namespace testsupport;

namespace {
// A form field, or a file part when a file name is given.
QByteArray part(const QByteArray& name, const QByteArray& value, const QByteArray& file = {})
{
    const QByteArray fileHeaders =
        file.isNull() ? "" : "; filename=\"" + file + "\"\r\nContent-Type: application/x-bin";
    return "--xyZZY\r\nContent-Disposition: form-data; name=\"" + name + '"' + fileHeaders +
           "\r\n\r\n" + value + "\r\n";
}

QByteArray multipart(const QByteArray& parts, const QByteArray& boundary = "xyZZY",
                     const QByteArray& end = "--xyZZY--\r\n")
{
    const QByteArray body = parts + end;
    return "POST /up?name=q HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=" + boundary +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// Short binary lines, then one line longer than the pieces in which multipart bodies are read.
QByteArray fileContent(int size)
{
    QByteArray content;
    for (int i = 0; content.size() < qMin(size, 4000); ++i)
        content += QByteArray::number(i) + '\0' + char(0x80 + i % 128) + "--xyZ\r\n";
    return (content + QByteArray(size, 'L')).left(size);
}

// What the request handler would see: request line, parameters, headers, cookies, files, body.
QByteArray summary(HttpRequest& request)
{
    QByteArray text = request.getMethod() + ' ' + request.getPath() + ' ' + request.getRawPath() +
                      ' ' + request.getVersion();
    const auto add = [&text](const char* kind, const QMultiMap<QByteArray, QByteArray>& map) {
        for (auto it = map.begin(); it != map.end(); ++it)
            text += ' ' + QByteArray(kind) + it.key() + '=' + it.value();
    };
    add("", request.getParameterMap());
    add("h:", request.getHeaderMap());
    add("c:", request.getCookieMap());
    for (const QByteArray& name : request.getParameterMap().uniqueKeys()) {
        if (QTemporaryFile* file = request.getUploadedFile(name))
            add("f:", {{name, file->isOpen() ? file->readAll() : "closed"}});
    }
    return text + " body:" + request.getBody();
}
} // namespace

class TestHttpMessages : public QObject
{
    Q_OBJECT

    QTemporaryDir tempFolder;
    QTcpServer server;

    std::unique_ptr<QTcpSocket> accept(HttpClient& client) // the server side of a connection
    {
        client.connectTo(server.serverPort());
        server.waitForNewConnection(5000);
        return std::unique_ptr<QTcpSocket>(server.nextPendingConnection());
    }

private slots:
    void initTestCase()
    {
        // Temporary files go to a folder of their own, so that leftovers can be seen.
        qputenv("TMPDIR", QFile::encodeName(tempFolder.path()));
        QCOMPARE(QDir::tempPath(), tempFolder.path());
        QVERIFY(server.listen(QHostAddress::LocalHost));
    }

    // A request with limits (0: the default), delivered in pieces, and either what the handler sees
    // of it or the status of its refusal and the warning that tells which check refused it.
    void request_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("delivery"); // piece size, 0: whole
        QTest::addColumn<int>("maxRequestSize");
        QTest::addColumn<int>("maxMultiPartSize");
        QTest::addColumn<QByteArray>("parsed"); // or "refused <status>: <warning>"
        // clang-format off
        const auto row = [](const QByteArray& name, const QByteArray& request, const QByteArray& parsed, int delivery = 0, int maxRequest = 0, int maxMulti = 0) {
            QTest::newRow(name) << request << delivery << maxRequest << maxMulti << parsed;
        };
        const auto post = [](const QByteArray& headers, const QByteArray& body) {
            return "POST /p?a=q&b=1 HTTP/1.1\r\n" + headers + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        };
        const QByteArray heads = "POST / HTTP/1.1\r\nX-Key:  v1 \r\nAccept: a\r\naccept: b\r\nX-Multi: one\r\n \ttwo\r\nContent-Length: 5\r\ncontent-length: 5\r\nCookie: a=1; c=\"x;y\"\r\ncookie: a=2; b=2\r\nCookie:  lone ; =x ; k = v \r\n\r\nhello";
        const QByteArray headsParsed = "POST / / HTTP/1.1 hello= h:accept=b h:accept=a h:content-length=5 h:content-length=5 h:x-key=v1 h:x-multi=one two h:x-multi=one c:=lone c:=x= c:a=1 c:b=2 c:c=x;y c:k=v body:hello";
        const QByteArray length = "POST / HTTP/1.1\r\nContent-Length: ", get = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
        const QByteArray body = length + "10\r\n\r\n0123456789";
        // Default limits: 16000 request bytes (42 of them the head here), 1000000 multipart bytes.
        const QByteArray big = length + "15958\r\n\r\n" + QByteArray(15958, 'b');
        // File bytes do not count in the running size, form-field bytes do.
        const QByteArray upload = multipart(part("f", fileContent(3000), "f.bin"));
        const int multi = upload.size() - upload.indexOf("\r\n\r\n") - 4;
        const QByteArray form = multipart(part("f", QByteArray(100, 'v')), "\"xyZZY\"");
        const QByteArray unfinished = multipart(part("f", "unfinished", "f.bin"), "xyZZY", "");
        const QByteArray tooMany = "refused 413: received too many bytes";
        row("headers and cookies", heads, headsParsed);
        // A carriage return at the end of a piece must not end a line whose line feed follows.
        row("headers and cookies, byte by byte", heads, headsParsed, 1);
        row("decoded path, query", "GET /a%20b?x=1&y=2+3%21&=e HTTP/1.1\r\n\r\n", "GET /a b /a%20b HTTP/1.1 =e x=1 y=2 3! body:");
        row("escapes decoded once, others kept", "GET /%41+x%c3%A9%2F%2B+%2541?v=%zz%-1%0x1%g0a%2 HTTP/1.1\r\n\r\n", "GET /A x\xc3\xa9/+ %41 /%41+x%c3%A9%2F%2B+%2541 HTTP/1.1 v=%zz%-1%0x1%g0a%2 body:");
        row("plus in the path, flag and empty parts", "PUT /a+b?&&fl%61g&&z= HTTP/1.0\r\n\r\n", "PUT /a b /a+b HTTP/1.0 flag= z= body:", 1);
        row("empty line before it", "\r\nGET / HTTP/1.1\r\n\r\n", "GET / / HTTP/1.1 body:", 1);
        row("tab in a header value, 100 header lines", "GET / HTTP/1.1\r\nA: 1\t2\r\n" + QByteArray("B: b\r\n").repeated(99) + "\r\n", "GET / / HTTP/1.1 h:a=1\t2" + QByteArray(" h:b=b").repeated(99) + " body:");
        row("body without content type", post("", "a=1"), "POST /p /p HTTP/1.1 a=1 a=q b=1 h:content-length=3 body:a=1");
        row("json body is not parsed", post("Content-Type: application/json\r\n", "a=1"), "POST /p /p HTTP/1.1 a=q b=1 h:content-length=3 h:content-type=application/json body:a=1");
        row("form body wins over query", post("Content-Type: application/x-www-form-urlencoded; charset=utf-8\r\n", "a=b&a=%20c%26d+"), "POST /p /p HTTP/1.1 a= c&d  a=b a=q b=1 h:content-length=15 h:content-type=application/x-www-form-urlencoded; charset=utf-8 body:a=b&a=%20c%26d+");
        for (const char* line : {"GET /\r\n", "GET  / HTTP/1.1\r\n\r\n", "GET / FTP/1.0\r\n\r\n"})
            row("request line " + QByteArray(line).toPercentEncoding(), line, "refused 400: invalid first line");
        // The end of the body would be uncertain.
        for (const char* value : {"-1", "+3", "4294967299", "3a", "", "3, 3"})
            row("Content-Length '" + QByteArray(value) + "'", length + value + "\r\n\r\n", "refused 400: invalid Content-Length");
        row("different lengths", length + "3\r\nContent-Length: 4\r\n\r\n", "refused 400: conflicting Content-Length");
        row("chunked", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", "refused 400: Transfer-Encoding");
        // A header name that would pass as another one, control bytes inside a line.
        row("blank before the colon", "GET / HTTP/1.1\r\nContent-Length : 3\r\n\r\n", "refused 400: white space in a header name");
        row("NUL in the request line", QByteArray("GET /@ HTTP/1.1\r\n\r\n").replace('@', '\0'), "refused 400: control character");
        row("bare CR in a header value", "GET / HTTP/1.1\r\nOrigin: x\rX-A: b\r\n\r\n", "refused 400: control character");
        row("DEL before a bare LF", "GET / HTTP/1.1\nA: \x7f\n\n", "refused 400: control character");
        row("headers at the limit", get, "GET / / HTTP/1.1 h:host=x body:", 0, get.size());
        row("headers one over", get, tooMany, 0, get.size() - 1);
        row("body at the limit", body, "POST / / HTTP/1.1 0123456789= h:content-length=10 body:0123456789", 0, body.size());
        row("body one over", body, "refused 413: expected body is too large", 0, body.size() - 1);
        row("default request limit", big, "POST / / HTTP/1.1 " + QByteArray(15958, 'b') + "= h:content-length=15958 body:" + QByteArray(15958, 'b'));
        row("default request limit, one over", length + "15959\r\n\r\n" + QByteArray(15959, 'b'), "refused 413: expected body is too large");
        row("multipart body not bound by the request limit", upload, "POST /up /up HTTP/1.1 f=f.bin name=q h:content-length=" + QByteArray::number(multi) + " h:content-type=multipart/form-data; boundary=xyZZY f:f=" + fileContent(3000) + " body:", 0, upload.indexOf("\r\n\r\n") + 4);
        row("multipart body ends inside a file", unfinished, "POST /up /up HTTP/1.1 name=q h:content-length=" + QByteArray::number(unfinished.size() - unfinished.indexOf("\r\n\r\n") - 4) + " h:content-type=multipart/form-data; boundary=xyZZY body:");
        row("empty quoted boundary", "POST / HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=\"\"\r\nContent-Length: 3\r\n\r\na=1", "POST / / HTTP/1.1 h:content-length=3 h:content-type=multipart/form-data; boundary=\"\" body:a=1");
        row("multipart of exactly the limit", upload, "refused 413: received too many multipart bytes", 0, 0, multi);
        row("multipart one over the limit", upload, "refused 413: expected multipart body is too large", 0, 0, multi - 1);
        row("default multipart limit, exactly", multipart(part("f", fileContent(1000000 - multi + 3000), "f.bin")), "refused 413: received too many multipart bytes");
        row("multipart form fields over the limit", form, tooMany, 0, 0, form.size() - form.indexOf("\r\n\r\n") - 3);
        // Besides the usual parts: a preamble, a part of an unsupported disposition, two files
        // under one field, an empty file, and a file part whose boundary follows its blank line.
        for (int size : {3000, 200000}) {
            const QByteArray content = fileContent(size);
            const QByteArray request = multipart("preamble\r\n" + part("name", "Ada") + part("upload", content, "a b.bin") + part("note", "two\r\nlines") + part("empty", "") + part("f", "first", "one.txt") + "--xyZZY\r\nContent-Disposition: attachment; name=\"x\"\r\n\r\nignored\r\n" + part("f", "second", "two.txt") + part("e", "", "e.txt") + "--xyZZY\r\nContent-Disposition: form-data; name=\"d\"; filename=\"d.txt\"\r\n\r\n" + part("last", "1"), "\"xyZZY\"");
            const QByteArray parsed = "POST /up /up HTTP/1.1 d=d.txt e=e.txt empty= f=two.txt f=one.txt last=1 name=q name=Ada note=two\r\nlines upload=a b.bin h:content-length=" + QByteArray::number(request.size() - request.indexOf("\r\n\r\n") - 4) + " h:content-type=multipart/form-data; boundary=\"xyZZY\" f:d= f:e= f:f=second f:upload=" + content + " body:";
            row(size > 3000 ? "multipart, large" : "multipart, in pieces of 7 bytes", request, parsed, size > 3000 ? 0 : 7);
        }
        // clang-format on
    }
    void request()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, delivery);
        QFETCH(int, maxRequestSize);
        QFETCH(int, maxMultiPartSize);
        QFETCH(QByteArray, parsed);
        const int colon = parsed.indexOf(':');
        if (parsed.startsWith("refused"))
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(parsed.mid(colon + 2)));
        TempSettings settings;
        if (maxRequestSize)
            settings->setValue("maxRequestSize", maxRequestSize);
        if (maxMultiPartSize)
            settings->setValue("maxMultiPartSize", maxMultiPartSize);
        HttpClient client;
        const auto socket = accept(client);
        std::unique_ptr<HttpRequest> received(new HttpRequest(settings.get()));
        const auto status = [&received] { return received->getStatus(); };
        // After each piece has arrived, reads while bytes are there and the request is not done.
        const int piece = delivery ? delivery : request.size();
        for (int i = 0; i < request.size() && status() < HttpRequest::complete; i += piece) {
            client.send(request.mid(i, piece));
            const int sent = qMin(piece, request.size() - i);
            for (int t = 0; t < 250 && socket->bytesAvailable() < sent; ++t)
                socket->waitForReadyRead(20);
            while (socket->bytesAvailable() > 0 && status() < HttpRequest::complete)
                received->readFromSocket(socket.get());
        }
        if (status() == HttpRequest::complete) {
            QCOMPARE(summary(*received), parsed);
            QCOMPARE(received->getPeerAddress(), QHostAddress(QHostAddress::LocalHost));
        } else {
            QCOMPARE(status(), HttpRequest::aborted);
            QCOMPARE("refused " + QByteArray::number(received->getAbortStatus()),
                     parsed.left(colon));
        }
        received.reset(); // no temporary file is left, nor held open without a name
        QCOMPARE(QDir(tempFolder.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList());
        for (const QFileInfo& fd :
             QDir("/proc/self/fd").entryInfoList(QDir::AllEntries | QDir::System))
            QVERIFY(!fd.symLinkTarget().startsWith(QDir(tempFolder.path()).canonicalPath() + '/'));
    }

    // Handler steps: "h<name>=<value>" header, "n<name>=<int>" numeric header, "s<code> <text>"
    // status, "c<text>" cookie, "w<data>" a part, "l<data>" the last part, "r<url>" redirect.
    void response_data()
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
        // Attributes in a fixed order, the name first (case-sensitive); the last of a name wins.
        QTest::newRow("cookies") << QByteArrayList{"cb=v; Secure; HttpOnly; Path=/p; Max-Age=60; Domain=example.org; Comment=c; Foo=bar", "ca=1", "ca=2", "cSecure", "c Comment = hi ; Domain=d; Version=2; x=\"1;2\"", "cMax-Age=abc; m", "csecure; z=b", "cq=\"1;2; r=1,s=2", "l"} << ok + "Content-Length: 0\r\nSet-Cookie: a=2; Version=1\r\nSet-Cookie: b=v; Comment=c; Domain=example.org; Max-Age=60; Path=/p; Secure; HttpOnly; Version=1\r\nSet-Cookie: m=; Version=1\r\nSet-Cookie: q=1;2; r=1,s=2; Version=1\r\nSet-Cookie: secure=; Version=1\r\nSet-Cookie: x=1;2; Comment=hi; Domain=d; Version=2\r\n\r\n";
        // A value taken from the request (an echoed origin) must not split the head.
        QTest::newRow("header or cookie with a line break or NUL left out") << QByteArrayList{"hX-A=a\rb", "hX\nB=a", "hX-C=" + QByteArray("a\0b", 3), "hX-D=1", "cc=a\r\nX: y", "l"} << ok + "Content-Length: 0\r\nX-D: 1\r\n\r\n";
        QTest::newRow("redirect") << QByteArrayList{"r/login?next=%2F"} << QByteArray("HTTP/1.1 303 See Other\r\nContent-Length: 8\r\nLocation: /login?next=%2F\r\n\r\nRedirect");
        // clang-format on
    }
    void response()
    {
        QFETCH(QByteArrayList, steps);
        HttpClient client;
        const auto socket = accept(client);
        HttpResponse response(socket.get());
        for (const QByteArray& step : steps) {
            const QByteArray arg = step.mid(1), name = arg.left(arg.indexOf('='));
            const QByteArray value = arg.mid(arg.indexOf('=') + 1);
            if (step.at(0) == 'h')
                response.setHeader(name, value);
            else if (step.at(0) == 'n')
                response.setHeader(name, value.toInt());
            else if (step.at(0) == 's')
                response.setStatus(arg.left(3).toInt(), arg.mid(4));
            else if (step.at(0) == 'c')
                response.setCookie(HttpCookie(arg));
            else if (step.at(0) == 'r')
                response.redirect(arg);
            else
                response.write(arg, step.at(0) == 'l');
        }
        QVERIFY(response.hasSentLastPart());
        socket->disconnectFromHost();
        QVERIFY(client.waitForClose());
        QTEST(client.unread(), "expected");
    }

    // The writer waits while the client does not take data, so the client reads on a thread: one
    // last part of 3 MB, then 40 chunked parts of 100000 bytes.
    void largeBodyArrivesComplete_data()
    {
        QTest::addColumn<int>("partSize");
        QTest::addColumn<int>("parts");
        QTest::newRow("one part") << 3 * 1024 * 1024 << 1;
        QTest::newRow("40 parts") << 100000 << 40;
    }
    void largeBodyArrivesComplete()
    {
        QFETCH(int, partSize);
        QFETCH(int, parts);
        auto received = std::async(std::launch::async, [port = server.serverPort()] {
            HttpClient client;
            client.connectTo(port);
            return client.readResponse(25000);
        });
        server.waitForNewConnection(5000);
        const std::unique_ptr<QTcpSocket> socket(server.nextPendingConnection());
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
        const Response answer = received.get();
        QVERIFY(answer.body == expected);
        QCOMPARE(answer.header("Transfer-Encoding").isEmpty(), parts == 1);
        // Back-pressure: beyond the part just written, at most the threshold stays queued.
        QVERIFY(mostPending <= 16384 + partSize + 16);
    }
};

QTEST_GUILESS_MAIN(TestHttpMessages)
#include "tst_httpmessages.moc"
