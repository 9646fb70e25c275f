// Print jobs on a live (sandboxed) CUPS scheduler: the command language, its conversions and
// defaults, the reset sequence around images, image sources, and failures of the print system.

#include "cupsseam.h"
#include "printjob.h"
#include "rawprinter.h"

#include <QtTest>

#include <QBuffer>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>

#include <sys/resource.h>

namespace {

QByteArray hex(const QByteArray& text)
{
    return QByteArray::fromHex(text);
}

// The reset sequence: initialise, then a line feed prefixed with ESC t 0.
const QByteArray R = "1b40 1b74000a ";
const QByteArray white1x1 = "1d5000001b3300 1b2a210100 000000 1b6400 ";
const QByteArray black2x1 = "1d5000001b3300 1b2a210200 000000 800000 1b6400 ";

QByteArray encodedImage(int width, int height, QColor colour, const char* format = "PNG")
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(colour);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return data;
}

QString base64Png(int width, int height, QColor colour)
{
    return QString::fromLatin1(encodedImage(width, height, colour).toBase64());
}

quint32 crc32(const QByteArray& data)
{
    quint32 crc = 0xFFFFFFFF;
    for (const char byte : data) {
        crc ^= uchar(byte);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

QByteArray pngChunk(const char* type, const QByteArray& body)
{
    QByteArray chunk;
    QDataStream out(&chunk, QIODevice::WriteOnly);
    out << quint32(body.size());
    const QByteArray typed = QByteArray(type) + body;
    out.writeRawData(typed.constData(), typed.size());
    out << crc32(typed);
    return chunk;
}

// Writes a deflate stream bit by bit (least significant bit first, Huffman codes reversed).
class BitWriter
{
public:
    void bits(quint32 value, int count)
    {
        pending |= quint64(value) << used;
        used += count;
        while (used >= 8) {
            out.append(char(pending & 0xFF));
            pending >>= 8;
            used -= 8;
        }
    }
    void code(quint32 value, int length)
    {
        quint32 reversed = 0;
        for (int i = 0; i < length; ++i)
            reversed = (reversed << 1) | ((value >> i) & 1);
        bits(reversed, length);
    }
    QByteArray finish()
    {
        if (used > 0)
            bits(0, 8 - used);
        return out;
    }

private:
    QByteArray out;
    quint64 pending = 0;
    int used = 0;
};

// A zlib stream of size zero bytes in one fixed-Huffman block: a literal 0, then copies of
// 258 bytes at distance 1 (13 bits each), so 432 MB of pixels fit in under 3 MB.
QByteArray zlibZeros(qint64 size)
{
    BitWriter writer;
    writer.bits(1, 1);    // last block
    writer.bits(1, 2);    // fixed Huffman codes
    writer.code(0x30, 8); // literal 0
    qint64 left = size - 1;
    for (; left >= 258; left -= 258) {
        writer.code(0xC5, 8); // length 258
        writer.code(0, 5);    // distance 1
    }
    for (; left > 0; --left)
        writer.code(0x30, 8);
    writer.code(0, 7); // end of block
    QByteArray stream = QByteArray("\x78\x01", 2) + writer.finish();
    const quint32 adler = (quint32(size % 65521) << 16) | 1;
    QDataStream(&stream, QIODevice::Append) << adler;
    return stream;
}

// A valid PNG of 12000 x 12000 black pixels in under 3 MB: 576 MB once decoded.
const QByteArray& decompressionBomb()
{
    static const QByteArray png = [] {
        const quint32 side = 12000;
        QByteArray header;
        QDataStream out(&header, QIODevice::WriteOnly);
        out << side << side << quint8(8) << quint8(2) << quint8(0) << quint8(0) << quint8(0);
        return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) +
               pngChunk("IDAT", zlibZeros(qint64(side) * (1 + 3 * side))) +
               pngChunk("IEND", QByteArray());
    }();
    return png;
}

qint64 peakMemoryKb()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A small HTTP server in the test's thread; the job's local event loop serves it.
class ImageServer : public QTcpServer
{
public:
    ImageServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [socket] { answer(socket); });
        });
        listen(QHostAddress::LocalHost);
    }
    QString url(const char* path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(path);
    }

