#include "httplistener.h"

#include "httpsettings.h"

#include <QHostAddress>
#include <QMetaObject>

namespace corvane {

HttpListener::HttpListener(QSettings* settings, HttpRequestHandler* requestHandler, QObject* parent)
    : QTcpServer(parent), settings(settings), requestHandler(requestHandler)
{
    qRegisterMetaType<tSocketDescriptor>("tSocketDescriptor");
    listen();
}

HttpListener::~HttpListener()
{
    close();
    qDebug("HttpListener: destroyed");
}

void HttpListener::listen()
{
    if (!pool) {
        pool = new HttpConnectionHandlerPool(settings, requestHandler);
    }
    const QString host = HttpSettings::value(settings, QStringLiteral("host")).toString();
    const quint16 port = quint16(HttpSettings::value(settings, QStringLiteral("port")).toInt());
    QTcpServer::listen(host.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(host), port);
    if (!isListening()) {
        qCritical("HttpListener: Cannot bind on port %i: %s", int(port), qPrintable(errorString()));
    } else {
        qDebug("HttpListener: Listening on port %i", int(port));
    }
}

void HttpListener::close()
{
    QTcpServer::close();
    qDebug("HttpListener: closed");
    delete pool;
    pool = nullptr;
}

void HttpListener::incomingConnection(tSocketDescriptor socketDescriptor)
{
    HttpConnectionHandler* freeHandler = pool ? pool->getConnectionHandler() : nullptr;
    if (freeHandler) {
        // The descriptor is adopted in the handler's own thread.
        QMetaObject::invokeMethod(freeHandler, "handleConnection", Qt::QueuedConnection,
                                  Q_ARG(tSocketDescriptor, socketDescriptor));
        return;
    }

    qDebug("HttpListener: Too many incoming connections");
    auto* socket = new QTcpSocket(this);
    socket->setSocketDescriptor(socketDescriptor);
    connect(socket, &QTcpSocket::disconnected, socket, &QTcpSocket::deleteLater);
    socket->write("HTTP/1.1 503 too many connections\r\nConnection: close\r\n\r\nToo many "
                  "connections\r\n");
    socket->disconnectFromHost();
}

} // namespace corvane
