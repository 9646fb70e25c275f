#ifndef TPAWORKERINGENICO_H
#define TPAWORKERINGENICO_H

#include "tpaworker.h"

#include <QSemaphore>

// Ingenico terminals: frames are STX payload ETX LRC, the status poll is M00005LB020000 and its
// answer carries the code M000. A command accepted while a poll is unanswered leaves with the
// poll's answer (or at the next status tick).
class TpaWorkerIngenico : public TpaWorker
{
    Q_OBJECT

public:
    explicit TpaWorkerIngenico(const QSerialPortInfo& port, QObject* parent = nullptr);

    // Serialises the frame parsing of all Ingenico workers of the process.
    static QSemaphore readyReadSemaphoreIngenico;

protected:
    QByteArray frame(const QByteArray& payload) const override;
    QByteArray statusPollPayload() const override;
    bool commandWaitsForPollAnswer() const override { return true; }
    QSemaphore& readyReadSemaphore() const override { return readyReadSemaphoreIngenico; }
    void sendStatus(const QByteArray& payload) override;
    void restartPing(const QString& text) override;
};

#endif // TPAWORKERINGENICO_H
