// Raster images: 5-6-5 expansion, dithering of accumulated darkness, band packing, the
// compatibility variant and page mode.

#include "escimagemanager.h"

#include <QtTest>

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

QImage filled(int width, int height, QColor colour, QImage::Format format = QImage::Format_ARGB32)
{
    QImage image(width, height, format);
    image.fill(colour);
    return image;
}

QByteArray bytesFor(const QImage& image, int width, int height, bool highDensity = true,
                    int printMode = 0, bool compatibility = false)
{
    ESCImageManager manager;
    manager.setImage(image, width, height, highDensity, printMode, compatibility);
    return manager.getBytesToSend();
}

// RGBA array of w x h pixels of one colour.
QByteArray rgbaOf(int w, int h, uchar r, uchar g, uchar b)
{
    QByteArray rgba;
    for (int i = 0; i < w * h; ++i)
        rgba.append(char(r)).append(char(g)).append(char(b)).append(char(255));
    return rgba;
}

// Black (1) or white (0) per pixel of a dithered array, row by row.
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

int blackDots(const QByteArray& dithered)
{
    int count = 0;
    for (int i = 0; i < dithered.size(); i += 4)
        count += ESCImageManager::getMonoDot(uchar(dithered[i]), uchar(dithered[i + 1]),
                                             uchar(dithered[i + 2]));
    return count;
}

} // namespace

class TestEscImageManager : public QObject
{
    Q_OBJECT

private slots:
    void expansion565_data();
    void expansion565();
    void oddWidthKeepsRows();
    void dithering_data();
    void dithering();
    void blackImageTurnsBlack();
    void exactOutput_data();
    void exactOutput();
    void bandPadding();
    void sizesFollowTheFormula_data();
    void sizesFollowTheFormula();
    void transparentPrintsWhite();
    void monoDot_data();
    void monoDot();
};

void TestEscImageManager::expansion565_data()
{
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<QByteArray>("rgba");

    QTest::newRow("white") << QColor(Qt::white) << hex("fcfefcff");
    QTest::newRow("black") << QColor(Qt::black) << hex("040204ff");
    QTest::newRow("red") << QColor(Qt::red) << hex("fc0204ff");
    QTest::newRow("grey 128") << QColor(128, 128, 128) << hex("848284ff");
}

void TestEscImageManager::expansion565()
{
    QFETCH(QColor, colour);
    QFETCH(QByteArray, rgba);
    ESCImageManager manager;
    QCOMPARE(manager.getImageBytes(filled(1, 1, colour, QImage::Format_RGB16)).toHex(),
             rgba.toHex());
}

void TestEscImageManager::oddWidthKeepsRows()
{
    // 5-6-5 rows of an odd width are padded in memory; pixel (x, y) must stay (x, y).
    QImage image(3, 3, QImage::Format_RGB16);
    image.fill(Qt::white);
    image.setPixelColor(2, 0, Qt::black);
    image.setPixelColor(0, 1, Qt::red);
    image.setPixelColor(1, 2, Qt::blue);
    ESCImageManager manager;
    const QByteArray rgba = manager.getImageBytes(image);
    QCOMPARE(rgba.size(), 3 * 3 * 4);
    const auto pixel = [&](int x, int y) { return rgba.mid((y * 3 + x) * 4, 4).toHex(); };
    QCOMPARE(pixel(2, 0), hex("040204ff").toHex());
    QCOMPARE(pixel(0, 1), hex("fc0204ff").toHex());
    QCOMPARE(pixel(1, 2), hex("0402fcff").toHex());
    QCOMPARE(pixel(2, 2), hex("fcfefcff").toHex());
    QCOMPARE(pixel(1, 0), hex("fcfefcff").toHex());
}

