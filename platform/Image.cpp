#include "platform/Image.h"

#include "platform/Format.h"
#include "platform/Log.h"
#include "platform/Paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <system_error>
#include <filesystem>

#include <png.h>
// jpeglib.h expects FILE and size_t to be declared already.
#include <jpeglib.h>
#include <jerror.h>

namespace platform {

namespace {

// libpng and libjpeg report errors by long-jumping. Every function below that sets a jump
// point holds plain-old-data only (its state lives in a POD struct reached by pointer), so a
// jump never skips a destructor; the C++ callers own the buffers and clean up afterwards.

constexpr std::uint64_t kMaxFileBytes = Image::kMaxDecodedBytes;

// Refuses zero sides, sides above the limit and decoded sizes above the limit, without
// overflowing on the way.
bool dimensionsAcceptable(std::uint64_t width, std::uint64_t height, std::uint64_t bytesPerPixel) {
    if (width == 0 || height == 0 || width > Image::kMaxSide || height > Image::kMaxSide) return false;
    // Both sides are at most 2^14 and bytesPerPixel is small, so the product fits in 64 bits.
    return width * height * bytesPerPixel <= Image::kMaxDecodedBytes;
}

// Decoding goes into uninitialised memory: a file that claims a large size and then ends
// early costs an untouched allocation, not a cleared one.
struct FreeDeleter {
    void operator()(std::uint8_t* p) const { std::free(p); }
};
using RawBuffer = std::unique_ptr<std::uint8_t[], FreeDeleter>;
RawBuffer allocateRaw(std::size_t size) {
    return RawBuffer(static_cast<std::uint8_t*>(std::malloc(size ? size : 1)));
}

// ---- PNG decoding ------------------------------------------------------------------------

struct PngReader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
    png_structp png;
    png_infop info;
    std::uint32_t width;
    std::uint32_t height;
    int channels;
    int passes;
    char error[160];
};

void pngError(png_structp png, png_const_charp message) {
    auto* reader = static_cast<PngReader*>(png_get_error_ptr(png));
    std::snprintf(reader->error, sizeof reader->error, "%s", message ? message : "libpng error");
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

void pngRead(png_structp png, png_bytep out, png_size_t length) {
    auto* reader = static_cast<PngReader*>(png_get_io_ptr(png));
    if (length > reader->size - reader->pos) png_error(png, "data ends early");
    std::memcpy(out, reader->data + reader->pos, length);
    reader->pos += length;
}

// Reads the header and sets the transforms that turn every PNG kind into 8-bit G, GA, RGB
// or RGBA: palettes expanded, low bit depths widened, tRNS turned into alpha, 16 bits scaled.
bool pngReadHeader(PngReader* r) {
    if (setjmp(png_jmpbuf(r->png))) return false;
    png_set_user_limits(r->png, Image::kMaxSide, Image::kMaxSide);
    png_read_info(r->png, r->info);
    png_set_expand(r->png);
    if (png_get_bit_depth(r->png, r->info) == 16) png_set_scale_16(r->png);
    r->passes = png_set_interlace_handling(r->png);
    png_read_update_info(r->png, r->info);
    r->width = png_get_image_width(r->png, r->info);
    r->height = png_get_image_height(r->png, r->info);
    r->channels = png_get_channels(r->png, r->info);
    if (png_get_bit_depth(r->png, r->info) != 8 || r->channels < 1 || r->channels > 4) {
        std::snprintf(r->error, sizeof r->error, "unexpected pixel layout");
        return false;
    }
    return true;
}

bool pngReadPixels(PngReader* r, std::uint8_t* out, std::size_t rowBytes) {
    if (setjmp(png_jmpbuf(r->png))) return false;
    if (png_get_rowbytes(r->png, r->info) != rowBytes) {
        std::snprintf(r->error, sizeof r->error, "unexpected row size");
        return false;
    }
    for (int pass = 0; pass < r->passes; ++pass)
        for (std::uint32_t y = 0; y < r->height; ++y)
            png_read_row(r->png, out + y * rowBytes, nullptr);
    png_read_end(r->png, nullptr);
    return true;
}

Ref<Image> decodePNG(const std::uint8_t* data, std::size_t size, std::string& error) {
    PngReader r{};
    r.data = data;
    r.size = size;
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, pngError, pngWarning);
    if (!r.png) {
        error = "out of memory";
        return nullptr;
    }
    r.info = png_create_info_struct(r.png);
    Ref<Image> image;
    if (r.info) {
        png_set_read_fn(r.png, &r, pngRead);
        if (pngReadHeader(&r)) {
            if (!dimensionsAcceptable(r.width, r.height, std::uint64_t(r.channels))) {
                error = format("size %ux%u is out of bounds", r.width, r.height);
            } else {
                std::size_t rowBytes = std::size_t(r.width) * std::size_t(r.channels);
                RawBuffer pixels = allocateRaw(rowBytes * r.height);
                if (!pixels) {
                    error = "out of memory";
                } else if (pngReadPixels(&r, pixels.get(), rowBytes)) {
                    bool grey = r.channels <= 2, alpha = r.channels == 2 || r.channels == 4;
                    image = make<Image>(
                        r.width, r.height, grey ? ImageColorSpace::Gray : ImageColorSpace::RGB,
                        alpha ? ImageAlphaInfo::Last : ImageAlphaInfo::None,
                        std::vector<std::uint8_t>(pixels.get(), pixels.get() + rowBytes * r.height));
                } else {
                    error = r.error;
                }
            }
        } else {
            error = r.error;
        }
    } else {
        error = "out of memory";
    }
    png_destroy_read_struct(&r.png, r.info ? &r.info : nullptr, nullptr);
    return image;
}

// ---- JPEG decoding -----------------------------------------------------------------------

// Progressive files can hold thousands of tiny scans that take ages to decode; real ones
// have about ten.
constexpr int kMaxJpegScans = 500;

struct JpegErrorManager {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void jpegErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings are silent, except that data ending early is a failure rather than a grey tail.
void jpegEmitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    cinfo->err->num_warnings++;
    if (cinfo->err->msg_code == JWRN_JPEG_EOF) jpegErrorExit(cinfo);
}

void jpegProgress(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxJpegScans) {
        auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
        std::snprintf(err->message, sizeof err->message, "more than %d scans", kMaxJpegScans);
        std::longjmp(err->jump, 1);
    }
}

