#include "httpconnectionhandlerpool.h"

#include "httpsettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSslCertificate>
#include <QSslKey>

namespace corvane {

HttpConnectionHandlerPool::HttpConnectionHandlerPool(QSettings* settings,
                                                     HttpRequestHandler* requestHandler)
    : QObject(), settings(settings), requestHandler(requestHandler)
{
    loadSslConfig();
    cleanupTimer.start(HttpSettings::intValue(settings, QStringLiteral("cleanupInterval"), 1000));
    connect(&cleanupTimer, &QTimer::timeout, this, &HttpConnectionHandlerPool::cleanup);
}

HttpConnectionHandlerPool::~HttpConnectionHandlerPool()
{
    // Each handler stops and joins its thread; the TLS configuration they point to
    // goes only after all of them.
    for (HttpConnectionHandler* handler : qAsConst(pool)) {
        delete handler;
    }
    delete sslConfiguration;
    qDebug("HttpConnectionHandlerPool (%p): destroyed", static_cast<void*>(this));
}

HttpConnectionHandler* HttpConnectionHandlerPool::getConnectionHandler()
{
    HttpConnectionHandler* freeHandler = nullptr;
    QMutexLocker locker(&mutex);
    for (HttpConnectionHandler* handler : qAsConst(pool)) {
        if (!handler->isBusy()) {
            freeHandler = handler;
            freeHandler->setBusy();
            break;
        }
    }
    if (!freeHandler) {
        const int maxConnectionHandlers =
            HttpSettings::intValue(settings, QStringLiteral("maxThreads"), 100);
        if (pool.count() < maxConnectionHandlers) {
            freeHandler = new HttpConnectionHandler(settings, requestHandler, sslConfiguration);
            freeHandler->setBusy();
            pool.append(freeHandler);
        }
    }
    return freeHandler;
}

void HttpConnectionHandlerPool::cleanup()
{
    const int maxIdleHandlers = HttpSettings::intValue(settings, QStringLiteral("minThreads"), 1);
    int idleCounter = 0;
    QMutexLocker locker(&mutex);
    const QList<HttpConnectionHandler*> handlers = pool;
    for (HttpConnectionHandler* handler : handlers) {
        if (!handler->isBusy()) {
            if (++idleCounter > maxIdleHandlers) {
                delete handler;
                pool.removeOne(handler);
                qDebug("HttpConnectionHandlerPool: Removed connection handler (%p), pool size is "
                       "now %i",
                       static_cast<void*>(handler), int(pool.size()));
                break;
            }
        }
    }
}

int HttpConnectionHandlerPool::size() const
{
    QMutexLocker locker(&mutex);
    return pool.size();
}

bool HttpConnectionHandlerPool::isSslEnabled() const
{
    return sslConfiguration != nullptr;
}

void HttpConnectionHandlerPool::loadSslConfig()
{
    QString sslKeyFileName =
        HttpSettings::value(settings, QStringLiteral("sslKeyFile"), "").toString();
    QString sslCertFileName =
        HttpSettings::value(settings, QStringLiteral("sslCertFile"), "").toString();
    if (sslKeyFileName.isEmpty() || sslCertFileName.isEmpty()) {
        return;
    }

    // Relative names are looked up next to the settings file; resource names (":/...")
    // count as absolute.
    const QString configDir = QFileInfo(HttpSettings::fileName(settings)).absolutePath();
    const auto resolve = [&configDir](const QString& name) {
        if (name.startsWith(QLatin1Char(':')) || QDir::isAbsolutePath(name)) {
            return name;
        }
        return QFileInfo(QDir(configDir), name).absoluteFilePath();
    };
    sslKeyFileName = resolve(sslKeyFileName);
    sslCertFileName = resolve(sslCertFileName);

    QFile certFile(sslCertFileName);
    if (!certFile.open(QIODevice::ReadOnly)) {
        qCritical("HttpConnectionHandlerPool: cannot open sslCertFile %s",
                  qPrintable(sslCertFileName));
        return;
    }
    const QList<QSslCertificate> certificates = QSslCertificate::fromDevice(&certFile, QSsl::Pem);
    certFile.close();

    QFile keyFile(sslKeyFileName);
    if (!keyFile.open(QIODevice::ReadOnly)) {
        qCritical("HttpConnectionHandlerPool: cannot open sslKeyFile %s",
                  qPrintable(sslKeyFileName));
        return;
    }
    const QSslKey sslKey(&keyFile, QSsl::Rsa, QSsl::Pem, QSsl::PrivateKey, QByteArray());
    keyFile.close();
    qDebug(sslKey.isNull() ? "no key" : "has key");

    sslConfiguration = new QSslConfiguration();
    sslConfiguration->setLocalCertificateChain(certificates);
    sslConfiguration->setPrivateKey(sslKey);
    sslConfiguration->setPeerVerifyMode(QSslSocket::VerifyNone);
    sslConfiguration->setProtocol(QSsl::AnyProtocol);
    qDebug("HttpConnectionHandlerPool: SSL settings loaded");
}

} // namespace corvane
