#include "tlssocket.h"

#include "httplogging.h"
#include "tlscontext.h"

#include <QAbstractEventDispatcher>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QSocketNotifier>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvane {

namespace {
// One TLS record's worth of clear text or records at a time.
constexpr int chunk = 16384;
} // namespace

TlsSocket::TlsSocket(const TlsContext* context, QObject* parent)
    : QTcpSocket(parent), context(context)
{
}

TlsSocket::~TlsSocket()
{
    closeDescriptor();
    release();
}

bool TlsSocket::setSocketDescriptor(qintptr socketDescriptor, SocketState state, OpenMode openMode)
{
    close();
    const int fd = int(socketDescriptor);
    sockaddr_storage peer{};
    sockaddr_storage local{};
    socklen_t peerSize = sizeof(peer);
    socklen_t localSize = sizeof(local);
    const int flags = fd >= 0 ? ::fcntl(fd, F_GETFL) : -1;
    if (flags < 0 || ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) != 0 ||
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        setSocketError(UnsupportedSocketOperationError);
        setErrorString(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    descriptor = fd;
    closeWhenSent = broken = false;
    readable = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
    connect(readable, &QSocketNotifier::activated, this, &TlsSocket::readRecords);
    writable = new QSocketNotifier(descriptor, QSocketNotifier::Write, this);
    writable->setEnabled(false);
    connect(writable, &QSocketNotifier::activated, this, &TlsSocket::sendPending);

    const QHostAddress peerAddress(reinterpret_cast<const sockaddr*>(&peer));
    const QHostAddress localAddress(reinterpret_cast<const sockaddr*>(&local));
    const auto portOf = [](const sockaddr_storage& address) {
        return address.ss_family == AF_INET6
                   ? ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port)
                   : ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    };
    setPeerAddress(peerAddress);
    setPeerPort(portOf(peer));
    setLocalAddress(localAddress);
    setLocalPort(portOf(local));
    setSocketState(state);
    // The decrypted bytes are a buffer already; a second one in QIODevice would only copy.
    setOpenMode(openMode | Unbuffered);
    // The thread that adopts the connection serves it.
    auto* dispatcher = QAbstractEventDispatcher::instance();
    if (dispatcher && dispatcher != idleSource) {
        disconnect(idleConnection);
        idleConnection = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                                 &TlsSocket::encryptUnsent, Qt::DirectConnection);
        idleSource = dispatcher;
    }
    return true;
}

void TlsSocket::startServerEncryption()
{
    if (ssl || state() != ConnectedState)
        return;
    ssl = SSL_new(context->handle());
    incoming = BIO_new(BIO_s_mem());
    outgoing = BIO_new(BIO_s_mem());
    if (!ssl || !incoming || !outgoing) {
        BIO_free(incoming);
        BIO_free(outgoing);
        incoming = outgoing = nullptr;
        fail("cannot start TLS");
        return;
    }
    SSL_set_bio(ssl, incoming, outgoing);
    SSL_set_accept_state(ssl);
    // The client speaks first; it may have done so already.
    readRecords();
}

bool TlsSocket::adoptSession(qintptr socketDescriptor, SSL* session)
{
    if (!setSocketDescriptor(socketDescriptor)) {
        freeSession(session);
        return false;
    }
    ssl = session;
    incoming = SSL_get_rbio(ssl);
    outgoing = SSL_get_wbio(ssl);
    encryptedState = true;
    // The client's next request may already wait in the kernel; the event loop reports it.
    return true;
}

qintptr TlsSocket::takeSession(SSL** session)
{
    encryptUnsent();
    if (!encryptedState || state() != ConnectedState || broken || !received.isEmpty() ||
        QIODevice::bytesAvailable() || !pending.isEmpty() || BIO_ctrl_pending(incoming) ||
        SSL_pending(ssl))
        return -1;
    const qintptr copy = ::dup(descriptor);
    if (copy < 0)
        return -1;
    *session = ssl;
    ssl = nullptr;
    incoming = outgoing = nullptr;
    encryptedState = false;
    return copy;
}

void TlsSocket::freeSession(SSL* session)
{
    SSL_free(session);
}

qint64 TlsSocket::encryptedBytesToWrite() const
{
    return pending.size();
}

qint64 TlsSocket::bytesAvailable() const
{
    return received.size() + QIODevice::bytesAvailable();
}

qint64 TlsSocket::bytesToWrite() const
{
    return unsent.size();
}