private:
    // Sends 48 MiB without announcing a size, a MiB at a time, then stalls.
    static void stream(QTcpSocket* socket)
    {
        socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
        const auto more = [socket] {
            const int sent = socket->property("sent").toInt();
            if (sent >= 48 || socket->bytesToWrite() > 0)
                return;
            socket->setProperty("sent", sent + 1);
            socket->write(QByteArray(1024 * 1024, 'x'));
        };
        connect(socket, &QTcpSocket::bytesWritten, socket, more);
        more();
    }

    static void answer(QTcpSocket* socket)
    {
        QByteArray request = socket->property("request").toByteArray() + socket->readAll();
        socket->setProperty("request", request);
        if (!request.contains("\r\n\r\n"))
            return;
        const QByteArray path = request.split(' ').value(1);
        const auto reply = [socket](const QByteArray& status, const QByteArray& body,
                                    const QByteArray& headers = QByteArray()) {
            socket->write("HTTP/1.1 " + status +
                          "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n" +
                          headers + "Connection: close\r\n\r\n" + body);
            socket->disconnectFromHost();
        };
        if (path == "/white.png")
            reply("200 OK", encodedImage(1, 1, Qt::white));
        else if (path == "/black.bmp")
            reply("200 OK", encodedImage(2, 1, Qt::black, "BMP"));
        else if (path == "/redirect")
            reply("302 Found", QByteArray(), "Location: /black.bmp\r\n");
        else if (path == "/bomb.png")
            reply("200 OK", decompressionBomb());
        else if (path == "/endless")
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100000000\r\n\r\n" +
                          QByteArray(65536, 'x'));
        else if (path == "/stream")
            stream(socket);
        else if (path == "/silent")
            ; // accepts the request and never answers
        else
            reply("404 Not Found", QByteArray());
    }
};

} // namespace

class TestPrintJob : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void commands_data();
    void commands();
    void imageSources_data();
    void imageSources();
    void unansweredFetchEnds();
    void receiptArrivesByteForByte();
    void compatibilityReceiptArrivesByteForByte();
    void disabledQueueFails();
    void unknownQueueFails();
    void refusedWriteFailsTheJob();
    void unstartableDocumentFailsTheJob();
    void unfinishableDocumentFailsTheJob();

private:
    // The bytes of the job as libcups accepted them.
    QByteArray run(const QJsonArray& job, bool compatibility, bool expectSuccess = true,
                   const QString& queue = QString());

    RawPrinter printer;
    ImageServer images;
};

void TestPrintJob::initTestCase()
{
    QVERIFY2(printer.create(), qPrintable(printer.error()));
    QVERIFY(images.isListening());
}

void TestPrintJob::init()
{
    CupsSeam::reset();
}

QByteArray TestPrintJob::run(const QJsonArray& job, bool compatibility, bool expectSuccess,
                             const QString& queue)
{
    CupsSeam::reset();
    PrintJob printJob(job, queue.isEmpty() ? printer.queueName() : queue, compatibility);
    const bool ok = printJob.execute();
    if (ok != expectSuccess)
        qWarning() << "execute returned" << ok << CupsSeam::callNames();
    return ok == expectSuccess ? CupsSeam::acceptedBytes() : QByteArray("unexpected result");
}

