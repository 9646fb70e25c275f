#include "httpsettings.h"

#include <QMutex>
#include <QMutexLocker>

namespace corvane {

namespace {
QMutex& settingsLock()
{
    static QMutex lock;
    return lock;
}
} // namespace

QVariant HttpSettings::value(QSettings* settings, const QString& key, const QVariant& defaultValue)
{
    QMutexLocker locker(&settingsLock());
    return settings->value(key, defaultValue);
}

int HttpSettings::intValue(QSettings* settings, const QString& key, int defaultValue)
{
    return value(settings, key, defaultValue).toInt();
}

QString HttpSettings::fileName(QSettings* settings)
{
    QMutexLocker locker(&settingsLock());
    return settings->fileName();
}

} // namespace corvane
