// HttpRequest fed from the server side of a real loopback connection, the way the connection
// handler feeds it: whole, byte by byte, or in fragments that cut lines at awkward places.

#include "httprequest.h"
#include "testsupport.h"

#include <QDir>
#include <QtTest>
#include <memory>
#include <unistd.h>

using corvane::HttpRequest;

namespace {

// How the bytes of a request travel to the server.
enum Delivery { whole, bytewise, afterEachCR, sevens };

QByteArrayList cut(const QByteArray& raw, int delivery)
{
    QByteArrayList pieces;
    int start = 0;
    for (int i = 0; i < raw.size(); ++i) {
        const bool end = delivery == bytewise || (delivery == afterEachCR && raw.at(i) == '\r') ||
                         (delivery == sevens && (i + 1) % 7 == 0);
        if (end) {
            pieces.append(raw.mid(start, i + 1 - start));
            start = i + 1;
        }
    }
    if (start < raw.size()) {
        pieces.append(raw.mid(start));
    }
    return pieces;
}

bool finished(const HttpRequest& request)
{
    return request.getStatus() == HttpRequest::complete ||
           request.getStatus() == HttpRequest::aborted;
}

// One request on one connection, with its own settings.
struct Exchange
{
    explicit Exchange(int maxRequestSize = 0, int maxMultiPartSize = 0)
    {
        if (maxRequestSize > 0) {
            settings->setValue(QStringLiteral("maxRequestSize"), maxRequestSize);
        }
        if (maxMultiPartSize > 0) {
            settings->setValue(QStringLiteral("maxMultiPartSize"), maxMultiPartSize);
        }
        request.reset(new HttpRequest(settings.get()));
    }

    // Sends the request in pieces; after each piece has arrived, reads while bytes are
    // available and the request is neither complete nor aborted.
    HttpRequest::RequestState run(const QByteArray& raw, int delivery = whole)
    {
        QTcpSocket* socket = pair.serverSide.get();
        const QByteArrayList pieces = cut(raw, delivery);
        for (const QByteArray& piece : pieces) {
            pair.send(piece);
            while (socket->bytesAvailable() > 0 && !finished(*request)) {
                request->readFromSocket(socket);
            }
            if (finished(*request)) {
                break;
            }
        }
        return request->getStatus();
    }

    testsupport::TempSettings settings;
    testsupport::SocketPair pair;
    std::unique_ptr<HttpRequest> request;
};

const QByteArray boundary = "xyZZY";

QByteArray fieldPart(const QByteArray& name, const QByteArray& value)
{
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" +
           value + "\r\n";
}

QByteArray filePart(const QByteArray& name, const QByteArray& fileName, const QByteArray& content)
{
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name +
           "\"; filename=\"" + fileName + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" +
           content + "\r\n";
}

QByteArray multipartRequest(const QByteArray& target, const QByteArray& parts, bool quoted = true)
{
    const QByteArray body = parts + "--" + boundary + "--\r\n";
    const QByteArray quote = quoted ? "\"" : "";
    return "POST " + target + " HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=" + quote +
           boundary + quote + "\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\n\r\n" + body;
}

// Binary file content: short lines with NUL and high bytes, then one line longer than the
// pieces in which multipart bodies are handled, cut to the size asked for.
QByteArray fileContent(int size)
{
    QByteArray content;
    for (int i = 0; content.size() < qMin(size, 4000); ++i) {
        content += QByteArray::number(i) + '\0' + char(0x80 + i % 128) + "--xyZ\r\n";
    }
    if (size > content.size()) {
        content += QByteArray(size - content.size(), 'L');
    }
    content.truncate(size);
    return content;
}

// Temporary files left in the folder: those with a name, and unnamed ones (which the system
// may create for temporary files) that an open descriptor of this process still holds.
QStringList leftovers(const QString& folder)
{
    const QString canonical = QDir(folder).canonicalPath() + QLatin1Char('/');
    QStringList found = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    const QStringList descriptors =
        QDir(QStringLiteral("/proc/self/fd"))
            .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& descriptor : descriptors) {
        char target[4096];
        const QByteArray link = QFile::encodeName("/proc/self/fd/" + descriptor);
        const ssize_t length = readlink(link.constData(), target, sizeof target);
        const QString path = QFile::decodeName(QByteArray(target, int(qMax<ssize_t>(length, 0))));
        if (path.startsWith(canonical)) {
            found.append(path);
        }
    }
    return found;
}

} // namespace

