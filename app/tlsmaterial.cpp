#include "tlsmaterial.h"

#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>
#include <QtEndian>
#include <cerrno>
#include <memory>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <fcntl.h>
#include <unistd.h>

namespace {
template<typename T, void (*Free)(T*)>
struct Deleter
{
    void operator()(T* object) const { Free(object); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

// What the CA may vouch for besides the machine's names: loopback and the private ranges.
struct Range
{
    const char* network;
    int prefix;
};
constexpr Range coverableRanges[] = {
    {"127.0.0.0", 8},    {"::1", 128},        {"10.0.0.0", 8}, {"172.16.0.0", 12},
    {"192.168.0.0", 16}, {"169.254.0.0", 16}, {"fc00::", 7},   {"fe80::", 10},
};

QHostAddress withoutScope(QHostAddress address)
{
    address.setScopeId(QString());
    return address;
}

// A name constraint takes "network/mask" with the mask written as an address.
QString constraintFor(const Range& range)
{
    const QHostAddress network(QLatin1String(range.network));
    if (network.protocol() == QAbstractSocket::IPv4Protocol) {
        const quint32 mask = range.prefix == 0 ? 0 : ~quint32(0) << (32 - range.prefix);
        return QStringLiteral("permitted;IP:%1/%2")
            .arg(network.toString(), QHostAddress(mask).toString());
    }
    Q_IPV6ADDR mask{};
    for (int bit = 0; bit < range.prefix; ++bit) {
        mask[bit / 8] |= quint8(0x80 >> (bit % 8));
    }
    return QStringLiteral("permitted;IP:%1/%2")
        .arg(network.toString(), QHostAddress(mask).toString());
}

QStringList dnsNames(const TlsMaterial::Names& names)
{
    QStringList dns{QStringLiteral("localhost")};
    if (!names.hostName.isEmpty()) {
        dns.append(names.hostName);
        const QString local =
            names.hostName.endsWith(QLatin1String(".local"))
                ? names.hostName
                : names.hostName.section(QLatin1Char('.'), 0, 0) + QStringLiteral(".local");
        if (!dns.contains(local)) {
            dns.append(local);
        }
    }
    return dns;
}

QByteArray readAll(const QString& path)
{
    // The material is looked at every few minutes: read without noting an access time, the
    // look writes nothing to the disk. Only the files' owner may ask that; others read as usual.
    const QByteArray name = QFile::encodeName(path);
    int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOATIME);
    if (fd < 0 && errno == EPERM)
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        return QByteArray();
    }
    return file.readAll();
}

// Sets a file's permissions when they differ: setting them, even to the same ones, is a
// write to the disk, and the material is looked at every few minutes.
bool ensurePermissions(const QString& path, QFileDevice::Permissions mode)
{
    const QFileDevice::Permissions bits =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
        QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
        QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    return (QFile::permissions(path) & bits) == mode || QFile::setPermissions(path, mode);
}

Bio memoryBio(const QByteArray& data)
{
    return Bio(BIO_new_mem_buf(data.constData(), data.size()));
}

Key loadKey(const QByteArray& pem)
{
    Bio bio = memoryBio(pem);
    return Key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

Cert loadCert(const QByteArray& pem)
{
    Bio bio = memoryBio(pem);
    return Cert(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

QByteArray pemOf(EVP_PKEY* key)
{
    Bio bio(BIO_new(BIO_s_mem()));
    char* data = nullptr;
    if (!bio || !PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr)) {
        return QByteArray();
    }
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, int(size));
}

QByteArray pemOf(X509* cert)
{
    Bio bio(BIO_new(BIO_s_mem()));
    char* data = nullptr;
    if (!bio || !PEM_write_bio_X509(bio.get(), cert)) {
        return QByteArray();
    }
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, int(size));
}

Key newKey()
{
    std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>> context(
        EVP_PKEY_CTX_new_id(EVP_PKEY_EC, nullptr));
    EVP_PKEY* key = nullptr;
    if (!context || EVP_PKEY_keygen_init(context.get()) <= 0 ||
        EVP_PKEY_CTX_set_ec_paramgen_curve_nid(context.get(), NID_X9_62_prime256v1) <= 0 ||
        EVP_PKEY_keygen(context.get(), &key) <= 0) {
        return Key();
    }
    return Key(key);
}

bool addExtension(X509* cert, X509* issuer, int nid, const QString& value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension =
        X509V3_EXT_nconf_nid(nullptr, &context, nid, value.toLatin1().constData());
    if (!extension) {
        return false;
    }
    const bool added = X509_add_ext(cert, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

// A certificate for the key, signed by the issuer (itself when there is none).
Cert makeCertificate(EVP_PKEY* key, const QString& commonName, X509* issuer, EVP_PKEY* issuerKey,
                     int days, const QDateTime& now, const QList<QPair<int, QString>>& extensions)
{
    Cert cert(X509_new());
    unsigned char serial[16];
    if (!cert || RAND_bytes(serial, sizeof serial) != 1) {
        return Cert();
    }
    serial[0] &= 0x7f; // positive
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    const bool serialSet = number && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert.get()));
    BN_free(number);

    // An hour's grace for clocks of clients that run a little behind.
    time_t at = time_t(now.toSecsSinceEpoch());
    X509_NAME* subject = X509_get_subject_name(cert.get());
    const QByteArray cn = commonName.toUtf8();
    const auto text = reinterpret_cast<const unsigned char*>("Printarra");
    if (!serialSet || X509_set_version(cert.get(), 2) != 1 ||
        !X509_time_adj_ex(X509_getm_notBefore(cert.get()), 0, -3600, &at) ||
        !X509_time_adj_ex(X509_getm_notAfter(cert.get()), days, 0, &at) ||
        !X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_UTF8, text, -1, -1, 0) ||
        !X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                    reinterpret_cast<const unsigned char*>(cn.constData()), -1, -1,
                                    0) ||
        !X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : subject) ||
        !X509_set_pubkey(cert.get(), key)) {
        return Cert();
    }
    for (const auto& extension : extensions) {
        if (!addExtension(cert.get(), issuer ? issuer : cert.get(), extension.first,
                          extension.second)) {
            return Cert();
        }
    }
    if (X509_sign(cert.get(), issuerKey, EVP_sha256()) <= 0) {
        return Cert();
    }
    return cert;
}