struct JpegReader {
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    jpeg_progress_mgr progress;
    bool created;
    bool cmyk;
    bool adobe;
    std::uint32_t width;
    std::uint32_t height;
    int components;
};

bool jpegReadHeader(JpegReader* r, const std::uint8_t* data, std::size_t size) {
    r->cinfo.err = jpeg_std_error(&r->err.mgr);
    r->err.mgr.error_exit = jpegErrorExit;
    r->err.mgr.emit_message = jpegEmitMessage;
    if (setjmp(r->err.jump)) return false;
    jpeg_create_decompress(&r->cinfo);
    r->created = true;
    r->progress.progress_monitor = jpegProgress;
    r->cinfo.progress = &r->progress;
    r->cinfo.mem->max_memory_to_use = long(Image::kMaxDecodedBytes);
    jpeg_mem_src(&r->cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&r->cinfo, TRUE);
    if (!dimensionsAcceptable(r->cinfo.image_width, r->cinfo.image_height, 4)) {
        std::snprintf(r->err.message, sizeof r->err.message, "size %ux%u is out of bounds",
                      unsigned(r->cinfo.image_width), unsigned(r->cinfo.image_height));
        return false;
    }
    if (r->cinfo.jpeg_color_space == JCS_CMYK || r->cinfo.jpeg_color_space == JCS_YCCK) {
        r->cinfo.out_color_space = JCS_CMYK;
        r->cmyk = true;
        r->adobe = r->cinfo.saw_Adobe_marker;
    } else if (r->cinfo.num_components == 1) {
        r->cinfo.out_color_space = JCS_GRAYSCALE;
    } else {
        r->cinfo.out_color_space = JCS_RGB;
    }
    jpeg_start_decompress(&r->cinfo);
    r->width = r->cinfo.output_width;
    r->height = r->cinfo.output_height;
    r->components = r->cinfo.output_components;
    int expected = r->cmyk ? 4 : (r->cinfo.out_color_space == JCS_GRAYSCALE ? 1 : 3);
    if (r->components != expected || !dimensionsAcceptable(r->width, r->height, 4)) {
        std::snprintf(r->err.message, sizeof r->err.message, "unexpected output layout");
        return false;
    }
    return true;
}

