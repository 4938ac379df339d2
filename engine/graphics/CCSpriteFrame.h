// A sprite frame: one picture inside a texture. It names the rectangle that holds the picture,
// whether the picture is stored turned by a quarter turn, and how that stored (trimmed)
// rectangle sits inside the picture's original size. Sprites take their texture rectangle,
// rotation, offset and content size from a frame; animations are sequences of frames.
//
// Every geometry value is kept twice, in points and in pixels (points x the content scale
// factor at the time the value is set).
#pragma once

#include "platform/Geometry.h"
#include "platform/Object.h"

#include <string>

class CCTexture2D;

class CCSpriteFrame : public platform::Object {
public:
    // A frame of a texture, rect in points; no rotation, no offset, original size = rect size.
    static platform::Ref<CCSpriteFrame> frameWithTexture(CCTexture2D* texture, CGRect rect);
    // The same with a texture file, loaded through the texture cache when first asked for.
    static platform::Ref<CCSpriteFrame> frameWithTextureFilename(const std::string& filename, CGRect rect);
    // Every value in pixels.
    static platform::Ref<CCSpriteFrame> frameWithTexture(CCTexture2D* texture, CGRect rectInPixels,
                                                         bool rotated, CGPoint offset, CGSize originalSize);
    static platform::Ref<CCSpriteFrame> frameWithTextureFilename(const std::string& filename,
                                                                 CGRect rectInPixels, bool rotated,
                                                                 CGPoint offset, CGSize originalSize);

    CCSpriteFrame();
    ~CCSpriteFrame() override;

    // rect in points.
    virtual bool initWithTexture(CCTexture2D* texture, CGRect rect);
    virtual bool initWithTextureFilename(const std::string& filename, CGRect rect);
    // Values in pixels; the point values are derived from them.
    virtual bool initWithTexture(CCTexture2D* texture, CGRect rectInPixels, bool rotated, CGPoint offset,
                                 CGSize originalSize);
    virtual bool initWithTextureFilename(const std::string& filename, CGRect rectInPixels, bool rotated,
                                         CGPoint offset, CGSize originalSize);

    std::string description() const override;
    // Shares the texture and the file name; the geometry is copied.
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;

    CGRect rect() const { return _rect; }
    CGRect rectInPixels() const { return _rectInPixels; }
    // Sets the rect in points and its pixel value.
    void setRect(CGRect rect);
    // Sets the rect in pixels and its point value.
    void setRectInPixels(CGRect rectInPixels);
    void setOffset(CGPoint offset);
    void setOffsetInPixels(CGPoint offsetInPixels);
    // Retains the new texture.
    void setTexture(CCTexture2D* texture);
    // The texture the frame holds; else, for a frame made from a file name, the texture
    // cache's texture of that file (loaded now when it is not cached; the frame does not keep
    // it); else null.
    CCTexture2D* texture() const;
    CGPoint offsetInPixels() const { return _offsetInPixels; }
    CGPoint offset() const { return _offset; }
    CGSize originalSize() const { return _originalSize; }
    // Sets the point size only.
    void setOriginalSize(CGSize size) { _originalSize = size; }
    CGSize originalSizeInPixels() const { return _originalSizeInPixels; }
    // Sets the pixel size only.
    void setOriginalSizeInPixels(CGSize size) { _originalSizeInPixels = size; }
    // Empty for a frame made from a texture object.
    const std::string& textureFilename() const { return _textureFilename; }
    bool rotated() const { return _rotated; }
    void setRotated(bool rotated) { _rotated = rotated; }

private:
    // Sets the geometry from pixel values, deriving the point values.
    void setGeometryInPixels(CGRect rectInPixels, bool rotated, CGPoint offset, CGSize originalSize);

    CGRect _rect = CGRectZero;
    CGRect _rectInPixels = CGRectZero;
    bool _rotated = false;
    CGPoint _offset = CGPointZero;
    CGPoint _offsetInPixels = CGPointZero;
    CGSize _originalSize = CGSizeZero;
    CGSize _originalSizeInPixels = CGSizeZero;
    platform::Ref<CCTexture2D> _texture;
    std::string _textureFilename;
};
