#ifndef APPCONFIG_H
#define APPCONFIG_H

#include <QByteArray>
#include <QString>
#include <QStringList>

/**
 * The connector's fixed configuration: identity, the update service and the API's port. Everything
 * here is in one place on purpose.
 */
class AppConfig
{
public:
    static QString applicationName() { return QStringLiteral("Printarra"); }
    static QString organizationName() { return QStringLiteral("Velora"); }
    static QString organizationDomain() { return QStringLiteral("velora.pt"); }

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
     * Where serial ports appear as device nodes; the terminal list is looked at again when
     * something appears or goes there. PRINTARRA_DEVICE_DIR overrides /dev for tests, which
     * cannot plug a serial port in.
     */
    static QString deviceDirectory()
    {
        const QByteArray overridden = qgetenv("PRINTARRA_DEVICE_DIR");
        return overridden.isEmpty() ? QStringLiteral("/dev") : QString::fromLocal8Bit(overridden);
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
