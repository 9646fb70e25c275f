#ifndef TPAWORKER_H
#define TPAWORKER_H

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QString>

#include <memory>

class QSemaphore;
class QTimer;

// What the two terminal families have in common: the worker owns the serial port, polls the
// terminal while it is idle, frames the command payloads handed to it, checks and acknowledges
// every frame the terminal sends and tracks the running transaction and its time-out.
// It lives in a thread of its own; the terminal object reaches it through queued signals only.
class TpaWorker : public QObject
{
    Q_OBJECT

public:
    // Intervals in milliseconds.
    struct Timings
    {
        int statusStart = 5000;            // status timer until the first poll restarts it
        int statusInterval = 30000;        // between two status polls while idle
        int statusAfterTransaction = 2000; // from the end of a transaction to the next poll
        int transaction = 60000;           // terminal silence that times a transaction out
        int pollWrite = 5000;              // for the bytes of a status poll to be written
    };

    explicit TpaWorker(const QSerialPortInfo& port, QObject* parent = nullptr);
    ~TpaWorker() override;

    // Test seams, to be called before startWorker(); the program never calls them.
    // A pseudo-terminal has no QSerialPortInfo, so tests name its device node directly.
    void setDevicePath(const QString& path);
    // Lets tests shorten the protocol's intervals so that a run stays quick.
    void setTimings(const Timings& timings);

    // Exclusive-or of all bytes.
    static char getLRC(const QByteArray& bytes);

    // A frame still open after this many payload bytes is abandoned: no terminal message comes
    // near it, and a line that never sends ETX must not grow the buffer without end.
    static constexpr int maxFrameSize = 64 * 1024;

    // Opens the port again if it is closed (hung up, or never opened); true when it is open.
    // Runs in the worker's thread.
    bool ensurePortOpen();

    // Parses bytes read from the line: checks and acknowledges each complete frame and acts
    // on its payload. Runs in the worker's thread.
    void receive(const QByteArray& bytes);

signals:
    void setLastStatus(QString status);
    void setLastTransactionStatus(QString transactionStatus);
    void setInTransactionChanged(bool inTransaction);

public slots:
    void setNewCommand(QByteArray newCommand);
    void startWorker();
    void loopStatusCheck();
    void bytesWritten(qint64 bytes);
    void errorOcurred(QSerialPort::SerialPortError error);
    void transactionTimeout();
    void readyRead();

protected:
    static constexpr char STX = 0x02;
    static constexpr char ETX = 0x03;
    static constexpr char ACK = 0x06;
    static constexpr char DLE = 0x10;
    static constexpr char NAK = 0x15;

    // The protocol's framing around a payload.
    virtual QByteArray frame(const QByteArray& payload) const = 0;
    virtual QByteArray statusPollPayload() const = 0;
    // Whether a command accepted while a poll is unanswered waits for the poll's answer.
    virtual bool commandWaitsForPollAnswer() const = 0;
    // All workers of one protocol parse their input one at a time.
    virtual QSemaphore& readyReadSemaphore() const = 0;
    // A received payload whose LRC matched.
    virtual void sendStatus(const QByteArray& payload) = 0;
    // Acts on the code of a terminal message.
    virtual void restartPing(const QString& text) = 0;

    bool openPort();
    void sendMessage(const QByteArray& payload);
    void sendMessagePrivate(const QByteArray& payload);
    void setIsInTransaction(bool value);
    void startTransaction(bool command);
    void refreshTransaction();
    void restartStatusTimer(int interval);
    void stopTransaction();
    void writeControlByte(char byte);

    std::unique_ptr<QSerialPort> serialPort;
    QSerialPortInfo portInfo;
    QString devicePath;
    Timings timings;
    QByteArray lastMessage;
    bool inFrame = false;
    bool frameComplete = false;
    int retryCount = 0;
    bool inTransaction = false;
    bool awaitingStatus = false;
    QByteArray pendingCommand;
    QByteArray receiveBuffer;
    QTimer* statusTimer = nullptr;
    QTimer* transactionTimer = nullptr;
};

#endif // TPAWORKER_H
