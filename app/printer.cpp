#include "printer.h"

#include "settingskeys.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QMutexLocker>
#include <QPrinter>

Printer::Printer(const QPrinterInfo& info, QObject* parent) : QObject(parent), info(info)
{
    m_available = settings.value(SettingsKeys::printerShown(getHash()), false).toBool();
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
        settings.value(SettingsKeys::printerShown(getHash()), m_available.load()).toBool();
    if (stored != m_available) {
        setAvailable(stored);
    }
}

void Printer::setCondition(const QString& state, const QStringList& reasons, bool accepting)
{
    {
        QMutexLocker locker(&infoLock);
        if (state == m_state && reasons == m_reasons && accepting == m_accepting) {
            return;
        }
        m_state = state;
        m_reasons = reasons;
        m_accepting = accepting;
    }
    qInfo().noquote() << "printer" << name() << "is" << state
                      << (accepting ? "and accepts jobs" : "and refuses jobs")
                      << (reasons.isEmpty() ? QStringLiteral("")
                                            : QStringLiteral("(%1)").arg(reasons.join(", ")));
    emit conditionChanged();
}

QString Printer::stateName() const
{
    QMutexLocker locker(&infoLock);
    return m_state;
}

QStringList Printer::reasons() const
{
    QMutexLocker locker(&infoLock);
    return m_reasons;
}

bool Printer::accepting() const
{
    QMutexLocker locker(&infoLock);
    return m_accepting;
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
    settings.setValue(SettingsKeys::printerShown(getHash()), m_available.load());
    settings.sync();
}
