#ifndef NATIVEESCFAKESOCKET_H
#define NATIVEESCFAKESOCKET_H

#include <QIODevice>
#include <QString>

// A QIODevice whose writes become the data of one raw CUPS job on a named queue: the owner
// writes ESC/POS bytes as if to a socket, and the print system passes them to the printer
// untouched ("application/vnd.cups-raw"). Nothing is buffered on this side.
class NativeESCFakeSocket : public QIODevice
{
    Q_OBJECT

public:
    explicit NativeESCFakeSocket(QObject* parent = nullptr);
    ~NativeESCFakeSocket() override;

    // Refuses a queue that the print system reports stopped or in error; otherwise opens the
    // device. An unknown queue passes here and fails when the job is created.
    bool connectToDevice(const QString& printerName);
    void disconnectFromDevice();

    // Creates the job and opens its only document. False when the print system refused
    // either; a job created without a document is cancelled again.
    bool startJobRequested();
    // Finishes the open document. False when there was none, when the print system refused
    // to finish it, or when a write of this job was refused (the document was already
    // finished then and is not finished twice). A job that received no data is cancelled.
    bool endJobRequested();
    bool jobStarted() const { return jobOpen; }
    // Whether the last job of this device holds a document the print system is to print.
    bool jobSent() const { return jobId > 0; }

    struct Outcome
    {
        bool printed = false;
        QString reason; // why not: a job-state-reasons keyword of the print system, or "timeout"
    };
    // Follows the last job until the print system is done with it. A job that did not
    // complete within timeoutMs, or that waits on a stopped queue, is cancelled so that it can
    // never print later: a receipt is either printed and reported so, or not printed at all.
    Outcome waitForOutcome(int timeoutMs);

    // A refused write finishes the document and cancels the job at once; later writes of the
    // same job send nothing and return 0.
    bool writeRefused() const { return writeFailed; }
    // Why the queue, the job or a write was refused: "printer-stopped" or the print system's
    // status keyword (for example "server-error-not-accepting-jobs").
    QString refusal() const { return refusedBecause; }

    void close() override;
    qint64 bytesAvailable() const override;
    qint64 bytesToWrite() const override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 len) override;

private:
    void endSubscription();
    QByteArray queueUri() const;

    QString printerName;
    qint32 bytesPending = 0;
    bool connected = false;
    bool jobOpen = false;
    bool writeFailed = false;
    bool documentEmpty = true;
    int jobId = 0;
    int subscriptionId = 0; // the job's own event feed; it outlives the job's record
    QString refusedBecause;
};

#endif // NATIVEESCFAKESOCKET_H
