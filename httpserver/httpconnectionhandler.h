#ifndef CORVANE_HTTPCONNECTIONHANDLER_H
#define CORVANE_HTTPCONNECTIONHANDLER_H

#include "httprequest.h"
#include "httprequesthandler.h"

#include <QAbstractSocket>
#include <QSettings>
#include <QSslConfiguration>
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
class HttpConnectionHandler : public QThread
{
    Q_OBJECT
    Q_DISABLE_COPY(HttpConnectionHandler)

public:
    HttpConnectionHandler(QSettings* settings, HttpRequestHandler* requestHandler,
                          const QSslConfiguration* sslConfiguration = nullptr);
    ~HttpConnectionHandler() override;

    bool isBusy() const;
    void setBusy();

public slots:
    void handleConnection(tSocketDescriptor socketDescriptor);

private slots:
    void readTimeout();
    void read();
    void socketError(QAbstractSocket::SocketError socketError);
    void disconnected();

private:
    void run() override;
    void createSocket();
    void closeConnection();

    QSettings* settings;
    QTcpSocket* socket = nullptr;
    QTimer readTimer;
    HttpRequest* currentRequest = nullptr;
    HttpRequestHandler* requestHandler;
    std::atomic<bool> busy{false};
    const QSslConfiguration* sslConfiguration;
    int writeTimeout = HttpResponse::defaultWriteTimeout;
};

} // namespace corvane

#endif
