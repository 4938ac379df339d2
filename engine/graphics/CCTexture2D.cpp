#include "graphics/CCTexture2D.h"

#include "core/CCConfiguration.h"
#include "core/CCDirector.h"
#include "core/CCPointExtension.h"
#include "core/CCShaderCache.h"
#include "core/ccGLStateCache.h"
#include "graphics/CCFontDefinition.h"
#include "graphics/CCTexturePVR.h"
#include "platform/Device.h"
#include "platform/Exception.h"
#include "platform/Format.h"
#include "platform/GLCheck.h"
#include "platform/Image.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/TextRenderer.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

CCTexture2DPixelFormat defaultAlphaPixelFormat_ = kCCTexture2DPixelFormat_Default;
bool PVRHaveAlphaPremultiplied_ = false;
// The settings of the background load running on this thread, if any.
thread_local const CCTextureLoadSettings* loadSettings_ = nullptr;

CCTexture2DPixelFormat alphaPixelFormatForLoading() {
    return loadSettings_ ? loadSettings_->defaultAlphaPixelFormat : defaultAlphaPixelFormat_;
}

bool PVRHaveAlphaPremultipliedForLoading() {
    return loadSettings_ ? loadSettings_->PVRImagesHavePremultipliedAlpha : PVRHaveAlphaPremultiplied_;
}

CCGLProgram* positionTextureProgram() {
    if (loadSettings_) return loadSettings_->program.get();
    return CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionTexture);
}

struct FreeDeleter {
    void operator()(void* p) const noexcept { std::free(p); }
};
using Buffer = std::unique_ptr<std::uint8_t, FreeDeleter>;

// Rows whose byte count is a multiple of 4 read with alignment 4; any other row must be read
// with 1, or GL would skip bytes at each row's end and read past the buffer.
GLint unpackAlignmentForRow(std::uint64_t rowBytes) {
    return rowBytes % 4 == 0 ? 4 : 1;
}

// A texture side from a size in pixels: false for negative, NaN or sides GL cannot hold.
bool textureSide(double value, std::uint64_t limit, std::uint64_t* side) {
    if (!(value >= 0) || value > double(limit)) return false;
    *side = std::uint64_t(value);
    return true;
}

std::uint64_t maxTextureSide() {
    std::int32_t max = CCTextureLoadSettings::configurationForThisThread()->maxTextureSize();
    return max > 0 ? std::uint64_t(max) : 0;
}

platform::TextAlignment textAlignment(std::int32_t alignment) {
    switch (alignment) {
    case kCCTextAlignmentCenter:
        return platform::TextAlignment::Center;
    case kCCTextAlignmentRight:
        return platform::TextAlignment::Right;
    default:
        return platform::TextAlignment::Left;
    }
}

platform::LineBreakMode lineBreak(std::int32_t mode) {
    return mode >= 0 && mode <= 5 ? platform::LineBreakMode(mode) : platform::LineBreakMode::WordWrap;
}

// The size of a string laid out without limits, a zero side counted as 1.
CGSize measureUnconstrained(const std::string& string, const platform::Font* font) {
    CGSize size = platform::TextRenderer::sizeWithFont(string, font, CGSizeMake(DBL_MAX, DBL_MAX),
                                                       platform::LineBreakMode::WordWrap);
    if (size.width == 0) size.width = 1;
    if (size.height == 0) size.height = 1;
    return size;
}

// The font by name and size, or null when there is none (the font lookup logs an unknown name
// once).
platform::Ref<platform::Font> namedFont(const std::string& name, double size) {
    return platform::TextRenderer::fontWithName(name, size);
}

platform::TextColor textColor(const _ccColor3B& c) {
    return platform::TextColor{c.r / 255.0f, c.g / 255.0f, c.b / 255.0f, 1.0f};
}

} // namespace

