#include "graphics/CCTexturePVR.h"

#include "core/CCCompressedData.h"
#include "core/CCConfiguration.h"
#include "core/CCPointExtension.h"
#include "core/ccGLStateCache.h"
#include "platform/GLCheck.h"
#include "platform/Log.h"

#include <GLES2/gl2ext.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

constexpr GLenum kNoValue = 0xFFFFFFFFu;

enum PVRFormatIndex : std::size_t {
    kBGRA8888,
    kRGBA8888,
    kRGBA4444,
    kRGBA5551,
    kRGB565,
    kRGB888,
    kA8,
    kL8,
    kLA88,
    kPVRTC2RGB,
    kPVRTC2RGBA,
    kPVRTC4RGB,
    kPVRTC4RGBA,
};

const ccPVRTexturePixelFormatInfo kPixelFormatInfo[] = {
    {GL_RGBA, GL_BGRA_EXT, GL_UNSIGNED_BYTE, 32, false, true, kCCTexture2DPixelFormat_RGBA8888},
    {GL_RGBA, GL_RGBA, GL_UNSIGNED_BYTE, 32, false, true, kCCTexture2DPixelFormat_RGBA8888},
    {GL_RGBA, GL_RGBA, GL_UNSIGNED_SHORT_4_4_4_4, 16, false, true, kCCTexture2DPixelFormat_RGBA4444},
    {GL_RGBA, GL_RGBA, GL_UNSIGNED_SHORT_5_5_5_1, 16, false, true, kCCTexture2DPixelFormat_RGB5A1},
    {GL_RGB, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, 16, false, false, kCCTexture2DPixelFormat_RGB565},
    {GL_RGB, GL_RGB, GL_UNSIGNED_BYTE, 24, false, false, kCCTexture2DPixelFormat_RGB888},
    {GL_ALPHA, GL_ALPHA, GL_UNSIGNED_BYTE, 8, false, false, kCCTexture2DPixelFormat_A8},
    {GL_LUMINANCE, GL_LUMINANCE, GL_UNSIGNED_BYTE, 8, false, false, kCCTexture2DPixelFormat_I8},
    {GL_LUMINANCE_ALPHA, GL_LUMINANCE_ALPHA, GL_UNSIGNED_BYTE, 16, false, true, kCCTexture2DPixelFormat_AI88},
    {GL_COMPRESSED_RGB_PVRTC_2BPPV1_IMG, kNoValue, kNoValue, 2, true, false, kCCTexture2DPixelFormat_PVRTC2},
    {GL_COMPRESSED_RGBA_PVRTC_2BPPV1_IMG, kNoValue, kNoValue, 2, true, true, kCCTexture2DPixelFormat_PVRTC2},
    {GL_COMPRESSED_RGB_PVRTC_4BPPV1_IMG, kNoValue, kNoValue, 4, true, false, kCCTexture2DPixelFormat_PVRTC4},
    {GL_COMPRESSED_RGBA_PVRTC_4BPPV1_IMG, kNoValue, kNoValue, 4, true, true, kCCTexture2DPixelFormat_PVRTC4},
};

struct V2Code {
    std::uint32_t type;
    PVRFormatIndex index;
};
constexpr V2Code kV2Codes[] = {
    {0x10, kRGBA4444},   {0x11, kRGBA5551}, {0x12, kRGBA8888}, {0x13, kRGB565},
    {0x15, kRGB888},     {0x16, kL8},       {0x17, kLA88},     {0x18, kPVRTC2RGBA},
    {0x19, kPVRTC4RGBA}, {0x1A, kBGRA8888}, {0x1B, kA8},
};

// Channel letters in bytes 0-3, bit counts in bytes 4-7, little-endian.
constexpr std::uint64_t channelKey(const char (&letters)[5], std::uint8_t b0, std::uint8_t b1,
                                   std::uint8_t b2, std::uint8_t b3) {
    std::uint64_t key = 0;
    for (int i = 0; i < 4; ++i)
        key |= std::uint64_t(std::uint8_t(letters[i])) << (8 * i);
    key |=
        std::uint64_t(b0) << 32 | std::uint64_t(b1) << 40 | std::uint64_t(b2) << 48 | std::uint64_t(b3) << 56;
    return key;
}

