// Print jobs on a sandboxed CUPS scheduler: the bytes each op puts on the printer, and failures.

#include "cupsmonitor.h"
#include "cupsseam.h"
#include "printjob.h"
#include "rawprinter.h"

#include <QtTest>

#include <QBuffer>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

// In hex: the reset sequence (initialise, then a line feed after ESC t 0) and image bands.
const QByteArray R = "1b40 1b74000a ", preamble = "1d5000001b3300 ",
                 white1x1 = preamble + "1b2a210100 000000 1b6400 ",
                 black2x1 = preamble + "1b2a210200 000000 800000 1b6400 ";

QByteArray filled(int width, int height, Qt::GlobalColor colour) // as PNG
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QBuffer buffer;
    image.save(&buffer, "PNG");
    return buffer.data();
}

// A job, with [op, data] pairs written for {"op": op, "data": data}.
QJsonArray parse(const QString& json)
{
    QJsonArray job;
    for (const QJsonValue& element : QJsonDocument::fromJson(json.toUtf8()).array()) {
        const QJsonArray pair = element.toArray();
        job.append(element.isArray() ? QJsonObject{{"op", pair[0]}, {"data", pair[1]}} : element);
    }
    return job;
}

} // namespace

class TestPrintJob : public QObject
{
    Q_OBJECT

