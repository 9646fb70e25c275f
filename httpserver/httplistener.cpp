#include "httplistener.h"

#include "httplogging.h"

#include "httpsettings.h"

#include "tlssocket.h"
#include <QHostAddress>
#include <QMetaObject>

#include <unistd.h>

namespace corvane {

namespace {
// Longer than the grace after which a connection without a complete request gives way, so
// that a newcomer is served rather than refused while others only trickle bytes.
constexpr qint64 maxWaitMs = 3000;
constexpr int maxWaiting = 256;
// How often waiting connections look for a handler (only while some wait).
constexpr int waitingPollMs = 20;
// Bound on the refusal's handshake and answer.
constexpr int refusalMs = 5000;
const char tooManyConnections[] =
    "HTTP/1.1 503 too many connections\r\nConnection: close\r\n\r\nToo many connections\r\n";
} // namespace

HttpListener::HttpListener(QSettings* settings, HttpRequestHandler* requestHandler, QObject* parent)
    : QTcpServer(parent), settings(settings), requestHandler(requestHandler)
{
    qRegisterMetaType<tSocketDescriptor>("tSocketDescriptor");
    qRegisterMetaType<SSL*>(); // travels with a parked connection
    readTimeoutMs = HttpSettings::intValue(settings, HttpSettingKeys::readTimeout,
                                           HttpSettings::defaultReadTimeout);
    waitingTimer.setInterval(waitingPollMs);
    connect(&waitingTimer, &QTimer::timeout, this, &HttpListener::serveWaiting);
    listen();
}

HttpListener::~HttpListener()
{
    close();
    qCDebug(httpLog, "HttpListener: destroyed");
}

void HttpListener::listen()
{
    if (!pool) {
        pool = new HttpConnectionHandlerPool(settings, requestHandler);
        // Waiting connections take a handler as soon as one frees; the timer only catches
        // those that give way after their grace.
        connect(pool, &HttpConnectionHandlerPool::handlerFreed, this, &HttpListener::serveWaiting);
        connect(pool, &HttpConnectionHandlerPool::connectionParked, this, &HttpListener::park);
    }
    const QString host = HttpSettings::value(settings, HttpSettingKeys::host).toString();
    const quint16 port = quint16(HttpSettings::value(settings, HttpSettingKeys::port).toInt());
    QTcpServer::listen(host.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(host), port);
    if (!isListening()) {
        qCritical("HttpListener: Cannot bind on port %i: %s", int(port), qPrintable(errorString()));
    } else {
        qCDebug(httpLog, "HttpListener: Listening on port %i", int(port));
    }
}

void HttpListener::close()
{
    QTcpServer::close();
    waitingTimer.stop();
    for (const Waiting& connection : qAsConst(waiting)) {
        discard(connection);
    }
    waiting.clear();
    for (auto it = parked.constBegin(); it != parked.constEnd(); ++it) {
        discard({it.key()->socket(), 0, it.value()});
        delete it.key();
    }
    parked.clear();
    qCDebug(httpLog, "HttpListener: closed");
    delete pool;
    pool = nullptr;
}

void HttpListener::incomingConnection(tSocketDescriptor socketDescriptor)
{
    waiting.append({socketDescriptor, HttpConnectionHandler::monotonicMs(), nullptr});
    serveWaiting();
}

void HttpListener::park(tSocketDescriptor socketDescriptor, SSL* session)
{
    if (!pool) { // closed meanwhile
        discard({socketDescriptor, 0, session});
        return;
    }
    auto* notifier = new QSocketNotifier(socketDescriptor, QSocketNotifier::Read, this);
    parked.insert(notifier, session);
    // Readable: the next request, or the client's close, which a handler then sees.
    connect(notifier, &QSocketNotifier::activated, this,
            [this, notifier] { unpark(notifier, true); });
    // The timer goes with the notifier. A QTimer::singleShot() would outlive an unparked
    // connection until its full timeout: after a busy minute, thousands of them.
    auto* expiry = new QTimer(notifier);
    expiry->setSingleShot(true);
    connect(expiry, &QTimer::timeout, this, [this, notifier] { unpark(notifier, false); });
    expiry->start(readTimeoutMs);
}

void HttpListener::unpark(QSocketNotifier* notifier, bool ready)
{
    if (!parked.contains(notifier)) {
        return;
    }
    const Waiting connection{notifier->socket(), HttpConnectionHandler::monotonicMs(),
                             parked.take(notifier)};
    notifier->setEnabled(false);
    notifier->deleteLater();
    if (!ready) {
        discard(connection);
        return;
    }
    waiting.append(connection);
    serveWaiting();
}

void HttpListener::discard(const Waiting& connection)
{
    ::close(int(connection.descriptor));
    TlsSocket::freeSession(connection.session);
}

void HttpListener::serveWaiting()
{
    while (!waiting.isEmpty()) {
        HttpConnectionHandler* freeHandler = pool ? pool->getConnectionHandler() : nullptr;
        if (!freeHandler) {
            break;
        }
        // The descriptor is adopted in the handler's own thread.
        const Waiting next = waiting.takeFirst();
        QMetaObject::invokeMethod(
            freeHandler,
            [freeHandler, next] { freeHandler->handleConnection(next.descriptor, next.session); },
            Qt::QueuedConnection);
    }
    while (waiting.size() > maxWaiting) {
        refuse(waiting.takeLast());
    }
    const qint64 expired = HttpConnectionHandler::monotonicMs() - maxWaitMs;
    while (!waiting.isEmpty() && waiting.constFirst().sinceMs <= expired) {
        refuse(waiting.takeFirst());
    }
    if (pool) {
        pool->setWaitingConnections(waiting.size());
    }
    if (waiting.isEmpty()) {
        waitingTimer.stop();
    } else if (!waitingTimer.isActive()) {
        waitingTimer.start();
    }
}

void HttpListener::refuse(const Waiting& connection)
{
    qCDebug(httpLog, "HttpListener: Too many incoming connections");
    const TlsContext* tls = pool ? pool->tlsContext() : nullptr;
    auto* socket = tls ? new TlsSocket(tls, this) : new QTcpSocket(this);
    const bool adopted = connection.session ? static_cast<TlsSocket*>(socket)->adoptSession(
                                                  connection.descriptor, connection.session)
                                            : socket->setSocketDescriptor(connection.descriptor);
    if (!adopted) {
        ::close(int(connection.descriptor));
        delete socket;
        return;
    }
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    // A client that neither completes the handshake nor reads its answer is cut.
    QTimer::singleShot(refusalMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    if (!tls || connection.session) {
        socket->write(tooManyConnections);
        socket->disconnectFromHost();
        return;
    }
    // On the TLS port the answer comes over TLS: plain text would break the client's
    // handshake instead of telling it why.
    auto* tlsSocket = static_cast<TlsSocket*>(socket);
    connect(tlsSocket, &TlsSocket::encrypted, socket, [socket] {
        socket->write(tooManyConnections);
        socket->disconnectFromHost();
    });
    connect(socket, &QAbstractSocket::errorOccurred, socket, [socket] { socket->abort(); });
    tlsSocket->startServerEncryption();
}

} // namespace corvane
