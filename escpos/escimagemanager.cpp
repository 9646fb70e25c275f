#include "escimagemanager.h"

#include "esccommands.h"

#include <vector>

ESCImageManager::ESCImageManager(QObject* parent) : QObject(parent) {}

void ESCImageManager::setImage(const QImage& image, int width, int height, bool highDensity,
                               int printMode, bool compatibilityMode)
{
    this->image = image;
    this->width = width;
    this->height = height;
    this->highDensity = highDensity;
    this->printMode = printMode;
    this->compatibilityMode = compatibilityMode;
}

QByteArray ESCImageManager::getBytesToSend()
{
    // A null image, an empty target or one the printer's 16-bit sizes cannot describe (or
    // that would not fit in memory) is printed as nothing: only the preamble goes out.
    if (image.isNull() || width <= 0 || height <= 0 || width > maxImageSide ||
        height > maxImageSide || qint64(width) * height > maxImagePixels) {
        width = 0;
        height = 0;
    }

    QByteArray dithered;
    if (width > 0) {
        QImage canvas = image.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                            .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        // Composited onto white pixel by pixel, as the painter's source-over would do: the
        // painter stops drawing at coordinate 32767, and sides up to 65535 are printable.
        for (int y = 0; y < canvas.height(); ++y) {
            QRgb* row = reinterpret_cast<QRgb*>(canvas.scanLine(y));
            for (int x = 0; x < canvas.width(); ++x) {
                const int clear = 255 - qAlpha(row[x]);
                row[x] = qRgb(qRed(row[x]) + clear, qGreen(row[x]) + clear, qBlue(row[x]) + clear);
            }
        }
        const QImage rgb565 = canvas.convertToFormat(QImage::Format_RGB16);
        if (rgb565.width() == width && rgb565.height() == height)
            dithered = floydSteinbergDithering(getImageBytes(rgb565));
        else
            width = height = 0; // allocation failed inside QImage
    }

    const QByteArray bands =
        compatibilityMode ? makeMonoCompatibilityMode(dithered) : makeMono(dithered);
    switch (printMode) {
    case 0:
        return bands;
    case 1:
        return pagedPrinting(bands);
    default:
        return QByteArray();
    }
}

QByteArray ESCImageManager::getImageBytes(const QImage& image) const
{
    const QImage source = image.format() == QImage::Format_RGB16
                              ? image
                              : image.convertToFormat(QImage::Format_RGB16);
    const int w = source.width();
    const int h = source.height();
    if (qint64(w) * h > maxImagePixels)
        return QByteArray();
    QByteArray rgba(qsizetype(w) * h * 4, Qt::Uninitialized);
    uchar* out = reinterpret_cast<uchar*>(rgba.data());
    for (int y = 0; y < h; ++y) {
        // Rows are padded to 32 bits, so each row is read from its own scan line.
        const quint16* row = reinterpret_cast<const quint16*>(source.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const quint16 v = row[x];
            *out++ = uchar(((v >> 11) & 0x1F) * 8 + 4);
            *out++ = uchar(((v >> 5) & 0x3F) * 4 + 2);
            *out++ = uchar((v & 0x1F) * 8 + 4);
            *out++ = 255;
        }
    }
    return rgba;
}

QByteArray ESCImageManager::floydSteinbergDithering(const QByteArray& rgba) const
{
    const int w = width;
    const int h = height;
    QByteArray result = rgba;
    if (w <= 0 || h <= 0 || rgba.size() < qsizetype(w) * h * 4)
        return result;

    uchar* px = reinterpret_cast<uchar*>(result.data());
    // Accumulated darkness per pixel; it only ever grows by diffusion, never goes negative.
    std::vector<int> error(size_t(w) * size_t(h), 0);
    const auto add = [&](int x, int y, int amount) {
        if (x >= 0 && x < w && y < h)
            error[size_t(y) * size_t(w) + size_t(x)] += amount;
    };

    for (int y = 0; y < h; ++y) {
        const bool even = (y % 2) == 0;
        for (int i = 0; i < w; ++i) {
            const int x = even ? i : w - 1 - i;
            uchar* p = px + (qsizetype(y) * w + x) * 4;
            const int luminance = int(0.2125 * p[0] + 0.7154 * p[1] + 0.0721 * p[2]);
            int& e = error[size_t(y) * size_t(w) + size_t(x)];
            e += 255 - luminance;
            if (e >= 255) {
                p[0] = p[1] = p[2] = 0;
                e -= 255;
            } else {
                p[0] = p[1] = p[2] = 255;
            }
            const int q = e / 16;
            if (q == 0)
                continue;
            const int dir = even ? 1 : -1;
            add(x + dir, y, 7 * q);
            add(x, y + 1, 5 * q);
            add(x - dir, y + 1, 3 * q);
            add(x + dir, y + 1, q);
        }
    }
    return result;
}

