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
        for (int start = 0, i = 0; i < raw.size(); ++i) {
            if (i + 1 == raw.size() || delivery == bytewise ||
                (delivery == afterEachCR && raw.at(i) == '\r') ||
                (delivery == sevens && (i + 1) % 7 == 0)) {
                pair.send(raw.mid(start, i + 1 - start));
                start = i + 1;
                while (pair.serverSide->bytesAvailable() > 0 &&
                       request->getStatus() != HttpRequest::complete &&
                       request->getStatus() != HttpRequest::aborted) {
                    request->readFromSocket(pair.serverSide.get());
                }
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

QByteArray multipartRequest(const QByteArray& parts, bool quoted = true)
{
    const QByteArray body = parts + "--" + boundary + "--\r\n";
    const QByteArray quote = quoted ? "\"" : "";
    return "POST /up?name=q HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=" + quote +
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
    content += QByteArray(qMax(0, size - content.size()), 'L');
    return content.left(size);
}

// Temporary files left in the folder: those with a name, and unnamed ones (which the system
// may create for temporary files) that an open descriptor of this process still holds.
QStringList leftovers(const QString& folder)
{
    const QString canonical = QDir(folder).canonicalPath() + QLatin1Char('/');
    QStringList found = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& descriptor :
         QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char target[4096];
        const ssize_t length = readlink(
            QFile::encodeName("/proc/self/fd/" + descriptor).constData(), target, sizeof target);
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
    void requestLineAndParameters_data();
    void requestLineAndParameters();
    void urlDecode_data();
    void urlDecode();
    void headersAndCookies_data();
    void headersAndCookies();
    void limitsAndRefusals_data();
    void limitsAndRefusals();
    void multipart_data();
    void multipart();

private:
    QTemporaryDir tempFolder;
};

void TestHttpRequest::initTestCase()
{
    // Temporary files go to a folder of their own, so that leftovers can be seen.
    QVERIFY(tempFolder.isValid());
    qputenv("TMPDIR", QFile::encodeName(tempFolder.path()));
    QVERIFY(QDir(QDir::tempPath()) == QDir(tempFolder.path()));
}

void TestHttpRequest::urlDecode_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("decoded");
    QTest::newRow("escape") << QByteArray("%41") << QByteArray("A");
    QTest::newRow("lower-case hex, at the end") << QByteArray("x%c3%A9") << QByteArray("x\xc3\xa9");
    QTest::newRow("plus") << QByteArray("a+b+") << QByteArray("a b ");
    QTest::newRow("encoded plus stays a plus") << QByteArray("%2B+") << QByteArray("+ ");
    QTest::newRow("decoded percent not decoded again") << QByteArray("%2541") << QByteArray("%41");
    QTest::newRow("not hex") << QByteArray("%zz") << QByteArray("%zz");
    QTest::newRow("one digit at the end") << QByteArray("a%2") << QByteArray("a%2");
    QTest::newRow("minus sign") << QByteArray("%-1") << QByteArray("%-1");
    QTest::newRow("space") << QByteArray("% 1") << QByteArray("% 1");
    QTest::newRow("hex prefix") << QByteArray("%0x1") << QByteArray("%0x1");
}

void TestHttpRequest::urlDecode()
{
    QFETCH(QByteArray, source);
    QTEST(HttpRequest::urlDecode(source), "decoded");
}

void TestHttpRequest::headersAndCookies_data()
{
    QTest::addColumn<int>("delivery");
    QTest::newRow("whole") << int(whole);
    // A carriage return at the end of a piece must not end a line whose line feed follows.
    QTest::newRow("cut after each CR") << int(afterEachCR);
}

void TestHttpRequest::headersAndCookies()
{
    QFETCH(int, delivery);
    Exchange exchange;
    QCOMPARE(exchange.run("POST / HTTP/1.1\r\nX-Key:  v1 \r\nAccept: a\r\naccept: b\r\nX-Multi: "
                          "one\r\n \ttwo\r\nContent-Length: 5\r\ncontent-length: 5\r\n"
                          "Cookie: a=1; c=\"x;y\"\r\ncookie: a=2; b=2\r\n"
                          "Cookie:  lone ; =x ; k = v \r\n\r\nhello",
                          delivery),
             HttpRequest::complete);
    const HttpRequest& request = *exchange.request;
    QCOMPARE(request.getHeader("X-KEY"), QByteArray("v1"));
    QCOMPARE(request.getHeader("Accept"), QByteArray("b"));
    QCOMPARE(request.getHeaders("ACCEPT"), QByteArrayList({"b", "a"}));
    QCOMPARE(request.getHeaders("x-multi"), QByteArrayList({"one two", "one"}));
    QCOMPARE(request.getBody(), QByteArray("hello")); // identical lengths repeated are fine

    // Cookies from all lines, the first value of a name wins; they are no headers.
    const QMap<QByteArray, QByteArray> cookies{{"a", "1"},   {"b", "2"}, {"c", "x;y"},
                                               {"", "lone"}, {"=x", ""}, {"k", "v"}};
    QCOMPARE(exchange.request->getCookieMap(), cookies);
    QCOMPARE(request.getHeaderMap().keys(),
             QByteArrayList({"accept", "accept", "content-length", "content-length", "x-key",
                             "x-multi", "x-multi"}));
}

void TestHttpRequest::requestLineAndParameters_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("delivery");
    QTest::addColumn<QByteArray>("parsed"); // method|path|raw path|version
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArrayList>("values"); // most recent first
    const auto post = [](const QByteArray& type, const QByteArray& body) {
        return "POST /p?a=q&b=1 HTTP/1.1\r\n" + type +
               "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    };
    const QByteArray posted = "POST|/p|/p|HTTP/1.1";
    // clang-format off
    QTest::newRow("decoded path, query") << QByteArray("GET /a%20b?x=1&y=2+3%21 HTTP/1.1\r\n\r\n") << int(whole) << QByteArray("GET|/a b|/a%20b|HTTP/1.1") << QByteArray("y") << QByteArrayList{"2 3!"};
    QTest::newRow("plus in the path, flag and empty parts, byte by byte") << QByteArray("PUT /a+b?&&fl%61g&&z= HTTP/1.0\r\n\r\n") << int(bytewise) << QByteArray("PUT|/a b|/a+b|HTTP/1.0") << QByteArray("flag") << QByteArrayList{""};
    QTest::newRow("empty line before it") << QByteArray("\r\nGET / HTTP/1.1\r\n\r\n") << int(afterEachCR) << QByteArray("GET|/|/|HTTP/1.1") << QByteArray("a") << QByteArrayList{};
    QTest::newRow("body without content type") << post("", "a=1") << int(whole) << posted << QByteArray("a") << QByteArrayList{"1", "q"};
    QTest::newRow("json body is not parsed") << post("Content-Type: application/json\r\n", "a=1") << int(whole) << posted << QByteArray("a") << QByteArrayList{"q"};
    QTest::newRow("form body wins over query") << post("Content-Type: application/x-www-form-urlencoded; charset=utf-8\r\n", "a=b&a=%20c%26d+") << int(whole) << posted << QByteArray("a") << QByteArrayList{" c&d ", "b", "q"};
    // clang-format on
}

void TestHttpRequest::requestLineAndParameters()
{
    QFETCH(QByteArray, request);
    QFETCH(int, delivery);
    QFETCH(QByteArray, name);
    QFETCH(QByteArrayList, values);

    Exchange exchange;
    QCOMPARE(exchange.run(request, delivery), HttpRequest::complete);
    const HttpRequest& parsed = *exchange.request;
    QTEST(parsed.getMethod() + '|' + parsed.getPath() + '|' + parsed.getRawPath() + '|' +
              parsed.getVersion(),
          "parsed");
    QCOMPARE(parsed.getPeerAddress(), QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(exchange.request->getParameters(name), values);
    QCOMPARE(exchange.request->getParameter(name), values.value(0));
    QCOMPARE(parsed.getBody(), request.mid(request.indexOf("\r\n\r\n", 2) + 4));
}

void TestHttpRequest::limitsAndRefusals_data()
{
    QTest::addColumn<int>("maxRequestSize");
    QTest::addColumn<int>("maxMultiPartSize");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QByteArray>("warning");
    const auto row = [](const char* name, int maxRequest, int maxMulti, const QByteArray& request,
                        bool accepted, const QByteArray& warning = QByteArray()) {
        QTest::newRow(name) << maxRequest << maxMulti << request << accepted << warning;
    };
    const auto post = [](const QByteArray& headerLines) {
        return "POST / HTTP/1.1\r\n" + headerLines + "\r\nabcGET / HTTP/1.1\r\n\r\n";
    };
    const QByteArray badLine = "HttpRequest: received broken HTTP request, invalid first line";
    const QByteArray tooMany = "HttpRequest: received too many bytes";
    const QByteArray tooLarge = "HttpRequest: expected body is too large";
    const QByteArray tooManyMulti = "HttpRequest: received too many multipart bytes";
    const QByteArray get = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
    const QByteArray body = "POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\n0123456789";
    // Without settings the limits are 16000 request bytes (42 taken by the head here) and
    // 1000000 multipart bytes.
    const QByteArray big =
        "POST / HTTP/1.1\r\nContent-Length: 15958\r\n\r\n" + QByteArray(15958, 'b');
    // File bytes do not count in the running size, so the header lines stay far below; form-field
    // bytes do count.
    const QByteArray upload = multipartRequest(filePart("f", "f.bin", fileContent(3000)));
    const int head = upload.indexOf("\r\n\r\n") + 4, multi = upload.size() - head;
    const QByteArray form = multipartRequest(fieldPart("f", QByteArray(100, 'v')));
    const int formMulti = form.size() - form.indexOf("\r\n\r\n") - 4;
    // clang-format off
    row("two spaces in the request line", 0, 0, "GET  / HTTP/1.1\r\n\r\n", false, badLine);
    row("no HTTP in the version", 0, 0, "GET / FTP/1.0\r\n\r\n", false, badLine);
    // The end of the body is uncertain in all the following, so the request is refused.
    row("negative length", 0, 0, post("Content-Length: -1\r\n"), false);
    row("signed length", 0, 0, post("Content-Length: +3\r\n"), false);
    row("overflowing length", 0, 0, post("Content-Length: 99999999999\r\n"), false);
    row("non-numeric length", 0, 0, post("Content-Length: abc\r\n"), false);
    row("empty length", 0, 0, post("Content-Length:\r\n"), false);
    row("different lengths", 0, 0, post("Content-Length: 3\r\nContent-Length: 4\r\n"), false);
    row("list of lengths", 0, 0, post("Content-Length: 3, 3\r\n"), false);
    row("chunked", 0, 0, post("Transfer-Encoding: chunked\r\n"), false);
    row("transfer encoding with length", 0, 0, post("Transfer-Encoding: identity\r\nContent-Length: 3\r\n"), false);

    row("headers at the limit", get.size(), 0, get, true);
    row("headers one over", get.size() - 1, 0, get, false, tooMany);
    row("body at the limit", body.size(), 0, body, true);
    row("body one over", body.size() - 1, 0, body, false, tooLarge);
    row("default request limit", 0, 0, big, true);
    row("default request limit, one over", 0, 0, QByteArray(big).replace("15958", "15959") + 'b', false, tooLarge);
    row("multipart body not bound by the request limit", head, 0, upload, true);
    row("multipart one below the limit", 0, multi + 1, upload, true);
    row("multipart of exactly the limit", 0, multi, upload, false, tooManyMulti);
    row("multipart one over the limit", 0, multi - 1, upload, false, "HttpRequest: expected multipart body is too large");
    row("default multipart limit, exactly", 0, 0, multipartRequest(filePart("f", "f.bin", fileContent(1000000 - multi + 3000))), false, tooManyMulti);
    row("multipart form fields over the limit", 0, formMulti + 1, form, false, tooMany);
    // clang-format on
}

void TestHttpRequest::limitsAndRefusals()
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
    QTest::newRow("small, in pieces of 7 bytes") << 3000 << int(sevens);
    QTest::newRow("small, cut after each CR") << 3000 << int(afterEachCR);
    QTest::newRow("large with a long line, whole") << 200000 << int(whole);
}

void TestHttpRequest::multipart()
{
    QFETCH(int, fileSize);
    QFETCH(int, delivery);

    // Besides the usual parts: a preamble, a part of an unsupported disposition, two files
    // under one field, an empty file, and a file part whose boundary follows its blank line
    // without a line break.
    const QByteArray content = fileContent(fileSize);
    const QByteArray parts =
        "preamble\r\n" + fieldPart("name", "Ada") + filePart("upload", "a b.bin", content) +
        fieldPart("note", "two\r\nlines") + fieldPart("empty", "") +
        filePart("f", "one.txt", "first") + "--" + boundary +
        "\r\nContent-Disposition: attachment; name=\"x\"\r\n\r\nignored\r\n" +
        filePart("f", "two.txt", "second") + filePart("e", "e.txt", "") + "--" + boundary +
        "\r\nContent-Disposition: form-data; name=\"d\"; filename=\"d.txt\"\r\n\r\n" +
        fieldPart("last", "1");
    Exchange exchange;
    QCOMPARE(exchange.run(multipartRequest(parts, delivery != sevens), delivery),
             HttpRequest::complete);

    const HttpRequest& parsed = *exchange.request;
    QCOMPARE(parsed.getPath(), QByteArray("/up"));
    QCOMPARE(parsed.getBody(), QByteArray());
    QCOMPARE(parsed.getParameters("name"), QByteArrayList({"q", "Ada"})); // the query wins
    QCOMPARE(parsed.getParameter("note"), QByteArray("two\r\nlines"));
    QCOMPARE(parsed.getParameters("empty"), QByteArrayList{""});
    QCOMPARE(parsed.getParameter("upload"), QByteArray("a b.bin"));
    QCOMPARE(parsed.getParameters("f"), QByteArrayList({"two.txt", "one.txt"}));
    QCOMPARE(parsed.getParameter("x"), QByteArray());
    QCOMPARE(parsed.getParameter("last"), QByteArray("1"));
    QVERIFY(!parsed.getUploadedFile("name"));
    QCOMPARE(parsed.getUploadedFile("f")->readAll(), QByteArray("second"));
    QCOMPARE(parsed.getUploadedFile("e")->size(), qint64(0));
    if (QTemporaryFile* direct = parsed.getUploadedFile("d")) {
        QCOMPARE(direct->size(), qint64(0));
    }

    QTemporaryFile* file = parsed.getUploadedFile("upload");
    QVERIFY(file && file->isOpen());
    QCOMPARE(file->pos(), qint64(0));
    QCOMPARE(file->size(), qint64(fileSize));
    QVERIFY(file->readAll() == content);
    const QString fileName = file->fileName();
    QVERIFY(QFile::exists(fileName));

    exchange.request.reset();
    QVERIFY(!QFile::exists(fileName));
    QCOMPARE(leftovers(tempFolder.path()), QStringList()); // the spooled body went too
}

QTEST_GUILESS_MAIN(TestHttpRequest)
#include "tst_httprequest.moc"
