#include "printjob.h"

#include "esccodes.h"
#include "esccommands.h"
#include "escimagemanager.h"
#include "escposrenderer.h"
#include "esctools.h"
#include "nativeescfakesocket.h"

#include <QBuffer>
#include <QDebug>
#include <QEventLoop>
#include <QImageReader>
#include <QJsonValue>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <cmath>
#include <limits>

namespace {

// A member's integer value: only a JSON number with a whole value that fits an int counts.
int intMember(const QJsonValue& value, int fallback)
{
    if (!value.isDouble())
        return fallback;
    const double d = value.toDouble();
    if (d != std::trunc(d) || d < std::numeric_limits<int>::min() ||
        d > std::numeric_limits<int>::max())
        return fallback;
    return int(d);
}

bool boolMember(const QJsonValue& value, bool fallback)
{
    return value.isBool() ? value.toBool() : fallback;
}

} // namespace

PrintJob::PrintJob(const QJsonArray& jobs, const QString& printerName, bool compatibilityMode,
                   QObject* parent)
    : QObject(parent)
    , outputDevice(new NativeESCFakeSocket(this))
    , jobs(jobs)
    , printerName(printerName)
    , compatibilityMode(compatibilityMode)
{
}

bool PrintJob::execute()
{
    failureReason.clear();
    if (!validate())
        return false;
    // The first write creates the print system's job: it refuses a document without data, and
    // a job created with nothing to print would stay on the queue, never completed.
    if (!outputDevice->connectToDevice(printerName)) {
        failureReason = outputDevice->refusal();
        return false;
    }

    runCommands();

    if (!outputDevice->jobStarted()) {
        // nothing to print, or the job could not be created
        failureReason = outputDevice->refusal();
        return !writeFailed;
    }
    const bool finished = outputDevice->endJobRequested() && !writeFailed;
    if (!finished)
        failureReason = outputDevice->refusal();
    return finished;
}

bool PrintJob::collectBytes(QByteArray* bytes)
{
    if (!validate())
        return false;
    captured = bytes;
    runCommands();
    captured = nullptr;
    return true;
}

bool PrintJob::preview(int paperWidth, QByteArray* png)
{
    QByteArray bytes;
    if (!collectBytes(&bytes))
        return false;
    ESCPOSRenderer renderer(paperWidth);
    renderer.render(bytes);
    if (renderer.tooLong()) {
        failureReason = QStringLiteral("preview: the receipt is longer than %1 dots")
                            .arg(ESCPOSRenderer::maxHeight);
        return false;
    }
    *png = ESCPOSRenderer::toPng(renderer.image());
    return true;
}

void PrintJob::runCommands()
{
    if (!compatibilityMode)
        setDefaultPrinterSettings();

    for (const QJsonValue& element : qAsConst(jobs)) {
        // Once the print system refused data the job is lost; the rest is not worth making.
        if (writeFailed)
            break;
        if (element.isObject())
            runCommand(element.toObject());
    }
    flush();
}

bool PrintJob::waitForOutcome(int timeoutMs)
{
    if (!outputDevice->jobSent())
        return true;
    const NativeESCFakeSocket::Outcome outcome = outputDevice->waitForOutcome(timeoutMs);
    failureReason = outcome.reason;
    return outcome.printed;
}

bool PrintJob::validate()
{
    for (const QJsonValue& element : qAsConst(jobs)) {
        const QJsonObject command = element.toObject();
        const QString op = command.value(QLatin1String("op")).toString();
        const QJsonValue data = command.value(QLatin1String("data"));
        if (!data.isObject())
            continue;
        QString error;
        bool valid = true;
        if (op == QLatin1String("qrcode")) {
            ESCCodes::QrCode code;
            valid = ESCCodes::parseQrCode(data.toObject(), &code, &error);
        } else if (op == QLatin1String("barcode")) {
            ESCCodes::Barcode code;
            valid = ESCCodes::parseBarcode(data.toObject(), &code, &error);
        } else if (op == QLatin1String("raw")) {
            QByteArray bytes;
            valid = decodeRaw(data.toObject(), &bytes, &error);
        }
        if (!valid) {
            failureReason = error;
            return false;
        }
    }
    return true;
}

void PrintJob::runCommand(const QJsonObject& command)
{
    const QString op = command.value(QLatin1String("op")).toString();
    const QJsonValue data = command.value(QLatin1String("data"));

    if (op == QLatin1String("settings") && data.isObject())
        setSettings(data.toObject());
    else if (op == QLatin1String("double") && data.isObject())
        setTextDouble(data.toObject());
    else if (op == QLatin1String("condensed"))
        setCondensed(boolMember(data, false));
    else if (op == QLatin1String("style") && data.isObject())
        setStyle(data.toObject());
    else if (op == QLatin1String("alignment"))
        setAlignment(intMember(data, 0));
    else if (op == QLatin1String("cut") && data.isString())
        setCut(data.toString());
    else if (op == QLatin1String("pulse") && data.isObject())
        setPulse(data.toObject());
    else if (op == QLatin1String("text") && data.isString())
        setText(data.toString());
    else if (op == QLatin1String("image") && data.isString())
        setImage(data.toString());
    else if (op == QLatin1String("qrcode") && data.isObject())
        setQrCode(data.toObject());
    else if (op == QLatin1String("barcode") && data.isObject())
        setBarcode(data.toObject());
    else if (op == QLatin1String("raw") && data.isObject())
        setRaw(data.toObject());
}

