#include "printclientthreaded.h"

#include "appconfig.h"
#include "httplistener.h"
#include "httpsettings.h"
#include "printclientrequesthandler.h"
#include "settingskeys.h"
#include "tlsmaterial.h"

#include <cups/cups.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QNetworkInterface>
#include <QSettings>
#include <QTimer>

namespace {
const QString cupsNotifierPath = QStringLiteral("/org/cups/cupsd/Notifier");
const QString cupsNotifierInterface = QStringLiteral("org.cups.cupsd.Notifier");
constexpr int signalWait = 1000;        // ms a signal may lag behind its pulled event
constexpr int signalledLookDelay = 100; // ms to gather a burst of signals
} // namespace

PrintClientThreaded::PrintClientThreaded(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<QList<PrinterCondition>>();
}

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
    if (!cupsEvents) {
        // Made in this object's thread, where the print system is asked.
        cupsEvents = new QTimer(this);
        connect(cupsEvents, &QTimer::timeout, this, &PrintClientThreaded::lookAtPrinterEvents);
        signalledLook = new QTimer(this);
        signalledLook->setSingleShot(true);
        connect(signalledLook, &QTimer::timeout, this, &PrintClientThreaded::lookAtPrinters);
        // At rest nothing wakes the program for the printers while the scheduler signals its
        // events on the system bus (as a desktop's does); a scheduler on another machine
        // signals on that machine's bus.
        const char* server = cupsServer();
        const bool local = server[0] == '/' || qstrcmp(server, "localhost") == 0;
        QDBusConnection bus = QDBusConnection::systemBus();
        cups.setPushed(local && bus.isConnected() &&
                       bus.connect(QString(), cupsNotifierPath, cupsNotifierInterface, QString(),
                                   this, SLOT(cupsSignalled(QDBusMessage))));
        cups.changed(); // subscribes
        cupsEvents->start(pushedCheckInterval);
        if (!cups.pushed())
            stopPush(); // every few seconds
    }
    int described = 0;
    const QByteArray destinations = CupsMonitor::destinations(&described);
    const QList<QPrinterInfo> printers = QPrinterInfo::availablePrinters();
    // A listing that missed a queue the print system describes (a question failed on the way)
    // is made again at the next look, not only at the next event.
    listedDestinations = printers.size() == described ? destinations : QByteArray();
    emit onGetPrinters(printers);
    emit onGetPrinterConditions(CupsMonitor::conditions(), cups.subscribed());
}

void PrintClientThreaded::lookAtPrinterEvents()
{
    const bool changed = cups.changed();
    if (!cups.pushed() && cupsEvents->interval() != cupsEventInterval) {
        stopPush(); // subscribed again (a new scheduler), but without signals
    } else if (cups.pushed() && cups.reported() && signalled == signalledAtCheck) {
        // Events no signal told of: the notifier cannot reach the bus, or another program's
        // notifier holds it and sends other events. Unless a signal was only on its way, the
        // events are fetched every few seconds again.
        const int before = signalled;
        QTimer::singleShot(signalWait, this, [this, before] {
            if (signalled == before)
                stopPush();
        });
    }
    signalledAtCheck = signalled;
    // An event (a job moving the queue to processing and back is one) lists the queues again
    // only when they differ from the last listing; the conditions follow at once.
    if (changed) {
        lookAtPrinters();
    }
}

void PrintClientThreaded::lookAtPrinters()
{
    // A listing fetches each queue's description file into a temporary file: at rest, with
    // the events reported and nothing changed, the disk is left alone.
    if (!cups.subscribed() || CupsMonitor::destinations() != listedDestinations) {
        getPrinters();
        return;
    }
    emit onGetPrinterConditions(CupsMonitor::conditions(), true);
}

void PrintClientThreaded::cupsSignalled(const QDBusMessage& message)
{
    // Job signals (the notifier sends every event) leave the list as it is.
    if (message.member().startsWith(QLatin1String("Printer")) ||
        message.member().startsWith(QLatin1String("Server"))) {
        ++signalled;
        if (!signalledLook->isActive())
            signalledLook->start(signalledLookDelay);
    }
}