// Whether a client trusting only the CA accepts the certificate for a TLS server at that time;
// this also applies the CA's name constraints to every name the certificate carries.
bool verifies(X509* cert, X509* ca, const QDateTime& now)
{
    std::unique_ptr<X509_STORE, Deleter<X509_STORE, X509_STORE_free>> store(X509_STORE_new());
    std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX, X509_STORE_CTX_free>> context(
        X509_STORE_CTX_new());
    if (!store || !context || X509_STORE_add_cert(store.get(), ca) != 1 ||
        X509_STORE_CTX_init(context.get(), store.get(), cert, nullptr) != 1) {
        return false;
    }
    X509_STORE_CTX_set_time(context.get(), 0, time_t(now.toSecsSinceEpoch()));
    X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_SSL_SERVER);
    return X509_verify_cert(context.get()) == 1;
}

bool lastsBeyond(X509* cert, const QDateTime& moment)
{
    time_t at = time_t(moment.toSecsSinceEpoch());
    return X509_cmp_time(X509_get0_notAfter(cert), &at) > 0;
}

QSet<QString> altNamesOf(X509* cert)
{
    QSet<QString> result;
    auto* names =
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; i < sk_GENERAL_NAME_num(names); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(names, i);
        if (name->type == GEN_DNS) {
            const ASN1_STRING* dns = name->d.dNSName;
            result.insert(
                QStringLiteral("DNS:") +
                QString::fromLatin1(reinterpret_cast<const char*>(ASN1_STRING_get0_data(dns)),
                                    ASN1_STRING_length(dns)));
        } else if (name->type == GEN_IPADD) {
            const ASN1_OCTET_STRING* ip = name->d.iPAddress;
            const unsigned char* bytes = ASN1_STRING_get0_data(ip);
            if (ASN1_STRING_length(ip) == 4) {
                result.insert(QStringLiteral("IP:") +
                              QHostAddress(qFromBigEndian<quint32>(bytes)).toString());
            } else if (ASN1_STRING_length(ip) == 16) {
                result.insert(QStringLiteral("IP:") + QHostAddress(bytes).toString());
            }
        }
    }
    GENERAL_NAMES_free(names);
    return result;
}

