#ifndef PRINTJOB_H
#define PRINTJOB_H

#include <QByteArray>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

class NativeESCFakeSocket;

// One print request of the web application: interprets its JSON command array in order,
// tracks the printer's style and settings, and streams the ESC/POS bytes of each command to a
// raw job on the print queue as soon as they are made.
class PrintJob : public QObject
{
    Q_OBJECT

public:
    // Limits of an image fetched from an address: the job must not hang on a server that
    // never answers, nor fill memory with an endless download.
    static constexpr int imageFetchTimeout = 10'000; // ms, whole request
    static constexpr qint64 maxImageDownload = 32 * 1024 * 1024;

    PrintJob(const QJsonArray& jobs, const QString& printerName, bool compatibilityMode,
             QObject* parent = nullptr);

    // Runs the whole job. True only when the queue accepted the job and every byte of it
    // reached the print system and the document was finished; a job with no bytes creates
    // no job on the queue and is done.
    bool execute();
    // Runs the job without a print system: bytes receives exactly what execute() would send,
    // for a preview. False, with reason(), when a command is invalid.
    bool collectBytes(QByteArray* bytes);
    // The receipt as a paperWidth dots wide printer would print these bytes, as a PNG. False,
    // with reason(), when a command is invalid or the receipt is too long to draw.
    bool preview(int paperWidth, QByteArray* png);
    // Why the last execute() failed, in words for the web application's developer: the
    // print system's reason or the job's own fault. Empty after a success.
    QString reason() const { return failureReason; }
    // After a successful execute(): follows the job until the print system printed it, and
    // cancels it when it did not within timeoutMs (see NativeESCFakeSocket::waitForOutcome).
    // True for a job that had nothing to print.
    bool waitForOutcome(int timeoutMs);

    void setSettings(const QJsonObject& settings);
    void setTextDouble(const QJsonObject& data);
    void setCondensed(bool condensed);
    void setStyle(const QJsonObject& data);
    void setAlignment(int alignment);
    void setCut(const QString& cut);
    void setPulse(const QJsonObject& data);
    void setText(const QString& text);
    void setImage(const QString& source);
    void setQrCode(const QJsonObject& data);
    void setBarcode(const QJsonObject& data);
    void setRaw(const QJsonObject& data);

    void applyStyle();
    void setDefaultPrinterSettings();

private:
    void runCommand(const QJsonObject& command);
    // Checks the commands that can be invalid (codes, raw bytes) before anything is sent: a
    // receipt must not stop half printed. False with failureReason set.
    bool validate();
    void runCommands();
    void printImage(const QImage& image);
    // A QR code or barcode is printed only at the start of a line.
    void startLine();
    static bool decodeRaw(const QJsonObject& data, QByteArray* bytes, QString* error);
    // Queues bytes for the print system; they leave in pieces of writeChunk and at the end.
    void send(const QByteArray& bytes);
    void flush();
    QImage fetchImage(const QString& address);
    static QImage decodeImage(const QByteArray& data, const char* format);

    NativeESCFakeSocket* outputDevice;
    QJsonArray jobs;
    QString printerName;
    int normalLineWidth = 48;
    int condensedLineWidth = 64;
    bool hasCutter = true;
    bool hasDrawer = true;
    bool lowDensity = false;
    int imagePrintMode = 0;
    bool alternativeCharset = false;
    bool replaceAccentedChars = false;
    bool doubleWidth = false;
    bool doubleHeight = false;
    bool condensed = false;
    bool emphasized = false;
    bool underlined = false;
    int alignment = -1;
    bool compatibilityMode;
    bool writeFailed = false;
    QString failureReason;
    QByteArray unsent;
    QByteArray* captured = nullptr; // collectBytes' output instead of the print system
    bool lineOpen = false;          // the last text left a line without its line feed
    bool styleKnown = true;         // false after raw bytes, which may have changed it
    static constexpr int writeChunk = 64 * 1024;
};

#endif // PRINTJOB_H
