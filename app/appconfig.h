#ifndef APPCONFIG_H
#define APPCONFIG_H

#include <QByteArray>
#include <QString>
#include <QStringList>

/**
 * The connector's fixed configuration: identity, the web application's origins, and
 * the maker's addresses. Everything here is in one place on purpose.
 */
class AppConfig
{
public:
    static QString applicationName() { return QStringLiteral("Printarra"); }
    static QString organizationName() { return QStringLiteral("Velora"); }
    static QString organizationDomain() { return QStringLiteral("velora.pt"); }

    /**
     * Origins of the web application: an "Origin" that ends with one of these is
     * echoed in "Access-Control-Allow-Origin". Each starts with a dot, so that a
     * look-alike domain ("evilvelora.pt") does not pass.
     */
    static QStringList allowedOriginSuffixes()
    {
        return {QStringLiteral(".velora.pt"), QStringLiteral(".velora.com"),
                QStringLiteral(".velora.es"), QStringLiteral(".velora.com.br"),
                QStringLiteral(".velora.app")};
    }
    /** Origins beginning with this are allowed too (a web application under development). */
    static QString localOriginPrefix() { return QStringLiteral("http://localhost"); }
    /** Sent in "Access-Control-Allow-Origin" for any other origin. */
    static QString defaultOrigin() { return QStringLiteral("https://www.velora.pt"); }

    /** The help article on receipt printers, linked from the page on "/". */
    static QString helpAddress()
    {
        return QStringLiteral("https://ajuda.velora.pt/artigos/configurar-impressoras-de-taloes");
    }

    /**
     * Base address of the update service (the check posts to "/hasNewVersion" under it).
     * PRINTARRA_UPDATE_URL overrides it, so that tests can point it at a local server.
     */
    static QString updateServiceAddress()
    {
        const QByteArray overridden = qgetenv("PRINTARRA_UPDATE_URL");
        if (!overridden.isEmpty()) {
            return QString::fromUtf8(overridden);
        }
        return QStringLiteral("https://atualizacoes.velora.pt");
    }

    /**
     * Port of the API server. PRINTARRA_PORT overrides 5080 for tests that run the real
     * program beside other tests; the program itself never sets it.
     */
    static int apiPort()
    {
        bool ok = false;
        const int port = qEnvironmentVariableIntValue("PRINTARRA_PORT", &ok);
        return ok ? port : 5080;
    }
};

#endif