struct V3Key {
    std::uint64_t key;
    PVRFormatIndex index;
};
constexpr V3Key kV3Keys[] = {
    {0, kPVRTC2RGB},
    {1, kPVRTC2RGBA},
    {2, kPVRTC4RGB},
    {3, kPVRTC4RGBA},
    {channelKey("bgra", 8, 8, 8, 8), kBGRA8888},
    {channelKey("rgba", 8, 8, 8, 8), kRGBA8888},
    {channelKey("rgba", 4, 4, 4, 4), kRGBA4444},
    {channelKey("rgba", 5, 5, 5, 1), kRGBA5551},
    {channelKey("rgb\0", 5, 6, 5, 0), kRGB565},
    {channelKey("rgb\0", 8, 8, 8, 0), kRGB888},
    {channelKey("a\0\0\0", 8, 0, 0, 0), kA8},
    {channelKey("l\0\0\0", 8, 0, 0, 0), kL8},
    {channelKey("la\0\0", 8, 8, 0, 0), kLA88},
};

constexpr std::size_t kHeaderLength = 52;
constexpr std::uint32_t kPVRv2Tag = 0x21525650;     // "PVR!"
constexpr std::uint32_t kPVRv3Version = 0x03525650; // "PVR" 3
constexpr std::uint32_t kPVRv3PremultipliedFlag = 0x02;

std::uint32_t read32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

std::uint64_t read64(const unsigned char* p) {
    return std::uint64_t(read32(p)) | std::uint64_t(read32(p + 4)) << 32;
}

bool isPowerOfTwo(std::uint32_t x) {
    return nextPowerOfTwo(x) == x;
}

bool endsWith(const std::string& s, const char* suffix) {
    std::size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

} // namespace

bool CCTexturePVR::levelSize(const ccPVRTexturePixelFormatInfo* info, std::uint32_t w, std::uint32_t h,
                             std::uint32_t* bytes) {
    std::uint64_t size;
    if (info->compressed) {
        // PVRTC: 8 bytes a block of 8 x 4 (2 bpp) or 4 x 4 (4 bpp) pixels, at least 2 x 2 blocks.
        const bool twoBpp = info->bpp == 2;
        std::uint64_t across = twoBpp ? w / 8 : w / 4;
        std::uint64_t down = h / 4;
        const std::uint64_t blockSize = twoBpp ? 8 * 4 : 4 * 4;
        across = std::max<std::uint64_t>(across, 2);
        down = std::max<std::uint64_t>(down, 2);
        size = across * down * (blockSize * info->bpp / 8);
    } else {
        // Both factors are below 2^32 and bpp is at most 32: no 64-bit overflow before the divide.
        const std::uint64_t pixels = std::uint64_t(w) * h;
        if (pixels > (std::uint64_t(1) << 58)) return false;
        size = pixels * info->bpp / 8;
    }
    if (size > 0xFFFFFFFFu) return false;
    *bytes = std::uint32_t(size);
    return true;
}

void CCTexturePVR::reset() {
    for (CCPVRMipmap& m : _mipmaps)
        m = CCPVRMipmap{};
    _numberOfMipmaps = 0;
    _width = _height = 0;
    _hasAlpha = _hasPremultipliedAlpha = _forcePremultipliedAlpha = false;
    _format = kCCTexture2DPixelFormat_Default;
    _pixelFormatInfo = nullptr;
}

bool CCTexturePVR::cutLevel(const unsigned char* data, std::size_t end, std::size_t* offset, std::uint32_t w,
                            std::uint32_t h) {
    if (_numberOfMipmaps >= CC_PVRMIPMAP_MAX) {
        CCLOG("PVR: more than %d mipmap levels", int(CC_PVRMIPMAP_MAX));
        return false;
    }
    if (_pixelFormatInfo == &kPixelFormatInfo[kBGRA8888] &&
        !CCTextureLoadSettings::configurationForThisThread()->supportsBGRA8888()) {
        CCLOG("PVR: BGRA8888 is not supported by this context");
        return false;
    }
    std::uint32_t size;
    if (!levelSize(_pixelFormatInfo, w, h, &size)) {
        CCLOG("PVR: level of %ux%u is too large", w, h);
        return false;
    }
    const std::size_t left = end - *offset;
    const std::uint32_t bytes = std::uint32_t(std::min<std::size_t>(size, left));
    _mipmaps[_numberOfMipmaps].address = data + *offset;
    _mipmaps[_numberOfMipmaps].len = bytes;
    ++_numberOfMipmaps;
    *offset += bytes;
    return true;
}

