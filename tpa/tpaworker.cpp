#include "tpaworker.h"

#include "tpastatus.h"

#include <QDebug>
#include <QMetaEnum>
#include <QSemaphore>
#include <QTimer>

namespace {

const char* errorName(QSerialPort::SerialPortError error)
{
    return QMetaEnum::fromType<QSerialPort::SerialPortError>().valueToKey(error);
}

} // namespace

TpaWorker::TpaWorker(const QSerialPortInfo& port, QObject* parent) : QObject(parent), portInfo(port)
{
}

// Runs in the worker's thread (deferred deletion when the thread finishes), where the port's
// notifiers live; closing here releases the device at once.
TpaWorker::~TpaWorker()
{
    if (serialPort && serialPort->isOpen())
        serialPort->close();
}

void TpaWorker::setDevicePath(const QString& path)
{
    devicePath = path;
}

void TpaWorker::setTimings(const Timings& value)
{
    timings = value;
}

char TpaWorker::getLRC(const QByteArray& bytes)
{
    char lrc = 0;
    for (char byte : bytes)
        lrc ^= byte;
    return lrc;
}

void TpaWorker::startWorker()
{
    if (serialPort)
        return;

    serialPort = std::make_unique<QSerialPort>(portInfo);
    if (!devicePath.isEmpty())
        serialPort->setPortName(devicePath);
    serialPort->setBaudRate(QSerialPort::Baud115200, QSerialPort::AllDirections);
    serialPort->setParity(QSerialPort::NoParity);
    serialPort->setDataBits(QSerialPort::Data8);
    serialPort->setStopBits(QSerialPort::OneStop);

    connect(serialPort.get(), &QSerialPort::bytesWritten, this, &TpaWorker::bytesWritten);
    connect(serialPort.get(), &QSerialPort::errorOccurred, this, &TpaWorker::errorOcurred);
    connect(serialPort.get(), &QSerialPort::readyRead, this, &TpaWorker::readyRead);

    transactionTimer = new QTimer(this);
    connect(transactionTimer, &QTimer::timeout, this, &TpaWorker::transactionTimeout);
    statusTimer = new QTimer(this);
    connect(statusTimer, &QTimer::timeout, this, &TpaWorker::loopStatusCheck);

    // The first poll opens the port; one that does not open is tried again by every poll and
    // command.
    restartStatusTimer(timings.statusStart);
    loopStatusCheck();
}

bool TpaWorker::ensurePortOpen()
{
    return serialPort && openPort();
}

bool TpaWorker::openPort()
{
    if (serialPort->isOpen())
        return true;
    if (serialPort->open(QIODevice::ReadWrite))
        return true;
    qDebug() << "not open" << errorName(serialPort->error());
    return false;
}

void TpaWorker::setNewCommand(QByteArray newCommand)
{
    // A closed port (never opened, or hung up) is opened again first, so that a terminal
    // plugged back in under the same name works at once. Without an open port nothing could
    // ever end the command: refuse it and hand the terminal object back its idle state
    // instead of holding it busy for good.
    if (!transactionTimer || !openPort()) {
        emit setLastTransactionStatus(TpaStatus::offline);
        emit setInTransactionChanged(false);
        return;
    }

    if (!inTransaction && pendingCommand.isEmpty()) {
        pendingCommand = newCommand;
        emit setLastTransactionStatus(TpaStatus::commandAdded);
        if (!awaitingStatus)
            loopStatusCheck();
    } else {
        emit setLastTransactionStatus(TpaStatus::commandRefused);
    }
}

void TpaWorker::loopStatusCheck()
{
    if (!transactionTimer)
        return;

    if (!openPort()) {
        // Tried again at the next poll; a command that waited for this one cannot leave.
        if (!pendingCommand.isEmpty()) {
            pendingCommand.clear();
            emit setLastTransactionStatus(TpaStatus::offline);
            emit setInTransactionChanged(false);
        }
        if (!inTransaction)
            restartStatusTimer(timings.statusInterval);
        return;
    }

    if (!pendingCommand.isEmpty()) {
        startTransaction(true);
        const QByteArray command = pendingCommand;
        pendingCommand.clear();
        sendMessage(command);
    } else if (!inTransaction) {
        restartStatusTimer(timings.statusInterval);
        startTransaction(false);
        sendMessage(statusPollPayload());
    }
}

void TpaWorker::bytesWritten(qint64 bytes)
{
    Q_UNUSED(bytes)
    // A status poll is guarded only until its bytes have left.
    if (!inTransaction)
        stopTransaction();
}

