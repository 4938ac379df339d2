// One OpenGL ES 2D texture: its GL name, its size in pixels, the size of the picture inside it,
// its pixel format and the fraction of the texture the picture covers. Made from raw pixels,
// a decoded image, a string drawn with a system font, or a PVR file.
#pragma once

#include "core/CCConfiguration.h"
#include "core/CCFileUtils.h"
#include "core/CCGLProgram.h"
#include "platform/GLContext.h"
#include "platform/Geometry.h"
#include "platform/Object.h"

#include <GLES2/gl2.h>

#include <cstdint>
#include <string>

namespace platform {
class Image;
class Font;
} // namespace platform
class CCFontDefinition;

enum CCTexture2DPixelFormat : std::int32_t {
    kCCTexture2DPixelFormat_RGBA8888 = 0,
    kCCTexture2DPixelFormat_RGB888 = 1,
    kCCTexture2DPixelFormat_RGB565 = 2,
    kCCTexture2DPixelFormat_A8 = 3,
    kCCTexture2DPixelFormat_I8 = 4,
    kCCTexture2DPixelFormat_AI88 = 5,
    kCCTexture2DPixelFormat_RGBA4444 = 6,
    kCCTexture2DPixelFormat_RGB5A1 = 7,
    kCCTexture2DPixelFormat_PVRTC4 = 8,
    kCCTexture2DPixelFormat_PVRTC2 = 9,
    kCCTexture2DPixelFormat_Default = kCCTexture2DPixelFormat_RGBA8888,
};

// Horizontal text alignment.
enum CCTextAlignment : std::int32_t {
    kCCTextAlignmentLeft = 0,
    kCCTextAlignmentCenter = 1,
    kCCTextAlignmentRight = 2,
};

// Vertical text alignment; any value but top and bottom centres.
enum CCVerticalTextAlignment : std::int32_t {
    kCCVerticalTextAlignmentTop = 0,
    kCCVerticalTextAlignmentCenter = 1,
    kCCVerticalTextAlignmentBottom = 2,
};

// Line-break modes, handed to the text renderer unchanged.
enum CCLineBreakMode : std::int32_t {
    kCCLineBreakModeWordWrap = 0,
    kCCLineBreakModeCharacterWrap = 1,
    kCCLineBreakModeClip = 2,
    kCCLineBreakModeHeadTruncation = 3,
    kCCLineBreakModeTailTruncation = 4,
    kCCLineBreakModeMiddleTruncation = 5,
};

// GL texture parameters, in this order.
struct _ccTexParams {
    GLuint minFilter;
    GLuint magFilter;
    GLuint wrapS;
    GLuint wrapT;
};
using ccTexParams = _ccTexParams;

class CCTexture2D : public platform::Object {
public:
    CCTexture2D() = default;
    // An empty texture: no GL name, zero sizes.
    bool init() { return true; }

    // The designated initialiser: uploads tightly packed rows of pixelsWide pixels. I8, the
    // PVRTC formats and values outside the enumeration throw NSInternalInconsistencyException
    // (empty reason). Content size is in pixels. Null data leaves the texture uninitialised.
    virtual bool initWithData(const void* data, CCTexture2DPixelFormat pixelFormat, std::uint64_t pixelsWide,
                              std::uint64_t pixelsHigh, CGSize contentSize);
    // Frees a buffer allocated with malloc.
    void releaseData(void* data);
    // Copies nothing: the pointer back.
    void* keepData(void* data, std::uint64_t length);
    ~CCTexture2D() override;
    std::string description() const override;

    // In points: the content size in pixels divided by the content scale factor.
    CGSize contentSize() const;
    CGSize contentSizeInPixels() const { return _size; }
    CCTexture2DPixelFormat pixelFormat() const { return _format; }
    std::uint64_t pixelsWide() const { return _width; }
    std::uint64_t pixelsHigh() const { return _height; }
    GLuint name() const { return _name; }
    // Where the name was made: its share group, whose contexts alone can draw it.
    const platform::GLHome& home() const { return _home; }
    float maxS() const { return _maxS; }
    void setMaxS(float maxS) { _maxS = maxS; }
    float maxT() const { return _maxT; }
    void setMaxT(float maxT) { _maxT = maxT; }
    bool hasPremultipliedAlpha() const { return _hasPremultipliedAlpha; }
    bool hasMipmaps() const { return _hasMipmaps; }
    CCGLProgram* shaderProgram() const { return _shaderProgram.get(); }
    // Retains the program.
    void setShaderProgram(CCGLProgram* program) { _shaderProgram = program; }
    ccResolutionType resolutionType() const { return _resolutionType; }
    void setResolutionType(ccResolutionType type) { _resolutionType = type; }

    // Image: false for a null image or one that would exceed maxTextureSize. A default alpha
    // format other than the 32-bit, 16-bit and A8 ones throws "Invalid pixel format".
    virtual bool initWithCGImage(const platform::Image* image, ccResolutionType resolutionType);

