#include "cupsseam.h"

#include <cups/cups.h>

#include <dlfcn.h>

namespace {

QList<CupsSeam::Call> recorded;
int writesUntilRefusal = 0;
bool startFails = false;
bool finishFails = false;

template<typename F>
F real(const char* name)
{
    void* symbol = dlsym(RTLD_NEXT, name);
    Q_ASSERT_X(symbol, "CupsSeam", name);
    return reinterpret_cast<F>(symbol);
}

void record(const char* function, bool succeeded, const QByteArray& data = QByteArray())
{
    recorded.append({QString::fromLatin1(function), data, succeeded});
}

} // namespace

void CupsSeam::reset()
{
    recorded.clear();
    writesUntilRefusal = 0;
    startFails = false;
    finishFails = false;
}

QList<CupsSeam::Call> CupsSeam::calls()
{
    return recorded;
}

QStringList CupsSeam::callNames()
{
    QStringList names;
    for (const Call& call : qAsConst(recorded))
        names.append(call.succeeded ? call.function : call.function + QLatin1String("!"));
    return names;
}

QByteArray CupsSeam::acceptedBytes()
{
    QByteArray bytes;
    for (const Call& call : qAsConst(recorded)) {
        if (call.function == QLatin1String("write") && call.succeeded)
            bytes.append(call.data);
    }
    return bytes;
}

void CupsSeam::refuseWrite(int n)
{
    writesUntilRefusal = n;
}

void CupsSeam::failStartDocument()
{
    startFails = true;
}

void CupsSeam::failFinishDocument()
{
    finishFails = true;
}

// The definitions below take the place of libcups' own in the test executables.

int cupsCreateJob(http_t* http, const char* name, const char* title, int num_options,
                  cups_option_t* options)
{
    using Fn = int (*)(http_t*, const char*, const char*, int, cups_option_t*);
    const int id = real<Fn>("cupsCreateJob")(http, name, title, num_options, options);
    record("create", id > 0);
    return id;
}

http_status_t cupsStartDocument(http_t* http, const char* name, int job_id, const char* docname,
                                const char* format, int last_document)
{
    if (startFails) {
        record("start", false);
        return HTTP_STATUS_ERROR;
    }
    using Fn = http_status_t (*)(http_t*, const char*, int, const char*, const char*, int);
    const http_status_t status =
        real<Fn>("cupsStartDocument")(http, name, job_id, docname, format, last_document);
    record("start", status == HTTP_STATUS_CONTINUE);
    return status;
}

http_status_t cupsWriteRequestData(http_t* http, const char* buffer, size_t length)
{
    const QByteArray data(buffer, int(length));
    if (writesUntilRefusal > 0 && --writesUntilRefusal == 0) {
        record("write", false, data);
        return HTTP_STATUS_ERROR;
    }
    using Fn = http_status_t (*)(http_t*, const char*, size_t);
    const http_status_t status = real<Fn>("cupsWriteRequestData")(http, buffer, length);
    record("write", status == HTTP_STATUS_CONTINUE, data);
    return status;
}

ipp_status_t cupsFinishDocument(http_t* http, const char* name)
{
    using Fn = ipp_status_t (*)(http_t*, const char*);
    ipp_status_t status = real<Fn>("cupsFinishDocument")(http, name);
    if (finishFails)
        status = IPP_STATUS_ERROR_INTERNAL;
    record("finish", status <= IPP_STATUS_OK_EVENTS_COMPLETE);
    return status;
}

ipp_status_t cupsCancelJob2(http_t* http, const char* name, int job_id, int purge)
{
    using Fn = ipp_status_t (*)(http_t*, const char*, int, int);
    const ipp_status_t status = real<Fn>("cupsCancelJob2")(http, name, job_id, purge);
    record("cancel", status <= IPP_STATUS_OK_EVENTS_COMPLETE);
    return status;
}