bool CCTexturePVR::unpackPVRv2Data(const unsigned char* data, std::size_t len) {
    reset();
    if (!data || len < kHeaderLength || read32(data + 44) != kPVRv2Tag) return false;

    const std::uint32_t height = read32(data + 4);
    const std::uint32_t width = read32(data + 8);
    const std::uint32_t flags = read32(data + 16);
    const std::uint32_t dataLength = read32(data + 20);
    const std::uint32_t bitmaskAlpha = read32(data + 40);

    CCConfiguration* configuration = CCTextureLoadSettings::configurationForThisThread();
    if (!configuration->supportsNPOT() && (!isPowerOfTwo(width) || !isPowerOfTwo(height))) {
        CCLOG("PVR: %ux%u is not a power of two, which this context needs", width, height);
        return false;
    }

    const std::uint32_t type = flags & 0xFF;
    const V2Code* code = std::find_if(std::begin(kV2Codes), std::end(kV2Codes),
                                      [type](const V2Code& c) { return c.type == type; });
    if (code == std::end(kV2Codes)) {
        CCLOG("PVR: unsupported pixel format 0x%02X", type);
        return false;
    }
    if (width == 0 || height == 0) {
        CCLOG("PVR: empty texture %ux%u", width, height);
        return false;
    }
    if (dataLength > len - kHeaderLength) {
        CCLOG("PVR: %u bytes of data announced, %zu present", dataLength, len - kHeaderLength);
        return false;
    }

    _pixelFormatInfo = &kPixelFormatInfo[code->index];
    _width = width;
    _height = height;
    _hasAlpha = bitmaskAlpha != 0;
    _format = _pixelFormatInfo->ccPixelFormat;

    const unsigned char* bytes = data + kHeaderLength;
    std::size_t offset = 0;
    std::uint32_t w = width, h = height;
    while (offset < dataLength) {
        if (!cutLevel(bytes, dataLength, &offset, w, h)) return false;
        w = std::max<std::uint32_t>(w >> 1, 1);
        h = std::max<std::uint32_t>(h >> 1, 1);
    }
    return true;
}

bool CCTexturePVR::unpackPVRv3Data(const unsigned char* data, std::size_t len) {
    reset();
    if (!data || len < kHeaderLength || read32(data) != kPVRv3Version) return false;

    const std::uint32_t flags = read32(data + 4);
    const std::uint64_t pixelFormat = read64(data + 8);
    const std::uint32_t height = read32(data + 24);
    const std::uint32_t width = read32(data + 28);
    const std::uint32_t depth = read32(data + 32);
    const std::uint32_t surfaces = read32(data + 36);
    const std::uint32_t faces = read32(data + 40);
    const std::uint32_t mipmapCount = read32(data + 44);
    const std::uint32_t metadataLength = read32(data + 48);

    const V3Key* key = std::find_if(std::begin(kV3Keys), std::end(kV3Keys),
                                    [pixelFormat](const V3Key& k) { return k.key == pixelFormat; });
    if (key == std::end(kV3Keys)) {
        CCLOG("PVR: unsupported pixel format %llx", static_cast<unsigned long long>(pixelFormat));
        return false;
    }
    // Volumes, arrays and cube maps hold several images per level: not a 2D texture.
    if (depth > 1 || surfaces > 1 || faces > 1) {
        CCLOG("PVR: unsupported depth %u, surfaces %u or faces %u", depth, surfaces, faces);
        return false;
    }
    if (width == 0 || height == 0) {
        CCLOG("PVR: empty texture %ux%u", width, height);
        return false;
    }
    if (mipmapCount > CC_PVRMIPMAP_MAX) {
        CCLOG("PVR: %u mipmap levels, at most %d supported", mipmapCount, int(CC_PVRMIPMAP_MAX));
        return false;
    }
    if (metadataLength > len - kHeaderLength) {
        CCLOG("PVR: %u bytes of metadata announced, %zu present", metadataLength, len - kHeaderLength);
        return false;
    }

    _pixelFormatInfo = &kPixelFormatInfo[key->index];
    _hasAlpha = _pixelFormatInfo->alpha;
    _forcePremultipliedAlpha = true;
    _hasPremultipliedAlpha = (flags & kPVRv3PremultipliedFlag) != 0;
    _format = _pixelFormatInfo->ccPixelFormat;
    _width = width;
    _height = height;

    const std::size_t dataOffset = kHeaderLength + metadataLength;
    const unsigned char* bytes = data + dataOffset;
    const std::size_t dataLength = len - dataOffset;
    std::size_t offset = 0;
    std::uint32_t w = width, h = height;
    for (std::uint32_t i = 0; i < mipmapCount; ++i) {
        if (!cutLevel(bytes, dataLength, &offset, w, h)) return false;
        w = std::max<std::uint32_t>(w >> 1, 1);
        h = std::max<std::uint32_t>(h >> 1, 1);
    }
    return true;
}

