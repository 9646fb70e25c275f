#ifndef CORVANE_HTTPCONNECTIONHANDLER_H
#define CORVANE_HTTPCONNECTIONHANDLER_H

#include "httprequest.h"
#include "httprequesthandler.h"
#include "httpsettings.h"
#include "tlssocket.h"

#include <QAbstractSocket>
#include <QSettings>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <atomic>

namespace corvane {

/** A native socket descriptor, as QTcpServer hands it out; travels through queued calls. */
typedef qintptr tSocketDescriptor;

/**
 * Serves one connection at a time in a thread of its own.
 *
 * The handler adopts a socket descriptor, reads requests from it, passes each complete
 * request with a fresh response to the request handler, and then keeps or closes the
 * connection. Handlers are pooled: thread and socket object serve later connections too.
 */
class TlsContext;

class HttpConnectionHandler : public QThread
{
    Q_OBJECT
    Q_DISABLE_COPY(HttpConnectionHandler)

public:
    HttpConnectionHandler(QSettings* settings, HttpRequestHandler* requestHandler,
                          const TlsContext* tls = nullptr);
    ~HttpConnectionHandler() override;

    bool isBusy() const;
    void setBusy();

    /**
     * When the handler's connection began to wait for its next request (a monotonic
     * millisecond count), or 0 while a request is served, the handler is free or it is
     * already promised to a new connection.
     */
    qint64 waitingSinceMs() const;
    /**
     * Promises the handler to a new connection if its connection has been waiting for a
     * request since \a before or earlier; the new connection's handleConnection() then cuts
     * the waiting one. Called by the pool when no handler is free.
     */
    bool reserveIfWaitingSince(qint64 before);
    static qint64 monotonicMs();
    /**
     * The number of connections that wait for a handler (kept by the pool). While any wait,
     * a keep-alive connection that has had its turn is parked after its current answer, so
     * that it takes its turn again behind them instead of holding the handler.
     */
    void setWaitingConnections(const std::atomic<int>* count) { waitingConnections = count; }
    /** The number of busy handlers in the pool, kept up to date by each of them. */
    void setBusyHandlers(std::atomic<int>* count) { busyHandlers = count; }

signals:
    /** The handler has become free for a new connection. */
    void freed();
    /**
     * The connection waits for its next request without this handler: the descriptor (a
     * duplicate, now the receiver's) and its TLS session (null without TLS). Emitted before
     * the handler frees.
     */
    void parked(tSocketDescriptor socketDescriptor, SSL* session);

public slots:
    /** Serves a new connection, or one that was parked with its TLS session. */
    void handleConnection(tSocketDescriptor socketDescriptor, SSL* session = nullptr);

private slots:
    void readTimeout();
    void read();
    void socketError(QAbstractSocket::SocketError socketError);
    void disconnected();

private:
    void run() override;
    void createSocket();
    void closeConnection();
    bool park();
    void serveAvailableRequests();
    bool nextRequestArrived();
    void markBusy(bool on);
    void waitForRequest();
    static QByteArray refusal(int httpStatus);

    QSettings* settings;
    QTcpSocket* socket = nullptr;
    QTimer readTimer;
    HttpRequest* currentRequest = nullptr;
    HttpRequestHandler* requestHandler;
    std::atomic<bool> busy{false};
    const TlsContext* tls;
    int writeTimeout = HttpResponse::defaultWriteTimeout;
    int readTimeoutMs = HttpSettings::defaultReadTimeout;
    int maxRequestSize = 0;
    int maxMultiPartSize = 0;
    bool reading = false;  // read() is running; a signal from inside it must not re-enter
    bool closing = false;  // the connection is being closed; nothing more is read
    bool adopting = false; // a waiting connection is cut for a new one
    std::atomic<qint64> waitingSince{0};
    std::atomic<bool> reserved{false};
    const std::atomic<int>* waitingConnections = nullptr;
    std::atomic<int>* busyHandlers = nullptr;
    qint64 connectedSinceMs = 0;
};

} // namespace corvane

#endif
