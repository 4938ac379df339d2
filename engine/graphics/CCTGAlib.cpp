#include "graphics/CCTGAlib.h"

#include "core/CCCompressedData.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include <sys/stat.h>

namespace {

constexpr std::size_t kHeaderLength = 18;
constexpr std::uint8_t kDescriptorTopFirst = 0x20;

std::size_t remaining(const tgaStream* stream) {
    return stream->position < stream->length ? stream->length - stream->position : 0;
}

std::size_t bytesPerPixel(const sImageTGA* image) {
    return image->pixelDepth / 8u;
}

std::size_t pixelCount(const sImageTGA* image) {
    if (image->width <= 0 || image->height <= 0) return 0;
    return std::size_t(image->width) * std::size_t(image->height);
}

// BGR(A) as stored to RGB(A); 16-bit and grey pixels stay as they are.
void swapRedBlue(unsigned char* pixel, std::size_t bpp) {
    if (bpp >= 3) std::swap(pixel[0], pixel[2]);
}

bool depthSupported(std::uint8_t depth) {
    return depth == 8 || depth == 16 || depth == 24 || depth == 32;
}

// A run-length packet of one header byte and one pixel yields at most 128 pixels, so a file
// with fewer bytes left than that cannot hold the image: refuse it before allocating.
bool dataCanFit(const tgaStream* stream, const sImageTGA* image) {
    std::size_t need = pixelCount(image);
    std::size_t bpp = bytesPerPixel(image);
    std::size_t left = remaining(stream);
    if (image->type != kTGATypeRunLengthTrueColour) return need * bpp <= left;
    std::size_t packets = need / 128 + (need % 128 != 0);
    return packets <= left / (1 + bpp);
}

sImageTGA* newRecord() {
    auto* image = static_cast<sImageTGA*>(std::calloc(1, sizeof(sImageTGA)));
    return image;
}

void fail(sImageTGA* image, std::int32_t status) {
    std::free(image->imageData);
    image->imageData = nullptr;
    image->status = status;
}

void load(tgaStream* stream, sImageTGA* image) {
    if (!tgaReadHeader(stream, image)) return fail(image, kTGAStatusReadError);
    if (image->type == kTGATypeIndexed) return fail(image, kTGAStatusIndexedColour);
    if (image->type != kTGATypeTrueColour && image->type != kTGATypeGrey &&
        image->type != kTGATypeRunLengthTrueColour)
        return fail(image, kTGAStatusUnsupportedType);
    if (!depthSupported(image->pixelDepth) || image->width <= 0 || image->height <= 0)
        return fail(image, kTGAStatusUnsupportedType);
    if (!dataCanFit(stream, image)) return fail(image, kTGAStatusReadError);

    std::size_t size = pixelCount(image) * bytesPerPixel(image); // at most 32767² x 4: no overflow
    if (size > kCCMaxDataSize) return fail(image, kTGAStatusOutOfMemory);
    image->imageData = static_cast<unsigned char*>(std::malloc(size));
    if (!image->imageData) return fail(image, kTGAStatusOutOfMemory);

    bool read = image->type == kTGATypeRunLengthTrueColour ? tgaReadRunLength(stream, image)
                                                           : tgaReadRaw(stream, image);
    if (!read) return fail(image, kTGAStatusReadError);

    image->status = kTGAStatusOK;
    if (image->flipped) {
        tgaFlipRows(image);
        if (image->flipped) fail(image, kTGAStatusOutOfMemory);
    }
}

} // namespace

bool tgaReadHeader(tgaStream* stream, sImageTGA* image) {
    if (!stream || !image || remaining(stream) < kHeaderLength) return false;
    const unsigned char* h = stream->data + stream->position;
    std::uint8_t idLength = h[0];
    std::uint8_t colourMapType = h[1];
    image->type = h[2];
    std::size_t mapEntries = std::size_t(h[5]) | std::size_t(h[6]) << 8;
    std::size_t mapEntryBytes = (std::size_t(h[7]) + 7) / 8;
    // The file holds them unsigned; above 32767 they turn negative here and are refused later.
    image->width = static_cast<std::int16_t>(std::uint16_t(h[12] | h[13] << 8));
    image->height = static_cast<std::int16_t>(std::uint16_t(h[14] | h[15] << 8));
    image->pixelDepth = h[16];
    image->flipped = (h[17] & kDescriptorTopFirst) ? 1 : 0;

    // Neither the ID nor a colour map is pixel data, whatever the image type.
    std::size_t skip = kHeaderLength + idLength + (colourMapType == 1 ? mapEntries * mapEntryBytes : 0);
    stream->position += std::min(skip, remaining(stream));
    return true;
}