void TestPrintJob::commands_data()
{
    QTest::addColumn<QString>("job");
    QTest::addColumn<bool>("compatibility");
    QTest::addColumn<QByteArray>("expected");

    const QString white = base64Png(1, 1, Qt::white);
    const auto image = [](const QString& data) {
        return QStringLiteral(R"({"op":"image","data":"%1"})").arg(data);
    };

    QTest::newRow("empty job: the reset sequence") << "[]" << false << hex(R);
    QTest::newRow("compatibility: no reset")
        << R"([{"op":"text","data":"Ab"}])" << true << hex("1b74004162");
    QTest::newRow("alignment twice sends once")
        << R"([{"op":"alignment","data":1},{"op":"alignment","data":1}])" << false
        << hex(R + "1b6101");
    QTest::newRow("alignment again after an image")
        << R"([{"op":"alignment","data":1},)" + image(white) + R"(,{"op":"alignment","data":1}])"
        << false << hex(R + "1b6101" + white1x1 + R + "1b6101");
    QTest::newRow("compatibility: no reset after an image")
        << "[" + image(white) + R"(,{"op":"text","data":"x"}])" << true
        << hex("1d50cbcb 1b2a210100 000000 1b4a18 1b740078");
    QTest::newRow("alignment 7 counts as left")
        << R"([{"op":"alignment","data":7}])" << false << hex(R + "1b6100");
    QTest::newRow("alignment conversions")
        << R"([{"op":"alignment","data":2},{"op":"alignment","data":"1"},)"
           R"({"op":"alignment","data":1.0},{"op":"alignment","data":1.5},)"
           R"({"op":"alignment","data":-1},{"op":"alignment"}])"
        << false << hex(R + "1b6102 1b6100 1b6101 1b6100");
    QTest::newRow("double width, then the same again")
        << R"([{"op":"double","data":{"width":true}},)"
           R"({"op":"double","data":{"width":true,"height":false}}])"
        << false << hex(R + "1b2120");
    QTest::newRow("double needs an object")
        << R"([{"op":"double","data":true}])" << false << hex(R);
    QTest::newRow("condensed string counts as false")
        << R"([{"op":"condensed","data":"yes"},{"op":"condensed","data":true},)"
           R"({"op":"condensed","data":true},{"op":"condensed","data":1}])"
        << false << hex(R + "1b2101 1b2100");
    QTest::newRow("all five style flags")
        << R"([{"op":"double","data":{"height":true,"width":true}},{"op":"condensed","data":true},)"
           R"({"op":"style","data":{"emphasized":true,"underlined":true}},)"
           R"({"op":"style","data":{"emphasized":"yes","underlined":true}}])"
        << false << hex(R + "1b2130 1b2131 1b21b9 1b21b1");
    QTest::newRow("double width and condensed wrap at 32")
        << R"([{"op":"double","data":{"width":true}},{"op":"condensed","data":true},)"
           R"({"op":"text","data":")" +
               QString(40, 'a') + R"("}])"
        << false
        << hex(R + "1b2120 1b2121 1b7400" + QByteArray(32, 'a').toHex() + "0a" +
               QByteArray(8, 'a').toHex());
    QTest::newRow("double height keeps the width")
        << R"([{"op":"double","data":{"height":true}},{"op":"text","data":"aaaa bbbb"}])" << false
        << hex(R + "1b2110 1b7400" + QByteArray("aaaa bbbb").toHex());
    QTest::newRow("line widths from the settings")
        << R"([{"op":"settings","data":{"normalLineWidth":4}},{"op":"text","data":"aaaa bbbb"}])"
        << false << hex(R + "1b7400" + QByteArray("aaaa\nbbbb").toHex());
    QTest::newRow("line width 0 prints unwrapped")
        << R"([{"op":"settings","data":{"normalLineWidth":0}},{"op":"text","data":"ab cd"}])"
        << false << hex(R + "1b7400" + QByteArray("ab cd").toHex());
    QTest::newRow("halved line width of 1 prints unwrapped")
        << R"([{"op":"settings","data":{"normalLineWidth":1}},)"
           R"({"op":"double","data":{"width":true}},{"op":"text","data":"ab cd"}])"
        << false << hex(R + "1b2120 1b7400" + QByteArray("ab cd").toHex());
    QTest::newRow("line width beyond int counts as missing")
        << R"([{"op":"settings","data":{"normalLineWidth":1e12}},{"op":"text","data":")" +
               QString(50, 'b') + R"("}])"
        << false
        << hex(R + "1b7400" + QByteArray(48, 'b').toHex() + "0a" + QByteArray(2, 'b').toHex());
    QTest::newRow("cut commands")
        << R"([{"op":"cut","data":"no_feed"},{"op":"cut","data":"full"},{"op":"cut","data":true}])"
        << false << hex(R + "1d5631 1d56420a");
    QTest::newRow("settings without hasCutter stop cutting")
        << R"([{"op":"settings","data":{}},{"op":"cut","data":"x"},)"
           R"({"op":"settings","data":{"hasCutter":true}},{"op":"cut","data":"x"}])"
        << false << hex(R + "1d56420a");
    QTest::newRow("pulse defaults and limits")
        << R"([{"op":"pulse","data":{}},{"op":"pulse","data":{"drawer":2}},)"
           R"({"op":"pulse","data":{"drawer":1,"pulse":300}},)"
           R"({"op":"pulse","data":{"drawer":-1,"pulse":250}},)"
           R"({"op":"pulse","data":{"drawer":1,"pulse":49}},)"
           R"({"op":"pulse","data":{"drawer":true,"pulse":120}},{"op":"pulse","data":5}])"
        << false << hex(R + "1b700032fa 1b700032fa 1b700132fa 1b7000fafa 1b700132fa 1b700078fa");
    QTest::newRow("settings without hasDrawer stop pulses")
        << R"([{"op":"settings","data":{"hasCutter":true}},{"op":"pulse","data":{}}])" << false
        << hex(R);
    QTest::newRow("settings send nothing and keep the style")
        << R"([{"op":"condensed","data":true},{"op":"settings","data":{}},)"
           R"({"op":"condensed","data":true}])"
        << false << hex(R + "1b2101");
    QTest::newRow("skipped elements")
        << R"([5,"text",null,{"data":"x"},{"op":"Text","data":"x"},{"op":"text","data":7},)"
           R"({"op":"nothing","data":"x"},{"op":"image","data":3},{"op":"text","data":"ok"}])"
        << false << hex(R + "1b74006f6b");
    QTest::newRow("euro in the standard set")
        << R"([{"op":"text","data":"€"}])" << false << hex(R + "1b7400 1b741080 1b7400");
    QTest::newRow("euro in the alternative set")
        << R"([{"op":"settings","data":{"alternativeCharset":true}},{"op":"text","data":"€"}])"
        << false << hex(R + "1b7400 1b7413d5 1b7400");
    QTest::newRow("folded text") << R"([{"op":"settings","data":{"replaceAccentedChars":true}},)"
                                    R"({"op":"text","data":"Ação €"}])"
                                 << false << hex(R + "1b7400" + QByteArray("Acao  ").toHex());
    QTest::newRow("print mode 2 sends no image, the reset follows")
        << R"([{"op":"settings","data":{"imagePrintMode":2}},)" + image(white) + "]" << false
        << hex(R + R);
    QTest::newRow("page mode") << R"([{"op":"settings","data":{"imagePrintMode":1}},)" +
                                      image(white) + "]"
                               << false
                               << hex(R + "1b4c 1b5700000000 0100 0100" + white1x1 + "0c" + R);
    QTest::newRow("low density: half width, a third of the height")
        << R"([{"op":"settings","data":{"lowDensity":true}},)" + image(base64Png(4, 3, Qt::white)) +
               "]"
        << false << hex(R + "1d5000001b3300 1b2a000200 0000 1b6400" + R);
    QTest::newRow("low density down to no rows")
        << R"([{"op":"settings","data":{"lowDensity":true}},)" + image(base64Png(2, 2, Qt::black)) +
               "]"
        << false << hex(R + "1d5000001b3300" + R);
    QTest::newRow("data URI") << "[" +
                                     image("data:image/png;base64," + base64Png(2, 1, Qt::black)) +
                                     "]"
                              << false << hex(R + black2x1 + R);
    QTest::newRow("not an image: preamble only")
        << "[" + image("data:image/png;base64,bm90IGFuIGltYWdl") + "]" << false
        << hex(R + "1d5000001b3300" + R);
    QTest::newRow("decompression bomb: preamble only")
        << "[" + image(QString::fromLatin1(decompressionBomb().toBase64())) + "]" << false
        << hex(R + "1d5000001b3300" + R);
}