bool jpegReadPixels(JpegReader* r, std::uint8_t* out, std::size_t rowBytes) {
    if (setjmp(r->err.jump)) return false;
    while (r->cinfo.output_scanline < r->cinfo.output_height) {
        JSAMPROW row = out + std::size_t(r->cinfo.output_scanline) * rowBytes;
        if (jpeg_read_scanlines(&r->cinfo, &row, 1) != 1) {
            std::snprintf(r->err.message, sizeof r->err.message, "no scanline decoded");
            return false;
        }
    }
    jpeg_finish_decompress(&r->cinfo);
    return true;
}

Ref<Image> decodeJPEG(const std::uint8_t* data, std::size_t size, std::string& error) {
    JpegReader r{};
    Ref<Image> image;
    if (jpegReadHeader(&r, data, size)) {
        std::size_t rowBytes = std::size_t(r.width) * std::size_t(r.components);
        std::size_t count = std::size_t(r.width) * r.height;
        RawBuffer raw = allocateRaw(rowBytes * r.height);
        if (!raw) {
            error = "out of memory";
        } else if (jpegReadPixels(&r, raw.get(), rowBytes)) {
            std::vector<std::uint8_t> pixels;
            if (r.cmyk) {
                // Adobe writes CMYK inverted (0 = full ink); plain CMYK is not.
                pixels.resize(count * 3);
                for (std::size_t i = 0; i < count; ++i) {
                    unsigned ink[4];
                    for (int k = 0; k < 4; ++k) {
                        unsigned v = raw[i * 4 + k];
                        ink[k] = r.adobe ? v : 255 - v;
                    }
                    for (int k = 0; k < 3; ++k)
                        pixels[i * 3 + k] = std::uint8_t((ink[k] * ink[3] + 127) / 255);
                }
            } else {
                pixels.assign(raw.get(), raw.get() + rowBytes * r.height);
            }
            bool grey = r.components == 1;
            image = make<Image>(r.width, r.height, grey ? ImageColorSpace::Gray : ImageColorSpace::RGB,
                                ImageAlphaInfo::None, std::move(pixels));
        } else {
            error = r.err.message;
        }
    } else {
        error = r.err.message;
    }
    if (r.created) jpeg_destroy_decompress(&r.cinfo);
    return image;
}

// ---- Encoding ----------------------------------------------------------------------------

struct PngWriter {
    png_structp png;
    png_infop info;
    std::uint8_t* buffer;
    std::size_t size;
    std::size_t capacity;
    char error[160];
};

void pngWriterError(png_structp png, png_const_charp message) {
    auto* w = static_cast<PngWriter*>(png_get_error_ptr(png));
    std::snprintf(w->error, sizeof w->error, "%s", message ? message : "libpng error");
    png_longjmp(png, 1);
}

void pngWrite(png_structp png, png_bytep data, png_size_t length) {
    auto* w = static_cast<PngWriter*>(png_get_io_ptr(png));
    if (length > w->capacity - w->size) {
        std::size_t capacity = w->capacity ? w->capacity : 4096;
        while (capacity - w->size < length) {
            if (capacity > SIZE_MAX / 2) png_error(png, "output too large");
            capacity *= 2;
        }
        auto* grown = static_cast<std::uint8_t*>(std::realloc(w->buffer, capacity));
        if (!grown) png_error(png, "out of memory");
        w->buffer = grown;
        w->capacity = capacity;
    }
    std::memcpy(w->buffer + w->size, data, length);
    w->size += length;
}

void pngFlush(png_structp) {}

bool pngWriteRows(PngWriter* w, const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height) {
    if (setjmp(png_jmpbuf(w->png))) return false;
    png_set_write_fn(w->png, w, pngWrite, pngFlush);
    png_set_IHDR(w->png, w->info, width, height, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(w->png, w->info);
    for (std::uint32_t y = 0; y < height; ++y)
        png_write_row(w->png, rgba + std::size_t(y) * width * 4);
    png_write_end(w->png, nullptr);
    return true;
}

struct JpegWriter {
    jpeg_compress_struct cinfo;
    JpegErrorManager err;
    bool created;
    unsigned char* buffer;
    unsigned long size;
};

bool jpegWriteRows(JpegWriter* w, const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height,
                   int quality, std::uint8_t* rowBuffer) {
    w->cinfo.err = jpeg_std_error(&w->err.mgr);
    w->err.mgr.error_exit = jpegErrorExit;
    w->err.mgr.emit_message = jpegEmitMessage;
    if (setjmp(w->err.jump)) return false;
    jpeg_create_compress(&w->cinfo);
    w->created = true;
    jpeg_mem_dest(&w->cinfo, &w->buffer, &w->size);
    w->cinfo.image_width = width;
    w->cinfo.image_height = height;
    w->cinfo.input_components = 3;
    w->cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&w->cinfo);
    jpeg_set_quality(&w->cinfo, quality, TRUE);
    jpeg_start_compress(&w->cinfo, TRUE);
    while (w->cinfo.next_scanline < height) {
        const std::uint8_t* src = rgba + std::size_t(w->cinfo.next_scanline) * width * 4;
        for (std::uint32_t x = 0; x < width; ++x) {
            rowBuffer[x * 3 + 0] = src[x * 4 + 0];
            rowBuffer[x * 3 + 1] = src[x * 4 + 1];
            rowBuffer[x * 3 + 2] = src[x * 4 + 2];
        }
        JSAMPROW row = rowBuffer;
        jpeg_write_scanlines(&w->cinfo, &row, 1);
    }
    jpeg_finish_compress(&w->cinfo);
    return true;
}

