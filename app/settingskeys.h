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
/** The running program's mark of life, local seconds. */
inline const QString kicked = QStringLiteral("kicked");
/** Set by a second start, so that the running program shows its window. */
inline const QString showWindow = QStringLiteral("showWindow");
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
