#ifndef PRINTCLIENTTHREADED_H
#define PRINTCLIENTTHREADED_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPrinterInfo>
#include <QSerialPortInfo>

#include "cupsmonitor.h"
#include "tlsmaterial.h"

class QDBusMessage;
class QTimer;

class PrintClientRequestHandler;
namespace corvane {
class HttpListener;
}

/**
 * Does the controller's system queries (addresses, printers, serial ports) and creates
 * the HTTP server. It answers every request with one signal carrying the result.
 */
class PrintClientThreaded : public QObject
{
    Q_OBJECT

public:
    explicit PrintClientThreaded(QObject* parent = nullptr);
    ~PrintClientThreaded() override;

signals:
    void onGetAddresses(QList<QHostAddress> addresses);
    void onGetPrinters(QList<QPrinterInfo> printers);
    /**
     * Follows every onGetPrinters: the queues' conditions, and whether the print system
     * reports its changes (then the queues are listed again on each change).
     */
    void onGetPrinterConditions(QList<PrinterCondition> conditions, bool reportsChanges);
    void onGetTpas(QList<QSerialPortInfo> tpas);
    void onGetServer(corvane::HttpListener* server);
    /** After every look at the TLS material: why it is unusable, or empty. */
    void onTlsProblem(QString problem);

public slots:
    void getIPAddresses();
    void getPrinters();
    /**
     * The periodic look at the queues: while the print system reports its changes, they are
     * listed only when its destinations differ from the last listing; otherwise always.
     */
    void lookAtPrinters();
    /**
     * Fetches the print system's events, and looks at the queues when there were any. Every
     * few seconds; while the print system signals them on the system bus, every half minute,
     * to find events no signal told of (then every few seconds again).
     */
    void lookAtPrinterEvents();
    void getTpas();
    void getServer(bool online, PrintClientRequestHandler* requestHandler);
    /**
     * Issues the server certificate again when the machine's names or addresses changed or
     * it nears its end, and restarts a listening server so that it serves the new one.
     */
    void refreshTlsMaterial();

private slots:
    void cupsSignalled(const QDBusMessage& message);

private:
    void stopPush();
    /** The key and certificate chain files the server uses, or empty ones when unusable. */
    QPair<QString, QString> tlsFiles();

    QByteArray servedChain; // the chain the listener's pool loaded
    QString servedChainPath;
    TlsMaterial::Names checkedNames; // the names the material was last made current for
    QElapsedTimer checkedSince;      // since then; invalid while the material is the build's
    static constexpr int fullTlsCheckInterval = 3600000; // ms between full looks at rest
    CupsMonitor cups;
    QByteArray listedDestinations; // as they were at the last listing
    QTimer* cupsEvents = nullptr;
    static constexpr int cupsEventInterval = 3000; // ms between looks at the printer events
    // While the scheduler signals its events on the system bus, the pulled ones are only
    // compared with the signals now and then.
    static constexpr int pushedCheckInterval = 30000;
    QTimer* signalledLook = nullptr; // one look for a burst of signals
    int signalled = 0;               // printer and server signals received
    int signalledAtCheck = 0;
};

#endif
