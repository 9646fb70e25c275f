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

// A raw queue on the sandboxed scheduler (CUPS_SERVER) whose device is socket://127.0.0.1:PORT,
// listened on by a thread of its own: each connection is one job. Removed on destruction.
class RawPrinter : public QObject
{
    Q_OBJECT

public:
    explicit RawPrinter(QObject* parent = nullptr);
    ~RawPrinter() override;

    bool create(); // false with the reason in error()
    QString queueName() const { return name; }
    QString error() const { return lastError; }
    bool disable() { return runTool("cupsdisable", {name}); }
    void refuseConnections();       // an unplugged printer
    QList<QByteArray> jobs() const; // the jobs received completely, in order
    bool waitForJobs(int count, int timeoutMs = 30'000);
    // Runs a CUPS command line tool against the sandbox.
    static bool runTool(const QString& tool, const QStringList& arguments,
                        QString* output = nullptr);

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
