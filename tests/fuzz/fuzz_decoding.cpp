// URL decoding, cookie text and the CSV split of cookie headers, on arbitrary bytes.

#include "httpcookie.h"
#include "httprequest.h"

using corvane::HttpCookie;
using corvane::HttpRequest;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), int(size));

    // Decoding never grows the text, and text without "%" or "+" comes back unchanged.
    const QByteArray decoded = HttpRequest::urlDecode(input);
    if (decoded.size() > input.size()) {
        __builtin_trap();
    }
    if (!input.contains('%') && !input.contains('+') && decoded != input) {
        __builtin_trap();
    }

    for (const QByteArray& part : HttpCookie::splitCSV(input)) {
        if (part.isEmpty() || part != part.trimmed()) {
            __builtin_trap(); // parts come trimmed, empty ones dropped
        }
    }

    // A cookie read from text renders again.
    const HttpCookie cookie(input);
    if (cookie.toByteArray().isNull() && !cookie.getName().isEmpty()) {
        __builtin_trap();
    }
    return 0;
}
