#ifndef PRINTER_H
#define PRINTER_H

#include <QMutex>
#include <QObject>
#include <QPrinterInfo>
#include <QSettings>
#include <QSharedPointer>
#include <QStringList>
#include <atomic>

/**
 * One queue of the print system, for the screens and the API: its name, whether it is
 * usable, and the user's switch that lets the web application use it. The switch is
 * remembered per queue under "printers/" + getHash().
 */
class Printer : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name NOTIFY nameChanged)
    Q_PROPERTY(bool state READ state NOTIFY stateChanged)
    Q_PROPERTY(bool available READ available WRITE setAvailable NOTIFY availableChanged)
    Q_PROPERTY(QStringList reasons READ reasons NOTIFY conditionChanged)

public:
    explicit Printer(const QPrinterInfo& info = QPrinterInfo(), QObject* parent = nullptr);

    QString name() const;
    /** False when the print system reports the queue as stopped or in error. */
    bool state() const;
    bool available() const;
    void setAvailable(const bool& available);

    /**
     * Takes the print system's newest description of the same queue. The record is a
     * snapshot, so without this a queue stopped after it was first seen would look usable
     * for as long as the object lives.
     */
    void updateInfo(const QPrinterInfo& newInfo);

    /**
     * The print system's condition of the queue: "idle", "processing" or "stopped" (empty
     * until it is known), its printer-state-reasons (say "media-empty", "door-open",
     * "offline-report") and whether it accepts jobs. A change is logged.
     */
    void setCondition(const QString& state, const QStringList& reasons, bool accepting);
    QString stateName() const;
    QStringList reasons() const;
    bool accepting() const;

    /** Base64 of the SHA-1 of the queue name in Latin-1: the printer's settings identity. */
    QString getHash() const;
    static QString hashFor(const QString& queueName);

signals:
    void nameChanged(QString);
    void stateChanged(bool);
    void availableChanged(bool);
    void conditionChanged();

private slots:
    void persistAvailability();

private:
    mutable QMutex infoLock; // the record is replaced in the main thread, read by the API's
    QPrinterInfo info;
    QString m_state;
    QStringList m_reasons;
    bool m_accepting = true;
    std::atomic<bool> m_available{false};
    QSettings settings;
};

/** Printers are shared with the API's threads; the last holder releases the object. */
using PrinterPtr = QSharedPointer<Printer>;

#endif
