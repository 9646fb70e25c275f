#include "messagehandler.h"

#include "printclient.h"

#include <QDateTime>
#include <QSemaphore>
#include <cstdio>

PrintClient* printClient = nullptr;

namespace {
// One permit: the list's read-modify-write happens in one thread at a time.
QSemaphore messageLogger(1);
} // namespace

QString formatLogLine(const QString& timestamp, const QMessageLogContext& context,
                      const QString& message)
{
    if (context.line < 1) {
        return QStringLiteral("[%1]: %2").arg(timestamp, message);
    }
    QString file = QString::fromUtf8(context.file ? context.file : "");
    file = file.mid(file.lastIndexOf(QLatin1Char('/')) + 1);
    // One pass over the placeholders, so a "%1" inside the message stays as it is.
    return QStringLiteral("[%1]: %2\n\t%3:%4 %5")
        .arg(timestamp, message, file, QString::number(context.line),
             QString::fromUtf8(context.function ? context.function : ""));
}

void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg || type == QtInfoMsg) {
        return;
    }
    const QString timestamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    const QString line = formatLogLine(timestamp, context, message);
    if (context.line >= 1) {
        fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
        fflush(stderr);
    }
    if (!printClient) {
        return;
    }
    messageLogger.acquire();
    printClient->addDebugMessage(line);
    messageLogger.release();
}