bool tgaReadRaw(tgaStream* stream, sImageTGA* image) {
    if (!stream || !image || !image->imageData) return false;
    std::size_t bpp = bytesPerPixel(image);
    std::size_t size = pixelCount(image) * bpp;
    if (bpp == 0 || remaining(stream) < size) return false;
    std::memcpy(image->imageData, stream->data + stream->position, size);
    stream->position += size;
    if (bpp >= 3)
        for (std::size_t i = 0; i < size; i += bpp)
            swapRedBlue(image->imageData + i, bpp);
    return true;
}

bool tgaReadRunLength(tgaStream* stream, sImageTGA* image) {
    if (!stream || !image || !image->imageData) return false;
    std::size_t bpp = bytesPerPixel(image);
    std::size_t total = pixelCount(image);
    if (bpp == 0) return false;
    unsigned char* out = image->imageData;
    std::size_t written = 0;
    while (written < total) {
        if (remaining(stream) < 1) return false;
        std::uint8_t packet = stream->data[stream->position++];
        std::size_t count = std::size_t(packet & 0x7F) + 1;
        // A packet reaching past the last pixel means the file is not what its header says.
        if (count > total - written) return false;
        if (packet & 0x80) {
            if (remaining(stream) < bpp) return false;
            unsigned char* first = out + written * bpp;
            std::memcpy(first, stream->data + stream->position, bpp);
            stream->position += bpp;
            swapRedBlue(first, bpp);
            for (std::size_t i = 1; i < count; ++i)
                std::memcpy(first + i * bpp, first, bpp);
        } else {
            std::size_t bytes = count * bpp;
            if (remaining(stream) < bytes) return false;
            unsigned char* first = out + written * bpp;
            std::memcpy(first, stream->data + stream->position, bytes);
            stream->position += bytes;
            if (bpp >= 3)
                for (std::size_t i = 0; i < bytes; i += bpp)
                    swapRedBlue(first + i, bpp);
        }
        written += count;
    }
    return true;
}

void tgaFlipRows(sImageTGA* image) {
    if (!image || !image->imageData || image->width <= 0 || image->height <= 0) return;
    std::size_t rowLength = std::size_t(image->width) * bytesPerPixel(image);
    auto* row = static_cast<unsigned char*>(std::malloc(rowLength ? rowLength : 1));
    if (!row) return;
    std::size_t height = std::size_t(image->height);
    for (std::size_t y = 0; y < height / 2; ++y) {
        unsigned char* top = image->imageData + y * rowLength;
        unsigned char* bottom = image->imageData + (height - 1 - y) * rowLength;
        std::memcpy(row, top, rowLength);
        std::memcpy(top, bottom, rowLength);
        std::memcpy(bottom, row, rowLength);
    }
    std::free(row);
    image->flipped = 0;
}

sImageTGA* tgaOpenImageFromMemory(const unsigned char* data, std::size_t length) {
    sImageTGA* image = newRecord();
    if (!image) return nullptr;
    tgaStream stream{data, data ? length : 0, 0};
    load(&stream, image);
    return image;
}

sImageTGA* tgaOpenImage(const char* path) {
    sImageTGA* image = newRecord();
    if (!image) return nullptr;
    std::FILE* file = path ? std::fopen(path, "rb") : nullptr;
    if (!file) {
        image->status = kTGAStatusFileOpenError;
        return image;
    }
    // The whole file, read here rather than through the file utilities, which log: this
    // loader reports only through the status.
    std::vector<unsigned char> bytes;
    unsigned char chunk[65536];
    // A regular file says its size: one too large is refused before anything is read.
    struct stat info {};
    bool outOfMemory = ::fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) &&
                       static_cast<std::uintmax_t>(info.st_size) > kCCMaxDataSize;
    std::size_t n;
    while (!outOfMemory && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        try {
            if (bytes.size() + n > kCCMaxDataSize) throw std::bad_alloc();
            bytes.insert(bytes.end(), chunk, chunk + n);
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
            break;
        }
    }
    const bool readFailed = std::ferror(file) != 0;
    std::fclose(file);
    if (outOfMemory || readFailed) {
        image->status = outOfMemory ? kTGAStatusOutOfMemory : kTGAStatusReadError;
        return image;
    }
    tgaStream stream{bytes.data(), bytes.size(), 0};
    load(&stream, image);
    return image;
}

void tgaFreeImage(sImageTGA* image) {
    if (!image) return;
    std::free(image->imageData);
    std::free(image);
}
