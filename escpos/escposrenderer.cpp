#include "escposrenderer.h"

#include "codepages.h"
#include "esccodes.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>

#include <zint.h>

#include <algorithm>
#include <memory>

namespace {
const char ink = 1;
const char markColour = 2;
// Font A and font B cells, as the printer's fonts are measured.
const int cellA[2] = {12, 24};
const int cellB[2] = {9, 17};
const int defaultLineSpacing = 30; // 1/6 inch less the rounding of the printer
const int tabWidth = 8 * 12;       // tab stops every eight font A characters
} // namespace

ESCPOSRenderer::ESCPOSRenderer(int paperWidth) : width(paperWidth) {}

void ESCPOSRenderer::render(const QByteArray& bytes)
{
    int i = 0;
    while (i < bytes.size() && !overflow)
        command(bytes, i);
    // A printer keeps an unfinished line for the next job; the preview shows it.
    if (!line.isEmpty())
        printLine(lineSpacing);
}

QImage ESCPOSRenderer::image() const
{
    const int rows = int(paper.size()) / width;
    const int height = std::max(1, std::min(std::max(y, rows), maxHeight));
    QImage image(width, height, QImage::Format_Indexed8);
    image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0), qRgb(220, 40, 40)});
    for (int row = 0; row < height; ++row) {
        uchar* out = image.scanLine(row);
        if (row < rows)
            std::copy_n(paper.data() + size_t(row) * size_t(width), width, out);
        else
            std::fill_n(out, width, uchar(0));
    }
    return image;
}