void TestEscImageManager::dithering_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QByteArray>("rgba");
    QTest::addColumn<QString>("expected");

    // Expanded white carries darkness 2, expanded black 253: neither reaches 255 alone.
    QTest::newRow("white") << 4 << 3 << rgbaOf(4, 3, 252, 254, 252) << "0000/0000/0000";
    QTest::newRow("1x1 black prints white") << 1 << 1 << rgbaOf(1, 1, 4, 2, 4) << "0";
    QTest::newRow("black passes darkness right") << 2 << 1 << rgbaOf(2, 1, 4, 2, 4) << "01";
    QTest::newRow("pure black is black at once") << 2 << 1 << rgbaOf(2, 1, 0, 0, 0) << "11";
    // Reference patterns; odd rows run right to left (left to right would give
    // 0000/0101, 00000/01101/00100 and 00000000/00000000/00010010/00000000).
    QTest::newRow("dark grey") << 4 << 2 << rgbaOf(4, 2, 60, 62, 60) << "0101/1110";
    QTest::newRow("mid grey") << 4 << 2 << rgbaOf(4, 2, 132, 130, 132) << "0000/1010";
    QTest::newRow("grey 124") << 5 << 3 << rgbaOf(5, 3, 124, 126, 124) << "00000/10110/01001";
    QTest::newRow("light grey") << 8 << 4 << rgbaOf(8, 4, 196, 194, 196)
                                << "00000000/00000000/00010000/01000100";
}

void TestEscImageManager::dithering()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QByteArray, rgba);
    QFETCH(QString, expected);
    ESCImageManager manager;
    manager.setImage(QImage(), width, height, true, 0, false);
    const QByteArray dithered = manager.floydSteinbergDithering(rgba);
    QCOMPARE(dithered.size(), rgba.size());
    QCOMPARE(pattern(dithered, width), expected);
    for (int i = 3; i < dithered.size(); i += 4)
        QCOMPARE(dithered.at(i), rgba.at(i)); // alpha untouched
}

void TestEscImageManager::blackImageTurnsBlack()
{
    ESCImageManager manager;
    manager.setImage(QImage(), 24, 24, true, 0, false);
    const QByteArray dithered = manager.floydSteinbergDithering(rgbaOf(24, 24, 4, 2, 4));
    QCOMPARE(pattern(dithered, 24).left(2), QStringLiteral("01"));
    // All but the start of the darkness build-up prints black (547 of 576 dots).
    QCOMPARE(blackDots(dithered), 547);
}

void TestEscImageManager::exactOutput_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("highDensity");
    QTest::addColumn<int>("printMode");
    QTest::addColumn<bool>("compatibility");
    QTest::addColumn<QByteArray>("expected");

    const QImage black = filled(2, 1, Qt::black);
    QTest::newRow("1x1 black") << filled(1, 1, Qt::black) << 1 << 1 << true << 0 << false
                               << hex("1d5000001b3300 1b2a210100 000000 1b6400");
    QTest::newRow("2x1 black, 24-dot") << black << 2 << 1 << true << 0 << false
                                       << hex("1d5000001b3300 1b2a210200 000000 800000 1b6400");
    QTest::newRow("2x1 black, 8-dot")
        << black << 2 << 1 << false << 0 << false << hex("1d5000001b3300 1b2a000200 00 80 1b6400");
    QTest::newRow("compatibility")
        << black << 2 << 1 << true << 0 << true << hex("1d50cbcb 1b2a210200 000000 800000 1b4a18");
    QTest::newRow("compatibility, 8-dot")
        << black << 2 << 1 << false << 0 << true << hex("1d50cbcb 1b2a000200 00 80 1b4a18");
    QTest::newRow("page mode") << black << 2 << 1 << true << 1 << false
                               << hex("1b4c 1b5700000000 0200 0100"
                                      "1d5000001b3300 1b2a210200 000000 800000 1b6400 0c");
    QTest::newRow("print mode 2: nothing") << black << 2 << 1 << true << 2 << false << QByteArray();
    QTest::newRow("scaled up to the target")
        << filled(1, 1, Qt::black) << 2 << 1 << false << 0 << false
        << hex("1d5000001b3300 1b2a000200 00 80 1b6400");
    QTest::newRow("null image: preamble")
        << QImage() << 0 << 0 << true << 0 << false << hex("1d5000001b3300");
    QTest::newRow("null image, compatibility")
        << QImage() << 0 << 0 << true << 0 << true << hex("1d50cbcb");
    QTest::newRow("null image, page mode") << QImage() << 0 << 0 << true << 1 << false
                                           << hex("1b4c 1b5700000000 0000 0000 1d5000001b3300 0c");
    QTest::newRow("zero target width")
        << black << 0 << 5 << true << 0 << false << hex("1d5000001b3300");
    // ESC * cannot describe a band wider than 65535 dots: print nothing rather than garbage.
    QTest::newRow("too wide for ESC *")
        << filled(1, 1, Qt::black) << 65536 << 1 << false << 1 << false
        << hex("1b4c 1b5700000000 0000 0000 1d5000001b3300 0c");
}

