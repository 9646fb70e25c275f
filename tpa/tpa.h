#ifndef TPA_H
#define TPA_H

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QMutex>
#include <QObject>
#include <QSerialPortInfo>
#include <QSettings>
#include <QString>
#include <QStringList>

class QThread;
class TpaWorker;

Q_DECLARE_METATYPE(QSerialPortInfo)

// One payment terminal on one serial port. It runs the protocol worker of its type in a thread
// of its own, builds the payload of every command the API asks for, and keeps the worker's
// latest status and, per web-application terminal identifier, the history of transaction
// statuses together with which identifier owns the terminal.
//
// The status fields are written here on the main thread (the worker's reports) and read and
// written by the API on connection threads; one mutex guards them all.
class Tpa : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name NOTIFY nameChanged)
    Q_PROPERTY(QSerialPortInfo tpa READ tpa NOTIFY tpaChanged)
    Q_PROPERTY(int vendorId READ vendorId NOTIFY vendorIdChanged)
    Q_PROPERTY(bool state READ state NOTIFY stateChanged)
    Q_PROPERTY(bool available READ available WRITE setAvailable NOTIFY availableChanged)

public:
    // type 1 drives the port with TpaWorkerIngenico, type 2 with TpaWorkerNewnote; any other
    // type has no worker. devicePath is a test seam: a pseudo-terminal has no QSerialPortInfo,
    // so tests name its device node; the program leaves it empty.
    Tpa(const QSerialPortInfo& port, int type, QObject* parent = nullptr,
        const QString& devicePath = QString());
    ~Tpa() override;

    QString name() const;
    QSerialPortInfo tpa() const;
    int vendorId() const;
    bool available() const;
    void setAvailable(bool const& available);
    // The port is present and the worker holds it open (opening it again after a hang-up).
    bool state() const;

    QString getHash() const;
    // The settings identity of a terminal with these USB identifiers.
    static QString hashFor(quint16 vendorIdentifier, quint16 productIdentifier);

    bool isInTransaction() const;
    QString lastStatus(const QString& id);
    QStringList lastTransactionStatus(const QString& id);
    QStringList clearLastTransactionStatus(const QString& id);

    void setTpaOpen(const QString& id);
    void setTpaClose(const QString& id);
    void setTpaPurchase(const QString& id, const QString& amount);
    void setTpaRefund(const QString& id, const QString& tpaId, const QString& datetime,
                      const QString& amount);
    void setTpaOpenMenu(const QString& id);
    void setTpaReprintLastReceipt(const QString& id);

signals:
    void sendMessage(QByteArray command);
    void nameChanged(QString);
    void vendorIdChanged(int);
    void stateChanged(bool);
    void availableChanged(bool);
    void tpaChanged(QSerialPortInfo);
    void lastStatusChanged();
    void lastTransactionStatusChanged();

public slots:
    void onSetStatus(QString status);
    void onSetTransactionStatus(QString transactionStatus);
    void onInTransactionChanged(bool inTransaction);
    void persistAvailability();

private:
    bool present() const;

    // Amount as eight digits at least: separators removed, zeros in front.
    static QByteArray normalizeAmount(const QString& amount);
    // Date and time run together: ":", blanks and "-" removed.
    static QByteArray normalizeDatetime(const QString& datetime);

    // Callers hold m_mutex.
    int terminalTpaIndex(const QString& id) const;
    int checkBufferConnection(const QString& id);

    // Makes id the owner and, when there is a payload, hands it to the worker.
    void sendCommand(const QString& id, const QByteArray& payload);

    QThread* m_thread;
    TpaWorker* m_worker = nullptr; // lives in m_thread until that thread finishes
    QSerialPortInfo m_tpa;
    int m_vendorId;
    QString m_devicePath; // tests only: the device node the worker opens instead of the port
    bool m_available;
    QSettings m_settings;
    QString m_lastStatus;
    QList<QStringList> m_transactionStatuses;
    bool m_inTransaction = false;
    QStringList m_terminalTpaIds;
    int m_activeTerminalTpaIndex = -1;
    mutable QMutex m_mutex;
};

#endif // TPA_H
