#include "printclient.h"

#include "appconfig.h"
#include "httplistener.h"
#include "printclientrequesthandler.h"
#include "printclientthreaded.h"
#include "settingskeys.h"
#include "testprint.h"
#include "tlsmaterial.h"
#include "version.h"

#include <QClipboard>
#include <QDateTime>
#include <QFileSystemWatcher>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QLocale>
#include <QMutexLocker>
#include <QQmlEngine>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSslSocket>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>
#include <cstdio>
#include <functional>

namespace {
// Objects on the controller's lists are shared with the API's threads. Whoever lets go
// last releases the object, always through the event loop of the thread it lives in.
void releaseLater(QObject* object)
{
    object->deleteLater();
}

// QML must never take over objects that C++ shares.
template<typename T>
QSharedPointer<T> shareWithQml(T* object)
{
    QQmlEngine::setObjectOwnership(object, QQmlEngine::CppOwnership);
    return QSharedPointer<T>(object, releaseLater);
}
} // namespace

PrintClient::PrintClient(QObject* parent)
    : QObject(parent), m_previewPrinter(new PreviewPrinter(this)), testPrints(new TestPrint(this))
{
    connect(testPrints, &TestPrint::finished, this, &PrintClient::testPrintFinished);
    connect(testPrints, &TestPrint::finished, this,
            [this](const QString& printer, bool printed, const QString& reason) {
                if (printed) {
                    setMessage(tr("Impressão de teste enviada para %1").arg(printer));
                } else if (reason.isEmpty()) {
                    setMessage(tr("A impressão de teste em %1 falhou").arg(printer));
                } else {
                    setMessage(tr("A impressão de teste em %1 falhou: %2").arg(printer, reason));
                }
            });
}

PrintClient::~PrintClient()
{
    // The connection threads read this controller: stop them before it goes.
    if (listener) {
        listener->close();
    }
}

void PrintClient::startup()
{
    m_version = QStringLiteral("v" PRINTARRA_VERSION);
    m_curVersion = QStringLiteral(PRINTARRA_VERSION_CODE);
    m_device = QStringLiteral("desktop");

    printersTimer = new QTimer(this);
    printersTimer->setSingleShot(true);
    connect(printersTimer, &QTimer::timeout, this, &PrintClient::lookAtPrinters);
    tpasTimer = new QTimer(this);
    tpasTimer->setSingleShot(true);
    connect(tpasTimer, &QTimer::timeout, this, &PrintClient::requestTpas);
    auto* devices = new QFileSystemWatcher(this);
    portsWatched = devices->addPath(AppConfig::deviceDirectory());
    connect(devices, &QFileSystemWatcher::directoryChanged, this,
            [this] { tpasTimer->start(portSettleDelay); });

    notificationTimer = new QTimer(this);
    notificationTimer->setSingleShot(true);
    connect(notificationTimer, &QTimer::timeout, this, &PrintClient::checkNotificationDelete);
    notificationTimer->start(notificationSweepInterval);

    versionTimer = new QTimer(this);
    versionTimer->setSingleShot(true);
    versionTimer->setInterval(versionCheckInterval);
    connect(versionTimer, &QTimer::timeout, this, &PrintClient::checkNewVersion);

    readSettings();

    checkNewVersion();
}

void PrintClient::readSettings()
{
    setServerActive(settings.value(SettingsKeys::serverActive, true).toBool());

    const QString storedKey = settings.value(SettingsKeys::securityKey).toString();
    if (!storedKey.isEmpty()) {
        m_firstStartup = false;
        setSecurityKey(withVersionSuffix(storedKey));
    } else {
        setSecurityKey(makeSecurityKey());
    }

    setCompatibilityMode(settings.value(SettingsKeys::compatibilityMode, false).toBool());
    m_jobTimeout = 1000 * qBound(1, settings.value(SettingsKeys::jobTimeout, 10).toInt(), 600);

    m_licenseAccepted = settings.value(SettingsKeys::licenseAccepted, false).toBool();
    setLicenseAccepted(m_licenseAccepted);
}

QString PrintClient::makeSecurityKey()
{
    // Six bytes from the system's secure source are exactly eight Base64 characters.
    QByteArray random(6, Qt::Uninitialized);
    QRandomGenerator::system()->generate(random.begin(), random.end());
    return QString::fromLatin1(random.toBase64()) + QStringLiteral("v4.0");
}