void PrintJob::send(const QByteArray& bytes)
{
    if (bytes.isEmpty() || writeFailed)
        return;
    // Every write to the print system is a round of its own; the bytes go in large pieces.
    unsent += bytes;
    if (unsent.size() >= writeChunk)
        flush();
}

void PrintJob::flush()
{
    if (unsent.isEmpty() || writeFailed)
        return;
    if (captured) {
        captured->append(unsent);
        unsent.clear();
        return;
    }
    if (outputDevice->write(unsent) != unsent.size())
        writeFailed = true;
    unsent.clear();
}

void PrintJob::applyStyle()
{
    // All five flags go out every time: ESC ! replaces the whole print mode.
    char mode = 0;
    if (condensed)
        mode |= 0x01;
    if (emphasized)
        mode |= 0x08;
    if (doubleHeight)
        mode |= 0x10;
    if (doubleWidth)
        mode |= 0x20;
    if (underlined)
        mode |= char(0x80);
    styleKnown = true;
    send(EscPos::selectPrintMode + mode);
}

void PrintJob::setDefaultPrinterSettings()
{
    doubleWidth = doubleHeight = condensed = emphasized = underlined = false;
    alignment = -1;
    send(EscPos::initialize);
    // Prints a line feed, after ESC t 0 as every text: the printer starts in page 0.
    setText(QStringLiteral("\n"));
}

void PrintJob::setSettings(const QJsonObject& settings)
{
    normalLineWidth = intMember(settings.value(QLatin1String("normalLineWidth")), 48);
    condensedLineWidth = intMember(settings.value(QLatin1String("condensedLineWidth")), 64);
    hasCutter = boolMember(settings.value(QLatin1String("hasCutter")), false);
    hasDrawer = boolMember(settings.value(QLatin1String("hasDrawer")), false);
    lowDensity = boolMember(settings.value(QLatin1String("lowDensity")), false);
    imagePrintMode = intMember(settings.value(QLatin1String("imagePrintMode")), 0);
    alternativeCharset = boolMember(settings.value(QLatin1String("alternativeCharset")), false);
    replaceAccentedChars = boolMember(settings.value(QLatin1String("replaceAccentedChars")), false);
}

void PrintJob::setTextDouble(const QJsonObject& data)
{
    const bool height = boolMember(data.value(QLatin1String("height")), false);
    const bool width = boolMember(data.value(QLatin1String("width")), false);
    if (height == doubleHeight && width == doubleWidth && styleKnown)
        return;
    doubleHeight = height;
    doubleWidth = width;
    applyStyle();
}

void PrintJob::setCondensed(bool condensed)
{
    if (condensed == this->condensed && styleKnown)
        return;
    this->condensed = condensed;
    applyStyle();
}

void PrintJob::setStyle(const QJsonObject& data)
{
    const bool newEmphasized = boolMember(data.value(QLatin1String("emphasized")), false);
    const bool newUnderlined = boolMember(data.value(QLatin1String("underlined")), false);
    if (newEmphasized == emphasized && newUnderlined == underlined && styleKnown)
        return;
    emphasized = newEmphasized;
    underlined = newUnderlined;
    applyStyle();
}

void PrintJob::setAlignment(int alignment)
{
    if (alignment < 0 || alignment > 2)
        alignment = 0;
    if (alignment == this->alignment)
        return;
    this->alignment = alignment;
    send(EscPos::selectJustification + char(alignment));
}

void PrintJob::setCut(const QString& cut)
{
    if (!hasCutter)
        return;
    if (cut == QLatin1String("no_feed"))
        send(EscPos::cutPartial);
    else
        send(EscPos::feedAndCutPartial + char(10));
}

void PrintJob::setPulse(const QJsonObject& data)
{
    if (!hasDrawer)
        return;
    int drawer = intMember(data.value(QLatin1String("drawer")), 0);
    if (drawer != 0 && drawer != 1)
        drawer = 0;
    int pulse = intMember(data.value(QLatin1String("pulse")), 50);
    if (pulse < 50 || pulse > 250)
        pulse = 50;
    QByteArray bytes = EscPos::generatePulse;
    bytes.append(char(drawer));
    bytes.append(char(pulse));
    bytes.append(char(250)); // off time
    send(bytes);
}

void PrintJob::setText(const QString& text)
{
    int width = condensed ? condensedLineWidth : normalLineWidth;
    if (doubleWidth)
        width /= 2;
    const QString wrapped = ESCTools::wrapText(text, width, replaceAccentedChars);
    send(ESCTools::characterSetParser(wrapped, alternativeCharset));
    if (!wrapped.isEmpty())
        lineOpen = !wrapped.endsWith(QLatin1Char('\n'));
}