QByteArray ESCPOSRenderer::toPng(const QImage& image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

bool ESCPOSRenderer::need(const QByteArray& bytes, int i, qint64 count)
{
    return i + count <= bytes.size();
}

void ESCPOSRenderer::skip(int& i, int count)
{
    skipped += count;
    i += count;
}

int ESCPOSRenderer::dots(int units) const
{
    return units * 203 / motionUnit;
}

void ESCPOSRenderer::command(const QByteArray& bytes, int& i)
{
    const uchar c = uchar(bytes.at(i));
    // A command cut short by the end of the data is skipped whole.
    const auto complete = [&](int count) {
        if (need(bytes, i, count))
            return true;
        skip(i, bytes.size() - i);
        return false;
    };
    switch (c) {
    case 0x0a:
        ++i;
        printLine(lineSpacing);
        return;
    case 0x0d: // carriage return: no line feed of its own
        ++i;
        return;
    case 0x09: {
        ++i;
        const int stop = (cursor / tabWidth + 1) * tabWidth;
        if (stop <= width) {
            Bitmap blank;
            blank.width = stop - cursor;
            addItem(blank);
        }
        return;
    }
    case 0x0c:
        ++i;
        if (pageMode) {
            printLine(0);
            // The whole page area is printed, whatever its content reached.
            if (pageHeight > 0)
                y = pageTop + pageHeight;
            pageMode = false;
        } else {
            ++skipped;
        }
        return;
    case 0x1b:
        if (complete(2))
            escape(bytes, i);
        return;
    case 0x1d:
        if (complete(2))
            groupSeparator(bytes, i);
        return;
    case 0x1c: { // FS: Kanji and stored logos, none of which the preview draws
        if (!complete(2))
            return;
        const char f = bytes.at(i + 1);
        const int length = f == 'p' ? 4 : (f == '!' || f == '-' || f == 'W') ? 3 : 2;
        if (complete(length))
            skip(i, length);
        return;
    }
    case 0x10: // DLE: real-time requests, five bytes for DC4 and three for the others
        if (complete(3) && complete(bytes.at(i + 1) == 0x14 ? 5 : 3))
            skip(i, bytes.at(i + 1) == 0x14 ? 5 : 3);
        return;
    default:
        ++i;
        if (c < 0x20)
            ++skipped;
        else
            character(c);
    }
}

int ESCPOSRenderer::takeArgument(const QByteArray& bytes, int& i)
{
    if (!need(bytes, i, 3)) {
        skip(i, bytes.size() - i);
        return -1;
    }
    const int n = uchar(bytes.at(i + 2));
    i += 3;
    return n;
}

void ESCPOSRenderer::escape(const QByteArray& bytes, int& i)
{
    const char f = bytes.at(i + 1);
    const auto argument = [&] { return takeArgument(bytes, i); };
    int n = 0;
    switch (f) {
    case '@':
        i += 2;
        reset();
        return;
    case '!':
        if ((n = argument()) < 0)
            return;
        fontB = n & 0x01;
        bold = n & 0x08;
        scaleY = (n & 0x10) ? 2 : 1;
        scaleX = (n & 0x20) ? 2 : 1;
        underline = (n & 0x80) ? 1 : 0;
        return;
    case 'E':
    case 'G':
        if ((n = argument()) >= 0)
            bold = n & 1;
        return;
    case '-':
        if ((n = argument()) >= 0)
            underline = (n & 0x0f) <= 2 ? (n & 0x0f) : underline;
        return;
    case 'M':
        if ((n = argument()) >= 0)
            fontB = (n & 0x0f) == 1;
        return;
    case 'a':
        // Only at the start of a line, as the printer takes it.
        if ((n = argument()) >= 0 && line.isEmpty() && (n & 0x0f) <= 2)
            alignment = n & 0x0f;
        return;
    case '2':
        i += 2;
        lineSpacing = defaultLineSpacing;
        return;
    case '3':
        if ((n = argument()) >= 0)
            lineSpacing = dots(n);
        return;
    case 'd':
        if ((n = argument()) >= 0)
            printLine(n * lineSpacing);
        return;
    case 'J':
        if ((n = argument()) >= 0)
            printLine(dots(n));
        return;
    case 't':
        if ((n = argument()) >= 0)
            page = n;
        return;
    case '*':
        bitImage(bytes, i);
        return;
    case 'p':
        if (!need(bytes, i, 5)) {
            skip(i, bytes.size() - i);
            return;
        }
        mark(QStringLiteral("drawer %1").arg(int(bytes.at(i + 2)) & 1));
        i += 5;
        return;
    case 'L':
        i += 2;
        printLine(0);
        pageMode = true;
        pageTop = y;
        pageHeight = 0;
        pageLeft = 0;
        return;
    case 'W':
        if (!need(bytes, i, 10)) {
            skip(i, bytes.size() - i);
            return;
        }
        if (pageMode) {
            const auto word = [&](int at) {
                return uchar(bytes.at(i + at)) | (uchar(bytes.at(i + at + 1)) << 8);
            };
            pageLeft = word(2);
            y = pageTop + word(4);
            pageHeight = word(8);
        }
        i += 10;
        return;
    case 'i':
    case 'm':
        i += 2;
        cut(2);
        return;
    case 'c':
        skip(i, need(bytes, i, 4) ? 4 : bytes.size() - i);
        return;
    case 'D': { // tab stops, up to a NUL
        const int end = bytes.indexOf('\0', i + 2);
        skip(i, (end < 0 ? bytes.size() : end + 1) - i);
        return;
    }
    case ' ':
    case '%':
    case '=':
    case '?':
    case 'R':
    case 'T':
    case 'U':
    case 'V':
    case 'r':
    case 'u':
    case '{':
    case 'K':
    case 'e':
        skip(i, need(bytes, i, 3) ? 3 : bytes.size() - i);
        return;
    case '$':
    case '\\':
        skip(i, need(bytes, i, 4) ? 4 : bytes.size() - i);
        return;
    default:
        skip(i, 2);
    }
}

void ESCPOSRenderer::groupSeparator(const QByteArray& bytes, int& i)
{
    const char f = bytes.at(i + 1);
    const auto argument = [&] { return takeArgument(bytes, i); };
    int n = 0;
    switch (f) {
    case '!':
        if ((n = argument()) >= 0) {
            scaleX = ((n >> 4) & 7) + 1;
            scaleY = (n & 7) + 1;
        }
        return;
    case 'h':
        if ((n = argument()) > 0)
            barcodeHeight = n;
        return;
    case 'w':
        if ((n = argument()) >= 1 && n <= 6)
            barcodeWidth = n;
        return;
    case 'H':
        if ((n = argument()) >= 0)
            hri = n & 3;
        return;
    case 'k':
        barcode(bytes, i);
        return;
    case '(': {
        if (!need(bytes, i, 5)) {
            skip(i, bytes.size() - i);
            return;
        }
        const int length = uchar(bytes.at(i + 3)) | (uchar(bytes.at(i + 4)) << 8);
        if (!need(bytes, i, 5 + length))
            skip(i, bytes.size() - i);
        else if (bytes.at(i + 2) == 'k')
            qrCode(bytes, i);
        else
            skip(i, 5 + length);
        return;
    }
    case 'v':
        rasterImage(bytes, i);
        return;
    case 'V': {
        if (!need(bytes, i, 3)) {
            skip(i, bytes.size() - i);
            return;
        }
        const int m = uchar(bytes.at(i + 2));
        const bool withFeed = m == 65 || m == 66 || m == 97 || m == 98 || m == 103 || m == 104;
        const int length = withFeed ? 4 : 3;
        if (!need(bytes, i, length)) {
            skip(i, bytes.size() - i);
            return;
        }
        const int feed = withFeed ? uchar(bytes.at(i + 3)) : 0;
        i += length;
        // Feed and cut (to the cutter and beyond, for the forms with n): at a line's start only.
        if (!line.isEmpty()) {
            skipped += length;
            return;
        }
        if (m == 65 || m == 66)
            printLine(dots(feed));
        cut(length);
        return;
    }
    case 'P':
        if (!need(bytes, i, 4)) {
            skip(i, bytes.size() - i);
            return;
        }
        motionUnit = uchar(bytes.at(i + 3)) ? uchar(bytes.at(i + 3)) : 203;
        i += 4;
        return;
    case 'B':
    case 'f':
    case 'b':
    case 'a':
    case 'r':
    case 'I':
    case '/':
        skip(i, need(bytes, i, 3) ? 3 : bytes.size() - i);
        return;
    case 'L':
    case 'W':
    case '$':
    case '\\':
        skip(i, need(bytes, i, 4) ? 4 : bytes.size() - i);
        return;
    case '8': { // GS 8 L: a graphics function with a 32-bit length
        if (!need(bytes, i, 7)) {
            skip(i, bytes.size() - i);
            return;
        }
        qint64 length = 0;
        for (int k = 3; k >= 0; --k)
            length = (length << 8) | uchar(bytes.at(i + 3 + k));
        skip(i, int(std::min<qint64>(7 + length, bytes.size() - i)));
        return;
    }
    default:
        skip(i, 2);
    }
}

void ESCPOSRenderer::reset()
{
    // The print buffer is emptied, not printed.
    line.clear();
    cursor = 0;
    fontB = bold = false;
    underline = 0;
    scaleX = scaleY = 1;
    alignment = 0;
    lineSpacing = defaultLineSpacing;
    page = 0;
    barcodeHeight = 162;
    barcodeWidth = 3;
    hri = 0;
    pageMode = false;
}

void ESCPOSRenderer::character(uchar byte)
{
    QChar c;
    if (page < CodePages::pageCount && !CodePages::chars[page].isEmpty())
        c = CodePages::chars[page].at(byte - 1);
    else if (byte < 0x80)
        c = QChar(byte);
    if (c.isNull()) {
        ++skipped; // a page the preview has no table for
        return;
    }
    addItem(styledGlyph(c));
}

const ESCPOSRenderer::Bitmap& ESCPOSRenderer::glyph(QChar c, bool fontB, bool bold)
{
    const quint32 key = c.unicode() | (fontB ? 1u << 16 : 0) | (bold ? 1u << 17 : 0);
    auto found = glyphs.constFind(key);
    if (found != glyphs.constEnd())
        return *found;

    Bitmap bitmap;
    bitmap.width = fontB ? cellB[0] : cellA[0];
    bitmap.height = fontB ? cellB[1] : cellA[1];
    bitmap.dots = QByteArray(bitmap.width * bitmap.height, '\0');
    // Fonts need a GUI application; without one the cell stays blank.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        QImage canvas(bitmap.width, bitmap.height, QImage::Format_RGB32);
        canvas.fill(Qt::white);
        QFont font(QStringLiteral("DejaVu Sans Mono"));
        font.setStyleHint(QFont::Monospace);
        font.setPixelSize(fontB ? 14 : 20);
        font.setBold(bold);
        // Thermal dots are on or off: no grey edges to threshold.
        font.setStyleStrategy(QFont::NoAntialias);
        const QFontMetrics metrics(font);
        QPainter painter(&canvas);
        painter.setFont(font);
        painter.setPen(Qt::black);
        const int baseline = (bitmap.height - metrics.height()) / 2 + metrics.ascent();
        painter.drawText(QPointF((bitmap.width - metrics.horizontalAdvance(c)) / 2.0, baseline),
                         QString(c));
        painter.end();
        for (int row = 0; row < bitmap.height; ++row) {
            const QRgb* pixels = reinterpret_cast<const QRgb*>(canvas.constScanLine(row));
            for (int x = 0; x < bitmap.width; ++x) {
                if (qGray(pixels[x]) < 128)
                    bitmap.at(x, row) = ink;
            }
        }
    }
    return *glyphs.insert(key, bitmap);
}

