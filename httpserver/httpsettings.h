#ifndef CORVANE_HTTPSETTINGS_H
#define CORVANE_HTTPSETTINGS_H

#include <QSettings>
#include <QString>
#include <QVariant>

namespace corvane {

/** The names of the settings the server reads (from the settings object's current group). */
namespace HttpSettingKeys {
inline const QString host = QStringLiteral("host");
inline const QString port = QStringLiteral("port");
inline const QString minThreads = QStringLiteral("minThreads");
inline const QString maxThreads = QStringLiteral("maxThreads");
inline const QString cleanupInterval = QStringLiteral("cleanupInterval");
inline const QString sslKeyFile = QStringLiteral("sslKeyFile");
inline const QString sslCertFile = QStringLiteral("sslCertFile");
inline const QString readTimeout = QStringLiteral("readTimeout");
inline const QString writeTimeout = QStringLiteral("writeTimeout");
inline const QString maxRequestSize = QStringLiteral("maxRequestSize");
inline const QString maxMultiPartSize = QStringLiteral("maxMultiPartSize");
} // namespace HttpSettingKeys

/**
 * Serialised access to the server's settings object.
 *
 * One QSettings object is read by the listener's thread and by every connection
 * thread. QSettings is reentrant but not thread-safe, so every read the server
 * makes goes through one lock.
 */
class HttpSettings
{
public:
    // The values of the settings that are not set (ms and bytes).
    static constexpr int defaultMinThreads = 1;
    static constexpr int defaultMaxThreads = 100;
    static constexpr int defaultCleanupInterval = 1000;
    static constexpr int defaultReadTimeout = 10000;
    static constexpr int defaultMaxRequestSize = 16000;
    static constexpr int defaultMaxMultiPartSize = 1000000;

    static QVariant value(QSettings* settings, const QString& key,
                          const QVariant& defaultValue = QVariant());
    static int intValue(QSettings* settings, const QString& key, int defaultValue);
    static QString fileName(QSettings* settings);
};

} // namespace corvane

#endif
