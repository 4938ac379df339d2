// Whole-file reads, zlib/gzip inflation, the CCZ container and base64 decoding.
//
// Every function that produces data hands out a buffer allocated with malloc through its out
// parameter; the caller frees it (CCMallocPtr does that for C++ callers). On failure the out
// parameter is null. No output is ever larger than kCCMaxDataSize: anything that would grow
// past it is refused as bad data, so a lying header cannot make us allocate gigabytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

// 256 MiB: larger than any texture or data file the engine loads.
inline constexpr std::size_t kCCMaxDataSize = 256u * 1024u * 1024u;

// Frees a buffer handed out by the functions below.
struct CCFreeDeleter {
    void operator()(void* p) const noexcept { std::free(p); }
};
using CCMallocPtr = std::unique_ptr<unsigned char, CCFreeDeleter>;

// The whole file, binary. Its length (0 for an empty file, with the buffer null), or -1 when
// it cannot be opened, fully read, or is larger than kCCMaxDataSize.
int loadFileIntoMemory(const char* path, unsigned char** out);

// Inflates a zlib or gzip stream (told apart by its header) that must end within the input.
// The output starts at sizeHint bytes and doubles as needed. Inflated length, or 0 on any
// failure (corrupt or truncated data, output past kCCMaxDataSize, no memory, empty output).
int inflateMemoryWithHint(const unsigned char* in, std::size_t inLength, unsigned char** out,
                          std::size_t sizeHint);
// inflateMemoryWithHint with a 256 KB hint.
int inflateMemory(const unsigned char* in, std::size_t inLength, unsigned char** out);

// A gzip file (a plain file is read as it is). Inflated length (0 for no content, buffer
// null), or -1 when it cannot be opened, is corrupt or truncated, or is too large.
int inflateGZipFile(const char* path, unsigned char** out);

// A CCZ file: "CCZ!", compression 0 (zlib), version below 3, the big-endian uncompressed
// length, then the zlib stream. Inflated length, or -1 when the header fails a rule, the
// stream is corrupt, or it does not inflate to exactly the length the header gives.
// Encrypted containers ("CCZp") are refused.
int inflateCCZFile(const char* path, unsigned char** out);
// The same for a container already in memory.
int inflateCCZBuffer(const unsigned char* data, std::size_t length, unsigned char** out);

// Decodes base64 (RFC 4648 alphabet) into out, which holds outCapacity bytes. Characters
// outside the alphabet are skipped; '=' ends the input. 0 on success with the decoded length
// in *outLength, 1 on an error: a lone character before '=', characters left over at the end
// without '=', or output that would not fit.
int base64DecodeCore(const unsigned char* in, std::size_t inLength, unsigned char* out,
                     std::size_t outCapacity, std::size_t* outLength);
// Decoded length, or 0 on failure or when nothing was decoded (buffer null either way).
int base64Decode(const unsigned char* in, std::size_t inLength, unsigned char** out);
