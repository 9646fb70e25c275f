// The raw job device and print jobs on a live (sandboxed) CUPS scheduler: the command language,
// its conversions and defaults, the reset sequence around images, image sources, and failures
// of the print system.

#include "cupsmonitor.h"
#include "cupsseam.h"
#include "nativeescfakesocket.h"
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
const QByteArray preamble = "1d5000001b3300 ";
const QByteArray white1x1 = preamble + "1b2a210100 000000 1b6400 ";
const QByteArray black2x1 = preamble + "1b2a210200 000000 800000 1b6400 ";

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

QByteArray pngChunk(const char* type, const QByteArray& body)
{
    const QByteArray typed = QByteArray(type) + body;
    quint32 crc = 0xFFFFFFFF;
    for (const char byte : typed) {
        crc ^= uchar(byte);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    QByteArray chunk;
    QDataStream out(&chunk, QIODevice::WriteOnly);
    out << quint32(body.size());
    out.writeRawData(typed.constData(), typed.size());
    out << ~crc;
    return chunk;
}

// A zlib stream of size zero bytes in one fixed-Huffman block: a literal 0, then copies of
// 258 bytes at distance 1 (13 bits each), so 432 MB of pixels fit in under 3 MB.
QByteArray zlibZeros(qint64 size)
{
    QByteArray out("\x78\x01", 2);
    quint32 pending = 0;
    int used = 0;
    // Huffman codes go most significant bit first, the block header least significant first.
    const auto put = [&](quint32 value, int count, bool code) {
        for (int i = 0; i < count; ++i) {
            pending |= ((value >> (code ? count - 1 - i : i)) & 1) << used;
            if (++used == 8) {
                out.append(char(pending));
                pending = 0;
                used = 0;
            }
        }
    };
    put(3, 3, false);   // last block, fixed Huffman codes
    put(0x30, 8, true); // literal 0
    qint64 left = size - 1;
    for (; left >= 258; left -= 258) {
        put(0xC5, 8, true); // length 258
        put(0, 5, true);    // distance 1
    }
    for (; left > 0; --left)
        put(0x30, 8, true);
    put(0, 7 + (8 - (used + 7) % 8) % 8, true); // end of block, then pad to a byte
    QDataStream(&out, QIODevice::Append) << ((quint32(size % 65521) << 16) | 1); // Adler-32
    return out;
}

// A valid PNG of 12000 x 12000 black pixels in under 3 MB: 576 MB once decoded.
QString decompressionBomb()
{
    const quint32 side = 12000;
    QByteArray header;
    QDataStream(&header, QIODevice::WriteOnly)
        << side << side << quint8(8) << quint8(2) << quint8(0) << quint8(0) << quint8(0);
    return QString::fromLatin1((QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) +
                                pngChunk("IDAT", zlibZeros(qint64(side) * (1 + 3 * side))) +
                                pngChunk("IEND", QByteArray()))
                                   .toBase64());
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
    QString url(const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(path);
    }

private:
    static void answer(QTcpSocket* socket)
    {
        const QByteArray request = socket->property("request").toByteArray() + socket->readAll();
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
        if (path == "/white.png") {
            reply("200 OK", encodedImage(1, 1, Qt::white));
        } else if (path == "/black.bmp") {
            reply("200 OK", encodedImage(2, 1, Qt::black, "BMP"));
        } else if (path == "/redirect") {
            reply("302 Found", QByteArray(), "Location: /black.bmp\r\n");
        } else if (path == "/endless") {
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100000000\r\n\r\n" +
                          QByteArray(65536, 'x'));
        } else if (path == "/stream") {
            // 48 MiB without an announced size, a MiB at a time, then a stall.
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
        } // any other path is accepted and never answered
    }
};

QJsonArray parse(const QString& json)
{
    return QJsonDocument::fromJson(json.toUtf8()).array();
}

} // namespace

class TestPrintJob : public QObject
{
    Q_OBJECT

    RawPrinter printer;
    ImageServer images;