ESCPOSRenderer::Bitmap ESCPOSRenderer::styledGlyph(QChar c)
{
    const Bitmap& base = glyph(c, fontB, bold);
    Bitmap out;
    out.width = base.width * scaleX;
    out.height = base.height * scaleY;
    out.dots = QByteArray(out.width * out.height, '\0');
    // The printer enlarges its dots, it does not draw a larger font.
    for (int row = 0; row < out.height; ++row) {
        for (int x = 0; x < out.width; ++x)
            out.at(x, row) = base.dots.at((row / scaleY) * base.width + x / scaleX);
    }
    for (int row = out.height - underline; row < out.height; ++row) {
        for (int x = 0; x < out.width; ++x)
            out.at(x, row) = ink;
    }
    return out;
}

void ESCPOSRenderer::addItem(Bitmap bitmap)
{
    // What does not fit the line any more starts the next one.
    if (cursor + bitmap.width > width && !line.isEmpty())
        printLine(lineSpacing);
    line.append(Item{cursor, std::move(bitmap)});
    cursor += line.constLast().bitmap.width;
}

void ESCPOSRenderer::bitImage(const QByteArray& bytes, int& i)
{
    if (!need(bytes, i, 5)) {
        skip(i, bytes.size() - i);
        return;
    }
    const int mode = uchar(bytes.at(i + 2));
    const int columns = uchar(bytes.at(i + 3)) | (uchar(bytes.at(i + 4)) << 8);
    if (mode != 0 && mode != 1 && mode != 32 && mode != 33) {
        skip(i, 5);
        return;
    }
    const int columnBytes = mode >= 32 ? 3 : 1;
    if (!need(bytes, i, 5 + columns * columnBytes)) {
        skip(i, bytes.size() - i);
        return;
    }
    // Single density doubles each dot's width; 8-dot bands are a third of the resolution.
    const int dotWidth = (mode == 0 || mode == 32) ? 2 : 1;
    const int dotHeight = mode >= 32 ? 1 : 3;
    Bitmap band;
    band.width = columns * dotWidth;
    band.height = columnBytes * 8 * dotHeight;
    band.dots = QByteArray(band.width * band.height, '\0');
    const char* data = bytes.constData() + i + 5;
    for (int x = 0; x < columns; ++x) {
        for (int bit = 0; bit < columnBytes * 8; ++bit) {
            if (!(uchar(data[x * columnBytes + bit / 8]) & (0x80 >> (bit % 8))))
                continue;
            for (int dy = 0; dy < dotHeight; ++dy) {
                for (int dx = 0; dx < dotWidth; ++dx)
                    band.at(x * dotWidth + dx, bit * dotHeight + dy) = ink;
            }
        }
    }
    i += 5 + columns * columnBytes;
    addItem(std::move(band));
}

