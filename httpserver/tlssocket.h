#ifndef CORVANE_TLSSOCKET_H
#define CORVANE_TLSSOCKET_H

#include <QTcpSocket>

class QSocketNotifier;

typedef struct ssl_st SSL;
typedef struct bio_st BIO;

namespace corvane {

class TlsContext;

/**
 * The server side of a TLS connection, read and written like a QTcpSocket.
 *
 * OpenSSL works on two memory buffers whose records go to and from the connection's
 * descriptor directly, read and written when it is ready: a request costs one read and its
 * answer one write, with no socket buffers of Qt's in between. Every connection is made from
 * one shared TlsContext, so a handshake costs only the handshake (a configuration per
 * connection costs more than the cryptography), and a returning client resumes its session.
 * Lives in one thread.
 */
class TlsSocket : public QTcpSocket
{
    Q_OBJECT

public:
    explicit TlsSocket(const TlsContext* context, QObject* parent = nullptr);
    ~TlsSocket() override;

    /** Adopts an accepted connection; the handshake starts with startServerEncryption(). */
    bool setSocketDescriptor(qintptr socketDescriptor, SocketState state = ConnectedState,
                             OpenMode openMode = ReadWrite) override;
    void startServerEncryption();
    /**
     * Adopts a connection set aside by takeSession(), its session already established; what
     * the client has sent meanwhile is read as usual.
     */
    bool adoptSession(qintptr socketDescriptor, SSL* session);
    /**
     * Between requests, with nothing buffered either way: hands over the session and a
     * duplicate of the connection's descriptor, so that the connection outlives this socket
     * (which is then aborted by the caller). -1 when anything is still buffered.
     */
    qintptr takeSession(SSL** session);
    /** Frees a session that was taken and will not be adopted. */
    static void freeSession(SSL* session);
    /**
     * Encrypts what has been written and sends it now; otherwise that happens when the
     * thread is about to wait for events.
     */
    void encryptUnsent();
    /** Records made but not yet taken by the network. */
    qint64 encryptedBytesToWrite() const;

    /** The connection's descriptor (-1 without one), for waiting on it directly. */
    int descriptorForPolling() const { return descriptor; }

    qint64 bytesAvailable() const override;
    qint64 bytesToWrite() const override;
    void close() override;
    void disconnectFromHost() override;
    bool waitForBytesWritten(int msecs = 30000) override;
    bool waitForReadyRead(int msecs = 30000) override;
    void setSocketOption(QAbstractSocket::SocketOption option, const QVariant& value) override;

signals:
    void encrypted();

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 readLineData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    void readRecords();
    void sendPending();
    void advance();
    void sendRecords();
    void send(const char* data, qint64 size);
    void lost(QAbstractSocket::SocketError error);
    void finishClose();
    void fail(const char* what);
    void closeDescriptor();
    void release();

    const TlsContext* context;
    int descriptor = -1;
    QSocketNotifier* readable = nullptr;
    QSocketNotifier* writable = nullptr;
    QByteArray pending;         // records the network has not taken yet
    bool closeWhenSent = false; // closing: the descriptor goes once the records are out
    bool broken = false;        // the network refused a write; the rest is dropped
    SSL* ssl = nullptr;
    BIO* incoming = nullptr; // records from the client, owned by ssl
    BIO* outgoing = nullptr; // records for the client, owned by ssl
    QByteArray received;     // decrypted, not yet read
    QByteArray unsent;       // written, not yet encrypted
    bool encryptedState = false;
    QObject* idleSource = nullptr; // the event dispatcher of the thread that serves
    QMetaObject::Connection idleConnection;
};

} // namespace corvane

Q_DECLARE_OPAQUE_POINTER(SSL*)
Q_DECLARE_METATYPE(SSL*)

#endif
