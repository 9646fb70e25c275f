#include "tpaworkernewnote.h"

QSemaphore TpaWorkerNewnote::readyReadSemaphoreNewnote(1);

TpaWorkerNewnote::TpaWorkerNewnote(const QSerialPortInfo& port, QObject* parent)
    : TpaWorker(port, parent)
{
}

QByteArray TpaWorkerNewnote::parseStatusMsg(const QByteArray& bytes)
{
    static const QByteArray removed("\x00\x29\x9F\x1C\x9A\x08\x21\x06\x02\x10", 10);
    QByteArray result;
    result.reserve(bytes.size());
    for (char byte : bytes) {
        if (!removed.contains(byte))
            result.append(byte);
    }
    return result;
}

QByteArray TpaWorkerNewnote::frame(const QByteArray& payload) const
{
    // No payload byte is escaped or doubled; the leading DLE STX stay out of the LRC.
    QByteArray bytes;
    bytes.reserve(payload.size() + 5);
    bytes.append(DLE).append(STX).append(payload).append(DLE).append(ETX);
    bytes.append(getLRC(payload + DLE + ETX));
    return bytes;
}

QByteArray TpaWorkerNewnote::statusPollPayload() const
{
    return QByteArray("M001") + "10" + "PQ";
}

void TpaWorkerNewnote::sendStatus(const QByteArray& payload)
{
    const QString text = QString::fromLatin1(parseStatusMsg(payload));

    if (payload.left(4) != "M001") {
        refreshTransaction();
        emit setLastTransactionStatus(text);
    } else {
        emit setLastStatus(text);
    }
    restartPing(text);
}

void TpaWorkerNewnote::restartPing(const QString& text)
{
    const QString code = text.left(4);

    if (code == QLatin1String("M001")) {
        awaitingStatus = false;
        stopTransaction();
    } else if (code == QLatin1String("S000") || code == QLatin1String("S001") ||
               code == QLatin1String("C000") || code == QLatin1String("C002")) {
        // The open, close, purchase or refund has ended.
        stopTransaction();
    }
}
