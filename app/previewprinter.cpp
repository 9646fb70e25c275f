#include "previewprinter.h"

#include "printjob.h"
#include "settingskeys.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

PreviewPrinter::PreviewPrinter(QObject* parent) : QObject(parent)
{
    m_available = settings.value(SettingsKeys::previewPrinter, false).toBool();
    m_folder = settings.value(SettingsKeys::previewFolder).toString();
    if (m_folder.isEmpty()) {
        m_folder =
            QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + "/preview";
    }
}

void PreviewPrinter::setAvailable(bool available)
{
    m_available = available;
    settings.setValue(SettingsKeys::previewPrinter, available);
    settings.sync();
    emit availableChanged(available);
}

void PreviewPrinter::openFolder() const
{
    QDir().mkpath(m_folder);
    QDesktopServices::openUrl(QUrl::fromLocalFile(m_folder));
}

QString PreviewPrinter::save(const QJsonArray& job, bool compatibilityMode, const QString& folder,
                             QString* reason)
{
    PrintJob printJob(job, printerName(), compatibilityMode);
    QByteArray png;
    if (!printJob.preview(576, &png)) {
        *reason = printJob.reason();
        return QString();
    }
    // Named by the time, so that the folder lists the jobs in order; never overwritten.
    const QString stem =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    QString path = folder + '/' + stem + ".png";
    for (int n = 2; QFile::exists(path); ++n) {
        path = QStringLiteral("%1/%2-%3.png").arg(folder, stem).arg(n);
    }
    QSaveFile file(path);
    if (!QDir().mkpath(folder) || !file.open(QIODevice::WriteOnly) ||
        file.write(png) != png.size() || !file.commit()) {
        *reason = QStringLiteral("cannot write %1").arg(path);
        return QString();
    }
    return path;
}
