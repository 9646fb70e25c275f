#include "nativeescfakesocket.h"

#include "cupsmonitor.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QStringList>
#include <QThread>
#include <QUrl>

#include <vector>

#include <cups/cups.h>

namespace {
// The job and document title the print system shows for every job of the connector.
const char jobTitle[] = "PRN COMMNAD";
// How often a running job's record is read while its end event is looked for.
constexpr qint64 recordPauseMs = 50;

// One IPP request for a few attributes of a job or queue; null when the print system did
// not answer it. The caller frees the answer.
ipp_t* askFor(ipp_op_t operation, const char* uriName, const QByteArray& uri,
              std::initializer_list<const char*> attributes)
{
    ipp_t* request = CupsMonitor::newRequest(operation, uri, uriName);
    const std::vector<const char*> names(attributes);
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  int(names.size()), nullptr, names.data());
    return CupsMonitor::send(request);
}

// Whether the end event of the job arrived, with the job's last state and reasons.
bool jobEnded(int subscriptionId, int jobId, int* state, QString* reasons)
{
    ipp_t* request = CupsMonitor::newRequest(IPP_OP_GET_NOTIFICATIONS);
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-ids",
                  subscriptionId);
    ipp_t* answer = CupsMonitor::send(request);
    // Each event is a group of its own; the first attribute of the next one has no name.
    bool ended = false;
    int eventJob = 0;
    int eventState = 0;
    QStringList eventReasons;
    for (ipp_attribute_t* a = ippFirstAttribute(answer); !ended; a = ippNextAttribute(answer)) {
        if (!a || !ippGetName(a) || ippGetGroupTag(a) != IPP_TAG_EVENT_NOTIFICATION) {
            if (eventJob == jobId && eventState > 0) {
                *state = eventState;
                *reasons = eventReasons.join(QLatin1Char(','));
                ended = true;
            }
            eventJob = eventState = 0;
            eventReasons.clear();
            if (!a)
                break;
            continue;
        }
        const char* name = ippGetName(a);
        if (qstrcmp(name, "notify-job-id") == 0) {
            eventJob = ippGetInteger(a, 0);
        } else if (qstrcmp(name, "job-state") == 0) {
            eventState = ippGetInteger(a, 0);
        } else if (qstrcmp(name, "job-state-reasons") == 0) {
            for (int i = 0; i < ippGetCount(a); ++i) {
                const QString reason = QString::fromUtf8(ippGetString(a, i, nullptr));
                if (reason != QLatin1String("none"))
                    eventReasons.append(reason);
            }
        }
    }
    ippDelete(answer);
    return ended;
}

QString reasonsOf(ipp_t* answer, const char* name)
{
    QStringList reasons;
    ipp_attribute_t* attribute = ippFindAttribute(answer, name, IPP_TAG_KEYWORD);
    for (int i = 0; i < ippGetCount(attribute); ++i) {
        const QString reason = QString::fromUtf8(ippGetString(attribute, i, nullptr));
        if (reason != QLatin1String("none"))
            reasons.append(reason);
    }
    return reasons.join(QLatin1Char(','));
}
} // namespace

NativeESCFakeSocket::NativeESCFakeSocket(QObject* parent) : QIODevice(parent) {}

NativeESCFakeSocket::~NativeESCFakeSocket()
{
    endSubscription();
}

bool NativeESCFakeSocket::connectToDevice(const QString& printerName)
{
    this->printerName = printerName;
    // A stopped queue is refused. One small question for this queue's state alone: a full
    // destination lookup asks for the queue's whole description. A name the print system
    // does not know is left to it; it refuses it when the job is created.
    ipp_t* printer =
        askFor(IPP_OP_GET_PRINTER_ATTRIBUTES, "printer-uri", queueUri(), {"printer-state"});
    const int state = ippGetInteger(ippFindAttribute(printer, "printer-state", IPP_TAG_ENUM), 0);
    ippDelete(printer);
    const bool stopped = state != 0 && state != IPP_PSTATE_IDLE && state != IPP_PSTATE_PROCESSING;
    if (stopped) {
        refusedBecause = QStringLiteral("printer-stopped");
        return false;
    }
    connected = true;
    QIODevice::open(QIODevice::ReadWrite);
    return true;
}

void NativeESCFakeSocket::disconnectFromDevice() {}