// x * a / 255, rounded to nearest (exact for all 8-bit inputs).
inline std::uint8_t mul255(unsigned x, unsigned a) {
    unsigned t = x * a + 128;
    return std::uint8_t((t + (t >> 8)) >> 8);
}

// x * 255 / a, rounded, for premultiplied colours (x <= a); 0 where a is 0.
inline std::uint8_t div255(unsigned x, unsigned a) {
    if (a == 0) return 0;
    unsigned v = (x * 255 + a / 2) / a;
    return std::uint8_t(v > 255 ? 255 : v);
}

// One stored pixel's channels as they are kept (premultiplied or not, as the image says);
// an image without alpha, or whose alpha byte is padding, is opaque.
struct Channels {
    unsigned r, g, b, a;
};

Channels readPixel(const std::uint8_t* src, ImageColorSpace colorSpace, ImageAlphaInfo alphaInfo,
                   std::uint32_t comps) {
    Channels c;
    switch (colorSpace) {
    case ImageColorSpace::None:
        c.r = c.g = c.b = 0, c.a = src[0];
        break;
    case ImageColorSpace::Gray:
        c.r = c.g = c.b = src[0], c.a = comps == 2 ? src[1] : 255;
        break;
    default:
        c.r = src[0], c.g = src[1], c.b = src[2], c.a = comps == 4 ? src[3] : 255;
        break;
    }
    if (alphaInfo == ImageAlphaInfo::NoneSkipLast) c.a = 255;
    return c;
}

Ref<Image> decode(const std::uint8_t* data, std::size_t size, const std::string& name) {
    static const std::uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::string error;
    Ref<Image> image;
    if (!data || size == 0) {
        error = "no data";
    } else if (size >= 8 && std::memcmp(data, pngSignature, 8) == 0) {
        image = decodePNG(data, size, error);
    } else if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) {
        image = decodeJPEG(data, size, error);
    } else {
        error = "neither a PNG nor a JPEG";
    }
    if (!image) CCLOG("Image: cannot decode %s: %s", name, error);
    return image;
}

} // namespace

Image::Image(std::uint32_t width, std::uint32_t height, ImageColorSpace colorSpace, ImageAlphaInfo alphaInfo,
             std::vector<std::uint8_t> pixels)
    : width_(width), height_(height), colorSpace_(colorSpace), alphaInfo_(alphaInfo),
      pixels_(std::move(pixels)) {}

Ref<Image> Image::imageWithContentsOfFile(const std::string& path) {
    std::error_code ec;
    std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxFileBytes) {
        CCLOG("Image: cannot read %s", path);
        return nullptr;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    std::ifstream in(path, std::ios::binary);
    if (!in || !in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()))) {
        CCLOG("Image: cannot read %s", path);
        return nullptr;
    }
    return decode(bytes.data(), bytes.size(), path);
}

Ref<Image> Image::imageWithData(const void* data, std::size_t size) {
    return decode(static_cast<const std::uint8_t*>(data), size, "data in memory");
}

std::uint32_t Image::componentsPerPixel() const {
    switch (colorSpace_) {
    case ImageColorSpace::None:
        return 1;
    case ImageColorSpace::Gray:
        return alphaInfo_ == ImageAlphaInfo::None ? 1 : 2;
    case ImageColorSpace::RGB:
        return alphaInfo_ == ImageAlphaInfo::None ? 3 : 4;
    }
    return 0;
}

