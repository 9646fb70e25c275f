#include "httpconnectionhandler.h"

#include "httplogging.h"

#include "httpsettings.h"
#include "tlssocket.h"

#include <QElapsedTimer>
#include <climits>
#include <poll.h>
#include <unistd.h>

namespace corvane {

namespace {
const char connectionClose[] = "close";
// The slowest body upload that is still served (bytes per second), on top of the read timeout.
constexpr qint64 minimumBodyRate = 16384;
// How long a keep-alive connection keeps its handler while other connections wait for one.
constexpr qint64 turnMs = 100;
// How long the thread stays awake for a sole connection's next request (see below).
constexpr qint64 awakeAfterAnswerNs = 50000;
} // namespace

HttpConnectionHandler::HttpConnectionHandler(QSettings* settings,
                                             HttpRequestHandler* requestHandler,
                                             const TlsContext* tls)
    : QThread(), settings(settings), requestHandler(requestHandler), tls(tls)
{
    // The limits are read once: the settings store is shared by every thread behind one lock.
    writeTimeout = HttpSettings::intValue(settings, HttpSettingKeys::writeTimeout,
                                          HttpResponse::defaultWriteTimeout);
    readTimeoutMs = HttpSettings::intValue(settings, HttpSettingKeys::readTimeout,
                                           HttpSettings::defaultReadTimeout);
    maxRequestSize = HttpRequest::maxRequestSizeOf(settings);
    maxMultiPartSize = HttpRequest::maxMultiPartSizeOf(settings);

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

    qCDebug(httpLog, "HttpConnectionHandler (%p): constructed", static_cast<void*>(this));
    start();
}

HttpConnectionHandler::~HttpConnectionHandler()
{
    quit();
    wait();
    qCDebug(httpLog, "HttpConnectionHandler (%p): destroyed", static_cast<void*>(this));
}

void HttpConnectionHandler::createSocket()
{
    if (tls) {
        socket = new TlsSocket(tls);
        qCDebug(httpLog, "HttpConnectionHandler (%p): SSL is enabled", static_cast<void*>(this));
    } else {
        socket = new QTcpSocket();
    }
}

void HttpConnectionHandler::run()
{
    qCDebug(httpLog, "HttpConnectionHandler (%p): thread started", static_cast<void*>(this));
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
    qCDebug(httpLog, "HttpConnectionHandler (%p): thread stopped", static_cast<void*>(this));
}

bool HttpConnectionHandler::isBusy() const
{
    return busy;
}

void HttpConnectionHandler::setBusy()
{
    markBusy(true);
}

void HttpConnectionHandler::markBusy(bool on)
{
    if (busy.exchange(on) != on && busyHandlers) {
        busyHandlers->fetch_add(on ? 1 : -1);
    }
}

qint64 HttpConnectionHandler::monotonicMs()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    // One more, so that 0 keeps meaning "not waiting".
    return clock.elapsed() + 1;
}

bool HttpConnectionHandler::reserveIfWaitingSince(qint64 before)
{
    const qint64 since = waitingSince.load();
    if (since == 0 || since > before) {
        return false;
    }
    bool expected = false;
    return reserved.compare_exchange_strong(expected, true);
}

qint64 HttpConnectionHandler::waitingSinceMs() const
{
    return reserved.load() ? 0 : waitingSince.load();
}