void ESCPOSRenderer::rasterImage(const QByteArray& bytes, int& i)
{
    if (!need(bytes, i, 8) || (bytes.at(i + 2) != '0' && bytes.at(i + 2) != 0)) {
        skip(i, need(bytes, i, 3) ? 3 : bytes.size() - i);
        return;
    }
    const int mode = uchar(bytes.at(i + 3)) & 3;
    const int rowBytes = uchar(bytes.at(i + 4)) | (uchar(bytes.at(i + 5)) << 8);
    const int rows = uchar(bytes.at(i + 6)) | (uchar(bytes.at(i + 7)) << 8);
    if (!need(bytes, i, 8 + qint64(rowBytes) * rows)) {
        skip(i, bytes.size() - i);
        return;
    }
    if (!line.isEmpty()) { // the printer takes it only at the start of a line
        skip(i, 8 + rowBytes * rows);
        return;
    }
    const int dotWidth = (mode & 1) ? 2 : 1;
    const int dotHeight = (mode & 2) ? 2 : 1;
    const int imageWidth = rowBytes * 8 * dotWidth;
    const int left = pageMode         ? pageLeft
                     : alignment == 1 ? std::max(0, (width - imageWidth) / 2)
                     : alignment == 2 ? std::max(0, width - imageWidth)
                                      : 0;
    // Drawn straight onto the paper: only the dots inside it are ever looked at.
    const char* data = bytes.constData() + i + 8;
    for (int row = 0; row < rows * dotHeight && !overflow; ++row) {
        Bitmap strip;
        strip.width = std::min(imageWidth, width - left);
        strip.height = 1;
        strip.dots = QByteArray(std::max(0, strip.width), '\0');
        for (int x = 0; x < strip.width; ++x) {
            const int column = x / dotWidth;
            if (uchar(data[(row / dotHeight) * rowBytes + column / 8]) & (0x80 >> (column % 8)))
                strip.at(x, 0) = ink;
        }
        draw(strip, left, y + row);
    }
    y += rows * dotHeight;
    i += 8 + rowBytes * rows;
}

