// The request parser fed in arbitrary pieces, several requests back to back on one
// "connection", driven the way the connection handler drives it: as long as bytes are
// available and the request is neither complete nor aborted.

#include "chunkdevice.h"
#include "httprequest.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

using corvane::HttpRequest;

namespace {
QSettings* serverSettings()
{
    static QTemporaryDir folder;
    static QSettings settings(folder.filePath(QStringLiteral("fuzz.ini")), QSettings::IniFormat);
    static bool initialised = [] {
        // Small limits keep each run quick and let the fuzzer reach them.
        settings.setValue(QStringLiteral("maxRequestSize"), 2048);
        settings.setValue(QStringLiteral("maxMultiPartSize"), 4096);
        return true;
    }();
    (void)initialised;
    return &settings;
}

volatile int sink = 0;

void use(HttpRequest& request)
{
    // Touch what the API reads of a finished request.
    sink += request.getPath().size() + request.getMethod().size();
    sink += request.getParameterMap().size() + request.getCookieMap().size();
    sink += request.getHeader("authorization").size() + request.getBody().size();
    const QList<QByteArray> names = request.getParameterMap().uniqueKeys();
    for (const QByteArray& name : names) {
        if (QTemporaryFile* file = request.getUploadedFile(name)) {
            sink += int(file->readAll().size());
        }
    }
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qputenv("QT_LOGGING_RULES", "*=false");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Chunker chunks(data, size);
    ChunkDevice device;
    std::unique_ptr<HttpRequest> request;
    int served = 0;
    while (!chunks.atEnd() || device.bytesAvailable() > 0) {
        if (!chunks.atEnd()) {
            device.feed(chunks.next());
        }
        bool progress = true;
        while (device.bytesAvailable() > 0 && progress) {
            if (!request) {
                request.reset(new HttpRequest(serverSettings()));
            }
            const qint64 before = device.bytesAvailable();
            while (device.bytesAvailable() > 0 && request->getStatus() != HttpRequest::complete &&
                   request->getStatus() != HttpRequest::aborted) {
                request->readFromSocket(&device);
            }
            if (request->getStatus() == HttpRequest::aborted) {
                const int status = request->getAbortStatus();
                if (status != 400 && status != 413 && status != 431) {
                    __builtin_trap();
                }
                return 0; // the connection ends here
            }
            if (request->getStatus() == HttpRequest::complete) {
                use(*request);
                request.reset();
                ++served;
            }
            progress = device.bytesAvailable() < before;
        }
        if (chunks.atEnd() && device.bytesAvailable() > 0 && !progress) {
            __builtin_trap(); // bytes the parser neither takes nor refuses: a hang
        }
    }
    (void)served;
    return 0;
}