    RawPrinter printer;
    QTcpServer images; // any request is answered with a white dot

private slots:
    void initTestCase()
    {
        QVERIFY2(printer.create(), qPrintable(printer.error()));
        QVERIFY(images.listen(QHostAddress::LocalHost));
        connect(&images, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = images.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                const QByteArray png = filled(1, 1, Qt::white);
                socket->write("HTTP/1.1 200 OK\r\nContent-Length: " +
                              QByteArray::number(png.size()) + "\r\n\r\n" + png);
                socket->disconnectFromHost();
            });
        });
    }
    void init() { CupsSeam::reset(); }

    void commands_data()
    {
        QTest::addColumn<QString>("job");
        QTest::addColumn<bool>("compatibility");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* name, const QString& job, const QByteArray& bytes,
                            bool compatibility = false) {
            QTest::newRow(name) << job << compatibility
                                << QByteArray::fromHex((compatibility ? "" : R) + bytes);
        };
        const auto image = [](const QByteArray& data, const QString& prefix = QString()) {
            return QStringLiteral(R"(["image","%1%2"])").arg(prefix, data.toBase64());
        };
        row("empty job: the reset sequence", "[]", "");
        row("alignment once per change, conversions",
            R"([["alignment",1],["alignment",1],["alignment",2],["alignment","1"],)"
            R"(["alignment",1.0],["alignment",1.5],["alignment",2],["alignment",7],)"
            R"(["alignment",1],["alignment"]])",
            "1b6101 1b6102 1b6100 1b6101 1b6100 1b6102 1b6100 1b6101 1b6100");
        row("page mode, alignment again after an image",
            R"([["settings",{"imagePrintMode":1}],["alignment",1],)" +
                image(filled(1, 1, Qt::white)) + R"(,["alignment",1]])",
            "1b6101 1b4c 1b5700000000 0100 0100" + white1x1 + "0c" + R + "1b6101");
        row("all five style flags, once per change, conversions",
            R"([["double",{"width":true}],["double",{"width":true,"height":false}],)"
            R"(["double",true],["condensed","yes"],["condensed",true],["condensed",1],)"
            R"(["style",{"emphasized":true,"underlined":true}],)"
            R"(["style",{"emphasized":"yes","underlined":true}],["double",{"height":true}]])",
            "1b2120 1b2121 1b2120 1b21a8 1b21a0 1b2190");
        row("double width and condensed wrap at 32",
            QString(R"([["double",{"width":true}],["condensed",true],["text","%1"]])")
                .arg(QString(40, 'a')),
            "1b2120 1b2121 1b7400" + QByteArray(32, 'a').toHex() + "0a" +
                QByteArray(8, 'a').toHex());
        row("line width from the settings, double height keeps it",
            R"([["settings",{"normalLineWidth":4}],["double",{"height":true}],)"
            R"(["text","aaaa bbbb"]])",
            "1b2110 1b7400" + QByteArray("aaaa\nbbbb").toHex());
        row("cut commands", R"([["cut","no_feed"],["cut","full"],["cut",true]])",
            "1d5631 1d56420a");
        // Missing settings count as false; settings send nothing and keep the style.
        row("settings defaults",
            R"([["condensed",true],["settings",{}],["condensed",true],["cut","x"],)"
            R"(["pulse",{}],["settings",{"hasCutter":true,"hasDrawer":true}],["cut","x"],)"
            R"(["pulse",{}]])",
            "1b2101 1d56420a 1b700032fa");
        row("pulse defaults and limits",
            R"([["pulse",{}],["pulse",{"drawer":2}],["pulse",{"drawer":1,"pulse":300}],)"
            R"(["pulse",{"drawer":-1,"pulse":250}],["pulse",{"drawer":1,"pulse":49}],)"
            R"(["pulse",{"drawer":true,"pulse":120}],["pulse",5]])",
            "1b700032fa 1b700032fa 1b700132fa 1b7000fafa 1b700132fa 1b700078fa");
        row("skipped elements",
            R"([5,"text",null,{"data":"x"},["Text","x"],["text",7],["nothing","x"],)"
            R"(["image",3],["text","ok"]])",
            "1b74006f6b");
        row("folded text", R"([["settings",{"replaceAccentedChars":true}],["text","Ação €"]])",
            "1b7400" + QByteArray("Acao  ").toHex());
        row("low density: half width, a third of the height",
            R"([["settings",{"lowDensity":true}],)" + image(filled(4, 3, Qt::white)) + "]",
            preamble + "1b2a000200 0000 1b6400" + R);
        row("data URI", "[" + image(filled(2, 1, Qt::black), "data:image/png;base64,") + "]",
            black2x1 + R);
        row("image from an address",
            QStringLiteral("[[\"image\",\"http://127.0.0.1:%1/\"]]").arg(images.serverPort()),
            white1x1 + R);
        row("compatibility: no reset, alternative set, image, alignment",
            R"([["settings",{"alternativeCharset":true}],["text","ã €"],)" +
                image(filled(2, 1, Qt::black)) + R"(,["alignment",2]])",
            "1b7400 1b740384 1b7400 20 1b7413d5 1b7400"
            "1d50cbcb 1b2a210200 000000 800000 1b4a18 1b6102",
            true);
        // QR codes: model 2, module size, error correction, store (length + 3), print.
        const auto qr = [](const char* size, const char* level) {
            return QByteArray("1d286b04003141 3200 1d286b030031 43") + size + "1d286b030031 45" +
                   level + "1d286b 0600 315030 414243 1d286b0300315130";
        };
        row("qrcode: defaults, centred, after an open line",
            R"([["alignment",1],["text","ab"],["qrcode",{"data":"ABC"}]])",
            "1b6101 1b74006162 0a" + qr("06", "31"));
        row("qrcode: size and level, out of range ones take the defaults",
            R"([["qrcode",{"data":"ABC","size":16,"ecc":"H"}],)"
            R"(["qrcode",{"data":"ABC","size":17,"ecc":"h"}],)"
            R"(["qrcode",{"data":"ABC","size":1,"ecc":"L"}]])",
            qr("10", "33") + qr("06", "31") + qr("01", "30"));
        // Barcodes: GS h, GS w, GS H, then GS k m n data; check digits are left to the printer.
        row("barcodes: defaults, HRI, height and width, out of range values",
            R"([["barcode",{"type":"EAN13","data":"5901234123457"}],)"
            R"(["barcode",{"type":"EAN8","data":"96385500","hri":"none"}],)"
            R"(["barcode",{"type":"UPCA","data":"036000291452","hri":"above","height":255,)"
            R"("width":6}],["barcode",{"type":"CODE39","data":"AB-1 $","hri":"both",)"
            R"("width":2,"height":1}],["barcode",{"type":"ITF","data":"1234",)"
            R"("hri":"middle","width":7,"height":256}]])",
            "1d6850 1d7703 1d4802 1d6b430c 353930313233343132333435"
            "1d6850 1d7703 1d4800 1d6b4407 39363338353530"
            "1d68ff 1d7706 1d4801 1d6b410b 3033363030303239313435"
            "1d6801 1d7702 1d4803 1d6b4506 41422d312024"
            "1d6850 1d7703 1d4802 1d6b4604 31323334");
        row("CODE128: code set B with braces doubled, even digits in code set C",
            R"([["barcode",{"type":"CODE128","data":"A{b}1"}],)"
            R"(["barcode",{"type":"CODE128","data":"012399"}]])",
            "1d6850 1d7703 1d4802 1d6b4908 7b42 41 7b7b 62 7d 31"
            "1d6850 1d7703 1d4802 1d6b4905 7b43 01 17 63");
        row("raw bytes, then style and alignment are sent again",
            R"([["alignment",0],["raw",{"base64":"G2EB\nGyEI"}],["style",{}],)"
            R"(["alignment",0],["raw",{"base64":""}],["raw","G2EB"]])",
            "1b6100 1b6101 1b2108 1b2100 1b6100");
    }

    // The job as the printer receives it.
    void commands()
    {
        QFETCH(QString, job);
        QFETCH(bool, compatibility);
        QFETCH(QByteArray, expected);
        const int before = printer.jobs().size();
        PrintJob printJob(parse(job), printer.queueName(), compatibility);
        QVERIFY(printJob.execute());
        QVERIFY(printer.waitForJobs(before + 1));
        QCOMPARE(printer.jobs().last().toHex(), expected.toHex());
    }

    // A command that cannot be printed fails the job before anything reaches the print system.
    void invalidCommandsPrintNothing_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("reason");
        const auto row =
            [](const char* type, const QByteArray& data, const char* reason) {
                QTest::newRow(reason)
                    << QStringLiteral(R"(["barcode",{"type":"%1","data":"%2"}])").arg(type, data)
                    << QString("barcode: ") + reason;
            };
        row("EAN13", "59012341234", "EAN13 data must be 12 or 13 digits");
        row("EAN13", "5901234123458", "EAN13 check digit must be 7, not 8");
        row("EAN8", "963850A", "EAN8 data must be 7 or 8 digits");
        row("UPCA", "036000291453", "UPCA check digit must be 2, not 3");
        row("CODE39", "AbC",
            "CODE39 cannot encode \"b\" (digits, capital letters, space and - . $ / + %)");
        row("CODE39", QByteArray(256, 'A'), "CODE39 data must be 255 characters at most");
        row("ITF", "123", "ITF data must be an even number of digits, 254 at most");
        row("CODE128", "Preço", "CODE128 cannot encode U+00e7");
        row("CODE128", QByteArray(254, 'x'), "CODE128 data too long (254 characters)");
        row("ean13", "5901234123457", "type must be CODE128, EAN13, EAN8, UPCA, CODE39 or ITF");
        row("ITF", "", "data is empty");
        QTest::newRow("QR code without data") << R"(["qrcode",{"data":7}])"
                                              << "qrcode: data is empty";
        QTest::newRow("QR code too long")
            << QString(R"(["qrcode",{"ecc":"H","data":"%1"}])").arg(QString(1300, 'x'))
            << "qrcode: 1300 bytes do not fit a QR code at error correction H";
        QTest::newRow("raw not base64") << R"(["raw",{"base64":"G2E*"}])"
                                        << "raw: base64 is not valid";
        QTest::newRow("raw without base64") << R"(["raw",{"bytes":"G2E="}])"
                                            << "raw: base64 must be a string";
    }

    void invalidCommandsPrintNothing()
    {
        QFETCH(QString, command);
        PrintJob job(parse(R"([["text","Total 1,50\n"],)" + command + "]"), printer.queueName(),
                     false);
        QVERIFY(!job.execute());
        QTEST(job.reason(), "reason");
        QVERIFY(CupsSeam::calls.isEmpty());
    }

    // A queue's reasons as the window and the API show them: without "none", without the
    // severity suffixes, each once.
    void printerReasons_data()
    {
        QTest::addColumn<QStringList>("reasons");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("none") << QStringList{"none"} << QStringList();
        QTest::newRow("suffixes") << QStringList{"media-empty-error", "media-empty-warning",
                                                 "toner-low-warning", "offline-report"}
                                  << QStringList{"media-empty", "toner-low", "offline-report"};
    }
    void printerReasons()
    {
        QFETCH(QStringList, reasons);
        QTEST(CupsMonitor::tidyReasons(reasons), "shown");
    }

    // Printed only once the print system completed the job; after a failure nothing more is sent,
    // nothing finished twice, refused data cancelled: no job stays on the queue.
    void printSystem_data()
    {
        QTest::addColumn<QString>("condition");
        QTest::addColumn<bool>("sent");
        QTest::addColumn<QString>("reason"); // null: not checked
        QTest::addColumn<QStringList>("calls");
        const QStringList done{"create", "start", "write", "finish"};
        QTest::newRow("printed") << "" << true << "" << done;
        QTest::newRow("nothing to send in compatibility mode")
            << "empty" << true << "" << QStringList();
        QTest::newRow("queue stopped") << "stopped" << false << "printer-stopped" << QStringList();
        QTest::newRow("queue stopped while the job waits")
            << "stopped later" << true << "printer-stopped" << done + QStringList{"cancel"};
        QTest::newRow("queue not accepting")
            << "rejecting" << false << "server-error-not-accepting-jobs" << QStringList{"create!"};
        // A large job leaves in two writes: after the first text, and at the end.
        QTest::newRow("write refused mid-job")
            << "write" << false << QString()
            << QStringList{"create", "start", "write!", "finish!", "cancel"};
        QTest::newRow("document not started")
            << "start" << false << QString() << QStringList{"create", "start!", "cancel"};
    }

    void printSystem()
    {
        QFETCH(QString, condition);
        QFETCH(bool, sent);
        QFETCH(QString, reason);
        CupsSeam::refuseWrite = condition == "write" ? 1 : 0;
        CupsSeam::failStart = condition == "start";
        RawPrinter queue;
        QVERIFY2(queue.create(), qPrintable(queue.error()));
        if (condition == "stopped later")
            queue.refuseConnections();
        else if (condition == "stopped")
            QVERIFY(queue.disable());
        else if (condition == "rejecting")
            QVERIFY(RawPrinter::runTool("cupsreject", {queue.queueName()}));
        const QString text = QString(R"(["text","%1"])").arg(QString(70000, 'x'));
        PrintJob job(parse(condition == "empty" ? R"([["settings",{}]])"
                           : reason.isNull()    ? "[" + text + R"(,["cut","full"],)" + text + "]"
                                                : R"([["text","total 1,50\n"]])"),
                     queue.queueName(), condition == "empty");
        QCOMPARE(job.execute(), sent);
        if (condition == "stopped later")
            QVERIFY(queue.disable());
        if (sent)
            QCOMPARE(job.waitForOutcome(2000), reason.isEmpty());
        if (!reason.isNull())
            QCOMPARE(job.reason(), reason);
        QTEST(CupsSeam::calls, "calls");
        QString pending = "?";
        QTRY_VERIFY(RawPrinter::runTool("lpstat", {"-o", queue.queueName()}, &pending) &&
                    pending.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPrintJob)
#include "tst_printjob.moc"
