// Feeds arbitrary bytes to the PNG decoder, then draws and converts whatever decodes.
#include "platform/Image.h"
#include "platform/Log.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = [] {
        platform::setLogSink([](const std::string&) {});
        return true;
    }();
    (void)quiet;
    platform::Ref<platform::Image> image = platform::Image::imageWithData(data, size);
    if (!image) return 0;
    // A buffer a little larger than the image, as textures round sizes up.
    std::size_t w = image->width() + 3, h = image->height() + 1;
    std::vector<std::uint8_t> rgba(w * h * 4), alpha(w * h);
    image->drawInBitmap(rgba.data(), w, h, w * 4, platform::BitmapFormat::RGBAPremultiplied);
    image->drawInBitmap(alpha.data(), w, h, w, platform::BitmapFormat::Alpha8);
    (void)image->rgbaPixels();
    return 0;
}