void PrintClientThreaded::stopPush()
{
    QDBusConnection::systemBus().disconnect(QString(), cupsNotifierPath, cupsNotifierInterface,
                                            QString(), this, SLOT(cupsSignalled(QDBusMessage)));
    cups.setPushed(false);
    cupsEvents->setInterval(cupsEventInterval);
}

void PrintClientThreaded::getTpas()
{
    emit onGetTpas(QSerialPortInfo::availablePorts());
}

namespace {
QByteArray readChain(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

QPair<QString, QString> PrintClientThreaded::tlsFiles()
{
    // Test programs may link the build's fixed chain; the program itself carries no key.
    const QString fixedKey = QStringLiteral(":/ssl/kvr.key");
    if (QFile::exists(fixedKey)) {
        emit onTlsProblem(QString());
        return {fixedKey, QStringLiteral(":/ssl/kvr.cert")};
    }
    TlsMaterial material;
    const TlsMaterial::Names names = TlsMaterial::currentNames();
    const TlsMaterial::Outcome outcome = material.ensure(names);
    checkedNames = names;
    checkedSince.start();
    emit onTlsProblem(material.error());
    if (outcome == TlsMaterial::Outcome::Failed) {
        return {};
    }
    return {material.serverKeyPath(), material.serverCertPath()};
}

void PrintClientThreaded::refreshTlsMaterial()
{
    // The full look (every file read, the keys parsed, the chain verified: about 10 ms) is
    // taken when the machine's names changed, when the served chain's file changed (renewed
    // by "printarra --tls-material" or removed), and once an hour for renewals and repairs.
    // At rest the look is the names and one file.
    if (checkedSince.isValid() && checkedSince.elapsed() < fullTlsCheckInterval &&
        !servedChainPath.isEmpty() && readChain(servedChainPath) == servedChain) {
        const TlsMaterial::Names names = TlsMaterial::currentNames();
        if (names.hostName == checkedNames.hostName && names.addresses == checkedNames.addresses) {
            return;
        }
    }
    const QString chainFile = tlsFiles().second;
    // Renewed here or by "printarra --tls-material": a new pool reads the files again.
    const QByteArray chain = readChain(chainFile);
    auto* listener = findChild<corvane::HttpListener*>(QString(), Qt::FindDirectChildrenOnly);
    if (!chainFile.isEmpty() && chain != servedChain && listener) {
        servedChain = chain;
        servedChainPath = chainFile;
        if (listener->isListening()) {
            listener->close();
            listener->listen();
        }
    }
}

void PrintClientThreaded::getServer(bool online, PrintClientRequestHandler* requestHandler)
{
    const QPair<QString, QString> tls = tlsFiles();
    if (tls.first.isEmpty()) {
        // Without TLS the server would speak plain HTTP: better none at all.
        emit onGetServer(nullptr);
        return;
    }
    // The server's parameters are written anew on every start, whatever the store held.
    {
        QSettings settings;
        settings.beginGroup(SettingsKeys::listenerGroup);
        settings.setValue(corvane::HttpSettingKeys::sslKeyFile, tls.first);
        settings.setValue(corvane::HttpSettingKeys::sslCertFile, tls.second);
        servedChain = readChain(tls.second);
        servedChainPath = tls.second;
        settings.setValue(corvane::HttpSettingKeys::port, AppConfig::apiPort());
        settings.setValue(corvane::HttpSettingKeys::minThreads, 4);
        settings.setValue(corvane::HttpSettingKeys::maxThreads, 20);
        settings.setValue(corvane::HttpSettingKeys::cleanupInterval, 60000);
        settings.setValue(corvane::HttpSettingKeys::readTimeout, 60000);
        settings.setValue(corvane::HttpSettingKeys::maxRequestSize, 4 * 1024 * 1024);
        settings.setValue(corvane::HttpSettingKeys::maxMultiPartSize, 10000000);
        settings.endGroup();
        settings.sync();
    }

    auto* listenerSettings = new QSettings(this);
    listenerSettings->beginGroup(SettingsKeys::listenerGroup);
    auto* listener = new corvane::HttpListener(listenerSettings, requestHandler, this);
    if (!online) {
        listener->close();
    }
    emit onGetServer(listener);
}
