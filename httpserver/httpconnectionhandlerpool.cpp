#include "httpconnectionhandlerpool.h"

#include "httplogging.h"

#include "httpsettings.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

namespace corvane {

namespace {
// How long a connection may wait for its request before a new client may take its handler.
constexpr qint64 waitingGraceMs = 2000;
} // namespace

HttpConnectionHandlerPool::HttpConnectionHandlerPool(QSettings* settings,
                                                     HttpRequestHandler* requestHandler)
    : QObject(), settings(settings), requestHandler(requestHandler)
{
    loadSslConfig();
    cleanupTimer.start(HttpSettings::intValue(settings, HttpSettingKeys::cleanupInterval,
                                              HttpSettings::defaultCleanupInterval));
    connect(&cleanupTimer, &QTimer::timeout, this, &HttpConnectionHandlerPool::cleanup);
}

HttpConnectionHandlerPool::~HttpConnectionHandlerPool()
{
    // Each handler stops and joins its thread; the TLS configuration they point to
    // goes only after all of them.
    for (HttpConnectionHandler* handler : qAsConst(pool)) {
        delete handler;
    }
    delete tls;
    qCDebug(httpLog, "HttpConnectionHandlerPool (%p): destroyed", static_cast<void*>(this));
}

HttpConnectionHandler* HttpConnectionHandlerPool::getConnectionHandler()
{
    HttpConnectionHandler* freeHandler = nullptr;
    QMutexLocker locker(&mutex);
    usedSinceTrim = true;
    for (HttpConnectionHandler* handler : qAsConst(pool)) {
        if (!handler->isBusy()) {
            freeHandler = handler;
            freeHandler->setBusy();
            break;
        }
    }
    if (!freeHandler) {
        const int maxConnectionHandlers = HttpSettings::intValue(
            settings, HttpSettingKeys::maxThreads, HttpSettings::defaultMaxThreads);
        if (pool.count() < maxConnectionHandlers) {
            freeHandler = new HttpConnectionHandler(settings, requestHandler, tls);
            freeHandler->setWaitingConnections(&waitingConnections);
            freeHandler->setBusyHandlers(&busyHandlers);
            connect(freeHandler, &HttpConnectionHandler::parked, this,
                    &HttpConnectionHandlerPool::connectionParked, Qt::QueuedConnection);
            connect(freeHandler, &HttpConnectionHandler::freed, this,
                    &HttpConnectionHandlerPool::handlerFreed, Qt::QueuedConnection);
            freeHandler->setBusy();
            pool.append(freeHandler);
        }
    }
    if (!freeHandler) {
        freeHandler = longestWaiting();
    }
    return freeHandler;
}

HttpConnectionHandler* HttpConnectionHandlerPool::longestWaiting()
{
    // Every handler is taken. Connections that have sat without a complete request for a
    // while (idle keep-alives, clients that trickle their bytes) would otherwise lock out
    // everyone else; the one that has waited longest makes room for the newcomer.
    const qint64 before = HttpConnectionHandler::monotonicMs() - waitingGraceMs;
    for (;;) {
        HttpConnectionHandler* oldest = nullptr;
        qint64 oldestSince = 0;
        for (HttpConnectionHandler* handler : qAsConst(pool)) {
            const qint64 since = handler->waitingSinceMs();
            if (since > 0 && since <= before && (!oldest || since < oldestSince)) {
                oldest = handler;
                oldestSince = since;
            }
        }
        if (!oldest) {
            return nullptr;
        }
        if (oldest->reserveIfWaitingSince(before)) {
            return oldest;
        }
        // it began serving a request meanwhile; look again
    }
}

void HttpConnectionHandlerPool::cleanup()
{
    const int maxIdleHandlers = HttpSettings::intValue(settings, HttpSettingKeys::minThreads,
                                                       HttpSettings::defaultMinThreads);
    int idleCounter = 0;
    bool retired = false;
    QMutexLocker locker(&mutex);
    const QList<HttpConnectionHandler*> handlers = pool;
    for (HttpConnectionHandler* handler : handlers) {
        if (!handler->isBusy() && ++idleCounter > maxIdleHandlers) {
            delete handler;
            pool.removeOne(handler);
            qCDebug(httpLog,
                    "HttpConnectionHandlerPool: Removed connection handler (%p), pool size is "
                    "now %i",
                    static_cast<void*>(handler), int(pool.size()));
            retired = true;
            break;
        }
    }
#ifdef __GLIBC__
    // What a burst of connections took (buffers, sessions, per-thread heaps) goes back to the
    // system once the pool shrinks or has fallen idle after use; the allocator keeps it.
    if (retired || (usedSinceTrim && idleCounter == handlers.size())) {
        usedSinceTrim = false;
        malloc_trim(0);
    }
#else
    Q_UNUSED(retired)
#endif
}

int HttpConnectionHandlerPool::size() const
{
    QMutexLocker locker(&mutex);
    return pool.size();
}

bool HttpConnectionHandlerPool::isSslEnabled() const
{
    return tls != nullptr;
}

void HttpConnectionHandlerPool::loadSslConfig()
{
    QString sslKeyFileName = HttpSettings::value(settings, HttpSettingKeys::sslKeyFile).toString();
    QString sslCertFileName =
        HttpSettings::value(settings, HttpSettingKeys::sslCertFile).toString();
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
    QFile keyFile(sslKeyFileName);
    if (!keyFile.open(QIODevice::ReadOnly)) {
        qCritical("HttpConnectionHandlerPool: cannot open sslKeyFile %s",
                  qPrintable(sslKeyFileName));
        return;
    }
    // Made once for every connection; an RSA key as before, or an elliptic-curve key
    // (cheaper handshakes).
    tls = new TlsContext(certFile.readAll(), keyFile.readAll());
    qCDebug(httpLog, tls->hasKey() ? "has key" : "no key");
    qCDebug(httpLog, "HttpConnectionHandlerPool: SSL settings loaded");
}

} // namespace corvane
