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

http_status_t cupsStartDocument(http_t* http, const char* name, int id, const char* document,
                                const char* format, int last)
{
    const http_status_t status =
        CupsSeam::failStart ? HTTP_STATUS_ERROR
                            : REAL(cupsStartDocument)(http, name, id, document, format, last);
    return record("start", status == HTTP_STATUS_CONTINUE, status);
}

http_status_t cupsWriteRequestData(http_t* http, const char* buffer, size_t length)
{
    const http_status_t status = CupsSeam::refuseWrite > 0 && --CupsSeam::refuseWrite == 0
                                     ? HTTP_STATUS_ERROR
                                     : REAL(cupsWriteRequestData)(http, buffer, length);
    return record("write", status == HTTP_STATUS_CONTINUE, status);
}

ipp_status_t cupsFinishDocument(http_t* http, const char* name)
{
    const ipp_status_t status = REAL(cupsFinishDocument)(http, name);
    return record("finish", status <= IPP_STATUS_OK_EVENTS_COMPLETE, status);
}

ipp_status_t cupsCancelJob2(http_t* http, const char* name, int id, int purge)
{
    const ipp_status_t status = REAL(cupsCancelJob2)(http, name, id, purge);
    return record("cancel", status <= IPP_STATUS_OK_EVENTS_COMPLETE, status);
}
