#include "esccodes.h"

#include "esccommands.h"

#include <QJsonValue>

#include <qrencode.h>

#include <cmath>

namespace {

// A whole JSON number inside [low, high]; anything else takes the default, as for every
// other command's numbers.
int boundedMember(const QJsonValue& value, int low, int high, int fallback)
{
    if (!value.isDouble())
        return fallback;
    const double d = value.toDouble();
    if (d != std::trunc(d) || d < low || d > high)
        return fallback;
    return int(d);
}

bool allDigits(const QByteArray& data)
{
    for (const char c : data) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// The EAN/UPC check digit of the digits before it: weights 3 and 1 from the right.
char eanCheckDigit(const QByteArray& digits)
{
    int sum = 0;
    for (int i = 0; i < digits.size(); ++i) {
        const int weight = ((digits.size() - i) % 2) ? 3 : 1;
        sum += (digits.at(i) - '0') * weight;
    }
    return char('0' + (10 - sum % 10) % 10);
}

// EAN-13, EAN-8 and UPC-A: the digits without their check digit, which the printer adds;
// a given check digit must be right.
bool eanDigits(const char* type, int length, QByteArray* data, QString* error)
{
    if ((data->size() != length && data->size() != length + 1) || !allDigits(*data)) {
        *error = QStringLiteral("barcode: %1 data must be %2 or %3 digits")
                     .arg(QLatin1String(type))
                     .arg(length)
                     .arg(length + 1);
        return false;
    }
    const char check = eanCheckDigit(data->left(length));
    if (data->size() == length + 1 && data->at(length) != check) {
        *error = QStringLiteral("barcode: %1 check digit must be %2, not %3")
                     .arg(QLatin1String(type), QChar(check), QChar(data->at(length)));
        return false;
    }
    data->truncate(length);
    return true;
}

struct Symbology
{
    const char* name;
    int function; // m of GS k, function B
};

const Symbology symbologies[] = {
    {"UPCA", 65}, {"EAN13", 67}, {"EAN8", 68}, {"CODE39", 69}, {"ITF", 70}, {"CODE128", 73},
};

} // namespace

bool ESCCodes::parseQrCode(const QJsonObject& data, QrCode* code, QString* error)
{
    code->data = data.value(QLatin1String("data")).toString().toUtf8();
    code->moduleSize = boundedMember(data.value(QLatin1String("size")), 1, 16, 6);
    const QString ecc = data.value(QLatin1String("ecc")).toString();
    static const QString levels = QStringLiteral("LMQH");
    code->level = ecc.size() == 1 && levels.contains(ecc) ? levels.indexOf(ecc) : 1;
    code->image = data.value(QLatin1String("image")).toBool(false);
    if (code->data.isEmpty()) {
        *error = QStringLiteral("qrcode: data is empty");
        return false;
    }
    int side = 0;
    if (qrModules(code->data, code->level, &side).isEmpty()) {
        *error = QStringLiteral("qrcode: %1 bytes do not fit a QR code at error correction %2")
                     .arg(code->data.size())
                     .arg(levels.at(code->level));
        return false;
    }
    return true;
}

bool ESCCodes::parseBarcode(const QJsonObject& data, Barcode* code, QString* error)
{
    const QString type = data.value(QLatin1String("type")).toString();
    code->function = 0;
    for (const Symbology& symbology : symbologies) {
        if (type == QLatin1String(symbology.name))
            code->function = symbology.function;
    }
    if (code->function == 0) {
        *error = QStringLiteral("barcode: type must be CODE128, EAN13, EAN8, UPCA, CODE39 or ITF");
        return false;
    }
    code->height = boundedMember(data.value(QLatin1String("height")), 1, 255, 80);
    code->width = boundedMember(data.value(QLatin1String("width")), 2, 6, 3);
    static const QStringList positions = {QStringLiteral("none"), QStringLiteral("above"),
                                          QStringLiteral("below"), QStringLiteral("both")};
    const int hri = positions.indexOf(data.value(QLatin1String("hri")).toString());
    code->hri = hri >= 0 ? hri : 2;

    const QString text = data.value(QLatin1String("data")).toString();
    if (text.isEmpty()) {
        *error = QStringLiteral("barcode: data is empty");
        return false;
    }
    // Every symbology here encodes ASCII only; a character outside it is named.
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e) {
            *error = QStringLiteral("barcode: %1 cannot encode U+%2")
                         .arg(type)
                         .arg(c.unicode(), 4, 16, QLatin1Char('0'));
            return false;
        }
    }
    QByteArray bytes = text.toLatin1();
    switch (code->function) {
    case 65:
        if (!eanDigits("UPCA", 11, &bytes, error))
            return false;
        break;
    case 67:
        if (!eanDigits("EAN13", 12, &bytes, error))
            return false;
        break;
    case 68:
        if (!eanDigits("EAN8", 7, &bytes, error))
            return false;
        break;
    case 69: {
        // The printer adds the start and stop characters (*) itself.
        static const QByteArray alphabet("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ -.$/+%");
        for (const char c : qAsConst(bytes)) {
            if (!alphabet.contains(c)) {
                *error = QStringLiteral("barcode: CODE39 cannot encode \"%1\" (digits, capital "
                                        "letters, space and - . $ / + %)")
                             .arg(QLatin1Char(c));
                return false;
            }
        }
        if (bytes.size() > 255) {
            *error = QStringLiteral("barcode: CODE39 data must be 255 characters at most");
            return false;
        }
        break;
    }
    case 70:
        if (!allDigits(bytes) || bytes.size() % 2 != 0 || bytes.size() > 254) {
            *error = QStringLiteral("barcode: ITF data must be an even number of digits, 254 at "
                                    "most");
            return false;
        }
        break;
    case 73: {
        // Code set C packs two digits into one symbol; anything else goes in code set B,
        // where a brace is written twice.
        QByteArray encoded;
        if (allDigits(bytes) && bytes.size() % 2 == 0) {
            encoded = "{C";
            for (int i = 0; i < bytes.size(); i += 2)
                encoded.append(char((bytes.at(i) - '0') * 10 + bytes.at(i + 1) - '0'));
        } else {
            encoded = "{B" + QByteArray(bytes).replace('{', "{{");
        }
        if (encoded.size() > 255) {
            *error =
                QStringLiteral("barcode: CODE128 data too long (%1 characters)").arg(bytes.size());
            return false;
        }
        bytes = encoded;
        break;
    }
    }
    code->data = bytes;
    return true;
}