void TlsSocket::close()
{
    // Also what abort() ends in: the connection is dropped at once.
    const bool wasConnected = state() != UnconnectedState;
    closeDescriptor();
    release();
    QIODevice::close();
    setSocketState(UnconnectedState);
    if (wasConnected)
        emit disconnected();
}

void TlsSocket::disconnectFromHost()
{
    if (state() != ConnectedState)
        return;
    if (encryptedState) {
        encryptUnsent();
        if (!ssl)
            return;
        ERR_clear_error();
        SSL_shutdown(ssl); // tells the client this is the real end of the data
        sendRecords();
    }
    setSocketState(ClosingState);
    closeWhenSent = true;
    if (pending.isEmpty())
        finishClose();
}

bool TlsSocket::waitForBytesWritten(int msecs)
{
    encryptUnsent();
    QElapsedTimer clock;
    clock.start();
    while (descriptor >= 0 && !pending.isEmpty()) {
        const qint64 before = pending.size();
        pollfd ready{descriptor, POLLOUT, 0};
        const int left = msecs < 0 ? -1 : int(qMax<qint64>(0, msecs - clock.elapsed()));
        if (::poll(&ready, 1, left) < 0 && errno != EINTR)
            return false;
        if (ready.revents)
            sendPending();
        if (pending.size() < before)
            return true;
        if (msecs >= 0 && clock.elapsed() >= msecs)
            return false;
    }
    return false;
}

bool TlsSocket::waitForReadyRead(int msecs)
{
    encryptUnsent(); // what the client may be waiting for before it sends more
    QElapsedTimer clock;
    clock.start();
    const qint64 before = bytesAvailable();
    while (bytesAvailable() == before && state() == ConnectedState && descriptor >= 0) {
        pollfd ready{descriptor, POLLIN, 0};
        // With no time left the socket is still looked at once, without waiting.
        const int left = msecs < 0 ? -1 : int(qMax<qint64>(0, msecs - clock.elapsed()));
        if (::poll(&ready, 1, left) < 0 && errno != EINTR)
            return false;
        if (ready.revents)
            readRecords();
        else if (left == 0)
            return false;
    }
    return bytesAvailable() > before;
}

void TlsSocket::setSocketOption(QAbstractSocket::SocketOption option, const QVariant& value)
{
    const int on = value.toInt() ? 1 : 0;
    if (descriptor < 0)
        return;
    if (option == LowDelayOption)
        ::setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    else if (option == KeepAliveOption)
        ::setsockopt(descriptor, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(on));
}

qint64 TlsSocket::readData(char* data, qint64 maxSize)
{
    const int size = int(qMin<qint64>(maxSize, received.size()));
    if (size <= 0)
        return 0;
    memcpy(data, received.constData(), size_t(size));
    received.remove(0, size);
    return size;
}

qint64 TlsSocket::readLineData(char* data, qint64 maxSize)
{
    const int end = received.indexOf('\n');
    return readData(data, end >= 0 ? qMin<qint64>(maxSize, end + 1) : maxSize);
}

qint64 TlsSocket::writeData(const char* data, qint64 size)
{
    if (state() != ConnectedState)
        return -1;
    // Encrypted when the thread is about to wait for events (or when waited for, or once
    // there is plenty): the parts of an answer, written one after the other, leave as one
    // record in one write.
    unsent.append(data, int(size));
    if (unsent.size() >= 4 * chunk)
        encryptUnsent();
    return size;
}

void TlsSocket::encryptUnsent()
{
    if (!encryptedState || unsent.isEmpty())
        return;
    const QByteArray text = unsent;
    unsent.clear();
    // The record buffer grows as needed, so the whole text is taken at once.
    ERR_clear_error();
    if (SSL_write(ssl, text.constData(), text.size()) <= 0) {
        fail("write failed");
        return;
    }
    sendRecords();
}

void TlsSocket::readRecords()
{
    if (descriptor < 0 || !ssl)
        return; // before the handshake starts, what the client sent stays in the kernel
    char buffer[chunk];
    bool ended = false;
    for (;;) {
        const ssize_t size = ::read(descriptor, buffer, sizeof(buffer));
        if (size > 0) {
            if (BIO_write(incoming, buffer, int(size)) <= 0) {
                fail("cannot take records");
                return;
            }
            if (size < ssize_t(sizeof(buffer)))
                break; // the kernel has no more now; a further read would only say so
            continue;
        }
        if (size < 0 && errno == EINTR)
            continue;
        if (size < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            lost(RemoteHostClosedError);
            return;
        }
        ended = size == 0;
        break;
    }
    if (ended)
        readable->setEnabled(false); // the end stays readable; it is handled once
    advance();
    if (ended && descriptor >= 0 && state() == ConnectedState) {
        // The client has sent all it will; what it asked for still goes out before the close.
        encryptUnsent();
        if (descriptor < 0)
            return;
        setSocketState(ClosingState);
        closeWhenSent = true;
        if (pending.isEmpty())
            finishClose();
    }
}

