#include "cupsseam.h"

#include <cups/cups.h>

#include <dlfcn.h>

namespace {

// The real functions, looked up in libcups itself: the linker may drop libcups from an
// executable that defines every libcups function the library calls, and then there is no
// "next" definition to find.
template<typename F>
F real(const char* name)
{
    static void* const library = dlopen("libcups.so.2", RTLD_NOW | RTLD_LOCAL);
    void* const symbol = library ? dlsym(library, name) : nullptr;
    if (!symbol) {
        const char* const error = dlerror();
        qFatal("CupsSeam: no %s in libcups.so.2 (%s)", name, error ? error : "not loaded");
    }
    return reinterpret_cast<F>(symbol);
}

template<typename T>
T record(const char* function, bool succeeded, T result)
{
    CupsSeam::calls.append(QLatin1String(function) + QLatin1String(succeeded ? "" : "!"));
    return result;
}

} // namespace

// These definitions take the place of libcups' own in the test executables.

int cupsCreateJob(http_t* http, const char* name, const char* title, int num_options,
                  cups_option_t* options)
{
    using Fn = int (*)(http_t*, const char*, const char*, int, cups_option_t*);
    const int id = real<Fn>("cupsCreateJob")(http, name, title, num_options, options);
    return record("create", id > 0, id);
}

http_status_t cupsStartDocument(http_t* http, const char* name, int job_id, const char* docname,
                                const char* format, int last_document)
{
    if (CupsSeam::failStart)
        return record("start", false, HTTP_STATUS_ERROR);
    using Fn = http_status_t (*)(http_t*, const char*, int, const char*, const char*, int);
    const http_status_t status =
        real<Fn>("cupsStartDocument")(http, name, job_id, docname, format, last_document);
    return record("start", status == HTTP_STATUS_CONTINUE, status);
}

http_status_t cupsWriteRequestData(http_t* http, const char* buffer, size_t length)
{
    if (CupsSeam::refuseWrite > 0 && --CupsSeam::refuseWrite == 0)
        return record("write", false, HTTP_STATUS_ERROR);
    using Fn = http_status_t (*)(http_t*, const char*, size_t);
    const http_status_t status = real<Fn>("cupsWriteRequestData")(http, buffer, length);
    if (status == HTTP_STATUS_CONTINUE)
        CupsSeam::accepted.append(buffer, int(length));
    return record("write", status == HTTP_STATUS_CONTINUE, status);
}

ipp_status_t cupsFinishDocument(http_t* http, const char* name)
{
    using Fn = ipp_status_t (*)(http_t*, const char*);
    ipp_status_t status = real<Fn>("cupsFinishDocument")(http, name);
    if (CupsSeam::failFinish)
        status = IPP_STATUS_ERROR_INTERNAL;
    return record("finish", status <= IPP_STATUS_OK_EVENTS_COMPLETE, status);
}

ipp_status_t cupsCancelJob2(http_t* http, const char* name, int job_id, int purge)
{
    using Fn = ipp_status_t (*)(http_t*, const char*, int, int);
    const ipp_status_t status = real<Fn>("cupsCancelJob2")(http, name, job_id, purge);
    return record("cancel", status <= IPP_STATUS_OK_EVENTS_COMPLETE, status);
}
