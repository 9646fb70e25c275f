#include "tpa.h"

#include "tpastatus.h"
#include "tpaworkeringenico.h"
#include "tpaworkernewnote.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QMutexLocker>
#include <QThread>

namespace {

// The stored switch of a terminal, by its port's hash.
QString shownKey(const QString& hash)
{
    return QStringLiteral("tpa/") + hash;
}

// The closing bytes of a type-2 purchase: a count (11) and four EMV tags with zero length,
// 9F1C terminal identification, 9A date, 9F21 time and 9F02 amount authorised.
const QByteArray newnotePurchaseTags("\x0B\x9F\x1C\x00\x9A\x00\x9F\x21\x00\x9F\x02\x00", 12);

} // namespace

Tpa::Tpa(const QSerialPortInfo& port, int type, QObject* parent, const QString& devicePath)
    : QObject(parent)
    , m_thread(new QThread)
    , m_tpa(port)
    , m_vendorId(type)
    , m_devicePath(devicePath)
{
    m_available = m_settings.value(shownKey(getHash()), true).toBool();

    TpaWorker* worker = nullptr;
    if (type == 1)
        worker = new TpaWorkerIngenico(port);
    else if (type == 2)
        worker = new TpaWorkerNewnote(port);
    m_worker = worker;

    if (worker) {
        if (!devicePath.isEmpty())
            worker->setDevicePath(devicePath);
        worker->moveToThread(m_thread);
        connect(m_thread, &QThread::started, worker, &TpaWorker::startWorker);
        // The worker is deleted in its own thread as the thread finishes, which closes the port.
        connect(m_thread, &QThread::finished, worker, &QObject::deleteLater);
        connect(this, &Tpa::sendMessage, worker, &TpaWorker::setNewCommand);
        connect(worker, &TpaWorker::setLastStatus, this, &Tpa::onSetStatus);
        connect(worker, &TpaWorker::setLastTransactionStatus, this, &Tpa::onSetTransactionStatus);
        connect(worker, &TpaWorker::setInTransactionChanged, this, &Tpa::onInTransactionChanged);
    }
    m_thread->start();

    connect(this, &Tpa::availableChanged, this, &Tpa::persistAvailability);
}

// The terminal's port is gone (or the program ends): stop the worker and its thread so that no
// thread and no open descriptor outlive this object, and the device can be opened again at once.
Tpa::~Tpa()
{
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

QString Tpa::name() const
{
    return m_tpa.description() + QStringLiteral(" [") + m_tpa.portName() + QStringLiteral("]");
}

QSerialPortInfo Tpa::tpa() const
{
    return m_tpa;
}

int Tpa::vendorId() const
{
    return m_vendorId;
}

bool Tpa::available() const
{
    QMutexLocker locker(&m_mutex);
    return m_available;
}

void Tpa::setAvailable(bool const& available)
{
    {
        QMutexLocker locker(&m_mutex);
        m_available = available;
    }
    // Announced every time, changed or not, so that the value is always stored.
    emit availableChanged(available);
}

bool Tpa::state() const
{
    if (!present())
        return false;
    // A port that hung up stays closed in the worker; a device that is present again under
    // the same name is opened again here, so that the next command reaches it. The worker
    // never waits on this thread, and it lives as long as this object.
    if (!m_worker)
        return true;
    if (QThread::currentThread() == m_thread)
        return m_worker->ensurePortOpen();
    bool open = false;
    TpaWorker* const worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [worker] { return worker->ensurePortOpen(); }, Qt::BlockingQueuedConnection, &open);
    return open;
}

bool Tpa::present() const
{
    // A device node that only tests name (a pseudo-terminal) is present while it exists.
    if (!m_devicePath.isEmpty())
        return QFileInfo::exists(m_devicePath);
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& port : ports) {
        if (port.portName() == m_tpa.portName())
            return true;
    }
    return false;
}

QString Tpa::getHash() const
{
    return hashFor(m_tpa.vendorIdentifier(), m_tpa.productIdentifier());
}

QString Tpa::hashFor(quint16 vendorIdentifier, quint16 productIdentifier)
{
    QString text;
    text.append(QChar(vendorIdentifier));
    text.append(QChar(productIdentifier));
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha1).toBase64());
}

void Tpa::persistAvailability()
{
    QMutexLocker locker(&m_mutex);
    m_settings.setValue(shownKey(getHash()), m_available);
    m_settings.sync();
}

bool Tpa::isInTransaction() const
{
    QMutexLocker locker(&m_mutex);
    return m_inTransaction;
}

int Tpa::terminalTpaIndex(const QString& id) const
{
    return m_terminalTpaIds.indexOf(id);
}

int Tpa::checkBufferConnection(const QString& id)
{
    int index = terminalTpaIndex(id);
    if (index < 0) {
        m_terminalTpaIds.append(id);
        m_transactionStatuses.append(QStringList());
        index = m_terminalTpaIds.size() - 1;
    }
    return index;
}