bool ccConvertRGBA8888(const std::uint8_t* rgba, std::uint64_t pixelCount, CCTexture2DPixelFormat format,
                       void* out) {
    const std::uint8_t* in = rgba;
    switch (format) {
    case kCCTexture2DPixelFormat_RGB888: {
        auto* o = static_cast<std::uint8_t*>(out);
        for (std::uint64_t i = 0; i < pixelCount; ++i, in += 4, o += 3)
            o[0] = in[0], o[1] = in[1], o[2] = in[2];
        return true;
    }
    case kCCTexture2DPixelFormat_RGB565: {
        auto* o = static_cast<std::uint16_t*>(out);
        for (std::uint64_t i = 0; i < pixelCount; ++i, in += 4)
            o[i] = std::uint16_t((in[0] >> 3) << 11 | (in[1] >> 2) << 5 | (in[2] >> 3));
        return true;
    }
    case kCCTexture2DPixelFormat_RGBA4444: {
        auto* o = static_cast<std::uint16_t*>(out);
        for (std::uint64_t i = 0; i < pixelCount; ++i, in += 4)
            o[i] = std::uint16_t((in[0] >> 4) << 12 | (in[1] >> 4) << 8 | (in[2] >> 4) << 4 | (in[3] >> 4));
        return true;
    }
    case kCCTexture2DPixelFormat_RGB5A1: {
        auto* o = static_cast<std::uint16_t*>(out);
        for (std::uint64_t i = 0; i < pixelCount; ++i, in += 4)
            o[i] = in[3] >= 128
                       ? std::uint16_t((in[0] >> 3) << 11 | (in[1] >> 3) << 6 | (in[2] >> 3) << 1 | 1)
                       : 0;
        return true;
    }
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------------------------
// Core

bool CCTexture2D::initWithData(const void* data, CCTexture2DPixelFormat pixelFormat, std::uint64_t pixelsWide,
                               std::uint64_t pixelsHigh, CGSize contentSize) {
    GLint internalFormat;
    GLenum format, type;
    switch (pixelFormat) {
    case kCCTexture2DPixelFormat_RGBA8888:
        internalFormat = GL_RGBA, format = GL_RGBA, type = GL_UNSIGNED_BYTE;
        break;
    case kCCTexture2DPixelFormat_RGB888:
        internalFormat = GL_RGB, format = GL_RGB, type = GL_UNSIGNED_BYTE;
        break;
    case kCCTexture2DPixelFormat_RGB565:
        internalFormat = GL_RGB, format = GL_RGB, type = GL_UNSIGNED_SHORT_5_6_5;
        break;
    case kCCTexture2DPixelFormat_A8:
        internalFormat = GL_ALPHA, format = GL_ALPHA, type = GL_UNSIGNED_BYTE;
        break;
    case kCCTexture2DPixelFormat_AI88:
        internalFormat = GL_LUMINANCE_ALPHA, format = GL_LUMINANCE_ALPHA, type = GL_UNSIGNED_BYTE;
        break;
    case kCCTexture2DPixelFormat_RGBA4444:
        internalFormat = GL_RGBA, format = GL_RGBA, type = GL_UNSIGNED_SHORT_4_4_4_4;
        break;
    case kCCTexture2DPixelFormat_RGB5A1:
        internalFormat = GL_RGBA, format = GL_RGBA, type = GL_UNSIGNED_SHORT_5_5_5_1;
        break;
    default:
        throw platform::Exception(platform::NSInternalInconsistencyException, "");
    }

    // GL would take a side it cannot hold with no more than an error flag, and a zero side makes
    // the coordinate ranges NaN: refuse both before anything is uploaded.
    const std::uint64_t maxSide = maxTextureSide();
    if (pixelsWide == 0 || pixelsHigh == 0 || pixelsWide > maxSide || pixelsHigh > maxSide) {
        CCLOG("Texture2D: cannot make a texture of %lu x %lu pixels (the largest side is %lu)",
              static_cast<unsigned long>(pixelsWide), static_cast<unsigned long>(pixelsHigh),
              static_cast<unsigned long>(maxSide));
        return false;
    }

    // Bytes a pixel as uploaded (RGB888 is 3 here, whatever its nominal bit count).
    const std::uint64_t bytesPerPixel = pixelFormat == kCCTexture2DPixelFormat_RGBA8888 ? 4
                                        : pixelFormat == kCCTexture2DPixelFormat_RGB888 ? 3
                                        : pixelFormat == kCCTexture2DPixelFormat_A8     ? 1
                                                                                        : 2;
    glCheck(glPixelStorei(GL_UNPACK_ALIGNMENT, unpackAlignmentForRow(pixelsWide * bytesPerPixel)));

    if (_name != 0) glCacheDeleteTexture(_name, _home);
    _name = 0;
    glCacheDeleteWaitingFirst();
    glCheck(glGenTextures(1, &_name));
    _home = platform::GLHome::current();
    // The name may be one deleted elsewhere that the state cache still holds bound.
    glCacheFollowDeletions();
    glCacheBindTexture2D(_name);
    glCheck(glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR));
    glCheck(glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR));
    glCheck(glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE));
    glCheck(glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE));
    glCheck(glTexImage2D(GL_TEXTURE_2D, 0, internalFormat, GLsizei(pixelsWide), GLsizei(pixelsHigh), 0,
                         format, type, data));

    _size = contentSize;
    _width = pixelsWide;
    _height = pixelsHigh;
    _format = pixelFormat;
    _maxS = float(contentSize.width / double(pixelsWide));
    _maxT = float(contentSize.height / double(pixelsHigh));
    _hasPremultipliedAlpha = false;
    _hasMipmaps = false;
    _resolutionType = kCCResolutionUnknown;
    _shaderProgram = positionTextureProgram();
    return true;
}

