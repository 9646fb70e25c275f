// The preview renderer on the bytes print jobs really produce: codes it draws must decode with a
// real decoder (zbarimg), a typical receipt must look like its committed reference, every op
// must be understood whole, and the geometry of text, images and spacing must be the printer's.

#include "escposrenderer.h"
#include "printjob.h"

#include <QtTest>

#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

namespace {

QJsonArray parse(const QString& json)
{
    return QJsonDocument::fromJson(json.toUtf8()).array();
}

// The job's bytes as the print system would get them; compatibility mode sends no reset.
QByteArray jobBytes(const QJsonArray& job, bool compatibility = false)
{
    PrintJob printJob(job, QStringLiteral("unused"), compatibility);
    QByteArray bytes;
    if (!printJob.collectBytes(&bytes))
        qWarning() << "job refused:" << printJob.reason();
    return bytes;
}

// The rectangle that holds every dot of the given colour.
QRect bounds(const QImage& image, int colour = 1)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        const uchar* row = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x) {
            if (row[x] == colour)
                box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

} // namespace

class TestESCPOSRenderer : public QObject
{
    Q_OBJECT

    QTemporaryDir scratch;

private slots:
    void decodesWithARealDecoder_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("decoded");
        const auto barcode = [](const char* type, const char* data) {
            return QStringLiteral(R"({"op":"barcode","data":{"type":"%1","data":"%2"}})")
                .arg(type, data);
        };
        QTest::newRow("QR code")
            << R"({"op":"qrcode","data":{"data":"A:501234567*H:JF7G-1*O:7.10"}})"
            << "QR-Code:A:501234567*H:JF7G-1*O:7.10";
        QTest::newRow("QR code as an image")
            << R"({"op":"qrcode","data":{"data":"https://velora.pt/f?a=1","image":true,"size":4}})"
            << "QR-Code:https://velora.pt/f?a=1";
        QTest::newRow("CODE128 text")
            << barcode("CODE128", "Fatura A{1}/22") << "CODE-128:Fatura A{1}/22";
        QTest::newRow("CODE128 digits") << barcode("CODE128", "00123456") << "CODE-128:00123456";
        QTest::newRow("EAN13") << barcode("EAN13", "560123456789") << "EAN-13:5601234567892";
        QTest::newRow("EAN8") << barcode("EAN8", "96385074") << "EAN-8:96385074";
        QTest::newRow("UPCA") << barcode("UPCA", "03600029145") << "UPC-A:036000291452";
        QTest::newRow("CODE39") << barcode("CODE39", "MESA-4 $5") << "CODE-39:MESA-4 $5";
        QTest::newRow("ITF") << barcode("ITF", "12345670") << "I2/5:12345670";
    }

    void decodesWithARealDecoder()
    {
        QFETCH(QString, command);
        QFETCH(QString, decoded);
        const QByteArray bytes = jobBytes(parse(
            R"([{"op":"alignment","data":1},{"op":"text","data":"Talão\n"},)" + command + "]"));
        ESCPOSRenderer renderer;
        renderer.render(bytes);
        QCOMPARE(renderer.skippedBytes(), 0);
        const QString file = scratch.filePath(QStringLiteral("code.png"));
        QVERIFY(renderer.image().save(file));
        QProcess zbar;
        zbar.start(QStringLiteral("zbarimg"),
                   {QStringLiteral("-q"), QStringLiteral("-Supca.enable"),
                    QStringLiteral("-Si25.enable"), file});
        QVERIFY2(zbar.waitForFinished(30'000), "zbarimg (zbar-tools) did not run");
        QCOMPARE(QString::fromUtf8(zbar.readAllStandardOutput()).trimmed(), decoded);
    }

    // Compared dot by dot with the committed picture; fonts may differ by a few dots between
    // FreeType versions, nothing more. PRINTARRA_UPDATE_REFERENCE=1 writes it anew.
    void typicalReceiptMatchesItsReference()
    {
        QFile file(QFINDTESTDATA("data/receipt.json"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        ESCPOSRenderer renderer;
        renderer.render(jobBytes(QJsonDocument::fromJson(file.readAll()).array()));
        QCOMPARE(renderer.skippedBytes(), 0);
        const QImage rendered = renderer.image();
        const QString referencePath = QFINDTESTDATA("data/receipt.png");
        if (qEnvironmentVariableIntValue("PRINTARRA_UPDATE_REFERENCE"))
            QVERIFY(rendered.save(QFileInfo(file).dir().filePath(QStringLiteral("receipt.png"))));
        const QImage reference(referencePath);
        QCOMPARE(rendered.size(), reference.size());
        int differing = 0;
        for (int y = 0; y < rendered.height(); ++y) {
            for (int x = 0; x < rendered.width(); ++x)
                differing += rendered.pixel(x, y) != reference.pixel(x, y);
        }
        rendered.save(scratch.filePath(QStringLiteral("receipt.png")));
        QVERIFY2(differing < rendered.width() * rendered.height() / 5000,
                 qPrintable(QStringLiteral("%1 dots differ").arg(differing)));
    }

    void everyOpIsUnderstood_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<bool>("compatibility");
        QTest::newRow("plain") << R"({"hasCutter":true,"hasDrawer":true})" << false;
        QTest::newRow("compatibility mode") << R"({"hasCutter":true,"hasDrawer":true})" << true;
        QTest::newRow("page mode, low density")
            << R"({"hasCutter":true,"hasDrawer":true,"imagePrintMode":1,"lowDensity":true})"
            << false;
    }

    void everyOpIsUnderstood()
    {
        QFETCH(QString, settings);
        QFETCH(bool, compatibility);
        QImage logo(40, 30, QImage::Format_RGB32);
        logo.fill(Qt::black);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        logo.save(&buffer, "PNG");
        // ESC E 1, text, ESC E 0, LF: a caller's own bytes.
        const QString raw =
            QString::fromLatin1(QByteArray("\x1b\x45\x01Raw\x1b\x45\x00\n", 10).toBase64());
        const QJsonArray job = parse(
            QStringLiteral(
                R"([{"op":"settings","data":%1},{"op":"alignment","data":2},)"
                R"({"op":"style","data":{"emphasized":true,"underlined":true}},)"
                R"({"op":"double","data":{"width":true,"height":true}},{"op":"condensed","data":true},)"
                R"({"op":"text","data":"Ação €\tÑ ¿\n"},{"op":"image","data":"%2"},)"
                R"({"op":"qrcode","data":{"data":"x"}},{"op":"qrcode","data":{"data":"x","image":true}},)"
                R"({"op":"barcode","data":{"type":"ITF","data":"1234","hri":"both"}},)"
                R"({"op":"raw","data":{"base64":"%3"}},{"op":"cut","data":"no_feed"},)"
                R"({"op":"cut","data":"full"},{"op":"pulse","data":{"drawer":1}}])")
                .arg(settings, QString::fromLatin1(png.toBase64()), raw));
        QCOMPARE(job.size(), 14);
        ESCPOSRenderer renderer;
        renderer.render(jobBytes(job, compatibility));
        QCOMPARE(renderer.skippedBytes(), 0);
        QVERIFY(bounds(renderer.image(), 2).isValid()); // the cut and drawer marks
    }

    // Text cells, enlargement, alignment, spacing and images land where the printer puts them.
    void geometry_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QRect>("ink"); // the smallest rectangle around the dots, if not null
        const QByteArray full(3, '\xff');
        const QByteArray u = "\x1b\x21\x80"; // underlined: the cells' bottom rows show
        QTest::newRow("font A cells") << u + "  \n" << 576 << 30 << QRect(0, 23, 24, 1);
        QTest::newRow("centred") << "\x1b\x61\x01" + u + "  \n"
                                 << 576 << 30 << QRect(276, 23, 24, 1);
        QTest::newRow("right, 58 mm") << "\x1b\x61\x02" + u + "  \n"
                                      << 384 << 30 << QRect(360, 23, 24, 1);
        QTest::newRow("alignment ignored inside a line") << u + " \x1b\x61\x02 \n"
                                                         << 576 << 30 << QRect(0, 23, 24, 1);
        QTest::newRow("double width and height share the baseline")
            << QByteArray("\x1b\x21\xb0 ") + u + " \n"
            << 576 << 48 << QRect(0, 47, 36, 1);
        QTest::newRow("font B cells")
            << QByteArray("\x1b\x21\x81  \n") << 576 << 30 << QRect(0, 16, 18, 1);
        QTest::newRow("enlarged by GS !") << u + "\x1d\x21\x11 \n"
                                          << 576 << 48 << QRect(0, 47, 24, 1);
        QTest::newRow("line spacing") << "\x1b\x33\x50" + u + " \n \n\x1b\x32 \n"
                                      << 576 << 190 << QRect(0, 23, 12, 161);
        QTest::newRow("49 characters wrap")
            << u + QByteArray(49, ' ') << 576 << 60 << QRect(0, 23, 576, 31);
        QTest::newRow("tab stops every 8 characters") << u + "\t \n"
                                                      << 576 << 30 << QRect(96, 23, 12, 1);
        QTest::newRow("24-dot band") << QByteArray("\x1b\x33\x00\x1b\x2a\x21\x02\x00", 8) + full +
                                            full + QByteArray("\x1b\x64\x00", 3)
                                     << 576 << 24 << QRect(0, 0, 2, 24);
        QTest::newRow("8-dot single density band")
            << QByteArray("\x1b\x2a\x00\x01\x00\x81\x1b\x4a\x00", 9) << 576 << 24
            << QRect(0, 0, 2, 24);
        QTest::newRow("compatibility units: a band fed by ESC J")
            << QByteArray("\x1d\x50\xcb\xcb\x1b\x2a\x21\x01\x00", 9) + full + "\x1b\x4a\x18" << 576
            << 24 << QRect(0, 0, 1, 24);
        QTest::newRow("raster, centred")
            << QByteArray("\x1b\x61\x01\x1d\x76\x30\x00\x01\x00\x02\x00\x80\x01", 13) << 576 << 2
            << QRect(284, 0, 8, 2);
        QTest::newRow("page mode clips to its area")
            << QByteArray("\x1b\x4c\x1b\x57\x00\x00\x00\x00\x02\x00\x0a\x00\x1b\x2a\x21\x02\x00",
                          17) +
                   full + full + QByteArray("\x1b\x64\x00\x0c", 4)
            << 576 << 10 << QRect(0, 0, 2, 10);
        QTest::newRow("a reset drops the unprinted line, font A again")
            << u + "  \x1b\x40\x1b\x2d\x01 \n"
            << 576 << 30 << QRect(0, 23, 12, 1);
        // Barcodes: GS h 10, then the HRI's place (a font A line and a gap each).
        const auto itf = [](char hri) {
            return QByteArray("\x1d\x68\x0a\x1d\x48") + hri +
                   QByteArray("\x1d\x6b\x46\x02"
                              "12");
        };
        QTest::newRow("barcode without HRI") << itf('\0') << 576 << 10 << QRect();
        QTest::newRow("barcode, HRI above") << itf('\1') << 576 << 38 << QRect();
        QTest::newRow("barcode, HRI on both sides") << itf('\3') << 576 << 66 << QRect();
    }

    void geometry()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QRect, ink);
        ESCPOSRenderer renderer(width);
        renderer.render(bytes);
        const QImage image = renderer.image();
        QCOMPARE(image.width(), width);
        QCOMPARE(image.height(), height);
        if (!ink.isNull())
            QCOMPARE(bounds(image), ink);
        QCOMPARE(renderer.skippedBytes(), 0);
    }

    // Unknown commands are skipped whole where their length is known, and counted; data cut
    // short by the end is skipped, never read past.
    void skipsWhatItDoesNotKnow_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("skipped");
        QTest::newRow("unknown escape") << QByteArray("\x1b\x7f"
                                                      "A\n")
                                        << 2;
        QTest::newRow("known length, not drawn")
            << QByteArray("\x1b\x20\x05\x1d\x42\x01\x1c\x70\x01\x00", 10) << 10;
        QTest::newRow("other symbol of GS ( k")
            << QByteArray("\x1d\x28\x6b\x03\x00\x30\x41\x02", 8) << 8;
        QTest::newRow("control byte") << QByteArray("\x01\x02") << 2;
        QTest::newRow("real-time requests") << QByteArray("\x10\x04\x01\x10\x14\x01\x00\x05"
                                                          "A",
                                                          9)
                                            << 8;
        QTest::newRow("unknown barcode function") << QByteArray("\x1d\x6b\x50"
                                                                "A")
                                                  << 3;
        QTest::newRow("QR store cut short")
            << QByteArray("\x1d\x28\x6b\x09\x00\x31\x50\x30\x41", 9) << 9;
        QTest::newRow("raster cut short")
            << QByteArray("\x1d\x76\x30\x00\xff\xff\xff\xff\x00", 9) << 9;
        QTest::newRow("barcode data the symbology refuses") << QByteArray("\x1d\x6b\x43\x03"
                                                                          "abc")
                                                            << 7;
        QTest::newRow("barcode inside a line") << QByteArray("|\x1d\x6b\x46\x02"
                                                             "12")
                                               << 6;
        QTest::newRow("cut inside a line") << QByteArray("|\x1d\x56\x42\x10") << 4;
    }

    void skipsWhatItDoesNotKnow()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, skipped);
        ESCPOSRenderer renderer;
        renderer.render(bytes);
        QCOMPARE(renderer.skippedBytes(), skipped);
        QVERIFY(!renderer.tooLong());
    }

    void endlessPaperIsCut()
    {
        ESCPOSRenderer renderer;
        renderer.render(QByteArray(3000, '\n'));
        QVERIFY(renderer.tooLong());
        QCOMPARE(renderer.image().height(), ESCPOSRenderer::maxHeight);
    }
};

QTEST_MAIN(TestESCPOSRenderer)
#include "tst_escposrenderer.moc"