void TestPrintJob::commands()
{
    QFETCH(QString, job);
    QFETCH(bool, compatibility);
    QFETCH(QByteArray, expected);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(job.toUtf8(), &error);
    QVERIFY2(document.isArray(), qPrintable(error.errorString()));
    const qint64 peakBefore = peakMemoryKb();
    QCOMPARE(run(document.array(), compatibility).toHex(), expected.toHex());
    // No image may be decoded to a size that exhausts memory.
    QVERIFY(peakMemoryKb() - peakBefore < 256 * 1024);
}

void TestPrintJob::imageSources_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("PNG") << "/white.png" << hex(R + white1x1 + R);
    QTest::newRow("format from the data") << "/black.bmp" << hex(R + black2x1 + R);
    QTest::newRow("redirect followed") << "/redirect" << hex(R + black2x1 + R);
    QTest::newRow("not found") << "/missing" << hex(R + "1d5000001b3300" + R);
    QTest::newRow("decompression bomb") << "/bomb.png" << hex(R + "1d5000001b3300" + R);
    QTest::newRow("unannounced endless download") << "/stream" << hex(R + "1d5000001b3300" + R);
    QTest::newRow("endless download") << "/endless" << hex(R + "1d5000001b3300" + R);
}

void TestPrintJob::imageSources()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, expected);
    const QJsonArray job = {QJsonObject{{"op", "image"}, {"data", images.url(qPrintable(path))}}};
    QElapsedTimer clock;
    clock.start();
    const qint64 peakBefore = peakMemoryKb();
    QCOMPARE(run(job, false).toHex(), expected.toHex());
    QVERIFY(peakMemoryKb() - peakBefore < 256 * 1024);
    // An oversized download is cut off at once, not only by the time limit.
    QVERIFY(clock.elapsed() < PrintJob::imageFetchTimeout);
}

