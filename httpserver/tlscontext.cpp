#include "tlscontext.h"

#include <QtGlobal>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <memory>

namespace corvane {

namespace {
using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;

Bio memoryBio(const QByteArray& pem)
{
    return Bio(BIO_new_mem_buf(pem.constData(), pem.size()), &BIO_free);
}
} // namespace

TlsContext::TlsContext(const QByteArray& certificatesPem, const QByteArray& keyPem)
    : context(SSL_CTX_new(TLS_server_method()))
{
    if (!context) {
        qCritical("TlsContext: cannot make a TLS configuration");
        return;
    }
    // Renegotiation only costs the server work; no client of ours needs it.
    SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION);
    // Sessions resume from a ticket the client keeps, or from the server's cache (TLS 1.2).
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_SERVER);
    static const unsigned char sessionContext[] = "corvane";
    SSL_CTX_set_session_id_context(context, sessionContext, sizeof sessionContext - 1);

    Bio certificates = memoryBio(certificatesPem);
    X509* leaf = PEM_read_bio_X509(certificates.get(), nullptr, nullptr, nullptr);
    if (!leaf || SSL_CTX_use_certificate(context, leaf) != 1) {
        qCritical("TlsContext: the certificate file holds no usable certificate");
    }
    X509_free(leaf);
    while (X509* chain = PEM_read_bio_X509(certificates.get(), nullptr, nullptr, nullptr)) {
        SSL_CTX_add0_chain_cert(context, chain); // the context takes it
    }

    Bio key = memoryBio(keyPem);
    EVP_PKEY* privateKey = PEM_read_bio_PrivateKey(key.get(), nullptr, nullptr, nullptr);
    keyLoaded = privateKey && SSL_CTX_use_PrivateKey(context, privateKey) == 1 &&
                SSL_CTX_check_private_key(context) == 1;
    EVP_PKEY_free(privateKey);
    if (!keyLoaded) {
        qCritical("TlsContext: the key file holds no key for the certificate");
    }
    ERR_clear_error(); // the end of the chain reads as an error
}

TlsContext::~TlsContext()
{
    SSL_CTX_free(context);
}

} // namespace corvane