void ESCPOSRenderer::printLine(int feed)
{
    int height = 0;
    for (const Item& item : qAsConst(line))
        height = std::max(height, item.bitmap.height);
    const int left = pageMode         ? pageLeft
                     : alignment == 1 ? std::max(0, (width - cursor) / 2)
                     : alignment == 2 ? std::max(0, width - cursor)
                                      : 0;
    // Characters of different heights share their baseline, the bottom of the line.
    for (const Item& item : qAsConst(line))
        draw(item.bitmap, left + item.x, y + height - item.bitmap.height);
    line.clear();
    cursor = 0;
    y += std::max(height, feed);
    if (y > maxHeight)
        overflow = true;
}

void ESCPOSRenderer::printBlock(const Bitmap& block)
{
    const int left = alignment == 1   ? std::max(0, (width - block.width) / 2)
                     : alignment == 2 ? std::max(0, width - block.width)
                                      : 0;
    draw(block, pageMode ? pageLeft : left, y);
    y += block.height;
    if (y > maxHeight)
        overflow = true;
}

void ESCPOSRenderer::draw(const Bitmap& bitmap, int x, int top)
{
    const int bottom = pageMode && pageHeight > 0 ? pageTop + pageHeight : maxHeight;
    for (int row = 0; row < bitmap.height; ++row) {
        const int target = top + row;
        if (target >= bottom) {
            overflow = overflow || target >= maxHeight;
            return;
        }
        if (target < 0)
            continue;
        const size_t needed = size_t(target + 1) * size_t(width);
        const char* source = bitmap.dots.constData() + row * bitmap.width;
        for (int column = 0; column < bitmap.width; ++column) {
            const int dot = x + column;
            if (!source[column] || dot < 0 || dot >= width)
                continue;
            if (paper.size() < needed)
                paper.resize(needed, '\0');
            paper[size_t(target) * size_t(width) + size_t(dot)] = source[column];
        }
    }
}

