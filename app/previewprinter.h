#ifndef PREVIEWPRINTER_H
#define PREVIEWPRINTER_H

#include "apibackend.h"

#include <QJsonArray>
#include <QObject>
#include <QSettings>
#include <QString>

#include <atomic>

/**
 * "Printarra Preview": a printer without hardware for web developers. Switched on, it is listed
 * by the API like a print queue, and each job sent to it is drawn as printed (the preview's
 * renderer, 80 mm paper) and saved as a PNG file in its folder. Off by default; the switch is
 * remembered as "previewPrinter", the folder may be set as "previewFolder".
 */
class PreviewPrinter : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name CONSTANT)
    Q_PROPERTY(bool state READ state CONSTANT)
    Q_PROPERTY(bool available READ available WRITE setAvailable NOTIFY availableChanged)
    Q_PROPERTY(QString folder READ folder CONSTANT)

public:
    explicit PreviewPrinter(QObject* parent = nullptr);

    static QString printerName() { return ApiBackend::previewPrinterName(); }
    QString name() const { return printerName(); }
    bool state() const { return true; }
    bool available() const { return m_available; }
    void setAvailable(bool available);
    QString folder() const { return m_folder; }

    /** Opens the folder in the desktop's file manager (made first if need be). */
    Q_INVOKABLE void openFolder() const;

    /**
     * Draws the job and saves it in folder; any thread. The file's path, or empty with the
     * reason (an invalid command, a folder that cannot be written).
     */
    static QString save(const QJsonArray& job, bool compatibilityMode, const QString& folder,
                        QString* reason);

signals:
    void availableChanged(bool);

private:
    std::atomic<bool> m_available{false};
    QString m_folder;
    QSettings settings;
};

#endif