class TestHttpRequest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void requestLine_data();
    void requestLine();
    void urlDecode_data();
    void urlDecode();
    void headers_data();
    void headers();
    void parameters_data();
    void parameters();
    void cookies_data();
    void cookies();
    void contentLength_data();
    void contentLength();
    void sizeLimits_data();
    void sizeLimits();
    void multipart_data();
    void multipart();
    void multipartOddParts();

private:
    QTemporaryDir tempFolder;
    QByteArray savedTempPath;
};

void TestHttpRequest::initTestCase()
{
    // Temporary files go to a folder of their own, so that leftovers can be seen.
    QVERIFY(tempFolder.isValid());
    savedTempPath = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(tempFolder.path()));
    QVERIFY(QDir(QDir::tempPath()) == QDir(tempFolder.path()));
}

void TestHttpRequest::cleanupTestCase()
{
    if (savedTempPath.isEmpty()) {
        qunsetenv("TMPDIR");
    } else {
        qputenv("TMPDIR", savedTempPath);
    }
}

void TestHttpRequest::requestLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("delivery");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("rawPath");
    QTest::addColumn<QByteArray>("version");

    QTest::newRow("decoded path, query cut off")
        << QByteArray("GET /a%20b?x=1&y=2+3 HTTP/1.1") << int(whole) << true << QByteArray("GET")
        << QByteArray("/a b") << QByteArray("/a%20b") << QByteArray("HTTP/1.1");
    QTest::newRow("plus in the path, byte by byte")
        << QByteArray("PUT /a+b HTTP/1.0") << int(bytewise) << true << QByteArray("PUT")
        << QByteArray("/a b") << QByteArray("/a+b") << QByteArray("HTTP/1.0");
    QTest::newRow("empty line before it")
        << QByteArray("\r\nGET / HTTP/1.1") << int(afterEachCR) << true << QByteArray("GET")
        << QByteArray("/") << QByteArray("/") << QByteArray("HTTP/1.1");
    QTest::newRow("two spaces") << QByteArray("GET  / HTTP/1.1") << int(whole) << false
                                << QByteArray() << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("two words") << QByteArray("GET /") << int(whole) << false << QByteArray()
                               << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("no HTTP in the version")
        << QByteArray("GET / FTP/1.0") << int(whole) << false << QByteArray() << QByteArray()
        << QByteArray() << QByteArray();
}

void TestHttpRequest::requestLine()
{
    QFETCH(QByteArray, line);
    QFETCH(int, delivery);
    QFETCH(bool, accepted);

    Exchange exchange;
    if (!accepted) {
        QTest::ignoreMessage(QtWarningMsg,
                             "HttpRequest: received broken HTTP request, invalid first line");
        QCOMPARE(exchange.run(line + "\r\n\r\n", delivery), HttpRequest::aborted);
        return;
    }
    QCOMPARE(exchange.run(line + "\r\n\r\n", delivery), HttpRequest::complete);
    const HttpRequest& request = *exchange.request;
    QTEST(request.getMethod(), "method");
    QTEST(request.getPath(), "path");
    QTEST(request.getRawPath(), "rawPath");
    QTEST(request.getVersion(), "version");
    QCOMPARE(request.getPeerAddress(), QHostAddress(QHostAddress::LocalHost));
}

