#ifndef ESCCODES_H
#define ESCCODES_H

#include <QByteArray>
#include <QImage>
#include <QJsonObject>
#include <QString>

// QR codes and barcodes: the job's "qrcode" and "barcode" commands checked and turned into the
// printer's own functions (GS ( k, GS k), and QR codes as pictures. Stateless.
class ESCCodes
{
public:
    // A QR code command: the text as UTF-8, module size in dots, error correction 0 to 3
    // (L, M, Q, H).
    struct QrCode
    {
        QByteArray data;
        int moduleSize = 6;
        int level = 1;
        bool image = false;
    };

    // A barcode command as the printer's function B takes it: m (65 UPC-A ... 73 CODE128)
    // and the data bytes, with GS h, GS w and GS H values.
    struct Barcode
    {
        int function = 0;
        QByteArray data;
        int height = 80;
        int width = 3;
        int hri = 2;
    };

    // Reads a "qrcode" command's data; false with the reason (naming the op) when the text is
    // empty or cannot fit a QR code at that error correction.
    static bool parseQrCode(const QJsonObject& data, QrCode* code, QString* error);
    // Reads a "barcode" command's data; false with the reason (naming the op) when the
    // symbology cannot encode the data: wrong length, check digit or characters.
    static bool parseBarcode(const QJsonObject& data, Barcode* code, QString* error);

    // GS ( k: model 2, module size, error correction, store, print.
    static QByteArray qrCodeBytes(const QrCode& code);
    // GS h, GS w, GS H, then GS k in its function B form.
    static QByteArray barcodeBytes(const Barcode& code);

    // The QR code as the printer draws it: moduleSize dots a module, black on white, no quiet
    // zone (the paper around is the quiet zone). Null when the data does not fit.
    static QImage qrCodeImage(const QByteArray& data, int level, int moduleSize);

    // The modules of data's QR code at level, from libqrencode (modes chosen for the shortest
    // symbol, bytes in 8-bit mode): side * side bytes row by row, 1 for dark. Empty when the
    // data does not fit version 40.
    static QByteArray qrModules(const QByteArray& data, int level, int* side);
};

#endif // ESCCODES_H
