// URL decoding, cookie text and the CSV split of cookie headers, on arbitrary bytes.

#include "fuzzing.h"
#include "httpcookie.h"
#include "httprequest.h"

using corvane::HttpCookie;

void setUp() {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), int(size));
    // Decoding never grows the text, and leaves text without "%" or "+" as it is.
    const QByteArray decoded = corvane::HttpRequest::urlDecode(input);
    require(decoded.size() <= input.size() &&
            (input.contains('%') || input.contains('+') || decoded == input));
    for (const QByteArray& part : HttpCookie::splitCSV(input)) // trimmed, empty ones dropped
        require(!part.isEmpty() && part == part.trimmed());
    const HttpCookie cookie(input); // a cookie read from text renders again
    require(!cookie.toByteArray().isNull() || cookie.getName().isEmpty());
    return 0;
}