QString PrintClient::withVersionSuffix(const QString& key)
{
    static const QRegularExpression suffix(QStringLiteral("v\\d\\.\\d\\z"));
    if (key.contains(suffix)) {
        return key;
    }
    return key + QStringLiteral("v4.0");
}

QString PrintClient::languageOf(const QString& localeName)
{
    return localeName.split(QLatin1Char('_')).first();
}

void PrintClient::checkStarted()
{
    started = ipAddressesReceived && printersReceived && tpasReceived && serverReceived;
    emit startedChanged(started);
}

bool PrintClient::licenseAccepted() const
{
    return m_licenseAccepted;
}

void PrintClient::setLicenseAccepted(bool accepted)
{
    m_licenseAccepted = accepted;
    settings.setValue(SettingsKeys::licenseAccepted, accepted);
    settings.sync();
    emit licenseAcceptedChanged(accepted);
    if (!accepted) {
        updateServiceState();
        return;
    }

    auto* thread = new QThread();
    worker = new PrintClientThreaded();
    auto* handler = new PrintClientRequestHandler(this);
    handler->moveToThread(thread);

    connect(this, &PrintClient::requestIPAddresses, worker, &PrintClientThreaded::getIPAddresses);
    connect(worker, &PrintClientThreaded::onGetAddresses, this, &PrintClient::onGetIPAddresses);
    connect(this, &PrintClient::requestPrinters, worker, &PrintClientThreaded::getPrinters);
    connect(this, &PrintClient::lookAtPrinters, worker, &PrintClientThreaded::lookAtPrinters);
    connect(this, &PrintClient::requestTpas, worker, &PrintClientThreaded::getTpas);
    connect(worker, &PrintClientThreaded::onGetPrinters, this, &PrintClient::onGetPrinters);
    connect(worker, &PrintClientThreaded::onGetPrinterConditions, this,
            &PrintClient::onGetPrinterConditions);
    connect(worker, &PrintClientThreaded::onGetTpas, this, &PrintClient::onGetTpas);
    connect(this, &PrintClient::requestServer, worker, &PrintClientThreaded::getServer);
    connect(worker, &PrintClientThreaded::onGetServer, this, &PrintClient::onGetServer);
    connect(worker, &PrintClientThreaded::onTlsProblem, this, &PrintClient::onTlsProblem);
    connect(this, &PrintClient::requestTlsRefresh, worker,
            &PrintClientThreaded::refreshTlsMaterial);
    connect(this, &QObject::destroyed, thread, &QThread::quit);
    connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(thread, &QThread::finished, handler, &QObject::deleteLater);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();

    emit requestIPAddresses();
    emit requestPrinters();
    emit requestTpas();
    emit requestServer(m_serverActive, handler);

    // Addresses come and go (DHCP, a second network): the certificate follows them.
    auto* tlsTimer = new QTimer(this);
    connect(tlsTimer, &QTimer::timeout, this, &PrintClient::requestTlsRefresh);
    tlsTimer->start(tlsRefreshInterval);
    updateServiceState();
}

int PrintClient::listenPort() const
{
    return m_listenPort;
}

void PrintClient::onTlsProblem(const QString& problem)
{
    tlsProblem = problem;
    updateServiceState();
}

void PrintClient::updateServiceState()
{
    const bool nowListening = listener && listener->isListening();
    const QString port = QString::number(listenPort());
    QString problem;
    QString line;
    if (!m_licenseAccepted) {
        problem = QStringLiteral("termsNotAccepted");
        line = QStringLiteral("Printarra does not serve: the terms of use are not accepted. "
                              "Accept them in the window or run: printarra --accept-terms");
    } else if (!tlsProblem.isEmpty()) {
        problem = QStringLiteral("tlsUnusable");
        line = QStringLiteral("Printarra does not serve: its TLS material is unusable (%1). "
                              "Make %2 writable (or remove it) and start Printarra again")
                   .arg(tlsProblem, TlsMaterial::defaultDirectory());
    } else if (listener && m_serverActive && !nowListening) {
        if (listener->serverError() == QAbstractSocket::AddressInUseError) {
            problem = QStringLiteral("portInUse");
            line = QStringLiteral("Printarra does not serve: port %1 is in use by another program. "
                                  "Stop it (ss -ltnp 'sport = :%1' names it) and start Printarra "
                                  "again")
                       .arg(port);
        } else {
            problem = QStringLiteral("cannotListen");
            line = QStringLiteral("Printarra does not serve: cannot listen on port %1 (%2). "
                                  "Free the port and start Printarra again")
                       .arg(port, listener->errorString());
        }
    }
    if (nowListening == m_listening && problem == m_serviceProblem) {
        return;
    }
    if (!problem.isEmpty() && problem != m_serviceProblem) {
        qCritical("%s", qPrintable(line));
        // The log capture keeps critical lines in the window only; this one is for the shell.
        if (m_isDebugMode) {
            fprintf(stderr, "%s\n", qPrintable(line));
        }
    }
    m_listening = nowListening;
    m_serviceProblem = problem;
    emit serviceStateChanged();
}

