#include "httpconnectionhandler.h"

#include "httpsettings.h"

#include <QSslSocket>
#include <unistd.h>

namespace corvane {

namespace {
const char connectionClose[] = "close";
} // namespace

HttpConnectionHandler::HttpConnectionHandler(QSettings* settings,
                                             HttpRequestHandler* requestHandler,
                                             const QSslConfiguration* sslConfiguration)
    : QThread()
    , settings(settings)
    , requestHandler(requestHandler)
    , sslConfiguration(sslConfiguration)
{
    createSocket();
    // The handler, its socket and its timer live in the handler's own thread, so that
    // the socket's signals and the slots below run there.
    moveToThread(this);
    socket->moveToThread(this);
    readTimer.moveToThread(this);

    connect(socket, &QTcpSocket::readyRead, this, &HttpConnectionHandler::read);
    connect(socket, &QTcpSocket::disconnected, this, &HttpConnectionHandler::disconnected);
    connect(socket, &QAbstractSocket::errorOccurred, this, &HttpConnectionHandler::socketError);
    connect(&readTimer, &QTimer::timeout, this, &HttpConnectionHandler::readTimeout);
    readTimer.setSingleShot(true);

    qDebug("HttpConnectionHandler (%p): constructed", static_cast<void*>(this));
    start();
}

HttpConnectionHandler::~HttpConnectionHandler()
{
    quit();
    wait();
    qDebug("HttpConnectionHandler (%p): destroyed", static_cast<void*>(this));
}

void HttpConnectionHandler::createSocket()
{
    if (sslConfiguration) {
        auto* sslSocket = new QSslSocket();
        sslSocket->setSslConfiguration(*sslConfiguration);
        socket = sslSocket;
        qDebug("HttpConnectionHandler (%p): SSL is enabled", static_cast<void*>(this));
    } else {
        socket = new QTcpSocket();
    }
}

void HttpConnectionHandler::run()
{
    qDebug("HttpConnectionHandler (%p): thread started", static_cast<void*>(this));
    try {
        exec();
    } catch (...) {
        qCritical("HttpConnectionHandler (%p): an uncatched exception occured in the thread",
                  static_cast<void*>(this));
    }
    socket->close();
    delete socket;
    socket = nullptr;
    readTimer.stop();
    delete currentRequest;
    currentRequest = nullptr;
    qDebug("HttpConnectionHandler (%p): thread stopped", static_cast<void*>(this));
}

bool HttpConnectionHandler::isBusy() const
{
    return busy;
}

void HttpConnectionHandler::setBusy()
{
    busy = true;
}

void HttpConnectionHandler::handleConnection(tSocketDescriptor socketDescriptor)
{
    qDebug("HttpConnectionHandler (%p): handle new connection", static_cast<void*>(this));
    busy = true;

    // Discards whatever the socket object still holds from its previous connection
    // (for a TLS socket, its encryption state as well).
    socket->connectToHost(QString(), 0, QIODevice::ReadWrite);
    socket->abort();

    if (!socket->setSocketDescriptor(socketDescriptor, QAbstractSocket::ConnectedState,
                                     QIODevice::ReadWrite)) {
        qCritical("HttpConnectionHandler (%p): cannot initialize socket: %s",
                  static_cast<void*>(this), qPrintable(socket->errorString()));
        // No connection exists that could end and free the handler, so it is free again
        // now; the descriptor was handed to us and is ours to close.
        if (socketDescriptor >= 0) {
            ::close(int(socketDescriptor));
        }
        busy = false;
        return;
    }

    // Answers are written whole; waiting to coalesce small TLS records only adds latency.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);

    if (sslConfiguration) {
        qDebug("HttpConnectionHandler (%p): Starting encryption", static_cast<void*>(this));
        static_cast<QSslSocket*>(socket)->startServerEncryption();
    }

    writeTimeout = HttpSettings::intValue(settings, QStringLiteral("writeTimeout"),
                                          HttpResponse::defaultWriteTimeout);
    readTimer.start(HttpSettings::intValue(settings, QStringLiteral("readTimeout"), 10000));

    delete currentRequest;
    currentRequest = nullptr;
}

void HttpConnectionHandler::readTimeout()
{
    qDebug("HttpConnectionHandler (%p): read timeout occured", static_cast<void*>(this));
    closeConnection();
    delete currentRequest;
    currentRequest = nullptr;
}

void HttpConnectionHandler::disconnected()
{
    qDebug("HttpConnectionHandler (%p): disconnected", static_cast<void*>(this));
    socket->close();
    readTimer.stop();
    busy = false;
}

void HttpConnectionHandler::socketError(QAbstractSocket::SocketError socketError)
{
    qDebug("Socket Error: %s (HttpConnectionHandler %p, code %i)",
           qPrintable(socket->errorString()), static_cast<void*>(this), int(socketError));
}

void HttpConnectionHandler::closeConnection()
{
    // Let the client take what is still queued, but not for ever: a client that reads
    // nothing for writeTimeout is cut off.
    qint64 pending = HttpResponse::pendingBytes(socket);
    while (pending > 0 && socket->state() == QAbstractSocket::ConnectedState) {
        socket->waitForBytesWritten(writeTimeout);
        const qint64 now = HttpResponse::pendingBytes(socket);
        if (now >= pending) {
            break;
        }
        pending = now;
    }
    if (HttpResponse::pendingBytes(socket) > 0) {
        socket->abort();
    } else {
        socket->disconnectFromHost();
    }
}

void HttpConnectionHandler::read()
{
    // Requests that arrive back to back on one connection are served in order, in one pass.
    while (socket->isOpen() && socket->bytesAvailable()) {
        if (!currentRequest) {
            currentRequest = new HttpRequest(settings);
        }

        while (socket->bytesAvailable() && currentRequest->getStatus() != HttpRequest::complete &&
               currentRequest->getStatus() != HttpRequest::aborted) {
            currentRequest->readFromSocket(socket);
            if (currentRequest->getStatus() == HttpRequest::awaitingBody) {
                // A long upload is not cut while data keeps coming.
                readTimer.start(
                    HttpSettings::intValue(settings, QStringLiteral("readTimeout"), 10000));
            }
        }

        if (currentRequest->getStatus() == HttpRequest::aborted) {
            readTimer.stop();
            socket->write(
                "HTTP/1.1 413 entity too large\r\nConnection: close\r\n\r\n413 Entity too "
                "large\r\n");
            closeConnection();
            delete currentRequest;
            currentRequest = nullptr;
            return;
        }

        if (currentRequest->getStatus() != HttpRequest::complete) {
            return; // the rest of the request is still on its way
        }

        readTimer.stop();
        qDebug("HttpConnectionHandler (%p): received request", static_cast<void*>(this));

        HttpResponse response(socket);
        response.setWriteTimeout(writeTimeout);

        bool closeAfterResponse = false;
        if (qstricmp(currentRequest->getHeader("Connection").constData(), connectionClose) == 0 ||
            qstricmp(currentRequest->getVersion().constData(), "HTTP/1.0") == 0) {
            // Also keeps the response out of chunked mode: its end is the connection's end.
            closeAfterResponse = true;
            response.setHeader("Connection", connectionClose);
        }

        try {
            requestHandler->service(*currentRequest, response);
        } catch (...) {
            qCritical("HttpConnectionHandler (%p): An uncatched exception occured in the request "
                      "handler",
                      static_cast<void*>(this));
        }

        if (!response.hasSentLastPart()) {
            response.write(QByteArray(), true);
        }
        qDebug("HttpConnectionHandler (%p): finished request", static_cast<void*>(this));

        if (!closeAfterResponse) {
            const QMap<QByteArray, QByteArray>& headers = response.getHeaders();
            if (qstricmp(headers.value("Connection").constData(), connectionClose) == 0) {
                closeAfterResponse = true;
            } else if (!headers.contains("Content-Length") &&
                       qstricmp(headers.value("Transfer-Encoding").constData(), "chunked") != 0) {
                // Without a length and without chunking only the close ends the body.
                closeAfterResponse = true;
            }
        }

        if (closeAfterResponse) {
            closeConnection();
        } else if (socket->state() == QAbstractSocket::ConnectedState) {
            readTimer.start(HttpSettings::intValue(settings, QStringLiteral("readTimeout"), 10000));
        }
        delete currentRequest;
        currentRequest = nullptr;
    }
}

} // namespace corvane