bool writeAtomically(const QString& path, const QByteArray& data, QFileDevice::Permissions mode)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    // Before the first byte: a private key never sits in a readable file.
    file.setPermissions(mode);
    return file.write(data) == data.size() && file.commit() && QFile::setPermissions(path, mode);
}

constexpr QFileDevice::Permissions privateMode = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions publicMode =
    privateMode | QFileDevice::ReadGroup | QFileDevice::ReadOther;
} // namespace

TlsMaterial::TlsMaterial(const QString& directory) : m_directory(directory) {}

QString TlsMaterial::defaultDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/tls");
}

bool TlsMaterial::isCoverable(const QHostAddress& address)
{
    const QHostAddress plain = withoutScope(address);
    for (const Range& range : coverableRanges) {
        if (plain.isInSubnet(QHostAddress(QLatin1String(range.network)), range.prefix)) {
            return true;
        }
    }
    return false;
}

TlsMaterial::Names TlsMaterial::currentNames()
{
    static const QRegularExpression dnsName(
        QStringLiteral("^[a-z0-9]([a-z0-9-]*[a-z0-9])?(\\.[a-z0-9]([a-z0-9-]*[a-z0-9])?)*$"));
    Names names;
    const QString host = QHostInfo::localHostName().toLower();
    if (host != QLatin1String("localhost") && dnsName.match(host).hasMatch()) {
        names.hostName = host;
    }
    const QList<QHostAddress> all = QNetworkInterface::allAddresses();
    for (const QHostAddress& address : all) {
        const QHostAddress plain = withoutScope(address);
        if (!plain.isLoopback() && isCoverable(plain) && !names.addresses.contains(plain)) {
            names.addresses.append(plain);
        }
    }
    return names;
}

QStringList TlsMaterial::subjectAltNames(const Names& names)
{
    QStringList entries;
    for (const QString& dns : dnsNames(names)) {
        entries.append(QStringLiteral("DNS:") + dns);
    }
    QList<QHostAddress> addresses{QHostAddress(QHostAddress::LocalHost),
                                  QHostAddress(QHostAddress::LocalHostIPv6)};
    addresses += names.addresses;
    for (const QHostAddress& address : qAsConst(addresses)) {
        const QString entry = QStringLiteral("IP:") + withoutScope(address).toString();
        if (!entries.contains(entry)) {
            entries.append(entry);
        }
    }
    return entries;
}

