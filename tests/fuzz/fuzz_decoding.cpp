// URL decoding, cookie text and the CSV split of cookie headers, on arbitrary bytes.

#include "httpcookie.h"
#include "httprequest.h"

using corvane::HttpCookie;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), int(size));
    // Decoding never grows the text, and leaves text without "%" or "+" as it is.
    const QByteArray decoded = corvane::HttpRequest::urlDecode(input);
    bool wrong = decoded.size() > input.size() ||
                 (!input.contains('%') && !input.contains('+') && decoded != input);
    for (const QByteArray& part : HttpCookie::splitCSV(input)) {
        wrong |= part.isEmpty() || part != part.trimmed(); // parts trimmed, empty ones dropped
    }
    const HttpCookie cookie(input); // a cookie read from text renders again
    if (wrong || (cookie.toByteArray().isNull() && !cookie.getName().isEmpty())) {
        __builtin_trap();
    }
    return 0;
}