    // The bytes of the job as libcups accepted them.
    QByteArray run(const QJsonArray& job, bool compatibility, const QString& queue = QString())
    {
        PrintJob printJob(job, queue.isEmpty() ? printer.queueName() : queue, compatibility);
        if (!printJob.execute())
            return "execute failed: " + CupsSeam::calls.join(' ').toLatin1();
        return CupsSeam::accepted;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(printer.create(), qPrintable(printer.error()));
        QVERIFY(images.isListening());
    }
    void init() { CupsSeam::reset(); }

    // The first write opens the job; close() does not end it; all writes form one document.
    void writesFormOneDocument()
    {
        NativeESCFakeSocket device;
        QVERIFY(device.connectToDevice(printer.queueName()));
        const int before = printer.jobs().size();
        QCOMPARE(device.write(QByteArray("first|", 6)), qint64(6));
        device.close();
        QVERIFY(device.isOpen());
        QCOMPARE(device.write(QByteArray("\0second", 7)), qint64(7));
        QVERIFY(device.endJobRequested());
        QCOMPARE(CupsSeam::calls, QStringList({"create", "start", "write", "write", "finish"}));
        QVERIFY(printer.waitForJobs(before + 1));
        QCOMPARE(printer.jobs().last(), QByteArray("first|\0second", 13));
    }

    void disabledQueueIsRefused()
    {
        RawPrinter stopped;
        QVERIFY2(stopped.create(), qPrintable(stopped.error()));
        QVERIFY(stopped.disable());
        NativeESCFakeSocket device;
        QVERIFY(!device.connectToDevice(stopped.queueName()));
        QCOMPARE(device.write("x"), qint64(-1)); // not open
        QVERIFY(CupsSeam::calls.isEmpty());
    }

