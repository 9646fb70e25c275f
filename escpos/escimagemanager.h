#ifndef ESCIMAGEMANAGER_H
#define ESCIMAGEMANAGER_H

#include <QByteArray>
#include <QImage>
#include <QObject>

// Turns one image into ESC/POS bit-image bands (ESC *): scaled to the target size, flattened
// onto white, reduced to 5-6-5 colour and dithered to black and white.
class ESCImageManager : public QObject
{
    Q_OBJECT

public:
    // Largest target the connector rasterises: far above any receipt image (an 80 mm
    // receipt is 576 dots wide), and it keeps every intermediate buffer well inside memory.
    static constexpr qint64 maxImagePixels = 40'000'000;
    // ESC * and ESC W carry sizes as 16-bit numbers.
    static constexpr int maxImageSide = 0xFFFF;

    explicit ESCImageManager(QObject* parent = nullptr);

    void setImage(const QImage& image, int width, int height, bool highDensity, int printMode,
                  bool compatibilityMode);
    QByteArray getBytesToSend();

    QByteArray getImageBytes(const QImage& image) const;
    QByteArray floydSteinbergDithering(const QByteArray& rgba) const;
    QByteArray makeMono(const QByteArray& dithered) const;
    QByteArray makeMonoCompatibilityMode(const QByteArray& dithered) const;
    QByteArray pagedPrinting(const QByteArray& bands) const;
    static int getMonoDot(uchar red, uchar green, uchar blue);

private:
    QByteArray makeBands(const QByteArray& dithered, const QByteArray& preamble,
                         const QByteArray& bandEnd) const;

    QImage image;
    int width = 0;
    int height = 0;
    int printMode = 0;
    bool highDensity = true;
    bool compatibilityMode = false;
};

#endif // ESCIMAGEMANAGER_H