    // Text. Every form answers false when the font is unknown or the texture would exceed
    // maxTextureSize. The plain forms make AI88 textures (white, the text's coverage as
    // alpha); the font-definition form makes RGBA8888 when it has a shadow or a stroke.
    virtual bool initWithString(const std::string& string, const CCFontDefinition* fontDef);
    virtual bool initWithString(const std::string& string, CGSize dimensions, CCTextAlignment hAlignment,
                                CCVerticalTextAlignment vAlignment, CCLineBreakMode lineBreakMode,
                                const platform::Font* font);
    virtual bool initWithString(const std::string& string, const std::string& fontName, float fontSize);
    virtual bool initWithString(const std::string& string, const std::string& fontName, float fontSize,
                                CGSize dimensions, CCTextAlignment hAlignment,
                                CCVerticalTextAlignment vAlignment);
    virtual bool initWithString(const std::string& string, const std::string& fontName, float fontSize,
                                CGSize dimensions, CCTextAlignment hAlignment,
                                CCVerticalTextAlignment vAlignment, CCLineBreakMode lineBreakMode);

    // PVR: the file is found through the file utilities; false when it cannot be loaded.
    virtual bool initWithPVRFile(const std::string& file);
    // Whether PVR files without their own premultiplication flag hold premultiplied alpha.
    static void PVRImagesHavePremultipliedAlpha(bool haveAlphaPremultiplied);

    // Immediate drawing with the texture's program and the current matrices (one draw call).
    void drawAtPoint(CGPoint point);
    void drawInRect(CGRect rect);

    // Filters. The mipmap filters need mipmaps (generateMipmap or a PVR with levels).
    void generateMipmap();
    void setTexParameters(const ccTexParams* texParams);
    void setTexParameters(const ccTexParams& texParams) { setTexParameters(&texParams); }
    void setAliasTexParameters();
    void setAntiAliasTexParameters();

    // Pixel formats.
    std::uint64_t bitsPerPixelForFormat() const { return bitsPerPixelForFormat(_format); }
    // "RGBA8888" ... "PVRTC2"; empty for a value outside the enumeration.
    std::string stringForFormat() const;
    // The format images with alpha become (RGBA8888 at start).
    static void setDefaultAlphaPixelFormat(CCTexture2DPixelFormat format);
    static CCTexture2DPixelFormat defaultAlphaPixelFormat();
    // All ones for a value outside the enumeration.
    static std::uint64_t bitsPerPixelForFormat(CCTexture2DPixelFormat format);
    // The format's name, empty for a value outside the enumeration.
    static std::string stringForFormat(CCTexture2DPixelFormat format);

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // Top aligned.
    bool initWithString(const std::string& string, CGSize dimensions, CCTextAlignment alignment,
                        CCLineBreakMode lineBreakMode, const std::string& fontName, float fontSize) {
        return initWithString(string, fontName, fontSize, dimensions, alignment, kCCVerticalTextAlignmentTop,
                              lineBreakMode);
    }
    bool initWithString(const std::string& string, CGSize dimensions, CCTextAlignment alignment,
                        const std::string& fontName, float fontSize) {
        return initWithString(string, fontName, fontSize, dimensions, alignment, kCCVerticalTextAlignmentTop);
    }

private:
    // A render texture's capture holds premultiplied colours, and says so.
    friend class CCRenderTexture;

    bool initWithGrayBitmap(std::uint8_t* buffer, std::uint64_t textureWidth, std::uint64_t textureHeight,
                            CGSize contentSize);

    GLuint _name = 0;
    platform::GLHome _home; // where the name was made
    CGSize _size{0, 0};
    std::uint64_t _width = 0;
    std::uint64_t _height = 0;
    CCTexture2DPixelFormat _format = kCCTexture2DPixelFormat_Default;
    float _maxS = 0;
    float _maxT = 0;
    bool _hasPremultipliedAlpha = false;
    bool _hasMipmaps = false;
    ccResolutionType _resolutionType = kCCResolutionUnknown;
    platform::Ref<CCGLProgram> _shaderProgram;
};

// The process-wide values making a texture reads: the default alpha format, the PVR
// premultiplication default, the program textures draw with and the GL limits. A background
// load takes them on the director's thread when it is queued and makes them its thread's while
// it runs, so that switching the class-wide values meanwhile does not change what it loads and
// the loader thread never builds or reaches the shared caches.
struct CCTextureLoadSettings {
    CCTexture2DPixelFormat defaultAlphaPixelFormat = kCCTexture2DPixelFormat_Default;
    bool PVRImagesHavePremultipliedAlpha = false;
    platform::Ref<CCGLProgram> program; // kCCShader_PositionTexture
    platform::Ref<CCConfiguration> configuration;

    // The values now, read on the director's thread; builds the shader cache when there is none.
    static CCTextureLoadSettings current();
    // The configuration texture code on the calling thread reads: that of the settings a
    // CCTextureLoadScope made current here, else the shared one.
    static CCConfiguration* configurationForThisThread();
};

// Makes the settings the calling thread's for the scope's life (they must outlive it).
class CCTextureLoadScope {
public:
    explicit CCTextureLoadScope(const CCTextureLoadSettings& settings);
    ~CCTextureLoadScope();
    CCTextureLoadScope(const CCTextureLoadScope&) = delete;
    CCTextureLoadScope& operator=(const CCTextureLoadScope&) = delete;

private:
    const CCTextureLoadSettings* _previous;
};

// Image pixel conversion from R, G, B, A bytes, kept apart from GL so loaders and tests can
// use it: RGB888 keeps three bytes; RGB565, RGBA4444 and RGB5A1 pack host-order 16-bit values
// by truncation (no dithering); RGB5A1 is all zero where alpha is below 128. Writes
// pixelCount pixels of the format into out; false for any other format.
bool ccConvertRGBA8888(const std::uint8_t* rgba, std::uint64_t pixelCount, CCTexture2DPixelFormat format,
                       void* out);