void TpaWorker::errorOcurred(QSerialPort::SerialPortError error)
{
    qDebug() << "error ocurred" << errorName(error);
    if ((error == QSerialPort::ResourceError || error == QSerialPort::ReadError) &&
        serialPort->isOpen()) {
        // The line is gone (unplugged): a port left open reports the same error again at
        // once, for ever, and keeps a core busy. It is opened again by the next poll or
        // command once the device is back; until then a running transaction ends by its own
        // time limit, unless its frame never left.
        const bool unsent = serialPort->bytesToWrite() > 0;
        serialPort->close();
        // Whatever the old line owed us is lost: no poll answer or frame will complete.
        awaitingStatus = false;
        inFrame = frameComplete = false;
        receiveBuffer.clear();
        if (unsent && inTransaction) {
            emit setLastTransactionStatus(TpaStatus::offline);
            stopTransaction();
        }
        return;
    }
    if (error != QSerialPort::TimeoutError || !transactionTimer)
        return;

    if (retryCount < 3) {
        ++retryCount;
        sendMessagePrivate(lastMessage);
        return;
    }
    // Reported before the transaction ends: the terminal object files transaction statuses
    // under the identifier that owns the terminal, and the end releases that ownership.
    emit setLastTransactionStatus(TpaStatus::operationTimeout);
    stopTransaction();
}

void TpaWorker::transactionTimeout()
{
    if (inTransaction) {
        emit setLastTransactionStatus(TpaStatus::operationTimeout);
    } else {
        awaitingStatus = false;
        emit setLastStatus(TpaStatus::operationTimeout);
    }
    stopTransaction();
}

void TpaWorker::readyRead()
{
    receive(serialPort->readAll());
}

void TpaWorker::receive(const QByteArray& bytes)
{
    QSemaphore& semaphore = readyReadSemaphore();
    semaphore.acquire();
    const QSemaphoreReleaser releaser(semaphore);

    for (char byte : bytes) {
        if (frameComplete) {
            // This byte is the LRC of the frame just closed.
            if (getLRC(receiveBuffer + ETX) == byte) {
                writeControlByte(ACK);
                const QByteArray payload = receiveBuffer;
                receiveBuffer.clear();
                frameComplete = false;
                sendStatus(payload);
            } else {
                writeControlByte(NAK);
                receiveBuffer.clear();
                frameComplete = false;
            }
        } else if (byte == STX) {
            if (inFrame) {
                receiveBuffer.append(byte);
            } else {
                inFrame = true;
                receiveBuffer.clear();
            }
        } else if (byte == ETX) {
            inFrame = false;
            frameComplete = true;
        } else if (inFrame) {
            receiveBuffer.append(byte);
        }
        // Outside a frame the byte is dropped, the terminal's own ACK and NAK included.

        if (inFrame && receiveBuffer.size() > maxFrameSize) {
            qDebug() << "frame too long, dropped";
            inFrame = false;
            receiveBuffer.clear();
        }
    }
}

void TpaWorker::sendMessage(const QByteArray& payload)
{
    retryCount = 0;
    sendMessagePrivate(payload);
}

void TpaWorker::sendMessagePrivate(const QByteArray& payload)
{
    lastMessage = payload;
    const QByteArray bytes = frame(payload);
    if (serialPort->isOpen() && serialPort->write(bytes) == bytes.size())
        return;
    // The frame cannot leave: a command fails now instead of waiting for an answer that
    // cannot come; a poll is simply over.
    qDebug() << "frame not written" << errorName(serialPort->error());
    if (inTransaction)
        emit setLastTransactionStatus(TpaStatus::offline);
    else
        awaitingStatus = false;
    stopTransaction();
}

void TpaWorker::writeControlByte(char byte)
{
    if (serialPort->isOpen())
        serialPort->write(QByteArray(1, byte));
}

void TpaWorker::setIsInTransaction(bool value)
{
    inTransaction = value;
    emit setInTransactionChanged(value);
}

void TpaWorker::startTransaction(bool command)
{
    if (command) {
        transactionTimer->setInterval(timings.transaction);
        setIsInTransaction(true);
    } else {
        // A poll whose bytes do not leave within this bound is reported as timed out.
        transactionTimer->setInterval(timings.pollWrite);
        if (commandWaitsForPollAnswer())
            awaitingStatus = true;
    }
    transactionTimer->start();
}

void TpaWorker::refreshTransaction()
{
    // Every terminal message pushes the limit back. While idle the acknowledgement written for
    // the message stops the timer again (bytesWritten).
    transactionTimer->stop();
    transactionTimer->start();
}

void TpaWorker::restartStatusTimer(int interval)
{
    statusTimer->stop();
    statusTimer->setInterval(interval);
    statusTimer->start();
}

void TpaWorker::stopTransaction()
{
    transactionTimer->stop();
    if (inTransaction) {
        setIsInTransaction(false);
        restartStatusTimer(timings.statusAfterTransaction);
    }
}