void TestHttpRequest::urlDecode_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("decoded");
    QTest::newRow("escape") << QByteArray("%41") << QByteArray("A");
    QTest::newRow("lower-case hex, at the end") << QByteArray("x%c3%A9") << QByteArray("x\xc3\xa9");
    QTest::newRow("NUL") << QByteArray("a%00b") << QByteArray("a\0b", 3);
    QTest::newRow("plus") << QByteArray("a+b+") << QByteArray("a b ");
    QTest::newRow("encoded plus stays a plus") << QByteArray("%2B+") << QByteArray("+ ");
    QTest::newRow("decoded percent not decoded again") << QByteArray("%2541") << QByteArray("%41");
    QTest::newRow("percent before an escape") << QByteArray("%%41") << QByteArray("%A");
    QTest::newRow("not hex") << QByteArray("%zz") << QByteArray("%zz");
    QTest::newRow("one hex digit, then not hex") << QByteArray("%4g") << QByteArray("%4g");
    QTest::newRow("one digit at the end") << QByteArray("a%2") << QByteArray("a%2");
    QTest::newRow("percent at the end") << QByteArray("a%") << QByteArray("a%");
    QTest::newRow("minus sign") << QByteArray("%-1") << QByteArray("%-1");
    QTest::newRow("space") << QByteArray("% 1") << QByteArray("% 1");
    // The plus becomes a space as everywhere, but no escape is decoded.
    QTest::newRow("plus sign") << QByteArray("%+1") << QByteArray("% 1");
    QTest::newRow("hex prefix") << QByteArray("%0x1") << QByteArray("%0x1");
}

void TestHttpRequest::urlDecode()
{
    QFETCH(QByteArray, source);
    QTEST(HttpRequest::urlDecode(source), "decoded");
}

void TestHttpRequest::headers_data()
{
    QTest::addColumn<int>("delivery");
    QTest::newRow("whole") << int(whole);
    QTest::newRow("byte by byte") << int(bytewise);
    // A carriage return at the end of a piece must not end a line whose line feed follows.
    QTest::newRow("cut after each CR") << int(afterEachCR);
}

void TestHttpRequest::headers()
{
    QFETCH(int, delivery);
    Exchange exchange;
    QCOMPARE(exchange.run("POST / HTTP/1.1\r\nX-Key:  v1 \r\nAccept: a\r\naccept: b\r\n"
                          "X-Multi: one\r\n \ttwo\r\nContent-Length: 5\r\n\r\nhello",
                          delivery),
             HttpRequest::complete);
    const HttpRequest& request = *exchange.request;
    QCOMPARE(request.getHeader("x-key"), QByteArray("v1"));
    QCOMPARE(request.getHeader("X-KEY"), QByteArray("v1"));
    QCOMPARE(request.getHeader("Accept"), QByteArray("b"));
    QCOMPARE(request.getHeaders("ACCEPT"), QByteArrayList({"b", "a"}));
    QCOMPARE(request.getHeader("x-multi"), QByteArray("one two"));
    QCOMPARE(request.getHeaders("x-multi"), QByteArrayList({"one two", "one"}));
    QCOMPARE(request.getHeader("missing"), QByteArray());
    QCOMPARE(request.getHeaderMap().keys(),
             QByteArrayList({"accept", "accept", "content-length", "x-key", "x-multi", "x-multi"}));
    QCOMPARE(request.getBody(), QByteArray("hello"));
}

void TestHttpRequest::parameters_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArrayList>("values"); // most recent first
    QTest::addColumn<QByteArray>("body");

    const auto post = [](const QByteArray& target, const QByteArray& type, const QByteArray& body) {
        return "POST " + target + " HTTP/1.1\r\n" + type +
               "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    };
    QTest::newRow("query") << QByteArray("GET /p?x=1&y=2+3%21 HTTP/1.1\r\n\r\n") << QByteArray("y")
                           << QByteArrayList{"2 3!"} << QByteArray();
    QTest::newRow("flag and empty parts")
        << QByteArray("GET /p?&&fl%61g&&z= HTTP/1.1\r\n\r\n") << QByteArray("flag")
        << QByteArrayList{""} << QByteArray();
    QTest::newRow("value with =") << QByteArray("GET /?e=a=b%3D HTTP/1.1\r\n\r\n")
                                  << QByteArray("e") << QByteArrayList{"a=b="} << QByteArray();
    QTest::newRow("names are case-sensitive")
        << QByteArray("GET /?A=1&a=2 HTTP/1.1\r\n\r\n") << QByteArray("A") << QByteArrayList{"1"}
        << QByteArray();
    QTest::newRow("body without content type")
        << post("/", "", "a=1") << QByteArray("a") << QByteArrayList{"1"} << QByteArray("a=1");
    QTest::newRow("json body is not parsed")
        << post("/", "Content-Type: application/json\r\n", "a=1") << QByteArray("a")
        << QByteArrayList{} << QByteArray("a=1");
    QTest::newRow("form body wins over query")
        << post("/p?a=q&b=1", "Content-Type: application/x-www-form-urlencoded; charset=utf-8\r\n",
                "a=b&a=%20c%26d+")
        << QByteArray("a") << QByteArrayList{" c&d ", "b", "q"} << QByteArray("a=b&a=%20c%26d+");
    QTest::newRow("trimmed before decoding") << post("/", "", "k= v + &e") << QByteArray("k")
                                             << QByteArrayList{"v  "} << QByteArray("k= v + &e");
}