void CCTexture2D::releaseData(void* data) {
    std::free(data);
}

void* CCTexture2D::keepData(void* data, std::uint64_t) {
    return data;
}

CCTexture2D::~CCTexture2D() {
    _shaderProgram = nullptr;
    if (_name != 0) glCacheDeleteTexture(_name, _home);
}

std::string CCTexture2D::description() const {
    std::string formatName = stringForFormat();
    return platform::format(
        "<%s = %p | Name = %i | Dimensions = %lux%lu | Pixel format = %s | Coordinates = (%.2f, "
        "%.2f)>",
        className(), this, int(_name), static_cast<unsigned long>(_width),
        static_cast<unsigned long>(_height), formatName.empty() ? "(null)" : formatName.c_str(),
        double(_maxS), double(_maxT));
}

CGSize CCTexture2D::contentSize() const {
    const double scale = platform::contentScaleFactor();
    return CGSizeMake(_size.width / scale, _size.height / scale);
}

// ---------------------------------------------------------------------------------------------
// Image

bool CCTexture2D::initWithCGImage(const platform::Image* image, ccResolutionType resolutionType) {
    if (!image) {
        CCLOG("Texture2D: cannot make a texture of a null image");
        return false;
    }
    CCConfiguration* conf = CCTextureLoadSettings::configurationForThisThread();
    const CCTexture2DPixelFormat defaultAlphaFormat = alphaPixelFormatForLoading();

    const platform::ImageAlphaInfo info = image->alphaInfo();
    platform::BitmapFormat bitmapFormat;
    bool premultiplied = false;
    CCTexture2DPixelFormat pixelFormat;
    if (!image->hasColorSpace()) {
        pixelFormat = kCCTexture2DPixelFormat_A8;
        bitmapFormat = platform::BitmapFormat::Alpha8;
    } else {
        const std::int32_t alpha = std::int32_t(info);
        bool hasAlpha = alpha >= 1 && alpha <= 4;
        if ((conf->OSVersion() >> 24) == 4 && info == platform::ImageAlphaInfo::NoneSkipLast) hasAlpha = true;
        if (hasAlpha) {
            pixelFormat = defaultAlphaFormat;
            bitmapFormat = platform::BitmapFormat::RGBAPremultiplied;
            premultiplied = true;
        } else {
            pixelFormat = defaultAlphaFormat == kCCTexture2DPixelFormat_RGBA8888
                              ? kCCTexture2DPixelFormat_RGBA8888
                              : kCCTexture2DPixelFormat_RGB565;
            bitmapFormat = platform::BitmapFormat::RGBX;
        }
    }

    bool fourBytes;
    switch (pixelFormat) {
    case kCCTexture2DPixelFormat_RGBA8888:
    case kCCTexture2DPixelFormat_RGB888:
    case kCCTexture2DPixelFormat_RGB565:
    case kCCTexture2DPixelFormat_RGBA4444:
    case kCCTexture2DPixelFormat_RGB5A1:
        fourBytes = true;
        break;
    case kCCTexture2DPixelFormat_A8:
        fourBytes = false;
        bitmapFormat = platform::BitmapFormat::Alpha8;
        premultiplied = false; // an alpha-only bitmap
        break;
    default:
        throw platform::Exception(platform::NSInternalInconsistencyException, "Invalid pixel format");
    }

    const std::uint64_t imageWidth = image->width(), imageHeight = image->height();
    std::uint64_t textureWidth = imageWidth, textureHeight = imageHeight;
    if (!conf->supportsNPOT()) {
        textureWidth = nextPowerOfTwo(imageWidth);
        textureHeight = nextPowerOfTwo(imageHeight);
    }

    if ((conf->OSVersion() >> 24) >= 5) {
        const std::uint32_t bitsPerPixel = std::uint32_t(bitsPerPixelForFormat(pixelFormat));
        const std::uint32_t bytesPerRow = std::uint32_t(textureWidth) * bitsPerPixel / 8;
        if (bytesPerRow % 4 != 0) textureWidth += (4 - bytesPerRow % 4) / (bitsPerPixel / 8);
    }

    const std::uint64_t maxSide = maxTextureSide();
    if (textureWidth > maxSide || textureHeight > maxSide) {
        CCLOG("Texture2D: image (%lu x %lu) is bigger than the supported %lu x %lu",
              static_cast<unsigned long>(textureWidth), static_cast<unsigned long>(textureHeight),
              static_cast<unsigned long>(maxSide), static_cast<unsigned long>(maxSide));
        return false;
    }

    const std::uint64_t pixelCount = textureWidth * textureHeight;
    const std::uint64_t bitmapRow = textureWidth * (fourBytes ? 4 : 1);
    Buffer bitmap(
        static_cast<std::uint8_t*>(std::malloc(std::max<std::uint64_t>(bitmapRow * textureHeight, 1))));
    if (!bitmap || !image->drawInBitmap(bitmap.get(), textureWidth, textureHeight, bitmapRow, bitmapFormat)) {
        CCLOG("Texture2D: cannot draw the image into a bitmap");
        return false;
    }

    Buffer converted;
    const void* pixels = bitmap.get();
    if (pixelFormat != kCCTexture2DPixelFormat_RGBA8888 && pixelFormat != kCCTexture2DPixelFormat_A8) {
        const std::uint64_t outBytes = pixelCount * (pixelFormat == kCCTexture2DPixelFormat_RGB888 ? 3 : 2);
        converted.reset(static_cast<std::uint8_t*>(std::malloc(std::max<std::uint64_t>(outBytes, 1))));
        if (!converted) return false;
        ccConvertRGBA8888(bitmap.get(), pixelCount, pixelFormat, converted.get());
        bitmap.reset();
        pixels = converted.get();
    }

    if (!initWithData(pixels, pixelFormat, textureWidth, textureHeight,
                      CGSizeMake(double(imageWidth), double(imageHeight))))
        return false;
    _hasPremultipliedAlpha = premultiplied;
    _resolutionType = resolutionType;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Text

// Turns a grey coverage bitmap (one byte a pixel, in the first half of the buffer) into white
// AI88 pixels in place, from the last pixel back, and uploads it.
bool CCTexture2D::initWithGrayBitmap(std::uint8_t* buffer, std::uint64_t textureWidth,
                                     std::uint64_t textureHeight, CGSize contentSize) {
    const std::uint64_t count = textureWidth * textureHeight;
    for (std::uint64_t i = count; i-- > 0;) {
        const std::uint8_t g = buffer[i];
        buffer[2 * i] = 255;
        buffer[2 * i + 1] = g;
    }
    return initWithData(buffer, kCCTexture2DPixelFormat_AI88, textureWidth, textureHeight, contentSize);
}

bool CCTexture2D::initWithString(const std::string& string, CGSize dimensions, CCTextAlignment hAlignment,
                                 CCVerticalTextAlignment vAlignment, CCLineBreakMode lineBreakMode,
                                 const platform::Font* font) {
    if (!font) return false;
    const std::uint64_t maxSide = maxTextureSide();
    std::uint64_t width, height;
    if (!textureSide(dimensions.width, maxSide, &width) ||
        !textureSide(dimensions.height, maxSide, &height)) {
        CCLOG("Texture2D: text dimensions %g x %g exceed the largest texture", dimensions.width,
              dimensions.height);
        return false;
    }
    const std::uint64_t textureWidth = nextPowerOfTwo(width), textureHeight = nextPowerOfTwo(height);
    if (textureWidth == 0 || textureHeight == 0 || textureWidth > maxSide || textureHeight > maxSide) {
        CCLOG("Texture2D: a text texture of %lu x %lu cannot be made",
              static_cast<unsigned long>(textureWidth), static_cast<unsigned long>(textureHeight));
        return false;
    }

    Buffer buffer(static_cast<std::uint8_t*>(std::calloc(textureWidth * textureHeight, 2)));
    if (!buffer) return false;

    const platform::LineBreakMode mode = lineBreak(lineBreakMode);
    double y = 0, rectHeight = dimensions.height;
    if (vAlignment != kCCVerticalTextAlignmentTop) {
        const CGSize measured = platform::TextRenderer::sizeWithFont(string, font, dimensions, mode);
        const double free = dimensions.height - measured.height;
        y = vAlignment == kCCVerticalTextAlignmentBottom ? free : free / 2;
        rectHeight = measured.height;
    }

    platform::TextStyle style; // white fill
    const platform::TextBitmap target{buffer.get(), textureWidth, textureHeight, textureWidth,
                                      platform::TextBitmapFormat::Gray8};
    platform::TextRenderer::drawInRect(string, font, CGRectMake(0, y, dimensions.width, rectHeight), mode,
                                       textAlignment(hAlignment), style, target);
    return initWithGrayBitmap(buffer.get(), textureWidth, textureHeight, dimensions);
}

bool CCTexture2D::initWithString(const std::string& string, const std::string& fontName, float fontSize) {
    platform::Ref<platform::Font> font = namedFont(fontName, fontSize);
    if (!font) return false;
    const CGSize dimensions = measureUnconstrained(string, font.get());
    return initWithString(string, dimensions, kCCTextAlignmentCenter, kCCVerticalTextAlignmentTop,
                          kCCLineBreakModeWordWrap, font.get());
}

bool CCTexture2D::initWithString(const std::string& string, const std::string& fontName, float fontSize,
                                 CGSize dimensions, CCTextAlignment hAlignment,
                                 CCVerticalTextAlignment vAlignment) {
    return initWithString(string, fontName, fontSize, dimensions, hAlignment, vAlignment,
                          kCCLineBreakModeWordWrap);
}

bool CCTexture2D::initWithString(const std::string& string, const std::string& fontName, float fontSize,
                                 CGSize dimensions, CCTextAlignment hAlignment,
                                 CCVerticalTextAlignment vAlignment, CCLineBreakMode lineBreakMode) {
    platform::Ref<platform::Font> font = namedFont(fontName, fontSize);
    if (!font) return false;
    return initWithString(string, dimensions, hAlignment, vAlignment, lineBreakMode, font.get());
}

bool CCTexture2D::initWithString(const std::string& string, const CCFontDefinition* fontDef) {
    if (!fontDef) return false;
    platform::Ref<platform::Font> font = namedFont(fontDef->fontName(), fontDef->fontSize());
    if (!font) return false;
    const std::uint64_t maxSide = maxTextureSide();

    // Size of the drawing and of the texture before padding.
    const CGSize dimensions = fontDef->dimensions();
    double drawWidth, drawHeight;
    std::uint64_t textureWidth, textureHeight;
    if (dimensions.width != 0 && dimensions.height != 0) {
        std::uint64_t w, h;
        if (!textureSide(dimensions.width, maxSide, &w) || !textureSide(dimensions.height, maxSide, &h)) {
            CCLOG("Texture2D: text dimensions %g x %g exceed the largest texture", dimensions.width,
                  dimensions.height);
            return false;
        }
        textureWidth = nextPowerOfTwo(w);
        textureHeight = nextPowerOfTwo(h);
        drawWidth = dimensions.width;
        drawHeight = dimensions.height;
    } else {
        const CGSize measured = measureUnconstrained(string, font.get());
        if (!textureSide(measured.width, maxSide, &textureWidth) ||
            !textureSide(measured.height, maxSide, &textureHeight)) {
            CCLOG("Texture2D: text of %g x %g exceeds the largest texture", measured.width, measured.height);
            return false;
        }
        drawWidth = measured.width;
        drawHeight = measured.height;
    }

    // Room for the stroke and the shadow.
    const bool stroke = fontDef->strokeEnabled(), shadow = fontDef->shadowEnabled();
    const std::uint64_t strokePad =
        stroke ? std::uint64_t(std::max(0.0, std::ceil(fontDef->strokeSize()))) : 0;
    std::uint64_t hPad = strokePad, vPad = strokePad;
    const CGSize offset = fontDef->shadowOffset();
    if (shadow) {
        hPad = std::max<std::uint64_t>(strokePad,
                                       std::uint64_t(std::llabs(static_cast<long long>(offset.width))));
        vPad = std::max<std::uint64_t>(strokePad,
                                       std::uint64_t(std::llabs(static_cast<long long>(offset.height))));
    }
    if (strokePad > maxSide || hPad > maxSide || vPad > maxSide) return false;
    textureWidth += hPad;
    textureHeight += vPad;
    if (textureWidth == 0 || textureHeight == 0 || textureWidth > maxSide || textureHeight > maxSide) {
        CCLOG("Texture2D: a text texture of %lu x %lu cannot be made",
              static_cast<unsigned long>(textureWidth), static_cast<unsigned long>(textureHeight));
        return false;
    }

    const bool fullColor = shadow || stroke;
    const std::uint64_t bytesPerPixel = fullColor ? 4 : 2;
    Buffer buffer(static_cast<std::uint8_t*>(std::calloc(textureWidth * textureHeight, bytesPerPixel)));
    if (!buffer) return false;

    platform::TextStyle style;
    if (fullColor) style.fillColor = textColor(fontDef->fontFillColor());
    if (stroke) {
        style.strokeEnabled = true;
        style.strokeColor = textColor(fontDef->strokeColor());
        style.strokeWidth = fontDef->strokeSize();
    }
    if (shadow) {
        style.shadowEnabled = true;
        style.shadowOffset = offset;
        style.shadowBlur = fontDef->shadowBlur();
    }

    // The drawing's origin sits vPad rows down the bitmap, moved so the shadow has its room.
    double x = offset.width < 0 ? double(hPad) : 0;
    double y = offset.height < 0 ? -double(vPad) : 0;
    double height = drawHeight;
    const platform::LineBreakMode mode = lineBreak(fontDef->lineBreakMode());
    if (fontDef->vertAlignment() != kCCVerticalTextAlignmentTop) {
        const CGSize measured =
            platform::TextRenderer::sizeWithFont(string, font.get(), CGSizeMake(drawWidth, drawHeight), mode);
        const double free = drawHeight - measured.height;
        y += fontDef->vertAlignment() == kCCVerticalTextAlignmentBottom ? free : free / 2;
        height = measured.height;
    }

    const platform::TextBitmap target{
        buffer.get(), textureWidth, textureHeight, textureWidth * (fullColor ? 4 : 1),
        fullColor ? platform::TextBitmapFormat::RGBAPremultiplied : platform::TextBitmapFormat::Gray8};
    platform::TextRenderer::drawInRect(string, font.get(), CGRectMake(x, y + double(vPad), drawWidth, height),
                                       mode, textAlignment(fontDef->alignment()), style, target);

    if (fullColor)
        return initWithData(buffer.get(), kCCTexture2DPixelFormat_RGBA8888, textureWidth, textureHeight,
                            CGSizeMake(double(textureWidth), double(textureHeight)));
    return initWithGrayBitmap(buffer.get(), textureWidth, textureHeight, CGSizeMake(drawWidth, drawHeight));
}

// ---------------------------------------------------------------------------------------------
// PVR

bool CCTexture2D::initWithPVRFile(const std::string& file) {
    ccResolutionType resolution = kCCResolutionUnknown;
    // An absolute path needs no look-up, so a background load never reaches the file utilities.
    const std::string fullpath = platform::Paths::isAbsolutePath(file)
                                     ? file
                                     : CCFileUtils::sharedFileUtils()->fullPathForFilename(file, &resolution);
    if (fullpath.empty()) {
        CCLOG("Texture2D: cannot find PVR file %s", file);
        return false;
    }
    platform::Ref<CCTexturePVR> pvr = CCTexturePVR::pvrTextureWithContentsOfFile(fullpath);
    if (!pvr) {
        CCLOG("Texture2D: could not load PVR file %s", fullpath);
        return false;
    }
    // A file of no levels loads, but leaves no GL texture to draw with.
    if (pvr->name() == 0) {
        CCLOG("Texture2D: PVR file %s holds no image", fullpath);
        return false;
    }
    pvr->setRetainName(true);
    if (_name != 0) glCacheDeleteTexture(_name, _home);
    _name = pvr->name();
    _home = platform::GLHome::current();
    _maxS = _maxT = 1.0f;
    _width = pvr->width();
    _height = pvr->height();
    _size = CGSizeMake(double(_width), double(_height));
    _hasPremultipliedAlpha =
        pvr->forcePremultipliedAlpha() ? pvr->hasPremultipliedAlpha() : PVRHaveAlphaPremultipliedForLoading();
    _format = pvr->format();
    _hasMipmaps = pvr->numberOfMipmaps() > 1;
    _resolutionType = resolution;
    // Drawn like every other texture.
    _shaderProgram = positionTextureProgram();
    return true;
}

void CCTexture2D::PVRImagesHavePremultipliedAlpha(bool haveAlphaPremultiplied) {
    PVRHaveAlphaPremultiplied_ = haveAlphaPremultiplied;
}

// ---------------------------------------------------------------------------------------------
// Drawing

namespace {

void drawQuad(CCTexture2D* texture, const GLfloat vertices[8], const GLfloat coordinates[8]) {
    CCGLProgram* program = texture->shaderProgram();
    if (!program) return;
    glCacheEnableVertexAttribs(kCCVertexAttribFlag_Position | kCCVertexAttribFlag_TexCoords);
    program->use();
    program->setUniformsForBuiltins();
    glCacheBindTexture2D(texture->name());
    glCheck(glVertexAttribPointer(kCCVertexAttrib_Position, 2, GL_FLOAT, GL_FALSE, 0, vertices));
    glCheck(glVertexAttribPointer(kCCVertexAttrib_TexCoords, 2, GL_FLOAT, GL_FALSE, 0, coordinates));
    glCheck(glDrawArrays(GL_TRIANGLE_STRIP, 0, 4));
    ++drawCallCounter;
}

} // namespace

void CCTexture2D::drawAtPoint(CGPoint point) {
    const GLfloat coordinates[] = {0.0f, _maxT, _maxS, _maxT, 0.0f, 0.0f, _maxS, 0.0f};
    const GLfloat width = GLfloat(double(_width) * double(_maxS));
    const GLfloat height = GLfloat(double(_height) * double(_maxT));
    const GLfloat x = GLfloat(point.x), y = GLfloat(point.y);
    const GLfloat vertices[] = {x, y, width + x, y, x, height + y, width + x, height + y};
    drawQuad(this, vertices, coordinates);
}

void CCTexture2D::drawInRect(CGRect rect) {
    const GLfloat coordinates[] = {0.0f, _maxT, _maxS, _maxT, 0.0f, 0.0f, _maxS, 0.0f};
    const GLfloat x0 = GLfloat(rect.origin.x), y0 = GLfloat(rect.origin.y);
    const GLfloat x1 = GLfloat(rect.origin.x + rect.size.width),
                  y1 = GLfloat(rect.origin.y + rect.size.height);
    const GLfloat vertices[] = {x0, y0, x1, y0, x0, y1, x1, y1};
    drawQuad(this, vertices, coordinates);
}

// ---------------------------------------------------------------------------------------------
// Filters

void CCTexture2D::generateMipmap() {
    glCacheBindTexture2D(_name);
    glCheck(glGenerateMipmap(GL_TEXTURE_2D));
    _hasMipmaps = true;
}

void CCTexture2D::setTexParameters(const ccTexParams* texParams) {
    glCacheBindTexture2D(_name);
    glCheck(glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GLint(texParams->minFilter)));
    glCheck(glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GLint(texParams->magFilter)));
    glCheck(glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GLint(texParams->wrapS)));
    glCheck(glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GLint(texParams->wrapT)));
}

