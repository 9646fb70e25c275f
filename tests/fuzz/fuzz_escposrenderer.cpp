// The preview's ESC/POS interpreter on any bytes, the first picking the paper (glyphs stay blank
// without a GUI application; parsing, drawing and codes are all exercised).

#include "escposrenderer.h"
#include "fuzzing.h"

void setUp() {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int width = (data[0] & 1) ? 384 : 576;
    ESCPOSRenderer renderer(width);
    renderer.render(
        QByteArray::fromRawData(reinterpret_cast<const char*>(data + 1), int(size - 1)));
    const QImage image = renderer.image();
    require(image.width() == width && image.height() >= 1 &&
            image.height() <= ESCPOSRenderer::maxHeight && renderer.skippedBytes() <= int(size));
    return 0;
}
