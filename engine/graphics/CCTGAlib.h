// TGA pictures read into memory: uncompressed or run-length-encoded true colour, and
// uncompressed grey. Plain functions over a malloc'ed record; failures are reported only
// through the record's status, never thrown or logged. Every size in the header is checked
// against the file before anything is allocated or copied, so a broken or hostile file ends
// in an error status, not in a read or write outside a buffer.
#pragma once

#include <cstddef>
#include <cstdint>

// What tgaOpenImage made of a file (sImageTGA::status).
enum : std::int32_t {
    kTGAStatusOK = 0,
    kTGAStatusFileOpenError = 1,
    // Short header, pixel data or packets beyond the end of the file, packets past the image.
    kTGAStatusReadError = 2,
    kTGAStatusIndexedColour = 3,
    // No memory, or an image larger than the engine ever loads (kCCMaxDataSize).
    kTGAStatusOutOfMemory = 4,
    // Image type other than 2, 3 or 10; also a depth other than 8, 16, 24 or 32 bits and
    // dimensions of 0 or above 32767, which the record cannot describe.
    kTGAStatusUnsupportedType = 5,
};

// TGA image types we meet.
enum : std::uint8_t {
    kTGATypeIndexed = 1,
    kTGATypeTrueColour = 2,
    kTGATypeGrey = 3,
    kTGATypeRunLengthTrueColour = 10,
};

struct sImageTGA {
    std::int32_t status;
    std::uint8_t type;       // from the header
    std::uint8_t pixelDepth; // bits per pixel
    std::int16_t width;
    std::int16_t height;
    // width x height x pixelDepth / 8 bytes, red first, bottom row first once flipped is 0;
    // null unless status is kTGAStatusOK. Owned by the record.
    unsigned char* imageData;
    // 1 while the rows are still top row first and need reversing, 0 after.
    std::int32_t flipped;
};
using tImageTGA = sImageTGA;

// A file's bytes being read front to back: the reading steps below take it where they would
// take an open file.
struct tgaStream {
    const unsigned char* data;
    std::size_t length;
    std::size_t position;
};

// Reads the file at path (as given, not resolved). Null only when the record itself cannot be
// allocated; otherwise check status and free with tgaFreeImage.
sImageTGA* tgaOpenImage(const char* path);
// The same for a file image already in memory (not kept).
sImageTGA* tgaOpenImageFromMemory(const unsigned char* data, std::size_t length);
// Frees the pixel data, when present, and the record; null is ignored.
void tgaFreeImage(sImageTGA* image);

// Inner steps. Each returns false when the file runs out (or, for the data, when it is
// inconsistent with the header); the stream position is then unspecified.
// The 18-byte header: type, depth, width, height, and flipped from descriptor bit 5. Leaves
// the stream at the pixels, past the image ID field and any colour map the header announces
// (at the end of the file when they run past it, so the data read fails).
bool tgaReadHeader(tgaStream* stream, sImageTGA* image);
// Fills imageData (allocated by the caller to the image's size) from uncompressed pixels.
bool tgaReadRaw(tgaStream* stream, sImageTGA* image);
// The same from run-length packets, which must cover the image exactly.
bool tgaReadRunLength(tgaStream* stream, sImageTGA* image);
// Reverses the row order and clears flipped; does nothing when the row buffer cannot be had.
void tgaFlipRows(sImageTGA* image);
