#include "escimagemanager.h"

#include "esccommands.h"

#include <algorithm>
#include <cstring>
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
    // Darkness only flows to this row and the next, so two rows of it are kept.
    std::vector<int> current(size_t(w), 0);
    std::vector<int> next(size_t(w), 0);
    const auto add = [w](std::vector<int>& row, int x, int amount) {
        if (x >= 0 && x < w)
            row[size_t(x)] += amount;
    };

    for (int y = 0; y < h; ++y) {
        const bool even = (y % 2) == 0;
        const bool last = y + 1 == h;
        for (int i = 0; i < w; ++i) {
            const int x = even ? i : w - 1 - i;
            uchar* p = px + (qsizetype(y) * w + x) * 4;
            const int luminance = int(0.2125 * p[0] + 0.7154 * p[1] + 0.0721 * p[2]);
            int& e = current[size_t(x)];
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
            add(current, x + dir, 7 * q);
            if (last)
                continue;
            add(next, x, 5 * q);
            add(next, x - dir, 3 * q);
            add(next, x + dir, q);
        }
        current.swap(next);
        std::fill(next.begin(), next.end(), 0);
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

    // The band bytes are written in place, each image row read once, in order.
    const uchar* px = reinterpret_cast<const uchar*>(dithered.constData());
    const qsizetype bandSize = 5 + qsizetype(w) * bytesPerColumn + bandEnd.size();
    out.resize(preamble.size() + bandCount * bandSize);
    char* band = out.data() + preamble.size();
    for (int y0 = 0; y0 < h; y0 += bandHeight, band += bandSize) {
        memcpy(band, EscPos::selectBitImageMode.constData(), 2);
        band[2] = char(highDensity ? 33 : 0);
        band[3] = char(w & 0xFF);
        band[4] = char((w >> 8) & 0xFF);
        uchar* columns = reinterpret_cast<uchar*>(band + 5);
        memset(columns, 0, size_t(w) * size_t(bytesPerColumn)); // the last band is padded white
        for (int row = y0; row < qMin(h, y0 + bandHeight); ++row) {
            const uchar* p = px + qsizetype(row) * w * 4;
            uchar* column = columns + (row - y0) / 8;
            const uchar bit = uchar(0x80 >> ((row - y0) % 8));
            for (int x = 0; x < w; ++x, p += 4) {
                if (getMonoDot(p[0], p[1], p[2]))
                    column[qsizetype(x) * bytesPerColumn] |= bit;
            }
        }
        memcpy(band + 5 + qsizetype(w) * bytesPerColumn, bandEnd.constData(),
               size_t(bandEnd.size()));
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
