#ifndef TLSMATERIAL_H
#define TLSMATERIAL_H

#include <QDateTime>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

/**
 * This installation's own TLS material, in one folder of the user's data: a local root CA
 * whose name constraints allow only this machine's names and the private address ranges, and
 * a server certificate it signs for the names and addresses the machine has now.
 *
 *   rootca.pem  (0644)  the CA certificate, for the browsers' trust stores
 *   rootca.key  (0600)  the CA's private key; it never leaves this folder
 *   server.key  (0600)  the server's private key
 *   server.pem  (0644)  the server certificate followed by the CA certificate
 */
class TlsMaterial
{
public:
    /** What the machine answers to: DNS names and IP addresses for the server certificate. */
    struct Names
    {
        QString hostName; // empty when the machine's name is not a usable DNS name
        QList<QHostAddress> addresses;
    };

    enum class Outcome { Unchanged, Reissued, Created, Failed };

    /** The CA's lifetime, the server certificate's, and how early the latter is renewed. */
    static constexpr int caDays = 3650;
    static constexpr int serverDays = 396;
    static constexpr int renewDays = 30;

    explicit TlsMaterial(const QString& directory = defaultDirectory());

    /** "tls" in the program's data folder (honours XDG_DATA_HOME). */
    static QString defaultDirectory();
    /**
     * The local host name, loopback and every current address of the machine that the CA
     * may vouch for (private ranges only: a certificate naming a public address would break
     * the whole chain).
     */
    static Names currentNames();
    /** Whether the CA's name constraints allow the address. */
    static bool isCoverable(const QHostAddress& address);

    /**
     * Makes the material current for those names at that time: a missing, broken or
     * unsuitable CA is made anew (and with it the server certificate); a server certificate
     * for other names, from another CA or near its end is issued again.
     */
    Outcome ensure(const Names& names, const QDateTime& now = QDateTime::currentDateTimeUtc());
    Outcome ensure() { return ensure(currentNames()); }

    /** Why the last ensure() failed. */
    QString error() const { return m_error; }

    QString directory() const { return m_directory; }
    QString rootCaPath() const { return m_directory + QStringLiteral("/rootca.pem"); }
    QString rootKeyPath() const { return m_directory + QStringLiteral("/rootca.key"); }
    QString serverKeyPath() const { return m_directory + QStringLiteral("/server.key"); }
    QString serverCertPath() const { return m_directory + QStringLiteral("/server.pem"); }

    /** "DNS:name" and "IP:address" entries the server certificate must carry. */
    static QStringList subjectAltNames(const Names& names);

private:
    QString m_directory;
    QString m_error;
};

#endif