TlsMaterial::Outcome TlsMaterial::ensure(const Names& names, const QDateTime& now)
{
    m_error.clear();
    if (!QDir().mkpath(m_directory) ||
        !ensurePermissions(m_directory, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ExeOwner)) {
        m_error = QStringLiteral("cannot create the folder %1").arg(m_directory);
        return Outcome::Failed;
    }
    // Keys copied in by hand keep working, but never readable by others.
    for (const QString& path : {rootKeyPath(), serverKeyPath()}) {
        if (QFile::exists(path)) {
            ensurePermissions(path, privateMode);
        }
    }

    const QDateTime renewBy = now.addDays(renewDays);
    Key caKey = loadKey(readAll(rootKeyPath()));
    Cert ca = loadCert(readAll(rootCaPath()));
    const bool caUsable = caKey && ca && X509_check_private_key(ca.get(), caKey.get()) == 1 &&
                          X509_check_ca(ca.get()) == 1 && lastsBeyond(ca.get(), renewBy);

    const QStringList dns = dnsNames(names);
    QStringList constraints;
    for (const QString& name : dns) {
        constraints.append(QStringLiteral("permitted;DNS:") + name);
    }
    for (const Range& range : coverableRanges) {
        constraints.append(constraintFor(range));
    }
    const auto makeCa = [&]() {
        caKey = newKey();
        ca = !caKey
                 ? Cert()
                 : makeCertificate(
                       caKey.get(),
                       QStringLiteral("Printarra Local Root CA %1 %2")
                           .arg(names.hostName.isEmpty() ? QStringLiteral("local") : names.hostName,
                                now.toString(QStringLiteral("yyyyMMddHHmmss"))),
                       nullptr, caKey.get(), caDays, now,
                       {{NID_basic_constraints, QStringLiteral("critical,CA:TRUE,pathlen:0")},
                        {NID_key_usage, QStringLiteral("critical,keyCertSign,cRLSign")},
                        {NID_subject_key_identifier, QStringLiteral("hash")},
                        {NID_name_constraints,
                         QStringLiteral("critical,") + constraints.join(QLatin1Char(','))}});
        return ca && writeAtomically(rootKeyPath(), pemOf(caKey.get()), privateMode) &&
               writeAtomically(rootCaPath(), pemOf(ca.get()), publicMode);
    };

    Outcome outcome = Outcome::Unchanged;
    if (!caUsable) {
        if (!makeCa()) {
            m_error = QStringLiteral("cannot make the root CA in %1").arg(m_directory);
            return Outcome::Failed;
        }
        outcome = Outcome::Created;
    }

    const QStringList wanted = subjectAltNames(names);
    Key serverKey = loadKey(readAll(serverKeyPath()));
    Cert leaf = loadCert(readAll(serverCertPath()));
    if (outcome == Outcome::Unchanged && serverKey && leaf &&
        X509_check_private_key(leaf.get(), serverKey.get()) == 1 &&
        verifies(leaf.get(), ca.get(), now) && lastsBeyond(leaf.get(), renewBy) &&
        altNamesOf(leaf.get()) == QSet<QString>(wanted.begin(), wanted.end())) {
        return Outcome::Unchanged;
    }

    const bool newServerKey = !serverKey;
    if (newServerKey) {
        serverKey = newKey();
    }
    const QString usage = serverKey && EVP_PKEY_base_id(serverKey.get()) == EVP_PKEY_RSA
                              ? QStringLiteral("critical,digitalSignature,keyEncipherment")
                              : QStringLiteral("critical,digitalSignature");
    const auto issue = [&]() {
        return !serverKey
                   ? Cert()
                   : makeCertificate(serverKey.get(), QStringLiteral("localhost"), ca.get(),
                                     caKey.get(), serverDays, now,
                                     {{NID_basic_constraints, QStringLiteral("critical,CA:FALSE")},
                                      {NID_key_usage, usage},
                                      {NID_ext_key_usage, QStringLiteral("serverAuth")},
                                      {NID_subject_alt_name, wanted.join(QLatin1Char(','))},
                                      {NID_subject_key_identifier, QStringLiteral("hash")},
                                      {NID_authority_key_identifier, QStringLiteral("keyid")}});
    };
    leaf = issue();
    // A CA made for other names (the host was renamed) cannot vouch for these: start over.
    if (leaf && !verifies(leaf.get(), ca.get(), now) && outcome != Outcome::Created) {
        if (makeCa()) {
            outcome = Outcome::Created;
            leaf = issue();
        }
    }
    if (!leaf || !verifies(leaf.get(), ca.get(), now)) {
        m_error = QStringLiteral("cannot issue a server certificate for %1")
                      .arg(wanted.join(QLatin1Char(' ')));
        return Outcome::Failed;
    }
    if ((newServerKey && !writeAtomically(serverKeyPath(), pemOf(serverKey.get()), privateMode)) ||
        !writeAtomically(serverCertPath(), pemOf(leaf.get()) + pemOf(ca.get()), publicMode)) {
        m_error = QStringLiteral("cannot write the server certificate in %1").arg(m_directory);
        return Outcome::Failed;
    }
    return outcome == Outcome::Created ? Outcome::Created : Outcome::Reissued;
}