    void commands_data()
    {
        QTest::addColumn<QString>("job");
        QTest::addColumn<bool>("compatibility");
        QTest::addColumn<QByteArray>("expected");

        const QString white = base64Png(1, 1, Qt::white);
        const auto image = [](const QString& data) {
            return QStringLiteral(R"({"op":"image","data":"%1"})").arg(data);
        };
        const auto settings = [](const char* data) {
            return QStringLiteral(R"({"op":"settings","data":%1},)").arg(data);
        };

        QTest::newRow("empty job: the reset sequence") << "[]" << false << hex(R);
        QTest::newRow("alignment once per change, conversions")
            << R"([{"op":"alignment","data":1},{"op":"alignment","data":1},)"
               R"({"op":"alignment","data":2},{"op":"alignment","data":"1"},)"
               R"({"op":"alignment","data":1.0},{"op":"alignment","data":1.5},)"
               R"({"op":"alignment","data":2},{"op":"alignment","data":7},)"
               R"({"op":"alignment","data":1},{"op":"alignment"}])"
            << false << hex(R + "1b6101 1b6102 1b6100 1b6101 1b6100 1b6102 1b6100 1b6101 1b6100");
        QTest::newRow("alignment again after an image")
            << R"([{"op":"alignment","data":1},)" + image(white) +
                   R"(,{"op":"alignment","data":1}])"
            << false << hex(R + "1b6101" + white1x1 + R + "1b6101");
        QTest::newRow("all five style flags, once per change, conversions")
            << R"([{"op":"double","data":{"width":true}},)"
               R"({"op":"double","data":{"width":true,"height":false}},{"op":"double","data":true},)"
               R"({"op":"condensed","data":"yes"},{"op":"condensed","data":true},)"
               R"({"op":"condensed","data":1},)"
               R"({"op":"style","data":{"emphasized":true,"underlined":true}},)"
               R"({"op":"style","data":{"emphasized":"yes","underlined":true}},)"
               R"({"op":"double","data":{"height":true}}])"
            << false << hex(R + "1b2120 1b2121 1b2120 1b21a8 1b21a0 1b2190");
        QTest::newRow("double width and condensed wrap at 32")
            << R"([{"op":"double","data":{"width":true}},{"op":"condensed","data":true},)" +
                   QStringLiteral(R"({"op":"text","data":"%1"}])").arg(QString(40, 'a'))
            << false
            << hex(R + "1b2120 1b2121 1b7400" + QByteArray(32, 'a').toHex() + "0a" +
                   QByteArray(8, 'a').toHex());
        QTest::newRow("line width from the settings, double height keeps it")
            << "[" + settings(R"({"normalLineWidth":4})") +
                   R"({"op":"double","data":{"height":true}},{"op":"text","data":"aaaa bbbb"}])"
            << false << hex(R + "1b2110 1b7400" + QByteArray("aaaa\nbbbb").toHex());
        QTest::newRow("line width beyond int counts as missing")
            << "[" + settings(R"({"normalLineWidth":1e12})") +
                   QStringLiteral(R"({"op":"text","data":"%1"}])").arg(QString(50, 'b'))
            << false
            << hex(R + "1b7400" + QByteArray(48, 'b').toHex() + "0a" + QByteArray(2, 'b').toHex());
        QTest::newRow("cut commands")
            << R"([{"op":"cut","data":"no_feed"},{"op":"cut","data":"full"},{"op":"cut","data":true}])"
            << false << hex(R + "1d5631 1d56420a");
        // Missing settings count as false; settings send nothing and keep the style.
        QTest::newRow("settings defaults")
            << R"([{"op":"condensed","data":true},)" + settings("{}") +
                   R"({"op":"condensed","data":true},{"op":"cut","data":"x"},{"op":"pulse","data":{}},)" +
                   settings(R"({"hasCutter":true,"hasDrawer":true})") +
                   R"({"op":"cut","data":"x"},{"op":"pulse","data":{}}])"
            << false << hex(R + "1b2101 1d56420a 1b700032fa");
        QTest::newRow("pulse defaults and limits")
            << R"([{"op":"pulse","data":{}},{"op":"pulse","data":{"drawer":2}},)"
               R"({"op":"pulse","data":{"drawer":1,"pulse":300}},)"
               R"({"op":"pulse","data":{"drawer":-1,"pulse":250}},)"
               R"({"op":"pulse","data":{"drawer":1,"pulse":49}},)"
               R"({"op":"pulse","data":{"drawer":true,"pulse":120}},{"op":"pulse","data":5}])"
            << false
            << hex(R + "1b700032fa 1b700032fa 1b700132fa 1b7000fafa 1b700132fa 1b700078fa");
        QTest::newRow("skipped elements")
            << R"([5,"text",null,{"data":"x"},{"op":"Text","data":"x"},{"op":"text","data":7},)"
               R"({"op":"nothing","data":"x"},{"op":"image","data":3},{"op":"text","data":"ok"}])"
            << false << hex(R + "1b74006f6b");
        QTest::newRow("folded text") << "[" + settings(R"({"replaceAccentedChars":true})") +
                                            R"({"op":"text","data":"Ação €"}])"
                                     << false << hex(R + "1b7400" + QByteArray("Acao  ").toHex());
        QTest::newRow("page mode")
            << "[" + settings(R"({"imagePrintMode":1})") + image(white) + "]" << false
            << hex(R + "1b4c 1b5700000000 0100 0100" + white1x1 + "0c" + R);
        QTest::newRow("low density: half width, a third of the height")
            << "[" + settings(R"({"lowDensity":true})") + image(base64Png(4, 3, Qt::white)) + "]"
            << false << hex(R + preamble + "1b2a000200 0000 1b6400" + R);
        QTest::newRow("data URI")
            << "[" + image("data:image/png;base64," + base64Png(2, 1, Qt::black)) + "]" << false
            << hex(R + black2x1 + R);
        QTest::newRow("decompression bomb: preamble only")
            << "[" + image(decompressionBomb()) + "]" << false << hex(R + preamble + R);
        QTest::newRow("compatibility: no reset, alternative set, image, alignment")
            << "[" + settings(R"({"alternativeCharset":true})") + R"({"op":"text","data":"ã €"},)" +
                   image(base64Png(2, 1, Qt::black)) + R"(,{"op":"alignment","data":2}])"
            << true
            << hex("1b7400 1b740384 1b7400 20 1b7413d5 1b7400"
                   "1d50cbcb 1b2a210200 000000 800000 1b4a18 1b6102");
        // QR codes: model 2, module size, error correction, store (length + 3), print.
        const auto qr = [](const char* size, const char* level) {
            return QByteArray("1d286b04003141 3200 1d286b030031 43") + size + "1d286b030031 45" +
                   level + "1d286b 0600 315030 414243 1d286b0300315130";
        };
        const auto qrcode = [](const char* members) {
            return QStringLiteral(R"({"op":"qrcode","data":{"data":"ABC"%1}})").arg(members);
        };
        QTest::newRow("qrcode: defaults, centred, after an open line")
            << R"([{"op":"alignment","data":1},{"op":"text","data":"ab"},)" + qrcode("") + "]"
            << false << hex(R + "1b6101 1b74006162 0a" + qr("06", "31"));
        QTest::newRow("qrcode: size and level, out of range ones take the defaults")
            << "[" + qrcode(R"(,"size":16,"ecc":"H")") + "," + qrcode(R"(,"size":17,"ecc":"h")") +
                   "," + qrcode(R"(,"size":1,"ecc":"L")") + "]"
            << false << hex(R + qr("10", "33") + qr("06", "31") + qr("01", "30"));
        // Barcodes: GS h, GS w, GS H, then GS k m n data; check digits are left to the printer.
        const auto barcode = [](const char* members) {
            return QStringLiteral(R"([{"op":"barcode","data":{%1}}])").arg(members);
        };
        QTest::newRow("EAN13, defaults")
            << barcode(R"("type":"EAN13","data":"5901234123457")") << false
            << hex(R + "1d6850 1d7703 1d4802 1d6b430c 353930313233343132333435");
        QTest::newRow("EAN8 with its check digit 0, without HRI")
            << barcode(R"("type":"EAN8","data":"96385500","hri":"none")") << false
            << hex(R + "1d6850 1d7703 1d4800 1d6b4407 39363338353530");
        QTest::newRow("UPCA, HRI above, height and width")
            << barcode(R"("type":"UPCA","data":"036000291452","hri":"above","height":255,)"
                       R"("width":6)")
            << false << hex(R + "1d68ff 1d7706 1d4801 1d6b410b 3033363030303239313435");
        QTest::newRow("CODE39, HRI on both sides")
            << barcode(R"("type":"CODE39","data":"AB-1 $","hri":"both","width":2,"height":1)")
            << false << hex(R + "1d6801 1d7702 1d4803 1d6b4506 41422d312024");
        QTest::newRow("ITF, out of range values take the defaults")
            << barcode(R"("type":"ITF","data":"1234","hri":"middle","width":7,"height":256)")
            << false << hex(R + "1d6850 1d7703 1d4802 1d6b4604 31323334");
        QTest::newRow("CODE128: code set B, braces doubled")
            << barcode(R"("type":"CODE128","data":"A{b}1")") << false
            << hex(R + "1d6850 1d7703 1d4802 1d6b4908 7b42 41 7b7b 62 7d 31");
        QTest::newRow("CODE128: even digits in code set C")
            << barcode(R"("type":"CODE128","data":"012399")") << false
            << hex(R + "1d6850 1d7703 1d4802 1d6b4905 7b43 01 17 63");
        QTest::newRow("raw bytes, then style and alignment are sent again")
            << R"([{"op":"alignment","data":0},{"op":"raw","data":{"base64":"G2EB\nGyEI"}},)"
               R"({"op":"style","data":{}},{"op":"alignment","data":0},)"
               R"({"op":"raw","data":{"base64":""}},{"op":"raw","data":"G2EB"}])"
            << false << hex(R + "1b6100 1b6101 1b2108 1b2100 1b6100");
    }