Ref<Image> Image::imageWithPixels(const void* pixels, std::uint32_t width, std::uint32_t height,
                                  ImageColorSpace colorSpace, ImageAlphaInfo alphaInfo) {
    bool valid = false;
    switch (colorSpace) {
    case ImageColorSpace::None:
        valid = alphaInfo == ImageAlphaInfo::AlphaOnly;
        break;
    case ImageColorSpace::Gray:
        valid = alphaInfo == ImageAlphaInfo::None || alphaInfo == ImageAlphaInfo::Last ||
                alphaInfo == ImageAlphaInfo::PremultipliedLast;
        break;
    case ImageColorSpace::RGB:
        valid = alphaInfo == ImageAlphaInfo::None || alphaInfo == ImageAlphaInfo::Last ||
                alphaInfo == ImageAlphaInfo::PremultipliedLast || alphaInfo == ImageAlphaInfo::NoneSkipLast;
        break;
    }
    if (!valid || !pixels) return nullptr;
    Image probe(1, 1, colorSpace, alphaInfo, {});
    std::uint32_t components = probe.componentsPerPixel();
    if (!dimensionsAcceptable(width, height, components)) return nullptr;
    const auto* p = static_cast<const std::uint8_t*>(pixels);
    std::vector<std::uint8_t> copy(p, p + std::size_t(width) * height * components);
    return make<Image>(width, height, colorSpace, alphaInfo, std::move(copy));
}

Ref<Image> Image::alphaMask(const void* alpha, std::uint32_t width, std::uint32_t height) {
    return imageWithPixels(alpha, width, height, ImageColorSpace::None, ImageAlphaInfo::AlphaOnly);
}

bool Image::drawInBitmap(void* buffer, std::size_t bufferWidth, std::size_t bufferHeight,
                         std::size_t bytesPerRow, BitmapFormat format) const {
    std::size_t bpp = format == BitmapFormat::Alpha8 ? 1 : 4;
    std::size_t minRow = 0, total = 0;
    if (!buffer || __builtin_mul_overflow(bufferWidth, bpp, &minRow) || bytesPerRow < minRow ||
        __builtin_mul_overflow(bytesPerRow, bufferHeight, &total))
        return false;
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::memset(out, 0, total);

    std::size_t w = std::min<std::size_t>(width_, bufferWidth),
                h = std::min<std::size_t>(height_, bufferHeight);
    std::uint32_t comps = componentsPerPixel();
    for (std::size_t y = 0; y < h; ++y) {
        const std::uint8_t* src = pixels_.data() + y * this->bytesPerRow();
        std::uint8_t* dst = out + y * bytesPerRow;
        for (std::size_t x = 0; x < w; ++x, src += comps) {
            // The source pixel as premultiplied R, G, B, A.
            auto [r, g, b, a] = readPixel(src, colorSpace_, alphaInfo_, comps);
            if (alphaInfo_ == ImageAlphaInfo::Last) r = mul255(r, a), g = mul255(g, a), b = mul255(b, a);
            switch (format) {
            case BitmapFormat::Alpha8:
                dst[x] = std::uint8_t(a);
                break;
            case BitmapFormat::RGBAPremultiplied:
                dst[x * 4 + 0] = std::uint8_t(r), dst[x * 4 + 1] = std::uint8_t(g);
                dst[x * 4 + 2] = std::uint8_t(b), dst[x * 4 + 3] = std::uint8_t(a);
                break;
            case BitmapFormat::RGBX:
                // Drawn over the cleared (black) bitmap, the colour left is the premultiplied one.
                dst[x * 4 + 0] = std::uint8_t(r), dst[x * 4 + 1] = std::uint8_t(g);
                dst[x * 4 + 2] = std::uint8_t(b), dst[x * 4 + 3] = 255;
                break;
            }
        }
    }
    return true;
}

std::vector<std::uint8_t> Image::rgbaPixels() const {
    std::size_t count = std::size_t(width_) * height_;
    std::vector<std::uint8_t> out(count * 4);
    std::uint32_t comps = componentsPerPixel();
    const std::uint8_t* src = pixels_.data();
    for (std::size_t i = 0; i < count; ++i, src += comps) {
        auto [r, g, b, a] = readPixel(src, colorSpace_, alphaInfo_, comps);
        if (alphaInfo_ == ImageAlphaInfo::PremultipliedLast) {
            // Light added over nothing leaves colour above its alpha, which straight alpha cannot
            // hold: it keeps as drawn over black, its alpha raised to its brightest channel.
            a = std::max({r, g, b, a});
            r = div255(r, a), g = div255(g, a), b = div255(b, a);
        }
        out[i * 4 + 0] = std::uint8_t(r);
        out[i * 4 + 1] = std::uint8_t(g);
        out[i * 4 + 2] = std::uint8_t(b);
        out[i * 4 + 3] = std::uint8_t(a);
    }
    return out;
}

