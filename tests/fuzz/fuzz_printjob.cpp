// The job interpreter: a JSON command array in, the bytes that would reach the print queue
// out. The libcups calls of a raw job are defined here and keep the bytes in memory;
// this stands in for a print system, which a fuzzer running millions of jobs cannot have.
// Images come only as data (never fetched from an address).

#include "printjob.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <cups/cups.h>

namespace {
QByteArray printed;
} // namespace

extern "C" {
// Only the job's creation is answered; every other question finds no print system.
ipp_t* cupsDoRequest(http_t*, ipp_t* request, const char*)
{
    const bool create = ippGetOperation(request) == IPP_OP_CREATE_JOB;
    ippDelete(request);
    if (!create) {
        return nullptr;
    }
    ipp_t* answer = ippNew();
    ippAddInteger(answer, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-id", 1);
    return answer;
}
http_status_t cupsStartDocument(http_t*, const char*, int, const char*, const char*, int)
{
    return HTTP_STATUS_CONTINUE;
}
http_status_t cupsWriteRequestData(http_t*, const char* buffer, size_t length)
{
    printed.append(buffer, int(length));
    return HTTP_STATUS_CONTINUE;
}
ipp_status_t cupsFinishDocument(http_t*, const char*)
{
    return IPP_STATUS_OK;
}
ipp_status_t cupsCancelJob2(http_t*, const char*, int, int)
{
    return IPP_STATUS_OK;
}
}

// Qt 5.15's JSON parser loses the first value of a key that an object repeats: inside Qt and
// bounded by the input. Matching it needs the slow unwinder (Qt has no frame pointers).
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:QJsonDocument::fromJson\n";
}
extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // The queue's state is asked of a print system that is not there, at once.
    qputenv("CUPS_SERVER", "/nonexistent/cups.sock");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    static QCoreApplication application(*argc, *argv);
    // Qt makes some things once per process on first use (text codecs, image plug-ins); a
    // first job that uses them all keeps those out of the leak check of the later runs.
    QString everyLetter;
    for (char16_t code = 0xa0; code < 0x3000; ++code) {
        everyLetter += QChar(code);
    }
    for (const bool alternative : {false, true}) {
        const QJsonArray job{
            QJsonObject{{"op", "settings"},
                        {"data", QJsonObject{{"alternativeCharset", alternative},
                                             {"replaceAccentedChars", !alternative}}}},
            QJsonObject{{"op", "text"}, {"data", everyLetter}},
            QJsonObject{{"op", "image"},
                        {"data", "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAAAAAA6fptVAAAACklEQVR4nGNgAAAAA"
                                 "gABSK+kcQAAAABJRU5ErkJggg=="}}};
        PrintJob(job, QStringLiteral("fuzz"), alternative).execute();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    // The first byte picks the mode, the rest is the job's JSON.
    const bool compatibilityMode = data[0] & 1;
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray::fromRawData(reinterpret_cast<const char*>(data + 1), int(size - 1)));
    if (!document.isArray()) {
        return 0;
    }
    QJsonArray job;
    for (const QJsonValue& command : document.array()) {
        const QJsonObject object = command.toObject();
        if (object.value(QLatin1String("op")).toString() == QLatin1String("image") &&
            object.value(QLatin1String("data")).toString().startsWith(QLatin1String("http"))) {
            continue;
        }
        job.append(command);
    }
    printed.clear();
    PrintJob printJob(job, QStringLiteral("fuzz"), compatibilityMode);
    // The stand-in print system refuses nothing: only an invalid command fails a job, with its
    // reason, and before anything was printed.
    if (!printJob.execute() && (printJob.reason().isEmpty() || !printed.isEmpty())) {
        __builtin_trap();
    }
    return 0;
}
