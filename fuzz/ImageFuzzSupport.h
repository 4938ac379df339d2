// The body of the image decoder fuzz targets.
#pragma once

#include "fuzz/FuzzSupport.h"
#include "platform/Image.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// Decodes the input when it starts with the target's signature (other inputs would only
// exercise the other decoder), then draws and converts whatever decodes.
inline int fuzzImageDecoder(const uint8_t* data, size_t size, const char* signature, size_t signatureLength) {
    if (size < signatureLength || std::memcmp(data, signature, signatureLength) != 0) return 0;
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
