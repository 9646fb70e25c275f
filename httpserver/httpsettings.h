#ifndef CORVANE_HTTPSETTINGS_H
#define CORVANE_HTTPSETTINGS_H

#include <QSettings>
#include <QString>
#include <QVariant>

namespace corvane {

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
    static QVariant value(QSettings* settings, const QString& key,
                          const QVariant& defaultValue = QVariant());
    static int intValue(QSettings* settings, const QString& key, int defaultValue);
    static QString fileName(QSettings* settings);
};

} // namespace corvane

#endif
