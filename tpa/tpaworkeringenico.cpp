#include "tpaworkeringenico.h"

#include <QStringList>

QSemaphore TpaWorkerIngenico::readyReadSemaphoreIngenico(1);

TpaWorkerIngenico::TpaWorkerIngenico(const QSerialPortInfo& port, QObject* parent)
    : TpaWorker(port, parent)
{
}

QByteArray TpaWorkerIngenico::frame(const QByteArray& payload) const
{
    // Payload bytes are sent as they are; the protocol has no escaping.
    QByteArray bytes;
    bytes.reserve(payload.size() + 3);
    bytes.append(STX).append(payload).append(ETX);
    bytes.append(getLRC(payload + ETX));
    return bytes;
}

QByteArray TpaWorkerIngenico::statusPollPayload() const
{
    return QByteArray("M000") + "05" + "LB" + "0200" + "0" + "0";
}

void TpaWorkerIngenico::sendStatus(const QByteArray& payload)
{
    // The text ends at the first zero byte.
    const int zero = payload.indexOf('\0');
    const QString text = QString::fromLatin1(zero < 0 ? payload : payload.left(zero));

    if (payload.left(4) != "M000") {
        refreshTransaction();
        emit setLastTransactionStatus(text);
    } else {
        emit setLastStatus(text);
    }
    restartPing(text);
}

void TpaWorkerIngenico::restartPing(const QString& text)
{
    // Messages carrying the code of an open, close, purchase, refund (and their variants), menu
    // or reprint command mark the end of that operation.
    static const QStringList endCodes{"P001", "P042", "P051", "P061", "P101", "P102", "P142",
                                      "P151", "P155", "P161", "P251", "P261", "M005"};
    const QString code = text.left(4);

    if (code == QLatin1String("M000")) {
        awaitingStatus = false;
        if (!pendingCommand.isEmpty())
            loopStatusCheck();
    } else if (code == QLatin1String("M001")) {
        // Nothing to do.
    } else if (endCodes.contains(code)) {
        stopTransaction();
    } else if (code == QLatin1String("M025")) {
        // Answered without resetting the retry count of the exchange in progress.
        sendMessagePrivate("M025000");
    } else if (code == QLatin1String("M00E")) {
        if (inTransaction && text.mid(4, 3) == QLatin1String("001"))
            stopTransaction();
    } else if (text == QLatin1String("M01101") && inTransaction) {
        transactionTimeout();
    }
}