void TestHttpRequest::parameters()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, name);
    QFETCH(QByteArrayList, values);

    Exchange exchange;
    QCOMPARE(exchange.run(request), HttpRequest::complete);
    QCOMPARE(exchange.request->getParameters(name), values);
    QCOMPARE(exchange.request->getParameter(name), values.value(0));
    QTEST(exchange.request->getBody(), "body");
    QVERIFY(!exchange.request->getPath().contains('?'));
}

void TestHttpRequest::cookies_data()
{
    QTest::addColumn<QByteArray>("headerLines");
    QTest::addColumn<QByteArrayList>("expected"); // name, value, name, value...

    QTest::newRow("quoted value") << QByteArray("Cookie: a=1; b=\"x;y\"\r\n")
                                  << QByteArrayList{"a", "1", "b", "x;y"};
    QTest::newRow("first line wins") << QByteArray("Cookie: a=1; c=3\r\ncookie: a=2; b=2\r\n")
                                     << QByteArrayList{"a", "1", "b", "2", "c", "3"};
    QTest::newRow("without name, starting with =")
        << QByteArray("Cookie:  lone ; =x ; k = v \r\n")
        << QByteArrayList{"", "lone", "=x", "", "k", "v"};
}

void TestHttpRequest::cookies()
{
    QFETCH(QByteArray, headerLines);
    QFETCH(QByteArrayList, expected);

    Exchange exchange;
    QCOMPARE(exchange.run("GET / HTTP/1.1\r\n" + headerLines + "Host: h\r\n\r\n"),
             HttpRequest::complete);
    QMap<QByteArray, QByteArray> cookies;
    for (int i = 0; i + 1 < expected.size(); i += 2) {
        cookies.insert(expected.at(i), expected.at(i + 1));
    }
    QCOMPARE(exchange.request->getCookieMap(), cookies);
    QCOMPARE(exchange.request->getCookie(expected.at(0)), expected.at(1));
    QCOMPARE(exchange.request->getHeaderMap().keys(), QByteArrayList{"host"});
}

void TestHttpRequest::contentLength_data()
{
    QTest::addColumn<QByteArray>("headerLines");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("plain") << QByteArray("Content-Length: 3\r\n") << true;
    QTest::newRow("identical repeats")
        << QByteArray("Content-Length: 3\r\ncontent-length: 3\r\n") << true;
    QTest::newRow("largest int, too large for the limit")
        << QByteArray("Content-Length: 2147483647\r\n") << false;
    // The end of the body is uncertain in all the following, so the request is refused.
    QTest::newRow("negative") << QByteArray("Content-Length: -1\r\n") << false;
    QTest::newRow("signed") << QByteArray("Content-Length: +3\r\n") << false;
    QTest::newRow("overflowing") << QByteArray("Content-Length: 99999999999\r\n") << false;
    QTest::newRow("one past int") << QByteArray("Content-Length: 2147483648\r\n") << false;
    QTest::newRow("non-numeric") << QByteArray("Content-Length: abc\r\n") << false;
    QTest::newRow("trailing junk") << QByteArray("Content-Length:  3x\r\n") << false;
    QTest::newRow("inner space") << QByteArray("Content-Length: 1 2\r\n") << false;
    QTest::newRow("empty") << QByteArray("Content-Length:\r\n") << false;
    QTest::newRow("different values")
        << QByteArray("Content-Length: 3\r\nContent-Length: 4\r\n") << false;
    QTest::newRow("list of values") << QByteArray("Content-Length: 3, 3\r\n") << false;
    QTest::newRow("chunked") << QByteArray("Transfer-Encoding: chunked\r\n") << false;
    QTest::newRow("transfer encoding with length")
        << QByteArray("Transfer-Encoding: identity\r\nContent-Length: 3\r\n") << false;
}