bool PrintClient::serverActive() const
{
    return m_serverActive;
}

void PrintClient::setServerActive(bool on)
{
    if (listener) {
        if (on && !listener->isListening()) {
            listener->listen();
            setMessage(tr("Serviço de impressão ligado"));
        } else if (!on && listener->isListening()) {
            listener->close();
            setMessage(tr("Serviço de impressão desligado"));
        }
    }
    const bool announce = !listener.isNull();
    m_serverActive = on;
    settings.setValue(SettingsKeys::serverActive, on);
    settings.sync();
    qDebug() << QStringLiteral("SSL Version: %1").arg(QSslSocket::sslLibraryVersionString());
    emit serverActiveChanged(on);
    if (announce) {
        updateServiceState();
    }
}

QString PrintClient::securityKey() const
{
    QMutexLocker locker(&dataLock);
    return m_securityKey;
}

void PrintClient::setSecurityKey(const QString& securityKey)
{
    {
        QMutexLocker locker(&dataLock);
        m_securityKey = securityKey;
    }
    settings.setValue(SettingsKeys::securityKey, securityKey);
    settings.sync();
    emit securityKeyChanged(securityKey);
}

bool PrintClient::compatibilityMode() const
{
    QMutexLocker locker(&dataLock);
    return m_compatibilityMode;
}

void PrintClient::setCompatibilityMode(bool compatibilityMode)
{
    {
        QMutexLocker locker(&dataLock);
        m_compatibilityMode = compatibilityMode;
    }
    settings.setValue(SettingsKeys::compatibilityMode, compatibilityMode);
    emit compatibilityModeChanged(compatibilityMode);
}

QString PrintClient::message() const
{
    return m_message;
}

void PrintClient::setMessage(const QString& message)
{
    m_message = message;
    emit messageChanged(message);
}

bool PrintClient::isDebugMode() const
{
    return m_isDebugMode;
}

void PrintClient::setIsDebugMode(bool isDebugMode)
{
    m_isDebugMode = isDebugMode;
    emit isDebugModeChanged(isDebugMode);
}

QStringList PrintClient::debugMessages() const
{
    QMutexLocker locker(&dataLock);
    return m_debugMessages;
}

void PrintClient::setDebugMessages(const QStringList& debugMessages)
{
    {
        QMutexLocker locker(&dataLock);
        if (m_debugMessages != debugMessages) {
            m_debugMessages = debugMessages;
        }
    }
    // Log lines come from every thread; the screens that show them live in this one.
    if (QThread::currentThread() == thread()) {
        emit debugMessagesChanged(debugMessages);
    } else {
        QMetaObject::invokeMethod(
            this, [this, debugMessages] { emit debugMessagesChanged(debugMessages); },
            Qt::QueuedConnection);
    }
}

void PrintClient::addDebugMessage(const QString& line)
{
    QStringList lines = debugMessages();
    lines.prepend(line);
    while (lines.size() > debugMessageLimit) {
        lines.removeLast();
    }
    setDebugMessages(lines);
}

QString PrintClient::version() const
{
    return m_version;
}

QString PrintClient::newVersion() const
{
    return m_newVersion;
}

QString PrintClient::curVersion() const
{
    QMutexLocker locker(&dataLock);
    return m_curVersion;
}

QString PrintClient::device() const
{
    QMutexLocker locker(&dataLock);
    return m_device;
}

QString PrintClient::language() const
{
    return languageOf(QLocale::system().name());
}