    // A command that cannot be printed fails the job before anything reaches the print system.
    void invalidCommandsPrintNothing_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("reason");
        const auto barcode = [](const char* type, const char* data) {
            return QStringLiteral(R"({"op":"barcode","data":{"type":"%1","data":"%2"}})")
                .arg(type, data);
        };
        QTest::newRow("EAN13 length")
            << barcode("EAN13", "59012341234") << "barcode: EAN13 data must be 12 or 13 digits";
        QTest::newRow("EAN13 check digit")
            << barcode("EAN13", "5901234123458") << "barcode: EAN13 check digit must be 7, not 8";
        QTest::newRow("EAN8 letters")
            << barcode("EAN8", "963850A") << "barcode: EAN8 data must be 7 or 8 digits";
        QTest::newRow("UPCA check digit")
            << barcode("UPCA", "036000291453") << "barcode: UPCA check digit must be 2, not 3";
        QTest::newRow("CODE39 small letters") << barcode("CODE39", "AbC")
                                              << "barcode: CODE39 cannot encode \"b\" (digits, "
                                                 "capital letters, space and - . $ / + %)";
        QTest::newRow("ITF odd length")
            << barcode("ITF", "123")
            << "barcode: ITF data must be an even number of digits, 254 at most";
        QTest::newRow("CODE128 beyond ASCII")
            << barcode("CODE128", "Preço") << "barcode: CODE128 cannot encode U+00e7";
        QTest::newRow("CODE128 too long") << barcode("CODE128", QByteArray(254, 'x').constData())
                                          << "barcode: CODE128 data too long (254 characters)";
        QTest::newRow("unknown type")
            << barcode("ean13", "5901234123457")
            << "barcode: type must be CODE128, EAN13, EAN8, UPCA, CODE39 or ITF";
        QTest::newRow("barcode without data") << barcode("ITF", "") << "barcode: data is empty";
        QTest::newRow("QR code without data") << R"({"op":"qrcode","data":{"data":7}})"
                                              << "qrcode: data is empty";
        QTest::newRow("QR code too long")
            << QStringLiteral(R"({"op":"qrcode","data":{"data":"%1","ecc":"H"}})")
                   .arg(QString(1300, 'x'))
            << "qrcode: 1300 bytes do not fit a QR code at error correction H";
        QTest::newRow("raw not base64") << R"({"op":"raw","data":{"base64":"G2E*"}})"
                                        << "raw: base64 is not valid";
        QTest::newRow("raw without base64") << R"({"op":"raw","data":{"bytes":"G2E="}})"
                                            << "raw: base64 must be a string";
    }

    void invalidCommandsPrintNothing()
    {
        QFETCH(QString, command);
        QFETCH(QString, reason);
        PrintJob job(parse(R"([{"op":"text","data":"Total 1,50\n"},)" + command + "]"),
                     printer.queueName(), false);
        QVERIFY(!job.execute());
        QCOMPARE(job.reason(), reason);
        QVERIFY(CupsSeam::calls.isEmpty());
        QByteArray bytes;
        QVERIFY(!job.collectBytes(&bytes));
        QVERIFY(bytes.isEmpty());
    }

    void commands()
    {
        QFETCH(QString, job);
        QFETCH(bool, compatibility);
        QFETCH(QByteArray, expected);
        const QJsonArray array = parse(job);
        QVERIFY(!array.isEmpty() || job == "[]");
        const qint64 peakBefore = peakMemoryKb();
        QCOMPARE(run(array, compatibility).toHex(), expected.toHex());
        // No image may be decoded to a size that exhausts memory.
        QVERIFY(peakMemoryKb() - peakBefore < 256 * 1024);
    }

    void imageSources_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("PNG") << "/white.png" << hex(R + white1x1 + R);
        QTest::newRow("redirect to a BMP, format from the data")
            << "/redirect" << hex(R + black2x1 + R);
        QTest::newRow("unannounced endless download") << "/stream" << hex(R + preamble + R);
        QTest::newRow("announced endless download") << "/endless" << hex(R + preamble + R);
        QTest::newRow("never answered, the job goes on") << "/silent" << hex(R + preamble + R);
    }

    void imageSources()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, expected);
        QElapsedTimer clock;
        clock.start();
        const qint64 peakBefore = peakMemoryKb();
        QCOMPARE(run({QJsonObject{{"op", "image"}, {"data", images.url(path)}}}, false).toHex(),
                 expected.toHex());
        QVERIFY(peakMemoryKb() - peakBefore < 256 * 1024);
        // An oversized download is cut off at once, not only by the time limit.
        const int limit = PrintJob::imageFetchTimeout + (path == "/silent" ? 5000 : 0);
        QVERIFY2(clock.elapsed() < limit, qPrintable(QString::number(clock.elapsed())));
    }

    void receiptArrivesByteForByte()
    {
        const QJsonArray job = parse(
            QStringLiteral(
                R"([{"op":"settings","data":{"hasCutter":true,"hasDrawer":true}},)"
                R"({"op":"alignment","data":1},{"op":"double","data":{"height":true}},)"
                R"({"op":"text","data":"São João\n"},{"op":"double","data":{}},)"
                R"({"op":"alignment","data":0},{"op":"style","data":{"emphasized":true}},)"
                R"({"op":"text","data":"Preço 1,50 € ç\n"},{"op":"image","data":"%1"},)"
                R"({"op":"cut","data":"full"},{"op":"pulse","data":{"drawer":1,"pulse":100}}])")
                .arg(base64Png(2, 1, Qt::black)));
        QCOMPARE(job.size(), 11);
        const QByteArray expected = hex(
            R + "1b6101 1b2110" + "1b7400 53 1b740384 1b7400 6f 20 4a 6f 1b740384 1b7400 6f 0a" +
            "1b2100 1b6100 1b2108" + "1b7400 507265 87 6f 20 312c3530 20 1b741080 1b7400 20 87 0a" +
            black2x1 + R + "1d56420a 1b700164fa");

        // A queue of its own, so that only this job reaches its listener.
        RawPrinter receipt;
        QVERIFY2(receipt.create(), qPrintable(receipt.error()));
        QCOMPARE(run(job, false, receipt.queueName()).toHex(), expected.toHex());
        QVERIFY(receipt.waitForJobs(1));
        QCOMPARE(receipt.jobs().constFirst().toHex(), expected.toHex());
    }

    void nothingToSend_data()
    {
        QTest::addColumn<bool>("compatibility");
        QTest::addColumn<bool>("device"); // the device used directly, its job started at once
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("compatibility: no job") << true << false << QStringList();
        QTest::newRow("the reset sequence is printed")
            << false << false << QStringList{"create", "start", "write", "finish"};
        QTest::newRow("started device: the job is cancelled")
            << true << true << QStringList{"create", "start", "finish!", "cancel"};
    }

    // A job that produces no bytes is done, and no job stays on the queue.
    void nothingToSend()
    {
        QFETCH(bool, compatibility);
        QFETCH(bool, device);
        QFETCH(QStringList, calls);
        RawPrinter queue;
        QVERIFY2(queue.create(), qPrintable(queue.error()));
        PrintJob job(parse(R"([{"op":"settings","data":{}}])"), queue.queueName(), compatibility);
        NativeESCFakeSocket raw;
        if (device)
            QVERIFY(raw.connectToDevice(queue.queueName()) && raw.startJobRequested() &&
                    raw.endJobRequested());
        else
            QVERIFY(job.execute());
        QCOMPARE(CupsSeam::calls, calls);
        QString pending = "?";
        QTRY_VERIFY2(RawPrinter::runTool("lpstat", {"-o", queue.queueName()}, &pending) &&
                         pending.isEmpty(),
                     qPrintable(pending));
    }

    void outcomes_data()
    {
        QTest::addColumn<QString>("printer");
        QTest::addColumn<bool>("sent");
        QTest::addColumn<QString>("reason");
        QTest::newRow("printed") << "there" << true << "";
        QTest::newRow("port refuses") << "unplugged" << true << "timeout";
        QTest::newRow("never reads nor closes") << "silent" << true << "timeout";
        QTest::newRow("queue stopped") << "stopped" << false << "printer-stopped";
        QTest::newRow("queue stopped while the job waits")
            << "stopped later" << true << "printer-stopped";
        QTest::newRow("queue not accepting")
            << "rejecting" << false << "server-error-not-accepting-jobs";
    }

    // A job is reported printed only once the print system completed it; one that did not
    // print within the bound is cancelled and never prints later.
    void outcomes()
    {
        QFETCH(QString, printer);
        QFETCH(bool, sent);
        QFETCH(QString, reason);
        RawPrinter queue;
        QVERIFY2(queue.create(), qPrintable(queue.error()));
        if (printer == "unplugged" || printer == "stopped later")
            queue.refuseConnections();
        else if (printer == "silent")
            queue.ignoreConnections();
        else if (printer == "stopped")
            QVERIFY(queue.disable());
        else if (printer == "rejecting")
            QVERIFY(RawPrinter::runTool("cupsreject", {queue.queueName()}));
        PrintJob job(parse(R"([{"op":"text","data":"total 1,50\n"}])"), queue.queueName(), false);
        QCOMPARE(job.execute(), sent);
        if (printer == "stopped later")
            QVERIFY(queue.disable());
        if (sent) {
            const int bound = 2000;
            QElapsedTimer clock;
            clock.start();
            QVERIFY2(job.waitForOutcome(bound) == reason.isEmpty(), qPrintable(job.reason()));
            QVERIFY(clock.elapsed() < bound + 1000);
        }
        QCOMPARE(job.reason(), reason);
        QString pending = "?";
        QTRY_VERIFY2(RawPrinter::runTool("lpstat", {"-o", queue.queueName()}, &pending) &&
                         pending.isEmpty(),
                     qPrintable(pending));
    }

    // The queue's condition as the scheduler reports it, and its change as an event.
    void monitorSeesConditions()
    {
        RawPrinter queue;
        QVERIFY2(queue.create(), qPrintable(queue.error()));
        const auto condition = [&] {
            const QList<PrinterCondition> all = CupsMonitor::conditions();
            for (const PrinterCondition& one : all)
                if (one.name == queue.queueName())
                    return one;
            return PrinterCondition();
        };
        CupsMonitor monitor;
        // QTRY_VERIFY evaluates once more after success; the event is read only once.
        bool seen = false;
        const auto eventSeen = [&] { return seen = seen || monitor.changed(); };
        QVERIFY(monitor.changed()); // nothing known before the subscription
        QVERIFY(monitor.subscribed());
        QVERIFY(!monitor.changed());
        QCOMPARE(condition().state, QString("idle"));
        QCOMPARE(condition().reasons, QStringList());

        QVERIFY(queue.setReasons({"media-empty-error", "media-empty-warning", "door-open-report"}));
        QTRY_VERIFY(eventSeen());
        seen = false;
        QCOMPARE(condition().reasons, QStringList({"media-empty", "door-open-report"}));
        QVERIFY(queue.disable());
        QVERIFY(RawPrinter::runTool("cupsreject", {queue.queueName()}));
        QTRY_VERIFY(eventSeen());
        QCOMPARE(condition().state, QString("stopped"));
        QVERIFY(!condition().accepting);
        QVERIFY(condition().reasons.contains("paused"));
    }

    void failuresFailTheJob_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QStringList>("calls");
        // The job's bytes leave in two large writes: after the first text, and at the end.
        QTest::newRow("unknown queue") << "queue" << QStringList{"create!"};
        QTest::newRow("write refused mid-job")
            << "write" << QStringList{"create", "start", "write!", "finish!", "cancel"};
        QTest::newRow("document not started")
            << "start" << QStringList{"create", "start!", "cancel"};
        QTest::newRow("document not finished")
            << "finish" << QStringList{"create", "start", "write", "write", "finish!"};
    }

    // Nothing is sent after the failure, the document is not finished a second time, and a
    // job whose data was refused is cancelled.
    void failuresFailTheJob()
    {
        QFETCH(QString, failure);
        QFETCH(QStringList, calls);
        CupsSeam::refuseWrite = failure == "write" ? 1 : 0;
        CupsSeam::failStart = failure == "start";
        CupsSeam::failFinish = failure == "finish";
        const QString text = QString(70000, QLatin1Char('x'));
        PrintJob job(QJsonArray{QJsonObject{{"op", "text"}, {"data", text}},
                                QJsonObject{{"op", "cut"}, {"data", "full"}},
                                QJsonObject{{"op", "text"}, {"data", text}}},
                     failure == "queue" ? "escpos_no_such_queue" : printer.queueName(), false);
        QVERIFY(!job.execute());
        QCOMPARE(CupsSeam::calls, calls);
    }
};

QTEST_GUILESS_MAIN(TestPrintJob)
#include "tst_printjob.moc"