void CCTexture2D::setAliasTexParameters() {
    glCacheBindTexture2D(_name);
    glCheck(glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                            _hasMipmaps ? GL_NEAREST_MIPMAP_NEAREST : GL_NEAREST));
    glCheck(glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST));
}

void CCTexture2D::setAntiAliasTexParameters() {
    glCacheBindTexture2D(_name);
    glCheck(glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                            _hasMipmaps ? GL_LINEAR_MIPMAP_NEAREST : GL_LINEAR));
    glCheck(glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR));
}

// ---------------------------------------------------------------------------------------------
// Pixel formats

std::string CCTexture2D::stringForFormat() const {
    return stringForFormat(_format);
}

void CCTexture2D::setDefaultAlphaPixelFormat(CCTexture2DPixelFormat format) {
    defaultAlphaPixelFormat_ = format;
}

CCTexture2DPixelFormat CCTexture2D::defaultAlphaPixelFormat() {
    return defaultAlphaPixelFormat_;
}

CCTextureLoadSettings CCTextureLoadSettings::current() {
    CCTextureLoadSettings settings;
    settings.defaultAlphaPixelFormat = defaultAlphaPixelFormat_;
    settings.PVRImagesHavePremultipliedAlpha = PVRHaveAlphaPremultiplied_;
    settings.program = CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionTexture);
    settings.configuration = CCConfiguration::sharedConfiguration();
    // Read the GL limits now, so the loader thread only reads them.
    settings.configuration->getOpenGLvariables();
    return settings;
}

