#include "core/CCCompressedData.h"

#include "platform/Log.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

static_assert(kCCMaxDataSize < static_cast<std::size_t>(INT_MAX), "lengths are returned as int");

// A buffer being filled; frees itself unless released.
class GrowingBuffer {
public:
    ~GrowingBuffer() { std::free(data_); }
    bool reserve(std::size_t size) {
        if (size <= size_) return true;
        void* grown = std::realloc(data_, size);
        if (!grown) return false;
        data_ = static_cast<unsigned char*>(grown);
        size_ = size;
        return true;
    }
    unsigned char* data() const { return data_; }
    std::size_t size() const { return size_; }
    unsigned char* release() { return std::exchange(data_, nullptr); }

private:
    unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
};

std::uint32_t readBigEndian32(const unsigned char* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}
std::uint16_t readBigEndian16(const unsigned char* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

} // namespace

int loadFileIntoMemory(const char* path, unsigned char** out) {
    if (!out) return -1;
    *out = nullptr;
    if (!path) return -1;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    struct stat st {};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) return -1;
    if (st.st_size < 0 || static_cast<std::uintmax_t>(st.st_size) > kCCMaxDataSize) {
        CCLOG("loadFileIntoMemory: %s is larger than %zu bytes", path, kCCMaxDataSize);
        return -1;
    }
    // Read to the end rather than trusting the size: files can change, and some report none.
    GrowingBuffer buffer;
    std::size_t length = 0;
    std::size_t want = st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : 65536;
    for (;;) {
        if (length == buffer.size()) {
            if (length > kCCMaxDataSize) {
                CCLOG("loadFileIntoMemory: %s is larger than %zu bytes", path, kCCMaxDataSize);
                return -1;
            }
            std::size_t next = std::min(std::max(want, buffer.size() * 2), kCCMaxDataSize + 1);
            if (!buffer.reserve(next)) return -1;
        }
        ssize_t n = read(fd, buffer.data() + length, buffer.size() - length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        length += static_cast<std::size_t>(n);
    }
    if (length > kCCMaxDataSize) return -1;
    if (length == 0) return 0;
    *out = buffer.release();
    return static_cast<int>(length);
}

int inflateMemoryWithHint(const unsigned char* in, std::size_t inLength, unsigned char** out,
                          std::size_t sizeHint) {
    if (!out) return 0;
    *out = nullptr;
    if (!in || inLength == 0 || inLength > UINT_MAX) return 0;
    std::size_t size = std::clamp<std::size_t>(sizeHint, 256, kCCMaxDataSize);
    GrowingBuffer buffer;
    if (!buffer.reserve(size)) return 0;

    z_stream stream{};
    stream.next_in = const_cast<Bytef*>(in);
    stream.avail_in = static_cast<uInt>(inLength);
    stream.next_out = buffer.data();
    stream.avail_out = static_cast<uInt>(buffer.size());
    // 15 + 32: either a zlib or a gzip header.
    if (inflateInit2(&stream, 15 + 32) != Z_OK) return 0;
    struct Ender {
        z_stream* s;
        ~Ender() { inflateEnd(s); }
    } ender{&stream};

    for (;;) {
        int err = inflate(&stream, Z_NO_FLUSH);
        if (err == Z_STREAM_END) break;
        if (err == Z_DATA_ERROR || err == Z_MEM_ERROR || err == Z_NEED_DICT || err == Z_STREAM_ERROR)
            return 0;
        // No progress possible: the input ended before the stream did.
        if (stream.avail_out != 0) return 0;
        if (buffer.size() >= kCCMaxDataSize) {
            CCLOG("inflateMemory: output would exceed %zu bytes", kCCMaxDataSize);
            return 0;
        }
        std::size_t written = buffer.size();
        if (!buffer.reserve(std::min(buffer.size() * 2, kCCMaxDataSize))) return 0;
        stream.next_out = buffer.data() + written;
        stream.avail_out = static_cast<uInt>(buffer.size() - written);
    }
    std::size_t length = buffer.size() - stream.avail_out;
    if (length == 0) return 0;
    *out = buffer.release();
    return static_cast<int>(length);
}

int inflateMemory(const unsigned char* in, std::size_t inLength, unsigned char** out) {
    return inflateMemoryWithHint(in, inLength, out, 256 * 1024);
}

int inflateGZipFile(const char* path, unsigned char** out) {
    if (!out) return -1;
    *out = nullptr;
    if (!path) return -1;
    gzFile file = gzopen(path, "rb");
    if (!file) {
        CCLOG("inflateGZipFile: cannot open %s", path);
        return -1;
    }
    struct Closer {
        gzFile f;
        ~Closer() { gzclose(f); }
    } closer{file};

    // One byte past the limit tells a file of exactly the limit from a larger one.
    constexpr std::size_t limit = kCCMaxDataSize + 1;
    std::size_t request = 512 * 1024;
    GrowingBuffer buffer;
    if (!buffer.reserve(request)) return -1;
    std::size_t length = 0;
    for (;;) {
        int n = gzread(file, buffer.data() + length, static_cast<unsigned>(request));
        if (n < 0) {
            CCLOG("inflateGZipFile: cannot read %s", path);
            return -1;
        }
        length += static_cast<std::size_t>(n);
        if (static_cast<std::size_t>(n) < request) break;
        if (buffer.size() >= limit) break;
        std::size_t next = std::min(buffer.size() + request * 2, limit);
        request = next - buffer.size();
        if (!buffer.reserve(next)) return -1;
    }
    if (length > kCCMaxDataSize) {
        CCLOG("inflateGZipFile: %s inflates past %zu bytes", path, kCCMaxDataSize);
        return -1;
    }
    // A short read also ends a truncated or damaged stream: ask why it ended.
    int err = Z_OK;
    gzerror(file, &err);
    if (err != Z_OK && err != Z_STREAM_END) {
        CCLOG("inflateGZipFile: %s is damaged or truncated", path);
        return -1;
    }
    if (length == 0) return 0;
    *out = buffer.release();
    return static_cast<int>(length);
}

