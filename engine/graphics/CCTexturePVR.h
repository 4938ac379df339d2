// PVR texture files (versions 2 and 3), plain or as ".pvr.gz" and ".pvr.ccz": the pixel data
// cut into mipmap levels and uploaded into one new GL texture. Every size in a file is checked
// against the file before anything is read or uploaded; a bad file makes a clean failure.
#pragma once

#include "graphics/CCTexture2D.h"
#include "platform/Object.h"

#include <GLES2/gl2.h>

#include <cstddef>
#include <cstdint>
#include <string>

// The most mipmap levels a file may have.
inline constexpr std::size_t CC_PVRMIPMAP_MAX = 16;

struct CCPVRMipmap {
    const unsigned char* address = nullptr; // into the file data, valid while loading
    std::uint32_t len = 0;
};

struct _ccPVRTexturePixelFormatInfo {
    GLenum internalFormat;
    GLenum format; // 0xFFFFFFFF for compressed formats
    GLenum type;   // 0xFFFFFFFF for compressed formats
    std::uint32_t bpp;
    bool compressed;
    bool alpha;
    CCTexture2DPixelFormat ccPixelFormat;
};
using ccPVRTexturePixelFormatInfo = _ccPVRTexturePixelFormatInfo;

class CCTexturePVR : public platform::Object {
public:
    CCTexturePVR() = default;

    // Parse a file image in memory and cut its levels (pointers into data). False for a file
    // that is not of that version, a format outside the tables, or sizes the file does not
    // hold. A last level shorter than its size is kept cut short; createGLTexture refuses it.
    bool unpackPVRv2Data(const unsigned char* data, std::size_t len);
    bool unpackPVRv3Data(const unsigned char* data, std::size_t len);
    // Uploads the levels cut last; needs a current GL context and the file data still alive.
    bool createGLTexture();

    virtual bool initWithContentsOfFile(const std::string& path);
    // Only "file://" URLs.
    virtual bool initWithContentsOfURL(const std::string& url);
    ~CCTexturePVR() override;

    GLuint name() const { return _name; }
    std::uint32_t width() const { return _width; }
    std::uint32_t height() const { return _height; }
    bool hasAlpha() const { return _hasAlpha; }
    bool hasPremultipliedAlpha() const { return _hasPremultipliedAlpha; }
    // Whether the file's own flag decides premultiplication (version 3 files).
    bool forcePremultipliedAlpha() const { return _forcePremultipliedAlpha; }
    std::uint64_t numberOfMipmaps() const { return _numberOfMipmaps; }
    // When set, the GL name outlives this object (a texture has taken it over).
    bool retainName() const { return _retainName; }
    void setRetainName(bool retainName) { _retainName = retainName; }
    CCTexture2DPixelFormat format() const { return _format; }
    // The levels cut by the last unpack; addresses are cleared once loading ends.
    const CCPVRMipmap* mipmaps() const { return _mipmaps; }
    const ccPVRTexturePixelFormatInfo* pixelFormatInfo() const { return _pixelFormatInfo; }

    static platform::Ref<CCTexturePVR> pvrTextureWithContentsOfFile(const std::string& path);
    static platform::Ref<CCTexturePVR> pvrTextureWithContentsOfURL(const std::string& url);

    // Bytes of one level of w x h pixels: compressed formats take at least 2 x 2 blocks,
    // uncompressed ones exactly w x h x bpp / 8. False when it would not fit in 32 bits.
    static bool levelSize(const ccPVRTexturePixelFormatInfo* info, std::uint32_t w, std::uint32_t h,
                          std::uint32_t* bytes);

private:
    void reset();
    // Cuts one level of w x h from data + offset, limited to end; false when the size does not fit.
    bool cutLevel(const unsigned char* data, std::size_t end, std::size_t* offset, std::uint32_t w,
                  std::uint32_t h);

    CCPVRMipmap _mipmaps[CC_PVRMIPMAP_MAX];
    std::uint64_t _numberOfMipmaps = 0;
    std::uint32_t _width = 0;
    std::uint32_t _height = 0;
    GLuint _name = 0;
    platform::GLHome _home; // where the name was made
    bool _hasAlpha = false;
    bool _hasPremultipliedAlpha = false;
    bool _forcePremultipliedAlpha = false;
    bool _retainName = false;
    CCTexture2DPixelFormat _format = kCCTexture2DPixelFormat_Default;
    const ccPVRTexturePixelFormatInfo* _pixelFormatInfo = nullptr;
};