void TestPrintJob::unansweredFetchEnds()
{
    const QJsonArray job = {QJsonObject{{"op", "image"}, {"data", images.url("/silent")}},
                            QJsonObject{{"op", "text"}, {"data", "after"}}};
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(run(job, false).toHex(),
             hex(R + "1d5000001b3300" + R + "1b7400" + QByteArray("after").toHex()).toHex());
    QVERIFY2(clock.elapsed() < PrintJob::imageFetchTimeout + 5000,
             qPrintable(QString::number(clock.elapsed())));
}

void TestPrintJob::receiptArrivesByteForByte()
{
    const QJsonArray job = {
        QJsonObject{{"op", "settings"},
                    {"data", QJsonObject{{"hasCutter", true}, {"hasDrawer", true}}}},
        QJsonObject{{"op", "alignment"}, {"data", 1}},
        QJsonObject{{"op", "double"}, {"data", QJsonObject{{"height", true}}}},
        QJsonObject{{"op", "text"}, {"data", "São João\n"}},
        QJsonObject{{"op", "double"}, {"data", QJsonObject{}}},
        QJsonObject{{"op", "alignment"}, {"data", 0}},
        QJsonObject{{"op", "style"}, {"data", QJsonObject{{"emphasized", true}}}},
        QJsonObject{{"op", "text"}, {"data", "Preço 1,50 € ç\n"}},
        QJsonObject{{"op", "image"}, {"data", base64Png(2, 1, Qt::black)}},
        QJsonObject{{"op", "cut"}, {"data", "full"}},
        QJsonObject{{"op", "pulse"}, {"data", QJsonObject{{"drawer", 1}, {"pulse", 100}}}},
    };
    const QByteArray expected =
        hex(R + "1b6101 1b2110" + "1b7400 53 1b740384 1b7400 6f 20 4a 6f 1b740384 1b7400 6f 0a" +
            "1b2100 1b6100 1b2108" + "1b7400 507265 87 6f 20 312c3530 20 1b741080 1b7400 20 87 0a" +
            black2x1 + R + "1d56420a 1b700164fa");

    // A queue of its own, so that only this job reaches its listener.
    RawPrinter receipt;
    QVERIFY2(receipt.create(), qPrintable(receipt.error()));
    QCOMPARE(run(job, false, true, receipt.queueName()).toHex(), expected.toHex());
    QVERIFY(receipt.waitForJobs(1));
    QCOMPARE(receipt.jobs().constFirst().toHex(), expected.toHex());
}

