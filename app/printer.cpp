#include "printer.h"

#include <QCryptographicHash>
#include <QMutexLocker>
#include <QPrinter>

Printer::Printer(const QPrinterInfo& info, QObject* parent) : QObject(parent), info(info)
{
    m_available = settings.value(QStringLiteral("printers/%1").arg(getHash()), false).toBool();
    connect(this, &Printer::availableChanged, this, &Printer::persistAvailability);
}

QString Printer::name() const
{
    QMutexLocker locker(&infoLock);
    return info.printerName();
}

bool Printer::state() const
{
    QMutexLocker locker(&infoLock);
    const QPrinter::PrinterState printerState = info.state();
    return printerState != QPrinter::Aborted && printerState != QPrinter::Error;
}

void Printer::updateInfo(const QPrinterInfo& newInfo)
{
    const bool wasUsable = state();
    {
        QMutexLocker locker(&infoLock);
        info = newInfo;
    }
    // The printer list's badge follows a queue that was stopped or started again.
    const bool usable = state();
    if (usable != wasUsable) {
        emit stateChanged(usable);
    }
    // "printarra --enable-printer" may have switched it from another process.
    settings.sync();
    const bool stored =
        settings.value(QStringLiteral("printers/%1").arg(getHash()), m_available.load()).toBool();
    if (stored != m_available) {
        setAvailable(stored);
    }
}

bool Printer::available() const
{
    return m_available;
}

void Printer::setAvailable(const bool& available)
{
    m_available = available;
    emit availableChanged(m_available);
}

QString Printer::getHash() const
{
    return hashFor(name());
}

QString Printer::hashFor(const QString& queueName)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(queueName.toLatin1(), QCryptographicHash::Sha1).toBase64());
}

void Printer::persistAvailability()
{
    settings.setValue(QStringLiteral("printers/%1").arg(getHash()), m_available.load());
    settings.sync();
}