QStringList PrintClient::ipAddresses() const
{
    return m_ipAddresses;
}

QQmlListProperty<Printer> PrintClient::printers()
{
    return QQmlListProperty<Printer>(this, nullptr, &PrintClient::printerCount,
                                     &PrintClient::printerAt);
}

int PrintClient::printerCount(QQmlListProperty<Printer>* list)
{
    return static_cast<PrintClient*>(list->object)->m_printers.size();
}

Printer* PrintClient::printerAt(QQmlListProperty<Printer>* list, int index)
{
    const auto& printers = static_cast<PrintClient*>(list->object)->m_printers;
    return index >= 0 && index < printers.size() ? printers.at(index).data() : nullptr;
}

QQmlListProperty<Tpa> PrintClient::tpas()
{
    return QQmlListProperty<Tpa>(this, nullptr, &PrintClient::tpaCount, &PrintClient::tpaAt);
}

int PrintClient::tpaCount(QQmlListProperty<Tpa>* list)
{
    return static_cast<PrintClient*>(list->object)->m_tpas.size();
}

Tpa* PrintClient::tpaAt(QQmlListProperty<Tpa>* list, int index)
{
    const auto& tpas = static_cast<PrintClient*>(list->object)->m_tpas;
    return index >= 0 && index < tpas.size() ? tpas.at(index).data() : nullptr;
}

QList<PrinterPtr> PrintClient::printerList() const
{
    QMutexLocker locker(&dataLock);
    return m_printers;
}

QList<TpaPtr> PrintClient::tpaList() const
{
    QMutexLocker locker(&dataLock);
    return m_tpas;
}

QList<PrintClient::PrinterStatus> PrintClient::printerStatuses() const
{
    QList<PrinterStatus> statuses;
    const QList<PrinterPtr> printers = printerList();
    for (const PrinterPtr& printer : printers) {
        if (printer->available()) {
            statuses.append({printer->name(), printer->state(), printer->stateName(),
                             printer->reasons(), printer->accepting()});
        }
    }
    return statuses;
}

bool PrintClient::previewPrinterOn() const
{
    return m_previewPrinter->available();
}

bool PrintClient::savePreview(const QJsonArray& job, QString* reason) const
{
    return !PreviewPrinter::save(job, compatibilityMode(), m_previewPrinter->folder(), reason)
                .isEmpty();
}

QJsonArray PrintClient::notificationsJson() const
{
    QJsonArray list;
    const QList<NotificationPtr> kept = notifications();
    for (const NotificationPtr& notification : kept) {
        list.append(notification->toJSON());
    }
    return list;
}

bool PrintClient::takeNotification(const QJsonObject& json)
{
    Notification* notification = Notification::fromJSON(json);
    if (!notification) {
        return false;
    }
    addNotification(notification);
    return true;
}

QList<NotificationPtr> PrintClient::notifications() const
{
    QMutexLocker locker(&dataLock);
    return m_notifications;
}

void PrintClient::setNotifications(const QList<NotificationPtr>& notifications)
{
    {
        QMutexLocker locker(&dataLock);
        if (m_notifications != notifications) {
            m_notifications = notifications;
        }
    }
    emit notificationsChanged();
}

void PrintClient::addNotification(Notification* notification)
{
    const NotificationPtr shared(notification);
    {
        QMutexLocker locker(&dataLock);
        m_notifications.append(shared);
        while (m_notifications.size() > notificationLimit) {
            m_notifications.removeFirst();
        }
    }
    emit notificationsChanged();
}

void PrintClient::checkNotificationDelete()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch() / 1000;
    {
        QMutexLocker locker(&dataLock);
        for (int i = m_notifications.size() - 1; i >= 0; --i) {
            const QDateTime date = m_notifications.at(i)->dateTime();
            // An invalid date counts as expired.
            if (!date.isValid() || now - date.toMSecsSinceEpoch() / 1000 > notificationMaxAge) {
                m_notifications.removeAt(i);
            }
        }
    }
    notificationTimer->start(notificationSweepInterval);
    emit notificationsChanged();
}

void PrintClient::testPrint(const QString& printerName)
{
    const bool preview = printerName == PreviewPrinter::printerName();
    testPrints->start(printerName, compatibilityMode(),
                      preview ? m_previewPrinter->folder() : QString(), jobTimeout());
}

