#ifndef CORVANE_HTTPLISTENER_H
#define CORVANE_HTTPLISTENER_H

#include "httpconnectionhandler.h"
#include "httpconnectionhandlerpool.h"
#include "httprequesthandler.h"

#include <QHash>
#include <QList>
#include <QSettings>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTimer>

namespace corvane {

/**
 * The TCP (or TLS) server at the front of the HTTP server. It listens as soon as it
 * exists and hands every accepted connection to a pooled handler thread. When none is
 * free the connection waits, in order of arrival, for a handler to free (or for one whose
 * client has sat without a complete request to give way); one that waits too long, or
 * finds too many ahead of it, is answered 503 by the listener itself, over TLS when the
 * server uses TLS.
 *
 * While connections wait, a handler's keep-alive connection that has had its turn, or
 * that sits between requests when a newcomer needs its handler, is parked here: the
 * listener watches its descriptor (and keeps its TLS session) and queues it again when
 * its next request comes, or closes it after the read timeout. So every connection is
 * kept open, and the threads serve requests rather than wait for them.
 *
 * Settings read from the given object (its current group): host, port, minThreads,
 * maxThreads, cleanupInterval, sslKeyFile, sslCertFile, readTimeout, writeTimeout,
 * maxRequestSize, maxMultiPartSize. A handler reads the last four when it is made.
 */
class HttpListener : public QTcpServer
{
    Q_OBJECT
    Q_DISABLE_COPY(HttpListener)

public:
    HttpListener(QSettings* settings, HttpRequestHandler* requestHandler,
                 QObject* parent = nullptr);
    ~HttpListener() override;

    /** Binds to the configured host and port; creates the pool first if there is none. */
    void listen();
    /** Stops accepting and destroys the pool, cutting the connections in progress. */
    void close();

    /** The handler pool, null while closed. */
    HttpConnectionHandlerPool* connectionHandlerPool() const { return pool; }

protected:
    void incomingConnection(tSocketDescriptor socketDescriptor) override;

private:
    struct Waiting
    {
        tSocketDescriptor descriptor;
        qint64 sinceMs;
        SSL* session; // of a connection that was parked on the TLS port, else null
    };
    /** Hands waiting connections to handlers as they free; refuses those over the limits. */
    void serveWaiting();
    /** Answers 503 on the connection and closes it. */
    void refuse(const Waiting& connection);
    /** Watches a parked connection until its next request comes or it sits too long. */
    void park(tSocketDescriptor socketDescriptor, SSL* session);
    void unpark(QSocketNotifier* notifier, bool ready);
    static void discard(const Waiting& connection);

    QList<Waiting> waiting;
    QHash<QSocketNotifier*, SSL*> parked;
    int readTimeoutMs;
    QTimer waitingTimer;
    QSettings* settings;
    HttpRequestHandler* requestHandler;
    HttpConnectionHandlerPool* pool = nullptr;
};

} // namespace corvane

#endif