void PrintJob::setImage(const QString& source)
{
    QImage image;
    if (source.startsWith(QLatin1String("http"))) {
        image = fetchImage(source);
    } else {
        // Both a data URI (base64 after its first comma) and bare base64 work.
        const int comma = source.indexOf(QLatin1Char(','));
        const QByteArray data = QByteArray::fromBase64(source.mid(comma + 1).toLatin1());
        image = decodeImage(data, "PNG");
    }
    qDebug() << "image" << image.width() << image.height();
    printImage(image);
}

void PrintJob::printImage(const QImage& image)
{
    int targetWidth = image.width();
    int targetHeight = image.height();
    if (lowDensity) {
        targetWidth = int(float(image.width()) * 0.5f);
        targetHeight = int(float(image.height()) * 0.33333334f);
    }

    {
        ESCImageManager manager;
        manager.setImage(image, targetWidth, targetHeight, !lowDensity, imagePrintMode,
                         compatibilityMode);
        send(manager.getBytesToSend());
    }

    if (!compatibilityMode)
        setDefaultPrinterSettings();
}

void PrintJob::startLine()
{
    if (lineOpen)
        send(QByteArray("\n"));
    lineOpen = false;
}

void PrintJob::setQrCode(const QJsonObject& data)
{
    ESCCodes::QrCode code;
    QString error;
    if (!ESCCodes::parseQrCode(data, &code, &error))
        return; // refused by validate() before the job started
    startLine();
    if (code.image)
        printImage(ESCCodes::qrCodeImage(code.data, code.level, code.moduleSize));
    else
        send(ESCCodes::qrCodeBytes(code));
}

void PrintJob::setBarcode(const QJsonObject& data)
{
    ESCCodes::Barcode code;
    QString error;
    if (!ESCCodes::parseBarcode(data, &code, &error))
        return;
    startLine();
    send(ESCCodes::barcodeBytes(code));
}

void PrintJob::setRaw(const QJsonObject& data)
{
    QByteArray bytes;
    QString error;
    if (!decodeRaw(data, &bytes, &error))
        return;
    send(bytes);
    // The caller's bytes may have changed alignment and style: the next such command is sent
    // whatever this job last set.
    alignment = -1;
    styleKnown = false;
    lineOpen = false;
}

bool PrintJob::decodeRaw(const QJsonObject& data, QByteArray* bytes, QString* error)
{
    const QJsonValue value = data.value(QLatin1String("base64"));
    if (!value.isString()) {
        *error = QStringLiteral("raw: base64 must be a string");
        return false;
    }
    // Line breaks and blanks, as encoders wrap their output, are not part of the data.
    QByteArray encoded = value.toString().toLatin1();
    encoded.replace('\n', QByteArray()).replace('\r', QByteArray()).replace(' ', QByteArray());
    if (encoded.size() / 4 * 3 > maxImageDownload + 3) {
        *error = QStringLiteral("raw: more than %1 bytes").arg(maxImageDownload);
        return false;
    }
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        *error = QStringLiteral("raw: base64 is not valid");
        return false;
    }
    if (decoded.decoded.size() > maxImageDownload) {
        *error = QStringLiteral("raw: more than %1 bytes").arg(maxImageDownload);
        return false;
    }
    *bytes = decoded.decoded;
    return true;
}

QImage PrintJob::fetchImage(const QString& address)
{
    qDebug() << "will fetch" << address;
    QNetworkAccessManager manager;
    QNetworkRequest request{QUrl(address)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = manager.get(request);

    bool cutShort = false;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, reply, [reply, &cutShort] {
        qCritical() << "image fetch timed out:" << reply->url().toString();
        cutShort = true;
        reply->abort();
    });
    // The announced size is checked as soon as the headers arrive, the received size as
    // data comes in (a server may announce nothing).
    const auto tooLarge = [reply, &cutShort](qint64 size) {
        if (cutShort || size <= maxImageDownload)
            return;
        qCritical() << "image too large to fetch:" << reply->url().toString();
        cutShort = true;
        reply->abort();
    };
    connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, tooLarge] {
        tooLarge(reply->header(QNetworkRequest::ContentLengthHeader).toLongLong());
    });
    connect(reply, &QNetworkReply::readyRead, reply,
            [reply, tooLarge] { tooLarge(reply->bytesAvailable()); });

    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    timer.start(imageFetchTimeout);
    if (!reply->isFinished())
        loop.exec();
    qDebug() << "fetched, I guess?";

    // Whatever arrived of a cut-short download is not an image to print.
    const QByteArray data = cutShort ? QByteArray() : reply->readAll();
    delete reply;
    const QImage image = decodeImage(data, nullptr);
    qDebug() << "loaded as PNG";
    return image;
}

QImage PrintJob::decodeImage(const QByteArray& data, const char* format)
{
    if (data.isEmpty())
        return QImage();
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    // Refuse images whose decoded size would exhaust memory before decoding them.
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > ESCImageManager::maxImageSide ||
        size.height() > ESCImageManager::maxImageSide ||
        qint64(size.width()) * size.height() > ESCImageManager::maxImagePixels) {
        if (size.isValid())
            qCritical() << "image too large to print:" << size;
        return QImage();
    }
    return reader.read();
}
