#ifndef CORVANE_HTTPLISTENER_H
#define CORVANE_HTTPLISTENER_H

#include "httpconnectionhandler.h"
#include "httpconnectionhandlerpool.h"
#include "httprequesthandler.h"

#include <QList>
#include <QSettings>
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
    };
    /** Hands waiting connections to handlers as they free; refuses those over the limits. */
    void serveWaiting();
    /** Answers 503 on the connection and closes it. */
    void refuse(tSocketDescriptor socketDescriptor);

    QList<Waiting> waiting;
    QTimer waitingTimer;
    QSettings* settings;
    HttpRequestHandler* requestHandler;
    HttpConnectionHandlerPool* pool = nullptr;
};

} // namespace corvane

#endif
