// Decoded images (PNG, JPEG) as the texture code sees them, drawing into caller bitmaps, and
// the PNG and JPEG encoders used by exports and screenshots.
#pragma once

#include "platform/Object.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Where the alpha of a pixel sits and whether colours are premultiplied by it. Values 0 to 6
// are the ones images report; AlphaOnly marks a 1-byte mask bitmap.
enum class ImageAlphaInfo : std::int32_t {
    None = 0,               // no alpha at all
    PremultipliedLast = 1,  // RGBA, colours premultiplied
    PremultipliedFirst = 2, // ARGB, colours premultiplied
    Last = 3,               // RGBA, straight colours
    First = 4,              // ARGB, straight colours
    NoneSkipLast = 5,       // RGBX, the fourth byte ignored
    NoneSkipFirst = 6,      // XRGB, the first byte ignored
    AlphaOnly = 7,          // one alpha byte a pixel, no colour
};

// The colour model of an image's pixels. Files decode to Gray or RGB; only a mask image made
// with Image::alphaMask has none, and it is the one kind the texture code turns into A8.
enum class ImageColorSpace : std::int32_t { None = 0, Gray = 1, RGB = 2 };

// The bitmaps an image can be drawn into (4 bytes a pixel R, G, B, A in memory, or 1 byte).
enum class BitmapFormat : std::int32_t {
    RGBAPremultiplied = 0, // alpha premultiplied-last
    RGBX = 1,              // none-skip-last: the image over black, the fourth byte 255
    Alpha8 = 2,            // alpha-only
};

// An immutable decoded picture: 8 bits a component, rows top-down, tightly packed. Pixel
// layouts by colour space and alpha: Gray/None = G, Gray/Last = G A, RGB/None = R G B,
// RGB/Last = R G B A, RGB/PremultipliedLast = premultiplied R G B A, None/AlphaOnly = A.
class Image : public Object {
public:
    // Largest side and largest decoded size accepted from files and callers.
    static constexpr std::uint32_t kMaxSide = 16384;
    static constexpr std::uint64_t kMaxDecodedBytes = 256ull << 20;

    // Decodes a PNG or JPEG (told apart by their signatures); null, with a log line, when the
    // data is not one, is broken or truncated, or exceeds the limits above.
    static Ref<Image> imageWithContentsOfFile(const std::string& path);
    static Ref<Image> imageWithData(const void* data, std::size_t size);
    // Copies tightly packed pixels in one of the layouts above; null for an invalid layout,
    // zero or oversized dimensions.
    static Ref<Image> imageWithPixels(const void* pixels, std::uint32_t width, std::uint32_t height,
                                      ImageColorSpace colorSpace, ImageAlphaInfo alphaInfo);
    // A mask: one alpha byte a pixel and no colour space.
    static Ref<Image> alphaMask(const void* alpha, std::uint32_t width, std::uint32_t height);

    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }
    ImageColorSpace colorSpace() const { return colorSpace_; }
    bool hasColorSpace() const { return colorSpace_ != ImageColorSpace::None; }
    ImageAlphaInfo alphaInfo() const { return alphaInfo_; }
    // Bits per colour component of the pixels held (always 8; 16-bit files are narrowed).
    std::uint32_t bitsPerComponent() const { return 8; }
    std::uint32_t bitsPerPixel() const { return 8 * componentsPerPixel(); }
    std::uint32_t componentsPerPixel() const;
    std::size_t bytesPerRow() const { return std::size_t(width_) * componentsPerPixel(); }
    const std::vector<std::uint8_t>& pixels() const { return pixels_; }

    // Draws the image into a caller's bitmap of bufferWidth x bufferHeight pixels: the whole
    // buffer (bufferHeight rows of bytesPerRow) is cleared to zero first, then the image fills
    // the top rows and left columns; what does not fit is cut off. False (buffer untouched)
    // when the buffer is null or its row is too short for its width.
    bool drawInBitmap(void* buffer, std::size_t bufferWidth, std::size_t bufferHeight,
                      std::size_t bytesPerRow, BitmapFormat format) const;

    // The pixels as straight (not premultiplied) RGBA8, top-down. A premultiplied pixel whose
    // colour exceeds its alpha (light added over nothing) takes its brightest channel as alpha.
    std::vector<std::uint8_t> rgbaPixels() const;
    // Encodes the image; an empty result on failure. JPEG quality runs 0 to 100.
    std::vector<std::uint8_t> pngData() const;
    std::vector<std::uint8_t> jpegData(int quality = 90) const;

    // Encoders over straight RGBA8 rows, top-down and tightly packed (JPEG drops the alpha).
    // Empty results or false on failure (null pixels, zero or oversized dimensions, I/O).
    static std::vector<std::uint8_t> encodePNG(const std::uint8_t* rgba, std::uint32_t width,
                                               std::uint32_t height);
    static std::vector<std::uint8_t> encodeJPEG(const std::uint8_t* rgba, std::uint32_t width,
                                                std::uint32_t height, int quality = 90);
    // Writes the bytes to a new file in the path's folder and renames it over the path, so a
    // reader never sees half a file; the file gets the permissions the process's umask gives.
    // Any name that fits the folder can be written. False (and a log line) for no bytes, a path
    // holding a byte 0, one that names a folder ("", "dir/", ".", "..", an existing folder) or
    // an I/O failure, leaving nothing behind and nothing written outside that folder.
    static bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
    static bool writePNG(const std::string& path, const std::uint8_t* rgba, std::uint32_t width,
                         std::uint32_t height);
    static bool writeJPEG(const std::string& path, const std::uint8_t* rgba, std::uint32_t width,
                          std::uint32_t height, int quality = 90);

    std::string description() const override;

    Image(std::uint32_t width, std::uint32_t height, ImageColorSpace colorSpace, ImageAlphaInfo alphaInfo,
          std::vector<std::uint8_t> pixels);

private:
    std::uint32_t width_ = 0, height_ = 0;
    ImageColorSpace colorSpace_ = ImageColorSpace::RGB;
    ImageAlphaInfo alphaInfo_ = ImageAlphaInfo::None;
    std::vector<std::uint8_t> pixels_;
};

} // namespace platform