void HttpConnectionHandler::handleConnection(tSocketDescriptor socketDescriptor, SSL* session)
{
    qCDebug(httpLog, "HttpConnectionHandler (%p): handle new connection", static_cast<void*>(this));
    markBusy(true);
    reserved = false;

    // A connection that was still waiting for a request gives way to this one: parked if it
    // has sent nothing of its next request, cut if it has. Neither marks the handler free.
    if (socket->state() != QAbstractSocket::UnconnectedState) {
        adopting = true;
        if (!park()) {
            qCDebug(httpLog, "HttpConnectionHandler (%p): cutting a waiting connection",
                    static_cast<void*>(this));
            socket->abort();
        }
        adopting = false;
    }
    // Discards whatever the socket object still holds from its previous connection
    // (a TLS socket does so when it adopts the next one).
    if (!tls) {
        socket->connectToHost(QString(), 0, QIODevice::ReadWrite);
        socket->abort();
    }
    readTimer.stop();
    closing = false;
    delete currentRequest;
    currentRequest = nullptr;

    const bool adopted =
        session ? static_cast<TlsSocket*>(socket)->adoptSession(socketDescriptor, session)
                : socket->setSocketDescriptor(socketDescriptor, QAbstractSocket::ConnectedState,
                                              QIODevice::ReadWrite);
    if (!adopted) {
        qCritical("HttpConnectionHandler (%p): cannot initialize socket: %s",
                  static_cast<void*>(this), qPrintable(socket->errorString()));
        // No connection exists that could end and free the handler, so it is free again
        // now; the descriptor was handed to us and is ours to close.
        if (socketDescriptor >= 0) {
            ::close(int(socketDescriptor));
        }
        waitingSince = 0;
        markBusy(false);
        return;
    }

    connectedSinceMs = monotonicMs();
    // Answers are written whole; waiting to coalesce small TLS records only adds latency.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);

    if (tls && !session) {
        qCDebug(httpLog, "HttpConnectionHandler (%p): Starting encryption",
                static_cast<void*>(this));
        static_cast<TlsSocket*>(socket)->startServerEncryption();
    }

    waitForRequest();
}

void HttpConnectionHandler::waitForRequest()
{
    readTimer.start(readTimeoutMs);
    waitingSince = monotonicMs();
}

void HttpConnectionHandler::readTimeout()
{
    qCDebug(httpLog, "HttpConnectionHandler (%p): read timeout occured", static_cast<void*>(this));
    closeConnection();
    delete currentRequest;
    currentRequest = nullptr;
}

void HttpConnectionHandler::disconnected()
{
    qCDebug(httpLog, "HttpConnectionHandler (%p): disconnected", static_cast<void*>(this));
    socket->close();
    readTimer.stop();
    waitingSince = 0;
    // A handler already promised to a new connection stays taken until it adopts it.
    if (!adopting && !reserved) {
        markBusy(false);
        emit freed();
    }
}

void HttpConnectionHandler::socketError(QAbstractSocket::SocketError socketError)
{
    qCDebug(httpLog, "Socket Error: %s (HttpConnectionHandler %p, code %i)",
            qPrintable(socket->errorString()), static_cast<void*>(this), int(socketError));
}

