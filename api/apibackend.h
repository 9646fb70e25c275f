#ifndef APIBACKEND_H
#define APIBACKEND_H

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

class Tpa;

/**
 * What the API needs of the program: the key and settings it answers with, the device lists,
 * the preview printer and the notifications. The program's controller implements it. Every
 * call may come from any of the HTTP server's connection threads.
 */
class ApiBackend
{
public:
    /** A print queue as the API reports it. */
    struct PrinterStatus
    {
        QString name;
        bool online = false; // the queue takes jobs and is not in error
        QString state;       // "idle", "processing" or "stopped"
        QStringList reasons; // the print system's reasons, without "-error"/"-warning"
        bool accepting = true;
    };

    virtual ~ApiBackend() = default;

    /**
     * The name the preview printer is listed under. No print queue has it: the print system
     * allows no blanks in a queue's name.
     */
    static QString previewPrinterName() { return QStringLiteral("Printarra Preview"); }

    virtual QString securityKey() const = 0;
    virtual bool compatibilityMode() const = 0;
    /** How long a sent job may take to print before it is cancelled, in ms. */
    virtual int jobTimeout() const = 0;
    /** The "version" and "device" fields of the status answers. */
    virtual QString curVersion() const = 0;
    virtual QString device() const = 0;

    /** The print queues on the list now, without the preview printer. */
    virtual QList<PrinterStatus> printerStatuses() const = 0;
    virtual QList<QSharedPointer<Tpa>> tpaList() const = 0;

    /** Whether the preview printer is switched on. */
    virtual bool previewPrinterOn() const = 0;
    /** Draws a job as printed and keeps the picture; false with the reason if it could not. */
    virtual bool savePreview(const QJsonArray& job, QString* reason) const = 0;

    /** The kept notifications as JSON objects, in the order they are kept. */
    virtual QJsonArray notificationsJson() const = 0;
    /** Takes a notification given as JSON; false if it is not one. */
    virtual bool takeNotification(const QJsonObject& json) = 0;
};

#endif
