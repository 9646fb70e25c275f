#ifndef RAWPRINTER_H
#define RAWPRINTER_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

// A receipt printer for the tests: a raw queue on the sandboxed scheduler (CUPS_SERVER) whose
// device is socket://127.0.0.1:PORT, and the listener on that port. Every connection of the
// scheduler's socket backend is one job; its bytes count once the backend has closed it.
// The queue is removed again on destruction.
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
    // Jobs received completely so far, in order of arrival.
    QList<QByteArray> jobs() const { return received; }
    // Runs the event loop until count jobs have arrived or timeoutMs passed.
    bool waitForJobs(int count, int timeoutMs = 30'000);

    // Runs a CUPS command line tool against the sandbox; false on failure.
    static bool runTool(const QString& tool, const QStringList& arguments,
                        QString* output = nullptr);
    static QString server();

private:
    void accept();

    QTcpServer listener;
    QString name;
    QString lastError;
    QList<QByteArray> received;
    QHash<QTcpSocket*, QByteArray> buffers; // connections still open
};

#endif // RAWPRINTER_H