bool CCTexturePVR::createGLTexture() {
    // A side past the context's limit would leave an unusable texture behind a GL error.
    const std::int32_t maxSide = CCConfiguration::sharedConfiguration()->maxTextureSize();
    if (_numberOfMipmaps > 0 &&
        (maxSide <= 0 || _width > std::uint32_t(maxSide) || _height > std::uint32_t(maxSide))) {
        CCLOG("PVR: %ux%u is bigger than the largest texture this context holds (%d)", unsigned(_width),
              unsigned(_height), int(maxSide));
        return false;
    }
    if (_numberOfMipmaps > 0) {
        if (_name != 0) glCacheDeleteTexture(_name, _home);
        _name = 0;
        glCheck(glPixelStorei(GL_UNPACK_ALIGNMENT, 1));
        glCacheDeleteWaitingFirst();
        glCheck(glGenTextures(1, &_name));
        _home = platform::GLHome::current();
        // The name may be one deleted elsewhere that the state cache still holds bound.
        glCacheFollowDeletions();
        glCacheBindTexture2D(_name);
        glCheck(glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                                _numberOfMipmaps == 1 ? GL_LINEAR : GL_LINEAR_MIPMAP_NEAREST));
        glCheck(glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR));
        glCheck(glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE));
        glCheck(glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE));
    }
    if (GLenum err = glGetError(); err != GL_NO_ERROR)
        CCLOG("OpenGL error 0x%04X in %s %d", unsigned(err), "-[CCTexturePVR createGLTexture]", 526);

    std::uint32_t w = _width, h = _height;
    for (std::uint64_t i = 0; i < _numberOfMipmaps; ++i) {
        const CCPVRMipmap& level = _mipmaps[i];
        // GL reads the level's whole size: a level the file cut short is never handed over.
        std::uint32_t size = 0;
        if (!levelSize(_pixelFormatInfo, w, h, &size) || level.len < size || !level.address) {
            CCLOG("PVR: level %u holds %u bytes of the %u it needs", unsigned(i), level.len, size);
            return false;
        }
        if (_pixelFormatInfo->compressed) {
            if (!CCTextureLoadSettings::configurationForThisThread()->supportsPVRTC()) {
                CCLOG("PVR: PVRTC is not supported by this context");
                return false;
            }
            glCheck(glCompressedTexImage2D(GL_TEXTURE_2D, GLint(i), _pixelFormatInfo->internalFormat,
                                           GLsizei(w), GLsizei(h), 0, GLsizei(size), level.address));
        } else {
            glCheck(glTexImage2D(GL_TEXTURE_2D, GLint(i), GLint(_pixelFormatInfo->internalFormat), GLsizei(w),
                                 GLsizei(h), 0, _pixelFormatInfo->format, _pixelFormatInfo->type,
                                 level.address));
        }
        if (GLenum err = glGetError(); err != GL_NO_ERROR) {
            CCLOG("PVR: GL error 0x%04X uploading level %u", unsigned(err), unsigned(i));
            return false;
        }
        w = std::max<std::uint32_t>(w >> 1, 1);
        h = std::max<std::uint32_t>(h >> 1, 1);
    }
    return true;
}

bool CCTexturePVR::initWithContentsOfFile(const std::string& path) {
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });

    unsigned char* raw = nullptr;
    int length;
    if (endsWith(lower, ".ccz"))
        length = inflateCCZFile(path.c_str(), &raw);
    else if (endsWith(lower, ".gz"))
        length = inflateGZipFile(path.c_str(), &raw);
    else
        length = loadFileIntoMemory(path.c_str(), &raw);
    CCMallocPtr data(raw);
    if (length < 0) {
        CCLOG("PVR: could not load %s", path);
        return false;
    }

    reset();
    if (_name != 0 && !_retainName) glCacheDeleteTexture(_name, _home);
    _name = 0;
    _retainName = false;

    bool ok = (unpackPVRv2Data(data.get(), std::size_t(length)) ||
               unpackPVRv3Data(data.get(), std::size_t(length))) &&
              createGLTexture();
    // The levels point into the file data, which goes now.
    for (CCPVRMipmap& m : _mipmaps)
        m.address = nullptr;
    if (!ok) CCLOG("PVR: could not load %s", path);
    return ok;
}

bool CCTexturePVR::initWithContentsOfURL(const std::string& url) {
    static const std::string scheme = "file://";
    if (url.compare(0, scheme.size(), scheme) != 0) return false;
    return initWithContentsOfFile(url.substr(scheme.size()));
}

CCTexturePVR::~CCTexturePVR() {
    if (_name != 0 && !_retainName) glCacheDeleteTexture(_name, _home);
}

platform::Ref<CCTexturePVR> CCTexturePVR::pvrTextureWithContentsOfFile(const std::string& path) {
    auto pvr = platform::make<CCTexturePVR>();
    return pvr->initWithContentsOfFile(path) ? pvr : nullptr;
}

platform::Ref<CCTexturePVR> CCTexturePVR::pvrTextureWithContentsOfURL(const std::string& url) {
    auto pvr = platform::make<CCTexturePVR>();
    return pvr->initWithContentsOfURL(url) ? pvr : nullptr;
}
