#ifndef RAWPRINTER_H
#define RAWPRINTER_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QThread>

class QTcpSocket;

// A receipt printer for the tests: a raw queue on the sandboxed scheduler (CUPS_SERVER) whose
// device is socket://127.0.0.1:PORT, and the listener on that port. Every connection of the
// scheduler's socket backend is one job; its bytes count once the backend has closed it.
// The queue is removed again on destruction. Like a real device it answers on a thread of its
// own, whatever the test's thread is waiting for.
class RawPrinter : public QObject
{
    Q_OBJECT

public:
    explicit RawPrinter(QObject* parent = nullptr);
    ~RawPrinter() override;

    // False (with the reason in error()) when the queue could not be made.
    bool create();
    QString queueName() const { return name; }
    QString error() const { return lastError; }

    bool disable();
    // Sets the queue's printer-state-reasons, as a driver reporting paper out would.
    bool setReasons(const QStringList& reasons);
    // The device as an unplugged printer (connections refused) or as one that takes the
    // connection and never answers nor closes it.
    void refuseConnections();
    void ignoreConnections();
    // Jobs received completely so far, in order of arrival.
    QList<QByteArray> jobs() const;
    // Runs the event loop until count jobs have arrived or timeoutMs passed.
    bool waitForJobs(int count, int timeoutMs = 30'000);

    // Runs a CUPS command line tool against the sandbox; false on failure.
    static bool runTool(const QString& tool, const QStringList& arguments,
                        QString* output = nullptr);
    static QString server();

private:
    void accept();

    QThread thread;
    QTcpServer listener; // lives in thread, as do the connections
    QString name;
    QString lastError;
    mutable QMutex lock;
    QList<QByteArray> received;
    QHash<QTcpSocket*, QByteArray> buffers; // connections still open, used in thread only
};

#endif // RAWPRINTER_H