bool NativeESCFakeSocket::startJobRequested()
{
    const QByteArray name = printerName.toLocal8Bit();
    // Created with one request to the queue: the library's job creation first looks up the
    // destination and its whole description, two more round trips to the scheduler.
    ipp_t* request = CupsMonitor::newRequest(IPP_OP_CREATE_JOB, queueUri(), "printer-uri");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, jobTitle);
    const QByteArray resource = "/printers/" + QUrl::toPercentEncoding(printerName);
    ipp_t* created = cupsDoRequest(CUPS_HTTP_DEFAULT, request, resource.constData());
    const int id = ippGetStatusCode(created) > IPP_STATUS_OK_EVENTS_COMPLETE
                       ? 0
                       : ippGetInteger(ippFindAttribute(created, "job-id", IPP_TAG_INTEGER), 0);
    ippDelete(created);
    if (id < 1) {
        refusedBecause = QString::fromUtf8(ippErrorString(cupsLastError()));
        return false;
    }
    // The end of the queue's jobs is subscribed to between creating the job and opening its
    // document (whose request holds the connection until it is finished), so that it cannot be
    // missed. A job's own subscription would not do: the scheduler drops it with the job, and
    // one that keeps no job history forgets a finished job at once. The lease ends it should
    // the program stop before it cancels it.
    endSubscription();
    subscriptionId = CupsMonitor::subscribe(queueUri(), {"job-completed"}, 900);
    const http_status_t status =
        cupsStartDocument(CUPS_HTTP_DEFAULT, name.constData(), id, jobTitle, CUPS_FORMAT_RAW, 1);
    if (status != HTTP_STATUS_CONTINUE) {
        refusedBecause = QString::fromUtf8(ippErrorString(cupsLastError()));
        // A job without a document would wait on the queue until the scheduler gives up.
        cupsCancelJob2(CUPS_HTTP_DEFAULT, name.constData(), id, 0);
        return false;
    }
    jobId = id;
    jobOpen = true;
    writeFailed = false;
    documentEmpty = true;
    return true;
}

bool NativeESCFakeSocket::endJobRequested()
{
    if (!connected || !jobOpen)
        return false;
    jobOpen = false;
    if (writeFailed)
        return false; // finished when the write was refused
    const QByteArray name = printerName.toLocal8Bit();
    const ipp_status_t status = cupsFinishDocument(CUPS_HTTP_DEFAULT, name.constData());
    if (documentEmpty) {
        // The print system refuses a document without data and would keep the job waiting
        // for one; with nothing to print, nothing is lost.
        cupsCancelJob2(CUPS_HTTP_DEFAULT, name.constData(), jobId, 0);
        jobId = 0;
        return true;
    }
    if (status > IPP_STATUS_OK_EVENTS_COMPLETE) {
        refusedBecause = QString::fromUtf8(ippErrorString(status));
        return false;
    }
    return true;
}

void NativeESCFakeSocket::close()
{
    // The device stays open for the whole job; the job ends with endJobRequested.
}

qint64 NativeESCFakeSocket::bytesAvailable() const
{
    return 0;
}

qint64 NativeESCFakeSocket::bytesToWrite() const
{
    return bytesPending;
}

qint64 NativeESCFakeSocket::readData(char* data, qint64 maxSize)
{
    Q_UNUSED(data)
    Q_UNUSED(maxSize)
    return 0;
}

qint64 NativeESCFakeSocket::writeData(const char* data, qint64 len)
{
    if (!connected)
        return len;
    if (writeFailed)
        return 0; // the request was finished when a write was refused
    if (len <= 0)
        return 0;
    if (!jobOpen && !startJobRequested())
        return 0;

    bytesPending = qint32(len);
    if (cupsWriteRequestData(CUPS_HTTP_DEFAULT, data, size_t(len)) == HTTP_STATUS_CONTINUE) {
        bytesPending = 0;
        documentEmpty = false;
        return len;
    }
    // The print system refused the data: close the request so the connection is usable
    // again; the job is over. What reached the queue is part of a receipt, or nothing at all
    // (a job that would wait for its document for ever): it is cancelled, not printed.
    refusedBecause = QString::fromUtf8(ippErrorString(cupsLastError()));
    const QByteArray name = printerName.toLocal8Bit();
    cupsFinishDocument(CUPS_HTTP_DEFAULT, name.constData());
    cupsCancelJob2(CUPS_HTTP_DEFAULT, name.constData(), jobId, 0);
    writeFailed = true;
    return 0;
}

