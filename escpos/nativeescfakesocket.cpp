#include "nativeescfakesocket.h"

#include <cups/cups.h>

namespace {
// The job and document title the print system shows for every job of the connector.
const char jobTitle[] = "PRN COMMNAD";
} // namespace

NativeESCFakeSocket::NativeESCFakeSocket(QObject* parent) : QIODevice(parent) {}

bool NativeESCFakeSocket::connectToDevice(const QString& printerName)
{
    this->printerName = printerName;
    // A stopped queue is refused. One request for this queue alone: Qt's printer info would
    // ask for the queue's whole description, several times as long before every job. A name
    // the print system does not know is left to it; it refuses it when the job is created.
    cups_dest_t* dest =
        cupsGetNamedDest(CUPS_HTTP_DEFAULT, printerName.toLocal8Bit().constData(), nullptr);
    const char* state =
        dest ? cupsGetOption("printer-state", dest->num_options, dest->options) : nullptr;
    const bool stopped = state && qstrcmp(state, "3") != 0 && qstrcmp(state, "4") != 0;
    cupsFreeDests(dest ? 1 : 0, dest);
    if (stopped)
        return false;
    connected = true;
    QIODevice::open(QIODevice::ReadWrite);
    return true;
}

void NativeESCFakeSocket::disconnectFromDevice() {}

bool NativeESCFakeSocket::startJobRequested()
{
    const QByteArray name = printerName.toLocal8Bit();
    const int id = cupsCreateJob(CUPS_HTTP_DEFAULT, name.constData(), jobTitle, 0, nullptr);
    if (id < 1)
        return false;
    const http_status_t status =
        cupsStartDocument(CUPS_HTTP_DEFAULT, name.constData(), id, jobTitle, CUPS_FORMAT_RAW, 1);
    if (status != HTTP_STATUS_CONTINUE) {
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
        return true;
    }
    return status <= IPP_STATUS_OK_EVENTS_COMPLETE;
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
    const QByteArray name = printerName.toLocal8Bit();
    cupsFinishDocument(CUPS_HTTP_DEFAULT, name.constData());
    cupsCancelJob2(CUPS_HTTP_DEFAULT, name.constData(), jobId, 0);
    writeFailed = true;
    return 0;
}
