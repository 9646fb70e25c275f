#ifndef PRINTCLIENTTHREADED_H
#define PRINTCLIENTTHREADED_H

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPrinterInfo>
#include <QSerialPortInfo>

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
    void onGetTpas(QList<QSerialPortInfo> tpas);
    void onGetServer(corvane::HttpListener* server);

public slots:
    void getIPAddresses();
    void getPrinters();
    void getTpas();
    void getServer(bool online, PrintClientRequestHandler* requestHandler);
};

#endif
