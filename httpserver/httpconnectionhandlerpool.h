#ifndef CORVANE_HTTPCONNECTIONHANDLERPOOL_H
#define CORVANE_HTTPCONNECTIONHANDLERPOOL_H

#include "httpconnectionhandler.h"
#include "tlscontext.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QSettings>
#include <QTimer>

#include <atomic>

namespace corvane {

/**
 * The pool of connection-handler threads.
 *
 * Idle handlers are reused; new ones are created up to "maxThreads"; a timer retires
 * one surplus idle handler per tick down to "minThreads". The pool also holds the TLS
 * configuration that every handler's socket uses.
 */
class HttpConnectionHandlerPool : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(HttpConnectionHandlerPool)

public:
    HttpConnectionHandlerPool(QSettings* settings, HttpRequestHandler* requestHandler);
    ~HttpConnectionHandlerPool() override;

    /**
     * A handler already marked busy for the caller, or null when none can be had. When
     * every handler is taken, one whose connection has waited longest for a request is
     * handed out; it cuts that connection when it adopts the new one.
     */
    HttpConnectionHandler* getConnectionHandler();

    /** Number of handler threads that exist. */
    int size() const;
    /** Whether TLS is configured. */
    bool isSslEnabled() const;
    /** Tells the handlers how many connections wait for one of them. */
    void setWaitingConnections(int count) { waitingConnections = count; }
    /** The TLS configuration every handler's socket uses, null without TLS. */
    const TlsContext* tlsContext() const { return tls; }

signals:
    /** A handler has become free (emitted in the pool's thread). */
    void handlerFreed();
    /** A handler has parked its connection (emitted in the pool's thread). */
    void connectionParked(tSocketDescriptor socketDescriptor, SSL* session);

private slots:
    void cleanup();

private:
    void loadSslConfig();
    HttpConnectionHandler* longestWaiting();

    QSettings* settings;
    HttpRequestHandler* requestHandler;
    QList<HttpConnectionHandler*> pool;
    QTimer cleanupTimer;
    mutable QMutex mutex;
    bool usedSinceTrim = false; // a connection was handed out since the memory was last trimmed
    TlsContext* tls = nullptr;
    std::atomic<int> waitingConnections{0};
    std::atomic<int> busyHandlers{0}; // kept by the handlers themselves
};

} // namespace corvane

#endif
