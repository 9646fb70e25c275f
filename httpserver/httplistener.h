#ifndef CORVANE_HTTPLISTENER_H
#define CORVANE_HTTPLISTENER_H

#include "httpconnectionhandler.h"
#include "httpconnectionhandlerpool.h"
#include "httprequesthandler.h"

#include <QSettings>
#include <QTcpServer>

namespace corvane {

/**
 * The TCP (or TLS) server at the front of the HTTP server. It listens as soon as it
 * exists and hands every accepted connection to a pooled handler thread; when none is
 * free it answers 503 itself.
 *
 * Settings read from the given object (its current group): host, port, minThreads,
 * maxThreads, cleanupInterval, sslKeyFile, sslCertFile, readTimeout, writeTimeout,
 * maxRequestSize, maxMultiPartSize.
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
    QSettings* settings;
    HttpRequestHandler* requestHandler;
    HttpConnectionHandlerPool* pool = nullptr;
};

} // namespace corvane

#endif