void TestHttpRequest::contentLength()
{
    QFETCH(QByteArray, headerLines);
    QFETCH(bool, accepted);

    Exchange exchange;
    const HttpRequest::RequestState state =
        exchange.run("POST / HTTP/1.1\r\n" + headerLines + "\r\nabcGET / HTTP/1.1\r\n\r\n");
    QCOMPARE(state, accepted ? HttpRequest::complete : HttpRequest::aborted);
    if (accepted) {
        QCOMPARE(exchange.request->getBody(), QByteArray("abc"));
    }
}

void TestHttpRequest::sizeLimits_data()
{
    QTest::addColumn<int>("maxRequestSize");
    QTest::addColumn<int>("maxMultiPartSize");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QByteArray>("warning");

    const QByteArray tooMany = "HttpRequest: received too many bytes";
    const QByteArray get = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
    QTest::newRow("headers at the limit") << int(get.size()) << 0 << get << true << QByteArray();
    QTest::newRow("headers one over") << get.size() - 1 << 0 << get << false << tooMany;
    QTest::newRow("request line longer than the limit") << 10 << 0 << get << false << tooMany;

    const QByteArray post = "POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\n0123456789";
    QTest::newRow("body at the limit") << int(post.size()) << 0 << post << true << QByteArray();
    QTest::newRow("body one over") << post.size() - 1 << 0 << post << false
                                   << QByteArray("HttpRequest: expected body is too large");
    // Without settings the limits are 16000 request bytes and 1000000 multipart bytes.
    // Request line and headers take 42 bytes here.
    QTest::newRow("default request limit")
        << 0 << 0 << "POST / HTTP/1.1\r\nContent-Length: 15958\r\n\r\n" + QByteArray(15958, 'b')
        << true << QByteArray();
    QTest::newRow("default request limit, one over")
        << 0 << 0 << "POST / HTTP/1.1\r\nContent-Length: 15959\r\n\r\n" + QByteArray(15959, 'b')
        << false << QByteArray("HttpRequest: expected body is too large");

    // File bytes do not count in the running size, so the header lines stay far below.
    const QByteArray upload = multipartRequest("/", filePart("f", "f.bin", fileContent(3000)));
    const int body = upload.size() - upload.indexOf("\r\n\r\n") - 4;
    QTest::newRow("multipart body not bound by the request limit")
        << upload.indexOf("\r\n\r\n") + 4 << 0 << upload << true << QByteArray();
    QTest::newRow("multipart one below the limit")
        << 0 << body + 1 << upload << true << QByteArray();
    QTest::newRow("multipart of exactly the limit")
        << 0 << body << upload << false
        << QByteArray("HttpRequest: received too many multipart bytes");
    QTest::newRow("multipart one over the limit")
        << 0 << body - 1 << upload << false
        << QByteArray("HttpRequest: expected multipart body is too large");
    const int overhead = body - 3000;
    QTest::newRow("default multipart limit, one below")
        << 0 << 0 << multipartRequest("/", filePart("f", "f.bin", fileContent(999999 - overhead)))
        << true << QByteArray();
    QTest::newRow("default multipart limit, exactly")
        << 0 << 0 << multipartRequest("/", filePart("f", "f.bin", fileContent(1000000 - overhead)))
        << false << QByteArray("HttpRequest: received too many multipart bytes");

    // Form-field bytes count, on top of the header lines.
    const QByteArray form = multipartRequest("/", fieldPart("f", QByteArray(100, 'v')));
    const int formBody = form.size() - form.indexOf("\r\n\r\n") - 4;
    QTest::newRow("multipart form fields over the limit")
        << 0 << formBody + 1 << form << false << tooMany;
}

void TestHttpRequest::sizeLimits()
{
    QFETCH(int, maxRequestSize);
    QFETCH(int, maxMultiPartSize);
    QFETCH(QByteArray, request);
    QFETCH(bool, accepted);
    QFETCH(QByteArray, warning);

    if (!warning.isEmpty()) {
        QTest::ignoreMessage(QtWarningMsg, warning.constData());
    }
    Exchange exchange(maxRequestSize, maxMultiPartSize);
    QCOMPARE(exchange.run(request), accepted ? HttpRequest::complete : HttpRequest::aborted);
    exchange.request.reset();
    QCOMPARE(leftovers(tempFolder.path()), QStringList());
}