void PrintClient::clipboard(const QString& text)
{
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
}

void PrintClient::updatePrinters()
{
    fetching = true;
    emit fetchingChanged();
    emit requestPrinters();
}

void PrintClient::updateTpas()
{
    fetching = true;
    emit fetchingChanged();
    emit requestTpas();
}

void PrintClient::onGetIPAddresses(const QList<QHostAddress>& addresses)
{
    m_ipAddresses.clear();
    for (const QHostAddress& address : addresses) {
        m_ipAddresses.append(address.toString());
    }
    emit ipAddressesChanged(m_ipAddresses);
    ipAddressesReceived = true;
    checkStarted();
}

template<typename Entry, typename Item, typename Same>
PrintClient::ListRefresh PrintClient::refreshList(const QList<Entry>& current,
                                                  const QList<Item>& enumeration, Same same)
{
    ListRefresh refresh;
    QVector<bool> toAdd(enumeration.size(), true);
    for (const Entry& entry : current) {
        bool found = false;
        for (int j = 0; j < enumeration.size() && !found; ++j) {
            if (toAdd.at(j) && same(entry, enumeration.at(j))) {
                toAdd[j] = false;
                found = true;
            }
        }
        refresh.survives.append(found);
    }
    for (int j = 0; j < enumeration.size(); ++j) {
        if (toAdd.at(j)) {
            refresh.added.append(j);
        }
    }
    return refresh;
}

void PrintClient::onGetPrinters(const QList<QPrinterInfo>& printers)
{
    // Survivors keep their objects (and the screens' bindings to them) in their order;
    // new queues follow in enumeration order.
    const ListRefresh refresh =
        refreshList(m_printers, printers, [](const PrinterPtr& printer, const QPrinterInfo& info) {
            if (info.printerName() != printer->name()) {
                return false;
            }
            printer->updateInfo(info); // its state may have changed
            return true;
        });
    QList<PrinterPtr> updated;
    for (int i = 0; i < m_printers.size(); ++i) {
        if (refresh.survives.at(i)) {
            updated.append(m_printers.at(i));
        }
    }
    for (const int j : refresh.added) {
        updated.append(shareWithQml(new Printer(printers.at(j))));
    }
    {
        QMutexLocker locker(&dataLock);
        m_printers = updated;
    }

    emit printersChanged();
    printersReceived = true;
    fetching = false;
    emit fetchingChanged();
    checkStarted();
    printersTimer->start(printerRefreshInterval);
}

void PrintClient::onGetPrinterConditions(const QList<PrinterCondition>& conditions,
                                         bool reportsChanges)
{
    for (const PrinterPtr& printer : qAsConst(m_printers)) {
        for (const PrinterCondition& condition : conditions) {
            if (condition.name == printer->name()) {
                printer->setCondition(condition.state, condition.reasons, condition.accepting);
                break;
            }
        }
    }
    printersTimer->start(reportsChanges ? reportedPrinterRefreshInterval : printerRefreshInterval);
}

int PrintClient::tpaTypeFor(int vendorIdentifier) const
{
    if (ingenicoVendorIds.contains(vendorIdentifier)) {
        return 1;
    }
    if (newnoteVendorIds.contains(vendorIdentifier)) {
        return 2;
    }
    return 0;
}

PrintClient::PortDescription PrintClient::describe(const QSerialPortInfo& port)
{
    return PortDescription{port.vendorIdentifier(), port.productIdentifier(), port.portName()};
}

QVector<QPair<int, int>> PrintClient::newTerminals(const QList<PortDescription>& current,
                                                   const QList<PortDescription>& ports,
                                                   QVector<bool>* survives) const
{
    const ListRefresh refresh = refreshList(current, ports, std::equal_to<PortDescription>());
    if (survives) {
        *survives = refresh.survives;
    }
    QVector<QPair<int, int>> created;
    for (const int j : refresh.added) {
        const int type = tpaTypeFor(ports.at(j).vendorIdentifier);
        if (type != 0) {
            created.append(qMakePair(j, type));
        }
    }
    return created;
}

