#ifndef SETTINGSKEYS_H
#define SETTINGSKEYS_H

#include <QString>

/**
 * The names of the program's own settings (the server's are corvane::HttpSettingKeys, kept
 * in the group "listener"). Stored settings outlive versions: a name never changes.
 */
namespace SettingsKeys {
inline const QString serverActive = QStringLiteral("serverActive");
inline const QString securityKey = QStringLiteral("securityKey");
inline const QString compatibilityMode = QStringLiteral("compatibilityMode");
/** Seconds a sent job may take to print. */
inline const QString jobTimeout = QStringLiteral("jobTimeout");
inline const QString licenseAccepted = QStringLiteral("licenseAccepted");
inline const QString previewPrinter = QStringLiteral("previewPrinter");
inline const QString previewFolder = QStringLiteral("previewFolder");
/** Whether the printer of a queue (by its hash) is on the list. */
inline QString printerShown(const QString& hash)
{
    return QStringLiteral("printers/") + hash;
}
/** The group of the server's settings. */
inline const QString listenerGroup = QStringLiteral("listener");
} // namespace SettingsKeys

#endif
