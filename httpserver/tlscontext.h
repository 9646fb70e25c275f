#ifndef CORVANE_TLSCONTEXT_H
#define CORVANE_TLSCONTEXT_H

#include <QByteArray>

typedef struct ssl_ctx_st SSL_CTX;

namespace corvane {

/**
 * The server's TLS configuration, made once and shared by every connection: the
 * certificate chain and the private key (RSA or elliptic curve), and the session tickets
 * with which a returning client resumes without a full handshake. OpenSSL lets many
 * threads make connections from one configuration at the same time.
 */
class TlsContext
{
public:
    /**
     * From PEM text: the server certificate first, then any chain certificates, and its
     * key. A certificate or key that cannot be read is logged; connections are then
     * refused at the handshake, never served in clear text.
     */
    TlsContext(const QByteArray& certificatesPem, const QByteArray& keyPem);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    SSL_CTX* handle() const { return context; }
    bool hasKey() const { return keyLoaded; }

private:
    SSL_CTX* context = nullptr;
    bool keyLoaded = false;
};

} // namespace corvane

#endif
