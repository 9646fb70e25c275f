#ifndef TPAWORKERNEWNOTE_H
#define TPAWORKERNEWNOTE_H

#include "tpaworker.h"

#include <QSemaphore>

// The second terminal family: frames are DLE STX payload DLE ETX LRC, the status poll is
// M00110PQ and its answer carries the code M001. Commands never wait for a poll answer.
class TpaWorkerNewnote : public TpaWorker
{
    Q_OBJECT

public:
    explicit TpaWorkerNewnote(const QSerialPortInfo& port, QObject* parent = nullptr);

    // Serialises the frame parsing of all workers of this family; separate from the Ingenico one.
    static QSemaphore readyReadSemaphoreNewnote;

    // Removes the control bytes and EMV tag bytes that the terminal's messages carry around
    // their text.
    static QByteArray parseStatusMsg(const QByteArray& bytes);

protected:
    QByteArray frame(const QByteArray& payload) const override;
    QByteArray statusPollPayload() const override;
    bool commandWaitsForPollAnswer() const override { return false; }
    QSemaphore& readyReadSemaphore() const override { return readyReadSemaphoreNewnote; }
    void sendStatus(const QByteArray& payload) override;
    void restartPing(const QString& text) override;
};

#endif // TPAWORKERNEWNOTE_H