void TestPrintJob::compatibilityReceiptArrivesByteForByte()
{
    const QJsonArray job = {
        QJsonObject{{"op", "settings"}, {"data", QJsonObject{{"alternativeCharset", true}}}},
        QJsonObject{{"op", "text"}, {"data", "ã €"}},
        QJsonObject{{"op", "image"}, {"data", base64Png(2, 1, Qt::black)}},
        QJsonObject{{"op", "alignment"}, {"data", 2}},
    };
    const QByteArray expected = hex("1b7400 1b740384 1b7400 20 1b7413d5 1b7400"
                                    "1d50cbcb 1b2a210200 000000 800000 1b4a18 1b6102");
    RawPrinter receipt;
    QVERIFY2(receipt.create(), qPrintable(receipt.error()));
    QCOMPARE(run(job, true, true, receipt.queueName()).toHex(), expected.toHex());
    QVERIFY(receipt.waitForJobs(1));
    QCOMPARE(receipt.jobs().constFirst().toHex(), expected.toHex());
}

void TestPrintJob::disabledQueueFails()
{
    RawPrinter stopped;
    QVERIFY2(stopped.create(), qPrintable(stopped.error()));
    QVERIFY(stopped.disable());
    PrintJob job({QJsonObject{{"op", "text"}, {"data", "x"}}}, stopped.queueName(), false);
    QVERIFY(!job.execute());
    QVERIFY(CupsSeam::calls().isEmpty());
}

void TestPrintJob::unknownQueueFails()
{
    PrintJob job({QJsonObject{{"op", "text"}, {"data", "x"}}}, "escpos_no_such_queue", false);
    QVERIFY(!job.execute());
    QCOMPARE(CupsSeam::callNames(), QStringList({"create!"}));
}

void TestPrintJob::refusedWriteFailsTheJob()
{
    // Writes: the reset's ESC @, the reset's line feed, then the text.
    CupsSeam::refuseWrite(3);
    PrintJob job({QJsonObject{{"op", "text"}, {"data", "lost"}},
                  QJsonObject{{"op", "cut"}, {"data", "full"}},
                  QJsonObject{{"op", "text"}, {"data", "never sent"}}},
                 printer.queueName(), false);
    QVERIFY(!job.execute());
    QCOMPARE(CupsSeam::callNames(),
             QStringList({"create", "start", "write", "write", "write!", "finish"}));
}

void TestPrintJob::unstartableDocumentFailsTheJob()
{
    CupsSeam::failStartDocument();
    PrintJob job({QJsonObject{{"op", "text"}, {"data", "x"}}}, printer.queueName(), false);
    QVERIFY(!job.execute());
    QCOMPARE(CupsSeam::callNames(), QStringList({"create", "start!", "cancel"}));
}

void TestPrintJob::unfinishableDocumentFailsTheJob()
{
    CupsSeam::failFinishDocument();
    PrintJob job({QJsonObject{{"op", "text"}, {"data", "x"}}}, printer.queueName(), false);
    QVERIFY(!job.execute());
    QCOMPARE(CupsSeam::callNames().last(), QStringLiteral("finish!"));
    QCOMPARE(CupsSeam::callNames().count(QStringLiteral("finish!")), 1);
}

QTEST_GUILESS_MAIN(TestPrintJob)
#include "tst_printjob.moc"