NativeESCFakeSocket::Outcome NativeESCFakeSocket::waitForOutcome(int timeoutMs)
{
    const QByteArray name = printerName.toLocal8Bit();
    const QByteArray jobUri = "ipp://localhost/jobs/" + QByteArray::number(jobId);
    const QByteArray printerUri = queueUri();
    QElapsedTimer clock;
    clock.start();
    // A printer that is there takes a few milliseconds to take a receipt: look often (a
    // question to the local scheduler costs a fraction of a millisecond) in the first second,
    // then less often while a slow one works. The first look and the job's record wait a
    // little: the scheduler that starts the job answers every question first.
    int pause = 4;
    int lateEnds = 0;
    qint64 recordDue = subscriptionId > 0 ? recordPauseMs : 0;
    Outcome outcome;
    for (;;) {
        // The job's end comes from its event: a scheduler that keeps no job history forgets
        // a finished job at once, printed or not. While it runs, its record tells how.
        int state = 0;
        QString reasons;
        const bool ended = subscriptionId > 0 && jobEnded(subscriptionId, jobId, &state, &reasons);
        if (!ended && clock.elapsed() >= recordDue) {
            recordDue = clock.elapsed() + (subscriptionId > 0 ? recordPauseMs : 0);
            ipp_t* job = askFor(IPP_OP_GET_JOB_ATTRIBUTES, "job-uri", jobUri,
                                {"job-state", "job-state-reasons"});
            state = ippGetInteger(ippFindAttribute(job, "job-state", IPP_TAG_ENUM), 0);
            reasons = reasonsOf(job, "job-state-reasons");
            const bool known = job != nullptr;
            ippDelete(job);
            // Ended and forgotten between the two questions: its event tells how.
            if (!known &&
                !(subscriptionId > 0 && jobEnded(subscriptionId, jobId, &state, &reasons))) {
                outcome.reason = QString::fromUtf8(ippErrorString(cupsLastError()));
                break;
            }
        }
        if (state == IPP_JSTATE_COMPLETED) {
            outcome.printed = true;
            break;
        }
        if (state == IPP_JSTATE_CANCELED || state == IPP_JSTATE_ABORTED) {
            outcome.reason = reasons.isEmpty() ? QStringLiteral("job-canceled") : reasons;
            break;
        }
        QString stopReason;
        if (state == IPP_JSTATE_STOPPED) {
            stopReason = reasons.isEmpty() ? QStringLiteral("job-stopped") : reasons;
        } else if (state == IPP_JSTATE_PENDING || state == IPP_JSTATE_HELD) {
            // A job waiting on a stopped queue would print whenever someone starts it again.
            ipp_t* printer =
                askFor(IPP_OP_GET_PRINTER_ATTRIBUTES, "printer-uri", printerUri, {"printer-state"});
            if (printer && ippGetInteger(ippFindAttribute(printer, "printer-state", IPP_TAG_ENUM),
                                         0) == IPP_PSTATE_STOPPED)
                stopReason = QStringLiteral("printer-stopped");
            ippDelete(printer);
        }
        if (stopReason.isEmpty() && clock.elapsed() >= timeoutMs)
            stopReason = QStringLiteral("timeout");
        if (!stopReason.isEmpty()) {
            // A job that ended just now cannot be cancelled: its end is looked up again.
            if (cupsCancelJob2(CUPS_HTTP_DEFAULT, name.constData(), jobId, 0) ==
                    IPP_STATUS_ERROR_NOT_POSSIBLE &&
                ++lateEnds < 3)
                continue;
            outcome.reason = stopReason;
            break;
        }
        QThread::msleep(ulong(qMin<qint64>(pause, qMax<qint64>(1, timeoutMs - clock.elapsed()))));
        pause = clock.elapsed() < 1000 ? qMin(pause * 2, 8) : 100;
    }
    endSubscription();
    if (!outcome.printed)
        qWarning().noquote() << "print job" << jobId << "on" << printerName
                             << "not printed:" << outcome.reason;
    return outcome;
}

QByteArray NativeESCFakeSocket::queueUri() const
{
    return "ipp://localhost/printers/" + QUrl::toPercentEncoding(printerName);
}

void NativeESCFakeSocket::endSubscription()
{
    CupsMonitor::cancelSubscription(subscriptionId);
    subscriptionId = 0;
}
