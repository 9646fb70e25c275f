// The job interpreter: a JSON command array in, the queue's bytes out, kept in memory by
// stand-ins for libcups's raw-job calls. Images come only as data.

#include "fuzzing.h"
#include "printjob.h"

#include <QJsonDocument>
#include <cups/cups.h>

namespace {
QByteArray printed;
} // namespace

// clang-format off
extern "C" {
// The job's creation is answered; every other question finds no print system.
ipp_t* cupsDoRequest(http_t*, ipp_t* request, const char*) {
    const bool create = ippGetOperation(request) == IPP_OP_CREATE_JOB;
    ippDelete(request);
    ipp_t* answer = create ? ippNew() : nullptr;
    if (answer) ippAddInteger(answer, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-id", 1);
    return answer;
}
http_status_t cupsStartDocument(http_t*, const char*, int, const char*, const char*, int) { return HTTP_STATUS_CONTINUE; }
http_status_t cupsWriteRequestData(http_t*, const char* buffer, size_t length) { printed.append(buffer, int(length)); return HTTP_STATUS_CONTINUE; }
ipp_status_t cupsFinishDocument(http_t*, const char*) { return IPP_STATUS_OK; }
ipp_status_t cupsCancelJob2(http_t*, const char*, int, int) { return IPP_STATUS_OK; }
// Qt 5.15's JSON parser loses the first value of a key an object repeats: inside Qt, bounded
// by the input. Matching it needs the slow unwinder (Qt has no frame pointers).
const char* __lsan_default_suppressions() { return "leak:QJsonDocument::fromJson\n"; }
const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
}
// clang-format on

void setUp()
{
    qputenv("CUPS_SERVER", "/nonexistent/cups.sock"); // nothing reaches a print system
    // What Qt makes once per process on first use (text codecs, image plug-ins) is made by a
    // first job that uses it all, to keep it out of the leak check of the later runs.
    QString everyLetter;
    for (char16_t code = 0xa0; code < 0x3000; ++code)
        everyLetter += QChar(code);
    for (const bool alternative : {false, true}) {
        const QJsonObject settings{{"alternativeCharset", alternative},
                                   {"replaceAccentedChars", !alternative}};
        const QString png = "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAAAAAA6fptVAAAACklEQVR4nGNgAAAAAgAB"
                            "SK+kcQAAAABJRU5ErkJggg==";
        PrintJob(QJsonArray{QJsonObject{{"op", "settings"}, {"data", settings}},
                            QJsonObject{{"op", "text"}, {"data", everyLetter}},
                            QJsonObject{{"op", "image"}, {"data", png}}},
                 QStringLiteral("fuzz"), alternative)
            .execute();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The first byte picks the mode, the rest is the job's JSON.
    const QJsonDocument document =
        size < 1 ? QJsonDocument()
                 : QJsonDocument::fromJson(QByteArray::fromRawData(
                       reinterpret_cast<const char*>(data + 1), int(size - 1)));
    if (!document.isArray())
        return 0;
    QJsonArray job;
    for (const QJsonValue& command : document.array()) {
        if (command["op"].toString() != QLatin1String("image") ||
            !command["data"].toString().startsWith(QLatin1String("http")))
            job.append(command);
    }
    printed.clear();
    PrintJob printJob(job, QStringLiteral("fuzz"), data[0] & 1);
    // The stand-in refuses nothing: only an invalid command fails a job, with its reason, and
    // before anything was printed.
    require(printJob.execute() || (!printJob.reason().isEmpty() && printed.isEmpty()));
    return 0;
}
