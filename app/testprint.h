#ifndef TESTPRINT_H
#define TESTPRINT_H

#include <QJsonArray>
#include <QObject>
#include <QString>
#include <QThread>

/**
 * The printer list's test print: a short receipt with accented Portuguese and Spanish text, the
 * euro sign, a QR code, a barcode and a cut, headed in the window's language (the installed
 * translation). It runs on a thread of its own, so the window stays responsive while the
 * print system takes the job.
 */
class TestPrint : public QObject
{
    Q_OBJECT

public:
    explicit TestPrint(QObject* parent = nullptr);
    /** Waits for a test print still running: it reports to this object. */
    ~TestPrint() override;

    static QJsonArray job(const QString& printerName);

    /**
     * Prints the sample on a queue, or saves it in previewFolder when that is not empty (the
     * preview printer). finished() reports the outcome: printed only once the printer took it
     * within timeoutMs.
     */
    void start(const QString& printerName, bool compatibilityMode, const QString& previewFolder,
               int timeoutMs);

signals:
    void finished(const QString& printerName, bool printed, const QString& reason);

private:
    QList<QThread*> running;
};

#endif
