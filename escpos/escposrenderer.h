#ifndef ESCPOSRENDERER_H
#define ESCPOSRENDERER_H

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QString>
#include <QVector>

#include <vector>

// Draws ESC/POS bytes as a 203 dpi receipt printer prints them: the subset the connector sends
// (text in the printer's code pages, fonts A 12x24 and B 9x17, double width and height, bold,
// underline, alignment, line spacing, bit images and raster images, page mode, QR codes and
// barcodes), plus the common style commands of callers with their own bytes. A cut is drawn as
// a dashed line and a drawer pulse as a marker, both in red: the printer draws neither.
// Commands it does not draw are skipped whole where their length is known, and counted.
//
// Text needs a QGuiApplication (fonts); QR codes come from libqrencode, barcodes from zint.
class ESCPOSRenderer
{
public:
    // Longest receipt drawn, in dots (8 m of paper); what follows is left out and reported.
    static constexpr int maxHeight = 65'535;

    explicit ESCPOSRenderer(int paperWidth = 576);

    // Interprets the bytes of one job onto the paper.
    void render(const QByteArray& bytes);
    // The paper so far, as tall as the paper fed: white, black ink, red marks.
    QImage image() const;
    static QByteArray toPng(const QImage& image);

    // Bytes that were not drawn: unknown commands, characters without a glyph, commands the
    // preview does not show.
    int skippedBytes() const { return skipped; }
    bool tooLong() const { return overflow; }

private:
    // One dot per byte: 0 white, 1 ink, 2 mark.
    struct Bitmap
    {
        int width = 0;
        int height = 0;
        QByteArray dots;
        char& at(int x, int y) { return dots.data()[y * width + x]; }
    };
    struct Item
    {
        int x;
        Bitmap bitmap;
    };

    void command(const QByteArray& bytes, int& i);
    void escape(const QByteArray& bytes, int& i);
    void groupSeparator(const QByteArray& bytes, int& i);
    void reset();
    bool need(const QByteArray& bytes, int i, qint64 count);
    void skip(int& i, int count);
    // The one-byte argument of the three-byte command at i, stepping over the command; -1
    // (and the rest skipped) when the bytes end first.
    int takeArgument(const QByteArray& bytes, int& i);

    void character(uchar byte);
    const Bitmap& glyph(QChar c, bool fontB, bool bold);
    Bitmap styledGlyph(QChar c);
    void addItem(Bitmap bitmap);
    void bitImage(const QByteArray& bytes, int& i);
    void rasterImage(const QByteArray& bytes, int& i);
    // Prints the line buffer and feeds at least feed dots (a line is never less than its
    // tallest item).
    void printLine(int feed);
    void printBlock(const Bitmap& block);
    void draw(const Bitmap& bitmap, int x, int y);
    void mark(const QString& text);
    void cut(int length);

    void qrCode(const QByteArray& bytes, int& i);
    void barcode(const QByteArray& bytes, int& i);
    void drawBarcode(int function, const QByteArray& data);
    Bitmap textBitmap(const QString& text, bool fontB, char colour);
    int dots(int units) const;

    const int width;
    std::vector<char> paper; // width dots a row
    int y = 0;
    int skipped = 0;
    bool overflow = false;

    QVector<Item> line;
    int cursor = 0;

    // The printer's state, as ESC @ leaves it.
    bool fontB = false;
    bool bold = false;
    int underline = 0;
    int scaleX = 1;
    int scaleY = 1;
    int alignment = 0;
    int lineSpacing = 30;
    int page = 0;
    int motionUnit = 203; // vertical motion unit: 1/motionUnit inch
    int barcodeHeight = 162;
    int barcodeWidth = 3;
    int hri = 0;
    int qrModuleSize = 3;
    int qrLevel = 0;
    QByteArray qrData;
    bool pageMode = false;
    int pageTop = 0;
    int pageHeight = 0;
    int pageLeft = 0;

    QHash<quint32, Bitmap> glyphs;
};

#endif // ESCPOSRENDERER_H
