#include "tlssocket.h"

#include "httplogging.h"
#include "tlscontext.h"

#include <QAbstractEventDispatcher>
#include <QElapsedTimer>
#include <QHostAddress>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <unistd.h>

namespace corvane {

namespace {
// One TLS record's worth of clear text or records at a time.
constexpr int chunk = 16384;
} // namespace

TlsSocket::TlsSocket(const TlsContext* context, QObject* parent)
    : QTcpSocket(parent), context(context), transport(new QTcpSocket(this))
{
    connect(transport, &QTcpSocket::readyRead, this, &TlsSocket::transportReadyRead);
    connect(transport, &QTcpSocket::disconnected, this, &TlsSocket::transportDisconnected);
    connect(transport, &QTcpSocket::errorOccurred, this, &TlsSocket::transportError);
    connect(transport, &QTcpSocket::bytesWritten, this,
            [this](qint64 bytes) { emit bytesWritten(bytes); });
}

TlsSocket::~TlsSocket()
{
    release();
}

bool TlsSocket::setSocketDescriptor(qintptr socketDescriptor, SocketState state, OpenMode openMode)
{
    close();
    if (!transport->setSocketDescriptor(socketDescriptor, state, openMode)) {
        setSocketError(transport->error());
        setErrorString(transport->errorString());
        return false;
    }
    setPeerAddress(transport->peerAddress());
    setPeerPort(transport->peerPort());
    setLocalAddress(transport->localAddress());
    setLocalPort(transport->localPort());
    setSocketState(transport->state());
    setOpenMode(openMode);
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
    transportReadyRead();
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
    // The client's next request is already waiting in the kernel; the inner socket reports it
    // from the event loop.
    return true;
}

qintptr TlsSocket::takeSession(SSL** session)
{
    encryptUnsent();
    if (!encryptedState || state() != ConnectedState || !received.isEmpty() ||
        QIODevice::bytesAvailable() || transport->bytesAvailable() || transport->bytesToWrite() ||
        BIO_ctrl_pending(incoming) || SSL_pending(ssl))
        return -1;
    const qintptr descriptor = ::dup(int(transport->socketDescriptor()));
    if (descriptor < 0)
        return -1;
    *session = ssl;
    ssl = nullptr;
    incoming = outgoing = nullptr;
    encryptedState = false;
    return descriptor;
}

void TlsSocket::freeSession(SSL* session)
{
    SSL_free(session);
}

qint64 TlsSocket::encryptedBytesToWrite() const
{
    return transport->bytesToWrite();
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
    transport->abort();
    release();
    QIODevice::close();
    setSocketState(UnconnectedState);
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
    transport->disconnectFromHost();
}

bool TlsSocket::waitForBytesWritten(int msecs)
{
    encryptUnsent();
    if (transport->state() == UnconnectedState)
        return false;
    return transport->waitForBytesWritten(msecs);
}

bool TlsSocket::waitForReadyRead(int msecs)
{
    encryptUnsent(); // what the client may be waiting for before it sends more
    QElapsedTimer clock;
    clock.start();
    const qint64 before = bytesAvailable();
    while (bytesAvailable() == before && state() == ConnectedState) {
        const int left = msecs < 0 ? -1 : int(msecs - clock.elapsed());
        if ((msecs >= 0 && left <= 0) || !transport->waitForReadyRead(left))
            return false;
    }
    return bytesAvailable() > before;
}

void TlsSocket::setSocketOption(QAbstractSocket::SocketOption option, const QVariant& value)
{
    transport->setSocketOption(option, value);
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
    transport->flush(); // now: the thread is about to wait, or waits for this
}

void TlsSocket::transportReadyRead()
{
    const QByteArray records = transport->readAll();
    if (!ssl)
        return;
    if (!records.isEmpty() && BIO_write(incoming, records.constData(), records.size()) <= 0) {
        fail("cannot take records");
        return;
    }
    advance();
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
        transport->disconnectFromHost();
    } else if (error != SSL_ERROR_WANT_READ) {
        fail("read failed");
        return;
    }
    if (received.size() > before)
        emit readyRead();
}

void TlsSocket::sendRecords()
{
    char buffer[chunk];
    int size;
    while (outgoing && (size = BIO_read(outgoing, buffer, chunk)) > 0)
        transport->write(buffer, size);
}

void TlsSocket::fail(const char* what)
{
    const unsigned long error = ERR_get_error();
    qCDebug(httpLog, "TlsSocket (%p): %s: %s", static_cast<void*>(this), what,
            error ? ERR_reason_error_string(error) : "no reason given");
    setSocketError(QAbstractSocket::SslHandshakeFailedError);
    setErrorString(QString::fromLatin1(what));
    transport->abort(); // emits disconnected
}

void TlsSocket::transportDisconnected()
{
    setSocketState(UnconnectedState);
    emit disconnected();
}

void TlsSocket::transportError(QAbstractSocket::SocketError error)
{
    setSocketError(error);
    setErrorString(transport->errorString());
    emit errorOccurred(error);
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
