#include "cupsseam.h"

#include <cups/cups.h>

#include <dlfcn.h>

namespace {

// Looked up in libcups itself: the linker may drop libcups from an executable that defines
// every libcups function the library calls.
template<typename F>
F real(const char* name)
{
    static void* const library = dlopen("libcups.so.2", RTLD_NOW | RTLD_LOCAL);
    void* const symbol = library ? dlsym(library, name) : nullptr;
    if (!symbol)
        qFatal("CupsSeam: no %s in libcups.so.2", name);
    return reinterpret_cast<F>(symbol);
}
#define REAL(function) real<decltype(&function)>(#function)

template<typename T>
T record(const char* function, bool succeeded, T result)
{
    CupsSeam::calls.append(QLatin1String(function) + QLatin1String(succeeded ? "" : "!"));
    return result;
}

} // namespace

ipp_t* cupsDoRequest(http_t* http, ipp_t* request, const char* resource)
{
    const bool create = ippGetOperation(request) == IPP_OP_CREATE_JOB;
    ipp_t* answer = REAL(cupsDoRequest)(http, request, resource);
    if (!create)
        return answer;
    return record("create", ippGetStatusCode(answer) <= IPP_STATUS_OK_EVENTS_COMPLETE, answer);
}

http_status_t cupsStartDocument(http_t* http, const char* name, int job_id, const char* docname,
                                const char* format, int last_document)
{
    if (CupsSeam::failStart)
        return record("start", false, HTTP_STATUS_ERROR);
    const http_status_t status =
        REAL(cupsStartDocument)(http, name, job_id, docname, format, last_document);
    return record("start", status == HTTP_STATUS_CONTINUE, status);
}

http_status_t cupsWriteRequestData(http_t* http, const char* buffer, size_t length)
{
    if (CupsSeam::refuseWrite > 0 && --CupsSeam::refuseWrite == 0)
        return record("write", false, HTTP_STATUS_ERROR);
    const http_status_t status = REAL(cupsWriteRequestData)(http, buffer, length);
    return record("write", status == HTTP_STATUS_CONTINUE, status);
}

ipp_status_t cupsFinishDocument(http_t* http, const char* name)
{
    ipp_status_t status = REAL(cupsFinishDocument)(http, name);
    if (CupsSeam::failFinish)
        status = IPP_STATUS_ERROR_INTERNAL;
    return record("finish", status <= IPP_STATUS_OK_EVENTS_COMPLETE, status);
}

ipp_status_t cupsCancelJob2(http_t* http, const char* name, int job_id, int purge)
{
    const ipp_status_t status = REAL(cupsCancelJob2)(http, name, job_id, purge);
    return record("cancel", status <= IPP_STATUS_OK_EVENTS_COMPLETE, status);
}
