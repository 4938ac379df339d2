// The glyph images of the director's statistics labels: the twelve characters ".", "/" and
// "0" to "9" in white on transparency, one per cell from the left, as PNG bytes. The engine
// draws them itself on first use (from its default sans-serif font) and keeps the bytes for
// the life of the process.
#pragma once

#include <cstdint>

// 256x32 pixels, cells 12x32: every device but the retina phones and pads.
const unsigned char* ccStatsImageSmall(std::uint64_t* length);
// 512x64 pixels, cells 24x64: the retina phones.
const unsigned char* ccStatsImageLarge(std::uint64_t* length);
// The same picture as the large image, kept apart for the retina pads.
const unsigned char* ccStatsImageLargePad(std::uint64_t* length);
