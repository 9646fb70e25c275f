#ifndef TPASTATUS_H
#define TPASTATUS_H

#include <QString>

/**
 * The status texts of the payment terminals, as the web application reads them: a code
 * ("KVR0000" done, "KVR1001" not), a message number and a text.
 */
namespace TpaStatus {
inline const QString commandAdded = QStringLiteral("KVR0000|M00|Comando adicionado com sucesso");
inline const QString commandRefused =
    QStringLiteral("KVR1001|M10|Já existe um comando a ser processado");
inline const QString alreadyBusy = QStringLiteral("KVR1001|M10|TPA already busy");
inline const QString notFound = QStringLiteral("KVR1001|M21|TPA not found");
inline const QString offline = QStringLiteral("KVR1001|M22|TPA offline or in error state");
inline const QString statusNotFound = QStringLiteral("KVR1001|M98|TPA status not found");
/** Every failed operation's status starts with this. */
inline const QString failedPrefix = QStringLiteral("KVR1001|M99");
inline const QString operationTimeout = failedPrefix + QStringLiteral("|Operation Timeout");
} // namespace TpaStatus

#endif
