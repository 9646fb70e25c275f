// Raster images: 5-6-5 expansion, dithering of accumulated darkness and band packing.

#include "escimagemanager.h"

#include <QtTest>

namespace {

QImage filled(int width, int height, QColor colour)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

} // namespace

class TestEscImageManager : public QObject
{
    Q_OBJECT

private slots:
    // 5-6-5 rows of an odd width are padded in memory; pixel (x, y) must stay (x, y).
    void oddWidthKeepsRows()
    {
        QImage image(3, 3, QImage::Format_RGB16);
        image.fill(Qt::white);
        image.setPixelColor(2, 0, Qt::black);
        image.setPixelColor(0, 1, Qt::red);
        image.setPixelColor(1, 2, Qt::blue);
        QCOMPARE(ESCImageManager().getImageBytes(image).toHex(),
                 QByteArray("fcfefcff fcfefcff 040204ff fc0204ff fcfefcff fcfefcff "
                            "fcfefcff 0402fcff fcfefcff")
                     .replace(' ', ""));
    }

    // Black (1) or white (0) per pixel; odd rows run right to left.
    void dithering_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QByteArray>("pixel"); // RGBA, as expanded from 5-6-5
        QTest::addColumn<QString>("expected");
        QTest::newRow("white carries darkness 2")
            << QSize(4, 3) << QByteArray("fcfefcff") << "0000/0000/0000";
        QTest::newRow("1x1 black prints white") << QSize(1, 1) << QByteArray("040204ff") << "0";
        QTest::newRow("pure black is black at once")
            << QSize(2, 1) << QByteArray("000000ff") << "11";
        QTest::newRow("mid grey") << QSize(4, 2) << QByteArray("848284ff") << "0000/1010";
        QTest::newRow("grey 124") << QSize(5, 3) << QByteArray("7c7e7cff") << "00000/10110/01001";
    }

    void dithering()
    {
        QFETCH(QSize, size);
        QFETCH(QByteArray, pixel);
        ESCImageManager manager;
        manager.setImage(QImage(), size.width(), size.height(), true, 0, false);
        const QByteArray dithered = manager.floydSteinbergDithering(
            QByteArray::fromHex(pixel).repeated(size.width() * size.height()));
        QString dots;
        for (int i = 0; i < dithered.size() / 4; ++i)
            dots += QString(i > 0 && i % size.width() == 0 ? "/" : "") +
                    (dithered.at(i * 4) ? '0' : '1');
        QTEST(dots, "expected");
    }

    void exactOutput_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("highDensity");
        QTest::addColumn<int>("printMode");
        QTest::addColumn<QByteArray>("expected");
        const QImage dot = filled(1, 1, Qt::black);
        QTest::newRow("print mode 2: nothing") << dot << QSize(2, 1) << true << 2 << QByteArray();
        QTest::newRow("transparent black prints as the white below")
            << filled(3, 8, QColor(0, 0, 0, 0)) << QSize(3, 8) << false << 0
            << QByteArray("1d5000001b3300 1b2a000300 000000 1b6400");
        // ESC * cannot describe a band wider than 65535 dots: print nothing rather than garbage.
        QTest::newRow("too wide for ESC *")
            << dot << QSize(65536, 1) << false << 1
            << QByteArray("1b4c 1b5700000000 0000 0000 1d5000001b3300 0c");
    }

    void exactOutput()
    {
        QFETCH(QImage, image);
        QFETCH(QSize, size);
        QFETCH(bool, highDensity);
        QFETCH(int, printMode);
        QFETCH(QByteArray, expected);
        ESCImageManager manager;
        manager.setImage(image, size.width(), size.height(), highDensity, printMode, false);
        QCOMPARE(manager.getBytesToSend().toHex(), QByteArray::fromHex(expected).toHex());
    }

    // 25 rows of 24-dot bands: the second band holds one image row and 23 white rows.
    void bandPadding()
    {
        ESCImageManager manager;
        manager.setImage(QImage(), 2, 25, true, 0, false);
        QCOMPARE(
            manager.makeMono(QByteArray::fromHex("000000ff").repeated(50)).toHex(),
            QByteArray("1d5000001b3300 1b2a210200ffffffffffff1b6400 1b2a2102008000008000001b6400")
                .replace(' ', ""));
    }

    // Sides up to 65535 print whole: columns from 32767 on are as black as the rest.
    void longSidePrintsWhole()
    {
        ESCImageManager manager;
        manager.setImage(filled(20000, 1, QColor(0, 0, 0, 200)), 65535, 1, false, 0, false);
        const QByteArray band = manager.getBytesToSend().mid(7 + 5, 65535);
        QVERIFY(band.mid(32767).count('\x80') > 0.9 * band.left(32767).count('\x80'));
        QVERIFY(band.mid(32767).count('\x80') > 10000);
    }
};

QTEST_GUILESS_MAIN(TestEscImageManager)
#include "tst_escimagemanager.moc"