ESCPOSRenderer::Bitmap ESCPOSRenderer::textBitmap(const QString& text, bool fontB, char colour)
{
    Bitmap out;
    const int cellWidth = fontB ? cellB[0] : cellA[0];
    out.width = cellWidth * text.size();
    out.height = fontB ? cellB[1] : cellA[1];
    out.dots = QByteArray(out.width * out.height, '\0');
    for (int k = 0; k < text.size(); ++k) {
        const Bitmap& g = glyph(text.at(k), fontB, false);
        for (int row = 0; row < g.height; ++row) {
            for (int x = 0; x < g.width; ++x) {
                if (g.dots.at(row * g.width + x))
                    out.at(k * cellWidth + x, row) = colour;
            }
        }
    }
    return out;
}

void ESCPOSRenderer::mark(const QString& text)
{
    // A red tag at the right edge, on paper of its own: it is not printed.
    Bitmap tag = textBitmap(QStringLiteral(" %1 ").arg(text), true, markColour);
    for (int x = 0; x < tag.width; ++x)
        tag.at(x, 0) = tag.at(x, tag.height - 1) = markColour;
    for (int row = 0; row < tag.height; ++row)
        tag.at(0, row) = tag.at(tag.width - 1, row) = markColour;
    draw(tag, width - tag.width, y + 2);
    y += tag.height + 4;
}

void ESCPOSRenderer::cut(int length)
{
    if (!line.isEmpty()) { // the printer cuts only at the start of a line
        skipped += length;
        return;
    }
    Bitmap dashes;
    dashes.width = width;
    dashes.height = 2;
    dashes.dots = QByteArray(width * 2, '\0');
    for (int x = 0; x < width; ++x)
        dashes.at(x, 0) = dashes.at(x, 1) = (x / 8) % 2 ? 0 : markColour;
    draw(dashes, 0, y + 4);
    y += 12;
}

void ESCPOSRenderer::qrCode(const QByteArray& bytes, int& i)
{
    // GS ( k pL pH cn fn [parameters]; the caller checked that all of it is there.
    const int length = uchar(bytes.at(i + 3)) | (uchar(bytes.at(i + 4)) << 8);
    const int start = i;
    i += 5 + length;
    if (length < 2 || bytes.at(start + 5) != 49) { // another symbol than QR
        skipped += 5 + length;
        return;
    }
    const int function = uchar(bytes.at(start + 6));
    const int parameter = length >= 3 ? uchar(bytes.at(start + 7)) : -1;
    switch (function) {
    case 65: // model: both print alike here
        return;
    case 67:
        if (parameter >= 1 && parameter <= 16)
            qrModuleSize = parameter;
        return;
    case 69:
        if (parameter >= 48 && parameter <= 51)
            qrLevel = parameter - 48;
        return;
    case 80:
        qrData = bytes.mid(start + 8, length - 3);
        return;
    case 81: {
        int side = 0;
        const QByteArray modules = ESCCodes::qrModules(qrData, qrLevel, &side);
        if (modules.isEmpty() || !line.isEmpty()) {
            skipped += 5 + length;
            return;
        }
        Bitmap block;
        block.width = block.height = side * qrModuleSize;
        block.dots = QByteArray(block.width * block.height, '\0');
        for (int row = 0; row < block.height; ++row) {
            for (int x = 0; x < block.width; ++x)
                block.at(x, row) = modules.at((row / qrModuleSize) * side + x / qrModuleSize);
        }
        printBlock(block);
        return;
    }
    default:
        skipped += 5 + length;
    }
}

void ESCPOSRenderer::barcode(const QByteArray& bytes, int& i)
{
    if (!need(bytes, i, 3)) {
        skip(i, bytes.size() - i);
        return;
    }
    const int m = uchar(bytes.at(i + 2));
    const int start = i;
    QByteArray data;
    int function = 0;
    if (m <= 6) { // function A: the data ends with a NUL
        const int end = bytes.indexOf('\0', i + 3);
        if (end < 0) {
            skip(i, bytes.size() - i);
            return;
        }
        data = bytes.mid(i + 3, end - i - 3);
        function = m + 65;
        i = end + 1;
    } else if (m >= 65 && m <= 73) {
        if (!need(bytes, i, 4) || !need(bytes, i, 4 + uchar(bytes.at(i + 3)))) {
            skip(i, bytes.size() - i);
            return;
        }
        data = bytes.mid(i + 4, uchar(bytes.at(i + 3)));
        function = m;
        i += 4 + data.size();
    } else {
        skip(i, 3);
        return;
    }
    if (!line.isEmpty()) { // the printer takes it only at the start of a line
        skipped += i - start;
        return;
    }
    const int before = y;
    drawBarcode(function, data);
    if (y == before)
        skipped += i - start; // data the symbology cannot encode prints nothing
}