void PrintClient::onGetTpas(const QList<QSerialPortInfo>& ports)
{
    QList<PortDescription> current;
    for (const TpaPtr& tpa : qAsConst(m_tpas)) {
        current.append(describe(tpa->tpa()));
    }
    QList<PortDescription> enumeration;
    for (const QSerialPortInfo& port : ports) {
        enumeration.append(describe(port));
    }
    QVector<bool> survives;
    const QVector<QPair<int, int>> created = newTerminals(current, enumeration, &survives);

    QList<TpaPtr> updated;
    for (int i = 0; i < m_tpas.size(); ++i) {
        if (survives.at(i)) {
            updated.append(m_tpas.at(i));
        }
    }
    for (const auto& portAndType : created) {
        updated.append(shareWithQml(new Tpa(ports.at(portAndType.first), portAndType.second)));
    }
    {
        QMutexLocker locker(&dataLock);
        m_tpas = updated;
    }

    emit tpasChanged();
    tpasReceived = true;
    checkStarted();
    tpasTimer->start(portsWatched ? watchedTpaRefreshInterval : tpaRefreshInterval);
}

void PrintClient::addTpa(Tpa* tpa)
{
    {
        QMutexLocker locker(&dataLock);
        m_tpas.append(shareWithQml(tpa));
    }
    emit tpasChanged();
}

void PrintClient::onGetServer(corvane::HttpListener* listener)
{
    this->listener = listener;
    m_listenPort = AppConfig::apiPort(); // as the worker just configured it
    serverReceived = true;
    checkStarted();
    updateServiceState();
}

void PrintClient::serveInstanceRequests(QLocalServer* server)
{
    connect(server, &QLocalServer::newConnection, this, [this, server] {
        while (QLocalSocket* socket = server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                while (socket->canReadLine()) {
                    instanceRequest(socket->readLine().trimmed());
                }
                // A request is one short line; anything else is not a start of ours.
                if (socket->bytesAvailable() > 64) {
                    socket->abort();
                }
            });
        }
    });
}

void PrintClient::instanceRequest(const QByteArray& request)
{
    qDebug("Another start of the program asked: %s", request.left(16).constData());
    if (request == "show") {
        emit showWindow();
    } else if (request == "terms") {
        // The other start stored the acceptance just before it asked: read it from the file.
        settings.sync();
        if (!m_licenseAccepted && settings.value(SettingsKeys::licenseAccepted, false).toBool()) {
            setLicenseAccepted(true);
        }
    }
}

void PrintClient::checkNewVersion()
{
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("cur"), m_curVersion);

    auto* timeout = new QTimer(this);
    timeout->setSingleShot(true);
    versionCheckFailed = false;

    QNetworkRequest request(
        QUrl(AppConfig::updateServiceAddress() + QStringLiteral("/hasNewVersion")));
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
    pendingReply = networkAccess.post(request, form.toString(QUrl::FullyEncoded).toUtf8());
    connect(pendingReply, &QNetworkReply::finished, this, &PrintClient::checkNewVersionCompleted);
    connect(pendingReply, &QNetworkReply::errorOccurred, this, &PrintClient::checkNewVersionError);
    connect(timeout, &QTimer::timeout, pendingReply, &QNetworkReply::abort);
    connect(timeout, &QTimer::timeout, timeout, &QObject::deleteLater);
    // Once the reply is gone, so is its time limit.
    connect(pendingReply, &QObject::destroyed, timeout, &QObject::deleteLater);
    timeout->start(versionCheckTimeout);
}

void PrintClient::checkNewVersionError(QNetworkReply::NetworkError)
{
    versionCheckFailed = true;
}

void PrintClient::checkNewVersionCompleted()
{
    QNetworkReply* reply = pendingReply;
    pendingReply = nullptr;
    if (!versionCheckFailed && reply) {
        const QJsonDocument answer = QJsonDocument::fromJson(reply->readAll());
        // Only a JSON true counts; a string "true" or any other type does not.
        const QJsonValue hasNewVersion = answer.object().value(QStringLiteral("hasNewVersion"));
        if (answer.isObject() && hasNewVersion.isBool() && hasNewVersion.toBool()) {
            setMessage(
                QStringLiteral("Existe uma nova versão do Printarra. Clique aqui para atualizar."));
            hasUpdate = true;
            emit hasUpdateChanged(true);
        } else {
            hasUpdate = false;
            emit hasUpdateChanged(false);
        }
    }
    if (reply) {
        reply->deleteLater();
    }
    versionTimer->start();
}
