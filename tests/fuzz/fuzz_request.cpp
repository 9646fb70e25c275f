// The request parser fed in arbitrary pieces, requests back to back on one "connection", driven
// as the connection handler drives it.

#include "fuzzing.h"
#include "httprequest.h"

#include <QSettings>
#include <QTemporaryDir>

using corvane::HttpRequest;

namespace {
QSettings* settings = nullptr;
volatile int sink = 0;

void use(HttpRequest& request) // touches what the API reads of a finished request
{
    sink += request.getPath().size() + request.getMethod().size() + request.getBody().size() +
            request.getParameterMap().size() + request.getCookieMap().size() +
            request.getHeader("authorization").size();
    for (const QByteArray& name : request.getParameterMap().uniqueKeys()) {
        if (QTemporaryFile* file = request.getUploadedFile(name))
            sink += int(file->readAll().size());
    }
}
} // namespace

void setUp()
{
    static QTemporaryDir folder;
    static QSettings small(folder.filePath(QStringLiteral("fuzz.ini")), QSettings::IniFormat);
    small.setValue(QStringLiteral("maxRequestSize"), 2048); // quick runs that reach the limits
    small.setValue(QStringLiteral("maxMultiPartSize"), 4096);
    settings = &small;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Chunker chunks(data, size);
    ChunkDevice device;
    std::unique_ptr<HttpRequest> request;
    const auto status = [&request] { return request->getStatus(); };
    while (!chunks.atEnd() || device.bytesAvailable() > 0) {
        if (!chunks.atEnd())
            device.feed(chunks.next());
        bool progress = true;
        while (device.bytesAvailable() > 0 && progress) {
            if (!request)
                request.reset(new HttpRequest(settings));
            const qint64 before = device.bytesAvailable();
            while (device.bytesAvailable() > 0 && status() != HttpRequest::complete &&
                   status() != HttpRequest::aborted)
                request->readFromSocket(&device);
            if (status() == HttpRequest::aborted) { // the connection ends here
                const int refusal = request->getAbortStatus();
                require(refusal == 400 || refusal == 413 || refusal == 431);
                return 0;
            }
            if (status() == HttpRequest::complete) {
                use(*request);
                request.reset();
            }
            progress = device.bytesAvailable() < before;
        }
        // Bytes the parser neither takes nor refuses: a hang.
        require(!chunks.atEnd() || device.bytesAvailable() == 0 || progress);
    }
    return 0;
}