void ESCPOSRenderer::drawBarcode(int function, const QByteArray& data)
{
    QByteArray text = data;
    int symbology = 0;
    switch (function) {
    case 65:
        symbology = BARCODE_UPCA;
        break;
    case 66:
        symbology = BARCODE_UPCE;
        break;
    case 67:
    case 68:
        symbology = BARCODE_EANX;
        break;
    case 69:
        symbology = BARCODE_CODE39;
        if (text.size() >= 2 && text.startsWith('*') && text.endsWith('*'))
            text = text.mid(1, text.size() - 2);
        break;
    case 70:
        symbology = BARCODE_C25INTER;
        break;
    case 71:
        symbology = BARCODE_CODABAR;
        break;
    case 72:
        symbology = BARCODE_CODE93;
        break;
    case 73: {
        // The printer's CODE128 data names its code sets: {A, {B, {C; "{{" is a brace.
        symbology = BARCODE_CODE128;
        text.clear();
        char set = 0;
        for (int k = 0; k < data.size(); ++k) {
            const char c = data.at(k);
            if (c == '{' && k + 1 < data.size()) {
                const char next = data.at(++k);
                if (next == 'A' || next == 'B' || next == 'C')
                    set = next;
                else if (next == '{')
                    text.append('{');
                continue; // shifts and function characters carry no text
            }
            if (set == 'C' && uchar(c) < 100)
                text.append(QByteArray::number(int(uchar(c)) / 10) +
                            QByteArray::number(int(uchar(c)) % 10));
            else if (set == 'A' || set == 'B')
                text.append(c);
            else
                return; // no code set, or no pair of digits: the printer prints nothing
        }
        break;
    }
    default:
        return;
    }
    if (text.isEmpty())
        return;

    const std::unique_ptr<zint_symbol, void (*)(zint_symbol*)> symbol(ZBarcode_Create(),
                                                                      ZBarcode_Delete);
    if (!symbol)
        return;
    symbol->symbology = symbology;
    symbol->input_mode = DATA_MODE;
    if (ZBarcode_Encode(symbol.get(), reinterpret_cast<const unsigned char*>(text.constData()),
                        text.size()) >= ZINT_ERROR ||
        symbol->rows < 1 || symbol->width < 1)
        return;

    const int barsWidth = symbol->width * barcodeWidth;
    const Bitmap label =
        textBitmap(QString::fromUtf8(reinterpret_cast<const char*>(symbol->text)), false, ink);
    const int labelHeight = label.height + 4;
    Bitmap block;
    block.width = std::max(barsWidth, label.width);
    block.height = barcodeHeight + ((hri & 1) ? labelHeight : 0) + ((hri & 2) ? labelHeight : 0);
    block.dots = QByteArray(block.width * block.height, '\0');
    const int barsLeft = (block.width - barsWidth) / 2;
    const int barsTop = (hri & 1) ? labelHeight : 0;
    for (int module = 0; module < symbol->width; ++module) {
        if (!((symbol->encoded_data[0][module >> 3] >> (module & 7)) & 1))
            continue;
        for (int row = 0; row < barcodeHeight; ++row) {
            for (int dx = 0; dx < barcodeWidth; ++dx)
                block.at(barsLeft + module * barcodeWidth + dx, barsTop + row) = ink;
        }
    }
    const auto putLabel = [&](int top) {
        const int left = (block.width - label.width) / 2;
        for (int row = 0; row < label.height; ++row) {
            for (int x = 0; x < label.width; ++x)
                block.at(left + x, top + row) = label.dots.at(row * label.width + x);
        }
    };
    if (hri & 1)
        putLabel(0);
    if (hri & 2)
        putLabel(barsTop + barcodeHeight + 4);
    printBlock(block);
}