void TestEscImageManager::exactOutput()
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

void TestEscImageManager::bandPadding()
{
    // 25 rows of 24-dot bands: two bands, the second with one image row and 23 white rows.
    ESCImageManager manager;
    manager.setImage(QImage(), 2, 25, true, 0, false);
    const QByteArray bands = manager.makeMono(rgbaOf(2, 25, 0, 0, 0));
    QCOMPARE(bands.toHex(), hex("1d5000001b3300"
                                "1b2a210200 ffffff ffffff 1b6400"
                                "1b2a210200 800000 800000 1b6400")
                                .toHex());
}

void TestEscImageManager::sizesFollowTheFormula_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("highDensity");
    QTest::addColumn<bool>("compatibility");
    QTest::addColumn<int>("printMode");

    QTest::newRow("300x25 high") << 300 << 25 << true << false << 0;
    QTest::newRow("300x25 low") << 300 << 25 << false << false << 0;
    QTest::newRow("7x9 low compat") << 7 << 9 << false << true << 0;
    QTest::newRow("7x8 low page") << 7 << 8 << false << false << 1;
    QTest::newRow("576x48 high compat page") << 576 << 48 << true << true << 1;
    QTest::newRow("33x1 high") << 33 << 1 << true << false << 0;
}

void TestEscImageManager::sizesFollowTheFormula()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(bool, highDensity);
    QFETCH(bool, compatibility);
    QFETCH(int, printMode);
    const QImage image = filled(width, height, QColor(90, 120, 200));
    const QByteArray out = bytesFor(image, width, height, highDensity, printMode, compatibility);
    const int band = highDensity ? 24 : 8;
    const int bands = (height + band - 1) / band;
    const int expected =
        (compatibility ? 4 : 7) + bands * (5 + width * band / 8 + 3) + (printMode == 1 ? 13 : 0);
    QCOMPARE(out.size(), expected);
    // Every band announces the width in nL nH.
    const int start = (printMode == 1 ? 12 : 0) + (compatibility ? 4 : 7);
    QCOMPARE(out.mid(start, 5).toHex(), (QByteArray("\x1b\x2a", 2) + char(highDensity ? 33 : 0) +
                                         char(width & 0xFF) + char(width >> 8))
                                            .toHex());
    if (width == 300)
        QCOMPARE(out.mid(start + 3, 2).toHex(), QByteArray("2c01"));
}

void TestEscImageManager::transparentPrintsWhite()
{
    // Transparent black must print as the white below it, not as black.
    const QByteArray out = bytesFor(filled(3, 8, QColor(0, 0, 0, 0)), 3, 8, false);
    QCOMPARE(out.toHex(), hex("1d5000001b3300 1b2a000300 000000 1b6400").toHex());
}

void TestEscImageManager::monoDot_data()
{
    QTest::addColumn<int>("red");
    QTest::addColumn<int>("green");
    QTest::addColumn<int>("blue");
    QTest::addColumn<int>("dot");

    QTest::newRow("128 is white") << 128 << 128 << 128 << 0;
    QTest::newRow("one channel below 128") << 255 << 127 << 255 << 1;
}

void TestEscImageManager::monoDot()
{
    QFETCH(int, red);
    QFETCH(int, green);
    QFETCH(int, blue);
    QFETCH(int, dot);
    QCOMPARE(ESCImageManager::getMonoDot(uchar(red), uchar(green), uchar(blue)), dot);
}

QTEST_GUILESS_MAIN(TestEscImageManager)
#include "tst_escimagemanager.moc"
