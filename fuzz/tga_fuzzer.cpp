// Feeds arbitrary bytes to the TGA reader, from memory and through a file path: whatever it
// accepts must describe exactly the pixel buffer it hands out.
#include "FuzzSupport.h"
#include "graphics/CCTGAlib.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

void check(sImageTGA* image) {
    if (!image) return;
    if (image->status == kTGAStatusOK) {
        if (!image->imageData || image->flipped != 0 || image->width <= 0 || image->height <= 0) std::abort();
        // Touch every byte: the sanitizer catches a buffer smaller than the header says.
        std::size_t size = std::size_t(image->width) * std::size_t(image->height) * (image->pixelDepth / 8u);
        unsigned sum = 0;
        for (std::size_t i = 0; i < size; ++i)
            sum += image->imageData[i];
        (void)sum;
    } else if (image->imageData) {
        std::abort();
    }
    tgaFreeImage(image);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so any read past the end is caught.
    std::unique_ptr<unsigned char[]> copy(new unsigned char[size ? size : 1]);
    if (size) std::memcpy(copy.get(), data, size);
    check(tgaOpenImageFromMemory(copy.get(), size));

    MemoryFile file(data, size);
    if (!file.path().empty()) check(tgaOpenImage(file.path().c_str()));
    return 0;
}