QString Tpa::lastStatus(const QString& id)
{
    QMutexLocker locker(&m_mutex);
    const int index = checkBufferConnection(id);
    if (m_activeTerminalTpaIndex != -1 && m_activeTerminalTpaIndex != index)
        return TpaStatus::alreadyBusy;
    return m_lastStatus;
}

QStringList Tpa::lastTransactionStatus(const QString& id)
{
    QMutexLocker locker(&m_mutex);
    const int index = checkBufferConnection(id);
    // The owner follows its running transaction without consuming it; any other read hands
    // the history over once.
    if (m_inTransaction && index == m_activeTerminalTpaIndex)
        return m_transactionStatuses.at(index);
    QStringList history;
    history.swap(m_transactionStatuses[index]);
    return history;
}

QStringList Tpa::clearLastTransactionStatus(const QString& id)
{
    QMutexLocker locker(&m_mutex);
    const int index = checkBufferConnection(id);
    if (m_inTransaction || m_activeTerminalTpaIndex != -1)
        return QStringList();
    QStringList history;
    history.swap(m_transactionStatuses[index]);
    return history;
}

void Tpa::onSetStatus(QString status)
{
    {
        QMutexLocker locker(&m_mutex);
        m_lastStatus = status;
    }
    emit lastStatusChanged();
}

void Tpa::onSetTransactionStatus(QString transactionStatus)
{
    {
        QMutexLocker locker(&m_mutex);
        // Nobody owns the terminal: the status has no one to go to.
        if (m_activeTerminalTpaIndex == -1)
            return;
        m_transactionStatuses[m_activeTerminalTpaIndex].append(transactionStatus);
    }
    emit lastTransactionStatusChanged();
}

void Tpa::onInTransactionChanged(bool inTransaction)
{
    QMutexLocker locker(&m_mutex);
    if (!inTransaction)
        m_activeTerminalTpaIndex = -1;
    m_inTransaction = inTransaction;
}

QByteArray Tpa::normalizeAmount(const QString& amount)
{
    QString digits = amount;
    digits.remove(QLatin1Char('.')).remove(QLatin1Char(','));
    while (digits.size() < 8)
        digits.prepend(QLatin1Char('0'));
    return digits.toUtf8();
}

QByteArray Tpa::normalizeDatetime(const QString& datetime)
{
    QString digits = datetime;
    digits.remove(QLatin1Char(':')).remove(QLatin1Char(' ')).remove(QLatin1Char('-'));
    return digits.toUtf8();
}

void Tpa::sendCommand(const QString& id, const QByteArray& payload)
{
    {
        QMutexLocker locker(&m_mutex);
        m_activeTerminalTpaIndex = checkBufferConnection(id);
        if (payload.isEmpty())
            return;
        m_inTransaction = true;
    }
    emit sendMessage(payload);
}

void Tpa::setTpaOpen(const QString& id)
{
    QByteArray payload;
    if (m_vendorId == 1)
        payload = QByteArray("P001") + "00" + "1" + "333" + "04" + "9782";
    else if (m_vendorId == 2)
        payload = QByteArray("S000") + "10" + "0000" + "0" + "1" + "1";
    sendCommand(id, payload);
}

void Tpa::setTpaClose(const QString& id)
{
    QByteArray payload;
    if (m_vendorId == 1)
        payload = QByteArray("P042") + "1" + "0" + "1" + "333" + "04" + "9782";
    else if (m_vendorId == 2)
        payload = QByteArray("S001") + "10" + "0000" + "0" + "1" + "1";
    sendCommand(id, payload);
}

void Tpa::setTpaPurchase(const QString& id, const QString& amount)
{
    QByteArray payload;
    if (m_vendorId == 1) {
        payload = QByteArray("P051") + "00" + "1" + "333" + "04" + "9782" + normalizeAmount(amount);
    } else if (m_vendorId == 2) {
        payload = QByteArray("C000") + "10" + "0000" + normalizeAmount(amount) + "000" + "0" + "1" +
                  "0" + "0" + "0" + newnotePurchaseTags;
    }
    sendCommand(id, payload);
}

void Tpa::setTpaRefund(const QString& id, const QString& tpaId, const QString& datetime,
                       const QString& amount)
{
    QByteArray payload;
    if (m_vendorId == 1) {
        payload = QByteArray("P061") + "00" + "1" + "333" + "02" + "9782" +
                  normalizeAmount(amount) + tpaId.toUtf8() + normalizeDatetime(datetime);
    } else if (m_vendorId == 2) {
        payload = QByteArray("C002") + "10" + "0000" + normalizeAmount(amount) + tpaId.toUtf8() +
                  normalizeDatetime(datetime) + "1" + "1" + "0";
    }
    sendCommand(id, payload);
}

void Tpa::setTpaOpenMenu(const QString& id)
{
    sendCommand(id, m_vendorId == 1 ? QByteArray("M00500") : QByteArray());
}

void Tpa::setTpaReprintLastReceipt(const QString& id)
{
    sendCommand(id, m_vendorId == 1 ? QByteArray("M00505") : QByteArray());
}
