// Raster images: 5-6-5 expansion, dithering of accumulated darkness, band packing, the
// compatibility variant and page mode.

#include "escimagemanager.h"

#include <QtTest>

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

QImage filled(int width, int height, QColor colour)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

QByteArray bytesFor(const QImage& image, int width, int height, bool highDensity, int printMode = 0,
                    bool compatibility = false)
{
    ESCImageManager manager;
    manager.setImage(image, width, height, highDensity, printMode, compatibility);
    return manager.getBytesToSend();
}

QByteArray rgbaOf(int w, int h, uchar r, uchar g, uchar b)
{
    QByteArray rgba;
    for (int i = 0; i < w * h; ++i)
        rgba.append(char(r)).append(char(g)).append(char(b)).append(char(255));
    return rgba;
}

// Black (1) or white (0) per pixel of a dithered array, rows separated by '/'.
QString pattern(const QByteArray& dithered, int w)
{
    QString out;
    for (int i = 0; i < dithered.size() / 4; ++i) {
        if (i > 0 && i % w == 0)
            out += QLatin1Char('/');
        out += uchar(dithered.at(i * 4)) == 0 ? QLatin1Char('1') : QLatin1Char('0');
    }
    return out;
}

} // namespace

class TestEscImageManager : public QObject
{
    Q_OBJECT

private slots:
    void oddWidthKeepsRows()
    {
        // 5-6-5 rows of an odd width are padded in memory; pixel (x, y) must stay (x, y).
        QImage image(3, 3, QImage::Format_RGB16);
        image.fill(Qt::white);
        image.setPixelColor(2, 0, Qt::black);
        image.setPixelColor(0, 1, Qt::red);
        image.setPixelColor(1, 2, Qt::blue);
        const QByteArray rgba = ESCImageManager().getImageBytes(image);
        QCOMPARE(rgba.size(), 3 * 3 * 4);
        const auto pixel = [&](int x, int y) { return rgba.mid((y * 3 + x) * 4, 4).toHex(); };
        QCOMPARE(pixel(2, 0), QByteArray("040204ff"));
        QCOMPARE(pixel(0, 1), QByteArray("fc0204ff"));
        QCOMPARE(pixel(1, 2), QByteArray("0402fcff"));
        QCOMPARE(pixel(1, 0), QByteArray("fcfefcff"));
    }

    void dithering_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QByteArray>("rgba");
        QTest::addColumn<QString>("expected");