int inflateCCZBuffer(const unsigned char* data, std::size_t length, unsigned char** out) {
    if (!out) return -1;
    *out = nullptr;
    constexpr std::size_t headerSize = 16;
    if (!data || length < headerSize) {
        CCLOG("inflateCCZFile: too short for a CCZ header");
        return -1;
    }
    if (std::memcmp(data, "CCZp", 4) == 0) {
        CCLOG("inflateCCZFile: encrypted CCZ data is not supported");
        return -1;
    }
    if (std::memcmp(data, "CCZ!", 4) != 0) {
        CCLOG("inflateCCZFile: not a CCZ file");
        return -1;
    }
    std::uint16_t compression = readBigEndian16(data + 4);
    std::uint16_t version = readBigEndian16(data + 6);
    std::uint32_t expected = readBigEndian32(data + 12);
    if (compression != 0) {
        CCLOG("inflateCCZFile: unsupported compression %u", unsigned(compression));
        return -1;
    }
    if (version > 2) {
        CCLOG("inflateCCZFile: unsupported version %u", unsigned(version));
        return -1;
    }
    if (expected == 0 || expected > kCCMaxDataSize) {
        CCLOG("inflateCCZFile: uncompressed length %u out of range", unsigned(expected));
        return -1;
    }
    CCMallocPtr buffer(static_cast<unsigned char*>(std::malloc(expected)));
    if (!buffer) return -1;
    uLongf produced = expected;
    int err = uncompress(buffer.get(), &produced, data + headerSize, static_cast<uLong>(length - headerSize));
    if (err != Z_OK || produced != expected) {
        CCLOG("inflateCCZFile: the stream does not inflate to the %u bytes the header gives",
              unsigned(expected));
        return -1;
    }
    *out = buffer.release();
    return static_cast<int>(expected);
}

int inflateCCZFile(const char* path, unsigned char** out) {
    if (!out) return -1;
    *out = nullptr;
    unsigned char* raw = nullptr;
    int length = loadFileIntoMemory(path, &raw);
    CCMallocPtr file(raw);
    if (length < 0) {
        CCLOG("inflateCCZFile: cannot read %s", path ? path : "(null)");
        return -1;
    }
    return inflateCCZBuffer(file.get(), static_cast<std::size_t>(length), out);
}

namespace {

constexpr signed char kBase64Invalid = -1;

struct Base64Table {
    signed char value[256];
    constexpr Base64Table() : value() {
        for (int i = 0; i < 256; ++i)
            value[i] = kBase64Invalid;
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i)
            value[static_cast<unsigned char>(alphabet[i])] = static_cast<signed char>(i);
    }
};
constexpr Base64Table kBase64;

} // namespace

int base64DecodeCore(const unsigned char* in, std::size_t inLength, unsigned char* out,
                     std::size_t outCapacity, std::size_t* outLength) {
    if (outLength) *outLength = 0;
    if (!outLength || (!in && inLength != 0) || (!out && outCapacity != 0)) return 1;
    std::uint32_t bits = 0;
    int pending = 0;
    std::size_t written = 0;
    bool padded = false;
    auto put = [&](unsigned char byte) {
        if (written >= outCapacity) return false;
        out[written++] = byte;
        return true;
    };
    for (std::size_t i = 0; i < inLength; ++i) {
        unsigned char c = in[i];
        if (c == '=') {
            padded = true;
            break;
        }
        signed char v = kBase64.value[c];
        if (v == kBase64Invalid) continue;
        bits = (bits << 6) | static_cast<std::uint32_t>(v);
        if (++pending == 4) {
            if (!put(static_cast<unsigned char>(bits >> 16)) || !put(static_cast<unsigned char>(bits >> 8)) ||
                !put(static_cast<unsigned char>(bits)))
                return 1;
            bits = 0;
            pending = 0;
        }
    }
    if (pending != 0) {
        // Unpadded leftovers are treated as damage: callers take a failure as no data.
        if (!padded) return 1;
        if (pending == 1) {
            platform::log("base64Decode: encoding incomplete: at least 2 bits missing");
            return 1;
        }
        if (pending == 2) {
            if (!put(static_cast<unsigned char>(bits >> 4))) return 1;
        } else {
            if (!put(static_cast<unsigned char>(bits >> 10)) || !put(static_cast<unsigned char>(bits >> 2)))
                return 1;
        }
    }
    *outLength = written;
    return 0;
}

int base64Decode(const unsigned char* in, std::size_t inLength, unsigned char** out) {
    if (!out) return 0;
    *out = nullptr;
    if (!in) return 0;
    // len * 3 / 4 + 1 in integers, without the overflow of len * 3.
    std::size_t size = (inLength / 4) * 3 + (inLength % 4) * 3 / 4 + 1;
    if (size > kCCMaxDataSize) {
        platform::log("Base64Utils: error decoding");
        return 0;
    }
    CCMallocPtr buffer(static_cast<unsigned char*>(std::malloc(size)));
    if (!buffer) return 0;
    std::size_t length = 0;
    if (base64DecodeCore(in, inLength, buffer.get(), size, &length) != 0) {
        platform::log("Base64Utils: error decoding");
        return 0;
    }
    if (length == 0) return 0;
    *out = buffer.release();
    return static_cast<int>(length);
}