void TlsSocket::advance()
{
    ERR_clear_error();
    if (!encryptedState) {
        const int result = SSL_do_handshake(ssl);
        sendRecords();
        if (result != 1) {
            if (SSL_get_error(ssl, result) != SSL_ERROR_WANT_READ)
                fail("handshake failed");
            return;
        }
        encryptedState = true;
        emit encrypted();
        if (!ssl)
            return; // closed by a slot
        encryptUnsent();
        if (!ssl)
            return;
    }
    const int before = received.size();
    char buffer[chunk];
    int result;
    while ((result = SSL_read(ssl, buffer, chunk)) > 0)
        received.append(buffer, result);
    const int error = SSL_get_error(ssl, result);
    sendRecords(); // a reply to the client's close or key update
    if (error == SSL_ERROR_ZERO_RETURN) {
        // The client has sent all it will; what it sent is still served.
        if (received.size() > before)
            emit readyRead();
        if (state() == ConnectedState)
            disconnectFromHost();
        return;
    } else if (error != SSL_ERROR_WANT_READ) {
        fail("read failed");
        return;
    }
    if (received.size() > before)
        emit readyRead();
}

void TlsSocket::sendRecords()
{
    if (!outgoing)
        return;
    char* records = nullptr;
    const long size = BIO_get_mem_data(outgoing, &records);
    if (size <= 0)
        return;
    send(records, size);
    (void)BIO_reset(outgoing);
}

void TlsSocket::send(const char* data, qint64 size)
{
    if (broken || descriptor < 0)
        return;
    if (!pending.isEmpty()) {
        pending.append(data, int(size));
        return;
    }
    qint64 sent = 0;
    while (sent < size) {
        const ssize_t written = ::send(descriptor, data + sent, size_t(size - sent), MSG_NOSIGNAL);
        if (written > 0) {
            sent += written;
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pending.append(data + sent, int(size - sent));
            writable->setEnabled(true);
            return;
        } else {
            // Closing from here would pull the session from under the caller; the close
            // follows from the event loop, and the rest of the answer is dropped.
            broken = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (broken)
                        lost(RemoteHostClosedError);
                },
                Qt::QueuedConnection);
            return;
        }
    }
}

void TlsSocket::sendPending()
{
    while (!pending.isEmpty() && !broken && descriptor >= 0) {
        const ssize_t written =
            ::send(descriptor, pending.constData(), size_t(pending.size()), MSG_NOSIGNAL);
        if (written > 0) {
            pending.remove(0, int(written));
            emit bytesWritten(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        } else {
            pending.clear();
            lost(RemoteHostClosedError);
            return;
        }
    }
    if (writable)
        writable->setEnabled(false);
    if (pending.isEmpty() && closeWhenSent)
        finishClose();
}

void TlsSocket::lost(QAbstractSocket::SocketError error)
{
    if (state() == UnconnectedState)
        return;
    setSocketError(error);
    setErrorString(QString::fromLocal8Bit(strerror(errno)));
    emit errorOccurred(error);
    close();
}

void TlsSocket::finishClose()
{
    closeDescriptor();
    setSocketState(UnconnectedState);
    emit disconnected();
}

void TlsSocket::fail(const char* what)
{
    const unsigned long error = ERR_get_error();
    qCDebug(httpLog, "TlsSocket (%p): %s: %s", static_cast<void*>(this), what,
            error ? ERR_reason_error_string(error) : "no reason given");
    setSocketError(QAbstractSocket::SslHandshakeFailedError);
    setErrorString(QString::fromLatin1(what));
    close(); // emits disconnected
}

void TlsSocket::closeDescriptor()
{
    // Often called from the notifier's own signal: it is switched off now and deleted later.
    for (QSocketNotifier* notifier : {readable, writable}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    readable = writable = nullptr;
    if (descriptor >= 0)
        ::close(descriptor);
    descriptor = -1;
    pending.clear();
    closeWhenSent = false;
}

void TlsSocket::release()
{
    SSL_free(ssl); // frees both record buffers
    ssl = nullptr;
    incoming = outgoing = nullptr;
    encryptedState = false;
    received.clear();
    unsent.clear();
}

} // namespace corvane