        // Expanded white carries darkness 2, expanded black 253: neither reaches 255 alone.
        QTest::newRow("white") << 4 << 3 << rgbaOf(4, 3, 252, 254, 252) << "0000/0000/0000";
        QTest::newRow("1x1 black prints white") << 1 << 1 << rgbaOf(1, 1, 4, 2, 4) << "0";
        QTest::newRow("pure black is black at once") << 2 << 1 << rgbaOf(2, 1, 0, 0, 0) << "11";
        // Odd rows run right to left (left to right would give 0000/0101 and 00000/01101/00100).
        QTest::newRow("mid grey") << 4 << 2 << rgbaOf(4, 2, 132, 130, 132) << "0000/1010";
        QTest::newRow("grey 124") << 5 << 3 << rgbaOf(5, 3, 124, 126, 124) << "00000/10110/01001";
    }

    void dithering()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QByteArray, rgba);
        QFETCH(QString, expected);
        ESCImageManager manager;
        manager.setImage(QImage(), width, height, true, 0, false);
        QCOMPARE(pattern(manager.floydSteinbergDithering(rgba), width), expected);
    }

    void blackImageTurnsBlack()
    {
        ESCImageManager manager;
        manager.setImage(QImage(), 24, 24, true, 0, false);
        const QString dots = pattern(manager.floydSteinbergDithering(rgbaOf(24, 24, 4, 2, 4)), 24);
        // The first dot passes its darkness right; all but the start of the build-up prints black.
        QVERIFY(dots.startsWith(QLatin1String("01")));
        QCOMPARE(dots.count(QLatin1Char('1')), 547);
    }

    void exactOutput_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("highDensity");
        QTest::addColumn<int>("printMode");
        QTest::addColumn<bool>("compatibility");
        QTest::addColumn<QByteArray>("expected");

        const QImage black = filled(2, 1, Qt::black);
        const QImage dot = filled(1, 1, Qt::black);
        QTest::newRow("1x1 black") << dot << 1 << 1 << true << 0 << false
                                   << hex("1d5000001b3300 1b2a210100 000000 1b6400");
        QTest::newRow("2x1 black, 24-dot") << black << 2 << 1 << true << 0 << false
                                           << hex("1d5000001b3300 1b2a210200 000000 800000 1b6400");
        QTest::newRow("scaled up to 2x1, 8-dot") << dot << 2 << 1 << false << 0 << false
                                                 << hex("1d5000001b3300 1b2a000200 00 80 1b6400");
        QTest::newRow("compatibility") << black << 2 << 1 << true << 0 << true
                                       << hex("1d50cbcb 1b2a210200 000000 800000 1b4a18");
        QTest::newRow("page mode") << black << 2 << 1 << true << 1 << false
                                   << hex("1b4c 1b5700000000 0200 0100"
                                          "1d5000001b3300 1b2a210200 000000 800000 1b6400 0c");
        QTest::newRow("print mode 2: nothing")
            << black << 2 << 1 << true << 2 << false << QByteArray();
        QTest::newRow("transparent black prints as the white below")
            << filled(3, 8, QColor(0, 0, 0, 0)) << 3 << 8 << false << 0 << false
            << hex("1d5000001b3300 1b2a000300 000000 1b6400");
        QTest::newRow("null image: preamble")
            << QImage() << 0 << 0 << true << 0 << false << hex("1d5000001b3300");
        // ESC * cannot describe a band wider than 65535 dots: print nothing rather than garbage.
        QTest::newRow("too wide for ESC *") << dot << 65536 << 1 << false << 1 << false
                                            << hex("1b4c 1b5700000000 0000 0000 1d5000001b3300 0c");
    }

    void exactOutput()
    {
        QFETCH(QImage, image);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, highDensity);
        QFETCH(int, printMode);
        QFETCH(bool, compatibility);
        QFETCH(QByteArray, expected);
        QCOMPARE(bytesFor(image, width, height, highDensity, printMode, compatibility).toHex(),
                 expected.toHex());
    }

    // Sides up to 65535 print whole: columns (or rows) from 32767 on are as black as the rest.
    void longSidesPrintWhole_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("wide") << filled(40000, 1, Qt::black) << 40000 << 1;
        QTest::newRow("wide, scaled, translucent")
            << filled(20000, 1, QColor(0, 0, 0, 200)) << 65535 << 1;
        QTest::newRow("tall") << filled(1, 40000, Qt::black) << 1 << 40000;
    }
    void longSidesPrintWhole()
    {
        QFETCH(QImage, image);
        QFETCH(int, width);
        QFETCH(int, height);
        const QByteArray out = bytesFor(image, width, height, false);
        QByteArray dots; // along the long side, from 8-dot bands of 5 + width + 3 bytes
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                dots += char(out.at(7 + y / 8 * (width + 8) + 5 + x) & (0x80 >> y % 8) ? 1 : 0);
        }
        QCOMPARE(out.size(), 7 + (height + 7) / 8 * (width + 8));
        const QByteArray before = dots.left(32767), after = dots.mid(32767);
        const auto inked = [](const QByteArray& part) {
            return double(part.size() - part.count('\0')) / part.size();
        };
        QVERIFY2(inked(after) > 0.9 * inked(before) && inked(after) > 0.3,
                 qPrintable(QStringLiteral("%1 %2").arg(inked(before)).arg(inked(after))));
    }

    void bandPadding()
    {
        // 25 rows of 24-dot bands: two bands, the second with one image row and 23 white rows.
        ESCImageManager manager;
        manager.setImage(QImage(), 2, 25, true, 0, false);
        QCOMPARE(manager.makeMono(rgbaOf(2, 25, 0, 0, 0)).toHex(),
                 QByteArray("1d5000001b3300"
                            "1b2a210200ffffffffffff1b6400"
                            "1b2a2102008000008000001b6400"));
    }

    void sizesFollowTheFormula_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("highDensity");
        QTest::addColumn<bool>("compatibility");
        QTest::addColumn<int>("printMode");

        QTest::newRow("300x25 high") << 300 << 25 << true << false << 0;
        QTest::newRow("7x9 low compat") << 7 << 9 << false << true << 0;
        QTest::newRow("7x8 low page") << 7 << 8 << false << false << 1;
        QTest::newRow("576x48 high compat page") << 576 << 48 << true << true << 1;
    }

    void sizesFollowTheFormula()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, highDensity);
        QFETCH(bool, compatibility);
        QFETCH(int, printMode);
        const QByteArray out = bytesFor(filled(width, height, QColor(90, 120, 200)), width, height,
                                        highDensity, printMode, compatibility);
        const int band = highDensity ? 24 : 8;
        const int bands = (height + band - 1) / band;
        const int preamble = compatibility ? 4 : 7;
        QCOMPARE(out.size(), preamble + bands * (5 + width * band / 8 + 3) + (printMode ? 13 : 0));
        // Every band announces the width in nL nH.
        const QByteArray head = QByteArray("\x1b\x2a", 2) + char(highDensity ? 33 : 0) +
                                char(width & 0xFF) + char(width >> 8);
        QCOMPARE(out.mid((printMode ? 12 : 0) + preamble, 5).toHex(), head.toHex());
    }
};

QTEST_GUILESS_MAIN(TestEscImageManager)
#include "tst_escimagemanager.moc"
