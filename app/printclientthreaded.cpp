#include "printclientthreaded.h"

#include "appconfig.h"
#include "httplistener.h"
#include "printclientrequesthandler.h"

#include <QNetworkInterface>
#include <QSettings>

PrintClientThreaded::PrintClientThreaded(QObject* parent) : QObject(parent) {}

PrintClientThreaded::~PrintClientThreaded()
{
    // The listener's handler threads read its settings object, a sibling made before it:
    // the listener goes first, joining those threads.
    qDeleteAll(findChildren<corvane::HttpListener*>(QString(), Qt::FindDirectChildrenOnly));
}

void PrintClientThreaded::getIPAddresses()
{
    QList<QHostAddress> addresses;
    const QList<QHostAddress> all = QNetworkInterface::allAddresses();
    for (const QHostAddress& address : all) {
        if (!address.isLoopback() && address.protocol() == QAbstractSocket::IPv4Protocol) {
            addresses.append(address);
        }
    }
    emit onGetAddresses(addresses);
}

void PrintClientThreaded::getPrinters()
{
    emit onGetPrinters(QPrinterInfo::availablePrinters());
}

void PrintClientThreaded::getTpas()
{
    emit onGetTpas(QSerialPortInfo::availablePorts());
}

void PrintClientThreaded::getServer(bool online, PrintClientRequestHandler* requestHandler)
{
    // The server's parameters are written anew on every start, whatever the store held.
    {
        QSettings settings;
        settings.beginGroup(QStringLiteral("listener"));
        settings.setValue(QStringLiteral("sslKeyFile"), QStringLiteral(":/ssl/kvr.key"));
        settings.setValue(QStringLiteral("sslCertFile"), QStringLiteral(":/ssl/kvr.cert"));
        settings.setValue(QStringLiteral("port"), AppConfig::apiPort());
        settings.setValue(QStringLiteral("minThreads"), 4);
        settings.setValue(QStringLiteral("maxThreads"), 20);
        settings.setValue(QStringLiteral("cleanupInterval"), 60000);
        settings.setValue(QStringLiteral("readTimeout"), 60000);
        settings.setValue(QStringLiteral("maxRequestSize"), 4 * 1024 * 1024);
        settings.setValue(QStringLiteral("maxMultiPartSize"), 10000000);
        settings.endGroup();
        settings.sync();
    }

    auto* listenerSettings = new QSettings(this);
    listenerSettings->beginGroup(QStringLiteral("listener"));
    auto* listener = new corvane::HttpListener(listenerSettings, requestHandler, this);
    if (!online) {
        listener->close();
    }
    emit onGetServer(listener);
}