void TestHttpRequest::multipart_data()
{
    QTest::addColumn<int>("fileSize");
    QTest::addColumn<int>("delivery");
    QTest::newRow("small, whole") << 3000 << int(whole);
    QTest::newRow("small, in pieces of 7 bytes") << 3000 << int(sevens);
    QTest::newRow("small, cut after each CR") << 3000 << int(afterEachCR);
    QTest::newRow("large with a long line, whole") << 200000 << int(whole);
}

void TestHttpRequest::multipart()
{
    QFETCH(int, fileSize);
    QFETCH(int, delivery);

    const QByteArray content = fileContent(fileSize);
    Exchange exchange;
    const QByteArray request = multipartRequest(
        "/up?name=q", fieldPart("name", "Ada") + filePart("upload", "a b.bin", content) +
                          fieldPart("note", "two\r\nlines") + fieldPart("empty", ""));
    QCOMPARE(exchange.run(request, delivery), HttpRequest::complete);

    const HttpRequest& parsed = *exchange.request;
    QCOMPARE(parsed.getPath(), QByteArray("/up"));
    QCOMPARE(parsed.getBody(), QByteArray());
    QCOMPARE(parsed.getParameters("name"), QByteArrayList({"q", "Ada"})); // the query wins
    QCOMPARE(parsed.getParameter("note"), QByteArray("two\r\nlines"));
    QCOMPARE(parsed.getParameters("empty"), QByteArrayList{""});
    QCOMPARE(parsed.getParameter("upload"), QByteArray("a b.bin"));
    QVERIFY(!parsed.getUploadedFile("name"));

    QTemporaryFile* file = parsed.getUploadedFile("upload");
    QVERIFY(file);
    QVERIFY(file->isOpen());
    QCOMPARE(file->pos(), qint64(0));
    QCOMPARE(file->size(), qint64(fileSize));
    QVERIFY(file->readAll() == content);
    const QString fileName = file->fileName();
    QVERIFY(QFile::exists(fileName));

    exchange.request.reset();
    QVERIFY(!QFile::exists(fileName));
    QCOMPARE(leftovers(tempFolder.path()), QStringList()); // the spooled body went too
}

void TestHttpRequest::multipartOddParts()
{
    // Preamble, a part of an unsupported disposition, two files under one field, an empty
    // file, and a file part whose boundary follows its blank line without a line break.
    const QByteArray parts =
        "preamble\r\n" + filePart("f", "one.txt", "first") + "--" + boundary +
        "\r\nContent-Disposition: attachment; name=\"x\"\r\n\r\nignored\r\n" +
        filePart("f", "two.txt", "second") + filePart("e", "e.txt", "") + "--" + boundary +
        "\r\nContent-Disposition: form-data; name=\"d\"; filename=\"d.txt\"\r\n\r\n" +
        fieldPart("last", "1");
    Exchange exchange;
    QCOMPARE(exchange.run(multipartRequest("/", parts, false), sevens), HttpRequest::complete);

    const HttpRequest& parsed = *exchange.request;
    QCOMPARE(parsed.getParameters("f"), QByteArrayList({"two.txt", "one.txt"}));
    QCOMPARE(parsed.getParameter("x"), QByteArray());
    QCOMPARE(parsed.getParameter("last"), QByteArray("1"));
    QTemporaryFile* file = parsed.getUploadedFile("f");
    QVERIFY(file);
    QCOMPARE(file->readAll(), QByteArray("second"));
    QVERIFY(parsed.getUploadedFile("e"));
    QCOMPARE(parsed.getUploadedFile("e")->size(), qint64(0));
    if (QTemporaryFile* direct = parsed.getUploadedFile("d")) {
        QCOMPARE(direct->size(), qint64(0));
    }

    exchange.request.reset();
    QCOMPARE(leftovers(tempFolder.path()), QStringList());
}

QTEST_GUILESS_MAIN(TestHttpRequest)
#include "tst_httprequest.moc"
