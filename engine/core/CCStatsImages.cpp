#include "core/CCStatsImages.h"

#include "platform/Image.h"
#include "platform/TextRenderer.h"

#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr const char kGlyphs[] = "./0123456789";
constexpr int kGlyphCount = 12;

// Draws the glyph strip at a scale (1 or 2) and encodes it; empty when no font answers.
std::vector<std::uint8_t> drawGlyphStrip(int scale) {
    const int cellWidth = 12 * scale, cellHeight = 32 * scale;
    const int width = 256 * scale, height = 32 * scale;
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width) * height * 4, 0);
    platform::Ref<platform::Font> font =
        platform::TextRenderer::fontWithName("DejaVu Sans Mono", 18.0 * scale);
    if (!font) font = platform::TextRenderer::fontWithName("Helvetica", 18.0 * scale);
    if (font) {
        platform::TextBitmap target;
        target.data = rgba.data();
        target.width = static_cast<std::size_t>(width);
        target.height = static_cast<std::size_t>(height);
        target.bytesPerRow = static_cast<std::size_t>(width) * 4;
        target.format = platform::TextBitmapFormat::RGBAPremultiplied;
        platform::TextStyle style; // white fill
        for (int i = 0; i < kGlyphCount; ++i) {
            CGRect cell = CGRectMake(i * cellWidth, 0, cellWidth, cellHeight);
            platform::TextRenderer::drawInRect(std::string(1, kGlyphs[i]), font.get(), cell,
                                               platform::LineBreakMode::Clip, platform::TextAlignment::Center,
                                               style, target, platform::VerticalTextAlignment::Center);
        }
    }
    // White premultiplied by its coverage: un-premultiply to straight white for the PNG.
    for (std::size_t p = 0; p < rgba.size(); p += 4) {
        std::uint8_t a = rgba[p + 3];
        rgba[p] = rgba[p + 1] = rgba[p + 2] = a ? 255 : 0;
    }
    return platform::Image::encodePNG(rgba.data(), static_cast<std::uint32_t>(width),
                                      static_cast<std::uint32_t>(height));
}

const unsigned char* cached(std::vector<std::uint8_t>& bytes, std::once_flag& once, int scale,
                            std::uint64_t* length) {
    std::call_once(once, [&] { bytes = drawGlyphStrip(scale); });
    if (length) *length = bytes.size();
    return bytes.empty() ? nullptr : bytes.data();
}

} // namespace

const unsigned char* ccStatsImageSmall(std::uint64_t* length) {
    static std::vector<std::uint8_t> bytes;
    static std::once_flag once;
    return cached(bytes, once, 1, length);
}

const unsigned char* ccStatsImageLarge(std::uint64_t* length) {
    static std::vector<std::uint8_t> bytes;
    static std::once_flag once;
    return cached(bytes, once, 2, length);
}

const unsigned char* ccStatsImageLargePad(std::uint64_t* length) {
    // Byte for byte the large image: one copy serves both.
    return ccStatsImageLarge(length);
}
