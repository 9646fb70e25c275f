// The preview renderer: codes a real decoder reads, a reference receipt, where things land.

#include "escposrenderer.h"
#include "printjob.h"

#include <QtTest>

#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

namespace {

// The job's bytes as the print system would get them.
QByteArray jobBytes(const QString& json)
{
    QByteArray bytes;
    PrintJob(QJsonDocument::fromJson(json.toUtf8()).array(), "unused", false).collectBytes(&bytes);
    return bytes;
}

// The rectangle that holds every dot of the given colour.
QRect bounds(const QImage& image, int colour = 1)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            box |= image.constScanLine(y)[x] == colour ? QRect(x, y, 1, 1) : QRect();
    }
    return box;
}

} // namespace

class TestESCPOSRenderer : public QObject
{
    Q_OBJECT

    QTemporaryDir scratch;

private slots:
    // One code of each family, under a centred line of text.
    void decodesWithARealDecoder()
    {
        const QList<std::pair<QString, QString>> codes{
            {R"("qrcode","data":{"data":"A:501234567*H:JF7G-1*O:7.10"})",
             "QR-Code:A:501234567*H:JF7G-1*O:7.10"},
            {R"("barcode","data":{"type":"CODE128","data":"Fatura A{1}/22"})",
             "CODE-128:Fatura A{1}/22"},
            {R"("barcode","data":{"type":"EAN13","data":"560123456789"})", "EAN-13:5601234567892"},
            {R"("barcode","data":{"type":"CODE39","data":"MESA-4 $5"})", "CODE-39:MESA-4 $5"},
            {R"("barcode","data":{"type":"ITF","data":"12345670"})", "I2/5:12345670"}};
        for (const auto& [code, decoded] : codes) {
            ESCPOSRenderer renderer;
            renderer.render(
                jobBytes(R"([{"op":"alignment","data":1},{"op":"text","data":"Talão\n"},{"op":)" +
                         code + "}]"));
            QCOMPARE(renderer.skippedBytes(), 0);
            const QString file = scratch.filePath(QStringLiteral("code.png"));
            QVERIFY(renderer.image().save(file));
            QProcess zbar;
            zbar.start("zbarimg", {"-q", "-Supca.enable", "-Si25.enable", file});
            QVERIFY2(zbar.waitForFinished(30'000), "zbarimg (zbar-tools) did not run");
            QCOMPARE(QString::fromUtf8(zbar.readAllStandardOutput()).trimmed(), decoded);
        }
    }

    // Dot by dot against the committed picture, but for a few dots of font differences between
    // FreeType versions. PRINTARRA_UPDATE_REFERENCE=1 writes it anew.
    void typicalReceiptMatchesItsReference()
    {
        QFile file(QFINDTESTDATA("data/receipt.json"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        ESCPOSRenderer renderer;
        renderer.render(jobBytes(file.readAll()));
        QCOMPARE(renderer.skippedBytes(), 0);
        const QImage rendered = renderer.image();
        if (qEnvironmentVariableIntValue("PRINTARRA_UPDATE_REFERENCE"))
            QVERIFY(rendered.save(QFileInfo(file).dir().filePath("receipt.png")));
        const QImage reference(QFINDTESTDATA("data/receipt.png"));
        QCOMPARE(rendered.size(), reference.size());
        int differing = 0;
        for (int y = 0; y < rendered.height(); ++y) {
            for (int x = 0; x < rendered.width(); ++x)
                differing += rendered.pixel(x, y) != reference.pixel(x, y);
        }
        QVERIFY2(differing < rendered.width() * rendered.height() / 5000,
                 qPrintable(QStringLiteral("%1 dots differ").arg(differing)));
    }

    // Width, height, the smallest rectangle around the ink (if not null), the bytes skipped; the
    // paper is cut at its maximum height.
    void geometry_data()
    {
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QRect>("ink");
        QTest::addColumn<int>("skipped");
        const auto row = [](const char* name, const QByteArray& hex, int height, QRect ink,
                            int skipped = 0, int width = 576) {
            QTest::newRow(name) << hex << width << height << ink << skipped;
        };
        // Underlined (ESC ! 80): the cells' bottom rows show.
        row("font A cells", "1b2180 2020 0a", 30, {0, 23, 24, 1});
        row("right, 58 mm", "1b6102 1b2180 2020 0a", 30, {360, 23, 24, 1}, 0, 384);
        row("double width and height share the baseline", "1b21b0 20 1b2180 20 0a", 48,
            {0, 47, 36, 1});
        row("enlarged by GS !", "1b2180 1d2111 20 0a", 48, {0, 47, 24, 1});
        row("line spacing", "1b3350 1b2180 200a 200a 1b32 200a", 190, {0, 23, 12, 161});
        row("49 characters wrap", "1b2180" + QByteArray(49, ' ').toHex(), 60, {0, 23, 576, 31});
        row("24-dot band", "1b3300 1b2a210200 ffffff ffffff 1b6400", 24, {0, 0, 2, 24});
        row("a band reads only its own columns", "1b2a000100 80 1b4a00", 24, {0, 0, 2, 3});
        row("8-dot single density band", "1b2a000100 81 1b4a00", 24, {0, 0, 2, 24});
        row("compatibility units: a band fed by ESC J", "1d50cbcb 1b2a210100 ffffff 1b4a18", 24,
            {0, 0, 1, 24});
        row("page mode clips to its area",
            "1b4c 1b5700000000 02000a00 1b2a210200 ffffff ffffff 1b6400 0c", 10, {0, 0, 2, 10});
        // A barcode: GS h 10, then the HRI's place (a font A line and a gap each).
        row("barcode, HRI on both sides", "1d680a 1d4803 1d6b4602 3132", 66, {0, 0, 0, 0});
        // Commands are skipped whole where their length is known; data cut short by the end is
        // skipped, never read past.
        row("unknown escape", "1b7f 41 0a", 0, {}, 2);
        row("known lengths, not drawn",
            "1b2005 1d4201 1c700100 1d286b0300 3041 02 100401 1014010005 41 1c2101 1c700100 41 0a"
            "1d384c 02000000 3030 41 0a 1d6b50 41 1d6b4303 616263 0a 7c 1d564210",
            0, {}, 10 + 8 + 8 + 7 + 9 + 3 + 7 + 4);
        row("QR store cut short", "1d286b0900 315030 41", 0, {}, 9);
        row("raster cut short", "1d763000 ffffffff 00", 0, {}, 9);
        row("endless paper is cut", QByteArray(3000, '\n').toHex(), ESCPOSRenderer::maxHeight, {});
    }

    void geometry()
    {
        QFETCH(QByteArray, hex);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QRect, ink);
        ESCPOSRenderer renderer(width);
        renderer.render(QByteArray::fromHex(hex));
        QTEST(renderer.skippedBytes(), "skipped");
        QCOMPARE(renderer.tooLong(), height == ESCPOSRenderer::maxHeight);
        const QImage image = renderer.image();
        QCOMPARE(image.width(), width);
        if (height)
            QCOMPARE(image.height(), height);
        if (!ink.isNull())
            QCOMPARE(bounds(image), ink);
    }
};

QTEST_MAIN(TestESCPOSRenderer)
#include "tst_escposrenderer.moc"