CCConfiguration* CCTextureLoadSettings::configurationForThisThread() {
    if (loadSettings_ && loadSettings_->configuration) return loadSettings_->configuration.get();
    return CCConfiguration::sharedConfiguration();
}

CCTextureLoadScope::CCTextureLoadScope(const CCTextureLoadSettings& settings) : _previous(loadSettings_) {
    loadSettings_ = &settings;
}

CCTextureLoadScope::~CCTextureLoadScope() {
    loadSettings_ = _previous;
}

std::uint64_t CCTexture2D::bitsPerPixelForFormat(CCTexture2DPixelFormat format) {
    switch (format) {
    case kCCTexture2DPixelFormat_RGBA8888:
    case kCCTexture2DPixelFormat_RGB888:
        return 32;
    case kCCTexture2DPixelFormat_RGB565:
    case kCCTexture2DPixelFormat_AI88:
    case kCCTexture2DPixelFormat_RGBA4444:
    case kCCTexture2DPixelFormat_RGB5A1:
        return 16;
    case kCCTexture2DPixelFormat_A8:
    case kCCTexture2DPixelFormat_I8:
        return 8;
    case kCCTexture2DPixelFormat_PVRTC4:
        return 4;
    case kCCTexture2DPixelFormat_PVRTC2:
        return 2;
    default:
        return ~std::uint64_t(0);
    }
}

std::string CCTexture2D::stringForFormat(CCTexture2DPixelFormat format) {
    switch (format) {
    case kCCTexture2DPixelFormat_RGBA8888:
        return "RGBA8888";
    case kCCTexture2DPixelFormat_RGB888:
        return "RGB888";
    case kCCTexture2DPixelFormat_RGB565:
        return "RGB565";
    case kCCTexture2DPixelFormat_A8:
        return "A8";
    case kCCTexture2DPixelFormat_I8:
        return "I8";
    case kCCTexture2DPixelFormat_AI88:
        return "AI88";
    case kCCTexture2DPixelFormat_RGBA4444:
        return "RGBA4444";
    case kCCTexture2DPixelFormat_RGB5A1:
        return "RGB5A1";
    case kCCTexture2DPixelFormat_PVRTC4:
        return "PVRTC4";
    case kCCTexture2DPixelFormat_PVRTC2:
        return "PVRTC2";
    default:
        return {};
    }
}