int ESCImageManager::getMonoDot(uchar red, uchar green, uchar blue)
{
    return (red < 128 || green < 128 || blue < 128) ? 1 : 0;
}

QByteArray ESCImageManager::makeBands(const QByteArray& dithered, const QByteArray& preamble,
                                      const QByteArray& bandEnd) const
{
    const int w = width;
    const int h = height;
    const int bandHeight = highDensity ? 24 : 8;
    const int bytesPerColumn = bandHeight / 8;
    const qsizetype bandCount = (h + bandHeight - 1) / bandHeight;

    QByteArray out;
    out.reserve(preamble.size() + bandCount * (5 + qsizetype(w) * bytesPerColumn + bandEnd.size()));
    out.append(preamble);
    if (w <= 0 || h <= 0 || dithered.size() < qsizetype(w) * h * 4)
        return out;

    const uchar* px = reinterpret_cast<const uchar*>(dithered.constData());
    for (int y0 = 0; y0 < h; y0 += bandHeight) {
        out.append(EscPos::selectBitImageMode);
        out.append(char(highDensity ? 33 : 0));
        out.append(char(w & 0xFF));
        out.append(char((w >> 8) & 0xFF));
        for (int x = 0; x < w; ++x) {
            for (int byte = 0; byte < bytesPerColumn; ++byte) {
                uchar bits = 0;
                for (int bit = 0; bit < 8; ++bit) {
                    const int y = y0 + byte * 8 + bit;
                    if (y >= h)
                        break; // the last band is padded with white
                    const uchar* p = px + (qsizetype(y) * w + x) * 4;
                    if (getMonoDot(p[0], p[1], p[2]))
                        bits |= uchar(0x80 >> bit);
                }
                out.append(char(bits));
            }
        }
        out.append(bandEnd);
    }
    return out;
}

QByteArray ESCImageManager::makeMono(const QByteArray& dithered) const
{
    // GS P 0 0 restores the default motion units, ESC 3 0 removes the gap between bands.
    static const QByteArray preamble =
        EscPos::setMotionUnits + QByteArray(2, 0) + EscPos::setLineSpacing + QByteArray(1, 0);
    static const QByteArray bandEnd = EscPos::printAndFeedLines + QByteArray(1, 0);
    return makeBands(dithered, preamble, bandEnd);
}

QByteArray ESCImageManager::makeMonoCompatibilityMode(const QByteArray& dithered) const
{
    // Motion units of 1/203 inch; each band is printed and fed by 24 units.
    static const QByteArray preamble = EscPos::setMotionUnits + QByteArray(2, char(203));
    static const QByteArray bandEnd = EscPos::printAndFeed + char(24);
    return makeBands(dithered, preamble, bandEnd);
}

QByteArray ESCImageManager::pagedPrinting(const QByteArray& bands) const
{
    QByteArray out;
    out.reserve(bands.size() + 13);
    out.append(EscPos::selectPageMode);
    out.append(EscPos::setPrintArea).append(4, 0); // at origin 0, 0
    out.append(char(width & 0xFF));
    out.append(char((width >> 8) & 0xFF));
    out.append(char(height & 0xFF));
    out.append(char((height >> 8) & 0xFF));
    out.append(bands);
    out.append(EscPos::printPage);
    return out;
}