void HttpConnectionHandler::closeConnection()
{
    // Nothing more is read from a connection that is being closed.
    closing = true;
    waitingSince = 0;
    readTimer.stop();
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

bool HttpConnectionHandler::park()
{
    // Only between requests: a request begun stays with the handler that reads it.
    if (currentRequest || closing || socket->state() != QAbstractSocket::ConnectedState) {
        return false;
    }
    SSL* session = nullptr;
    qintptr descriptor = -1;
    if (tls) {
        descriptor = static_cast<TlsSocket*>(socket)->takeSession(&session);
    } else if (!socket->bytesAvailable() && !socket->bytesToWrite()) {
        descriptor = ::dup(int(socket->socketDescriptor()));
    }
    if (descriptor < 0) {
        return false;
    }
    qCDebug(httpLog, "HttpConnectionHandler (%p): parking a waiting connection",
            static_cast<void*>(this));
    readTimer.stop();
    waitingSince = 0;
    emit parked(descriptor, session);
    // The duplicate keeps the connection open; this frees the handler (unless it adopts).
    socket->abort();
    return true;
}

void HttpConnectionHandler::read()
{
    // Writing an answer, or waiting for it to leave, lets the socket signal new bytes
    // from within that write. Serving them there would run a second request inside the
    // first one on the same thread; they wait in the socket's buffer instead, and the
    // loop below takes them once the answer is out.
    if (reading) {
        return;
    }
    reading = true;
    serveAvailableRequests();
    reading = false;
}

bool HttpConnectionHandler::nextRequestArrived()
{
    // A client that sends its next request as soon as it has the answer (a page's follow-up
    // call, a loop of status polls) finds the thread still awake: it looks at the socket for
    // a moment before it sleeps. Falling asleep and being woken by the other core costs
    // tens of microseconds on virtual machines, more than the request itself. Only while this
    // is the one connection: with more, the others need the core; with one core, the client
    // cannot send while this thread runs.
    static const bool otherCores = QThread::idealThreadCount() > 1;
    if (!otherCores || closing || currentRequest ||
        socket->state() != QAbstractSocket::ConnectedState ||
        (busyHandlers && busyHandlers->load() > 1) || HttpResponse::pendingBytes(socket) > 0) {
        return false;
    }
    pollfd ready{tls ? static_cast<TlsSocket*>(socket)->descriptorForPolling()
                     : int(socket->socketDescriptor()),
                 POLLIN, 0};
    QElapsedTimer clock;
    clock.start();
    do {
        if (::poll(&ready, 1, 0) > 0) {
            return socket->waitForReadyRead(0);
        }
    } while (clock.nsecsElapsed() < awakeAfterAnswerNs);
    return false;
}

void HttpConnectionHandler::serveAvailableRequests()
{
    // Requests that arrive back to back on one connection are served in order, in one pass.
    while (socket->isOpen() && (socket->bytesAvailable() || nextRequestArrived())) {
        if (closing) {
            socket->readAll(); // the client is being cut off; what it still sends is dropped
            return;
        }
        if (!currentRequest) {
            currentRequest = new HttpRequest(maxRequestSize, maxMultiPartSize);
        }

        while (socket->bytesAvailable() && currentRequest->getStatus() != HttpRequest::complete &&
               currentRequest->getStatus() != HttpRequest::aborted) {
            const bool hadHead = currentRequest->getStatus() == HttpRequest::awaitingBody;
            currentRequest->readFromSocket(socket);
            if (!hadHead && currentRequest->getStatus() == HttpRequest::awaitingBody) {
                // The body gets a deadline of its own once, sized for a slow but honest
                // upload; a trickle of bytes cannot keep the handler for ever.
                readTimer.start(
                    readTimeoutMs +
                    int(qMin<qint64>(INT_MAX / 2, qint64(currentRequest->getExpectedBodySize()) *
                                                      1000 / minimumBodyRate)));
                // A client that asked first sends its body only when told to (or after a
                // wait of its own); a head that is refused never gets here.
                if (qstricmp(currentRequest->getHeader("Expect").constData(), "100-continue") ==
                        0 &&
                    qstricmp(currentRequest->getVersion().constData(), "HTTP/1.1") == 0 &&
                    !socket->bytesAvailable()) {
                    socket->write("HTTP/1.1 100 Continue\r\n\r\n");
                }
            }
        }

        if (currentRequest->getStatus() == HttpRequest::aborted) {
            socket->write(refusal(currentRequest->getAbortStatus()));
            closeConnection();
            delete currentRequest;
            currentRequest = nullptr;
            return;
        }

        if (currentRequest->getStatus() != HttpRequest::complete) {
            return; // the rest of the request is still on its way
        }

        readTimer.stop();
        waitingSince = 0;
        qCDebug(httpLog, "HttpConnectionHandler (%p): received request", static_cast<void*>(this));

        HttpResponse response(socket);
        response.setWriteTimeout(writeTimeout);

        // The client asked to close (or speaks HTTP/1.0: this also keeps the response out of
        // chunked mode, its end is the connection's end).
        bool closeAfterResponse =
            qstricmp(currentRequest->getHeader("Connection").constData(), connectionClose) == 0 ||
            qstricmp(currentRequest->getVersion().constData(), "HTTP/1.0") == 0;
        if (closeAfterResponse) {
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
        qCDebug(httpLog, "HttpConnectionHandler (%p): finished request", static_cast<void*>(this));

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

        delete currentRequest;
        currentRequest = nullptr;
        if (closeAfterResponse) {
            closeConnection();
            return;
        }
        if (socket->state() == QAbstractSocket::ConnectedState) {
            waitForRequest();
        }
    }
    // Others wait for a handler and this connection has had its turn: it waits for its next
    // request without holding the thread, and takes its turn again behind them.
    if (waitingConnections && waitingConnections->load() > 0 &&
        monotonicMs() - connectedSinceMs >= turnMs) {
        park();
    }
}

QByteArray HttpConnectionHandler::refusal(int httpStatus)
{
    switch (httpStatus) {
    case 400:
        return "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n400 Bad Request\r\n";
    case 431:
        return "HTTP/1.1 431 Request Header Fields Too Large\r\nConnection: close\r\n\r\n431 "
               "Request Header Fields Too Large\r\n";
    default:
        return "HTTP/1.1 413 entity too large\r\nConnection: close\r\n\r\n413 Entity too "
               "large\r\n";
    }
}

} // namespace corvane