std::vector<std::uint8_t> Image::pngData() const {
    return encodePNG(rgbaPixels().data(), width_, height_);
}

std::vector<std::uint8_t> Image::jpegData(int quality) const {
    return encodeJPEG(rgbaPixels().data(), width_, height_, quality);
}

std::vector<std::uint8_t> Image::encodePNG(const std::uint8_t* rgba, std::uint32_t width,
                                           std::uint32_t height) {
    if (!rgba || !dimensionsAcceptable(width, height, 4)) return {};
    PngWriter w{};
    w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &w, pngWriterError, pngWarning);
    if (!w.png) return {};
    w.info = png_create_info_struct(w.png);
    std::vector<std::uint8_t> result;
    if (w.info && pngWriteRows(&w, rgba, width, height))
        result.assign(w.buffer, w.buffer + w.size);
    else
        CCLOG("Image: PNG encoding failed: %s", w.error);
    png_destroy_write_struct(&w.png, w.info ? &w.info : nullptr);
    std::free(w.buffer);
    return result;
}

std::vector<std::uint8_t> Image::encodeJPEG(const std::uint8_t* rgba, std::uint32_t width,
                                            std::uint32_t height, int quality) {
    if (!rgba || !dimensionsAcceptable(width, height, 4)) return {};
    quality = quality < 0 ? 0 : (quality > 100 ? 100 : quality);
    std::vector<std::uint8_t> row(std::size_t(width) * 3);
    JpegWriter w{};
    std::vector<std::uint8_t> result;
    if (jpegWriteRows(&w, rgba, width, height, quality, row.data()) && w.buffer)
        result.assign(w.buffer, w.buffer + w.size);
    else
        CCLOG("Image: JPEG encoding failed: %s", w.err.message);
    if (w.created) jpeg_destroy_compress(&w.cinfo);
    std::free(w.buffer);
    return result;
}

bool Image::writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    if (const char* fault = Paths::fileNameFault(path)) {
        CCLOG("Image: \"%s\" is not written: %s", Paths::printablePath(path), fault);
        return false;
    }
    if (bytes.empty()) return false;
    const std::size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string folder = slash == std::string::npos
                                   ? std::string(".")
                                   : (slash == 0 ? std::string("/") : path.substr(0, slash));
    // Everything below works relative to the folder, so the temporary file lands beside the
    // final one and its name only has to fit the folder, never the final path.
    const int dir = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        CCLOG("Image: cannot write %s: its folder cannot be opened", path);
        return false;
    }
    struct stat existing;
    if (::fstatat(dir, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(existing.st_mode)) {
        CCLOG("Image: %s is not written: it is a folder", path);
        ::close(dir);
        return false;
    }
    // A short fresh name, created with mode 0666 so the kernel applies the umask (and any
    // default ACL) as it does for every other file the user makes.
    static std::atomic<unsigned> serial{0};
    char temporary[64];
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        std::snprintf(temporary, sizeof temporary, ".tmp-%d-%u", static_cast<int>(::getpid()),
                      serial.fetch_add(1));
        fd = ::openat(dir, temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        CCLOG("Image: cannot create a file next to %s", path);
        ::close(dir);
        return false;
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    bool ok = written == bytes.size();
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::renameat(dir, temporary, dir, name.c_str()) == 0;
    if (!ok) {
        CCLOG("Image: cannot write %s", path);
        ::unlinkat(dir, temporary, 0);
    }
    ::close(dir);
    return ok;
}

bool Image::writePNG(const std::string& path, const std::uint8_t* rgba, std::uint32_t width,
                     std::uint32_t height) {
    return writeFile(path, encodePNG(rgba, width, height));
}

bool Image::writeJPEG(const std::string& path, const std::uint8_t* rgba, std::uint32_t width,
                      std::uint32_t height, int quality) {
    return writeFile(path, encodeJPEG(rgba, width, height, quality));
}

std::string Image::description() const {
    static const char* spaces[] = {"none", "gray", "RGB"};
    return format("<%s = %p | %ux%u | colour space %s | alpha info %d>", className(),
                  static_cast<const void*>(this), width_, height_, spaces[int(colorSpace_)], int(alphaInfo_));
}

} // namespace platform