QByteArray ESCCodes::qrCodeBytes(const QrCode& code)
{
    QByteArray out;
    // Each function: GS ( k, the length of what follows (pL pH), cn 49 (QR code), fn.
    out.append(EscPos::symbol).append("\x04\x00\x31\x41\x32\x00", 6); // model 2
    out.append(EscPos::symbol).append("\x03\x00\x31\x43", 4);         // module size
    out.append(char(code.moduleSize));
    out.append(EscPos::symbol).append("\x03\x00\x31\x45", 4); // error correction
    out.append(char(48 + code.level));
    const int stored = code.data.size() + 3;
    out.append(EscPos::symbol); // store the data
    out.append(char(stored & 0xff));
    out.append(char(stored >> 8));
    out.append("\x31\x50\x30", 3);
    out.append(code.data);
    out.append(EscPos::symbol).append("\x03\x00\x31\x51\x30", 5); // print
    return out;
}

QByteArray ESCCodes::barcodeBytes(const Barcode& code)
{
    QByteArray out;
    out.append(EscPos::barcodeHeight).append(char(code.height));
    out.append(EscPos::barcodeWidth).append(char(code.width));
    out.append(EscPos::hriPosition).append(char(code.hri));
    out.append(EscPos::printBarcode).append(char(code.function)).append(char(code.data.size()));
    out.append(code.data);
    return out;
}

QByteArray ESCCodes::qrModules(const QByteArray& data, int level, int* side)
{
    const auto qrLevel = QRecLevel(QR_ECLEVEL_L + level);
    // A NUL cannot pass through the string interface; such data is encoded as bytes alone.
    QRcode* symbol =
        data.contains('\0')
            ? QRcode_encodeData(data.size(), reinterpret_cast<const unsigned char*>(data.data()), 0,
                                qrLevel)
            : QRcode_encodeString(data.constData(), 0, qrLevel, QR_MODE_8, 1);
    *side = 0;
    if (!symbol)
        return QByteArray();
    QByteArray modules(symbol->width * symbol->width, Qt::Uninitialized);
    for (int i = 0; i < modules.size(); ++i)
        modules[i] = char(symbol->data[i] & 1);
    *side = symbol->width;
    QRcode_free(symbol);
    return modules;
}

QImage ESCCodes::qrCodeImage(const QByteArray& data, int level, int moduleSize)
{
    int side = 0;
    const QByteArray modules = qrModules(data, level, &side);
    if (modules.isEmpty() || moduleSize < 1)
        return QImage();
    QImage image(side * moduleSize, side * moduleSize, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 0; y < image.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        const char* modulesRow = modules.constData() + (y / moduleSize) * side;
        for (int x = 0; x < image.width(); ++x) {
            if (modulesRow[x / moduleSize])
                row[x] = qRgb(0, 0, 0);
        }
    }
    return image;
}
