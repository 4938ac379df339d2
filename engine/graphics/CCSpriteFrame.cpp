#include "graphics/CCSpriteFrame.h"

#include "graphics/CCTexture2D.h"
#include "graphics/CCTextureCache.h"
#include "platform/Device.h"
#include "platform/Format.h"

namespace {

CGRect rectToPixels(CGRect r) {
    const double f = platform::contentScaleFactor();
    return CGRectMake(r.origin.x * f, r.origin.y * f, r.size.width * f, r.size.height * f);
}

CGRect rectToPoints(CGRect r) {
    const double f = platform::contentScaleFactor();
    return CGRectMake(r.origin.x / f, r.origin.y / f, r.size.width / f, r.size.height / f);
}

CGPoint pointToPixels(CGPoint p) {
    const double f = platform::contentScaleFactor();
    return CGPointMake(p.x * f, p.y * f);
}

CGPoint pointToPoints(CGPoint p) {
    const double f = platform::contentScaleFactor();
    return CGPointMake(p.x / f, p.y / f);
}

CGSize sizeToPoints(CGSize s) {
    const double f = platform::contentScaleFactor();
    return CGSizeMake(s.width / f, s.height / f);
}

} // namespace

platform::Ref<CCSpriteFrame> CCSpriteFrame::frameWithTexture(CCTexture2D* texture, CGRect rect) {
    auto frame = platform::make<CCSpriteFrame>();
    return frame->initWithTexture(texture, rect) ? frame : nullptr;
}

platform::Ref<CCSpriteFrame> CCSpriteFrame::frameWithTextureFilename(const std::string& filename,
                                                                     CGRect rect) {
    auto frame = platform::make<CCSpriteFrame>();
    return frame->initWithTextureFilename(filename, rect) ? frame : nullptr;
}

platform::Ref<CCSpriteFrame> CCSpriteFrame::frameWithTexture(CCTexture2D* texture, CGRect rectInPixels,
                                                             bool rotated, CGPoint offset,
                                                             CGSize originalSize) {
    auto frame = platform::make<CCSpriteFrame>();
    return frame->initWithTexture(texture, rectInPixels, rotated, offset, originalSize) ? frame : nullptr;
}

platform::Ref<CCSpriteFrame> CCSpriteFrame::frameWithTextureFilename(const std::string& filename,
                                                                     CGRect rectInPixels, bool rotated,
                                                                     CGPoint offset, CGSize originalSize) {
    auto frame = platform::make<CCSpriteFrame>();
    return frame->initWithTextureFilename(filename, rectInPixels, rotated, offset, originalSize) ? frame
                                                                                                 : nullptr;
}

CCSpriteFrame::CCSpriteFrame() = default;
CCSpriteFrame::~CCSpriteFrame() = default;

bool CCSpriteFrame::initWithTexture(CCTexture2D* texture, CGRect rect) {
    const CGRect rectInPixels = rectToPixels(rect);
    return initWithTexture(texture, rectInPixels, false, CGPointZero, rectInPixels.size);
}

bool CCSpriteFrame::initWithTextureFilename(const std::string& filename, CGRect rect) {
    const CGRect rectInPixels = rectToPixels(rect);
    return initWithTextureFilename(filename, rectInPixels, false, CGPointZero, rectInPixels.size);
}

bool CCSpriteFrame::initWithTexture(CCTexture2D* texture, CGRect rectInPixels, bool rotated, CGPoint offset,
                                    CGSize originalSize) {
    setTexture(texture);
    setGeometryInPixels(rectInPixels, rotated, offset, originalSize);
    return true;
}

bool CCSpriteFrame::initWithTextureFilename(const std::string& filename, CGRect rectInPixels, bool rotated,
                                            CGPoint offset, CGSize originalSize) {
    _texture = nullptr;
    _textureFilename = filename;
    setGeometryInPixels(rectInPixels, rotated, offset, originalSize);
    return true;
}

void CCSpriteFrame::setGeometryInPixels(CGRect rectInPixels, bool rotated, CGPoint offset,
                                        CGSize originalSize) {
    _rectInPixels = rectInPixels;
    _rect = rectToPoints(rectInPixels);
    _offsetInPixels = offset;
    _offset = pointToPoints(offset);
    _originalSizeInPixels = originalSize;
    _originalSize = sizeToPoints(originalSize);
    _rotated = rotated;
}

std::string CCSpriteFrame::description() const {
    return platform::format(
        "<%s = %p | Texture=%s, Rect = (%.2f,%.2f,%.2f,%.2f)> rotated:%d offset=(%.2f,%.2f)", className(),
        static_cast<const void*>(this), _textureFilename.empty() ? std::string("(null)") : _textureFilename,
        _rect.origin.x, _rect.origin.y, _rect.size.width, _rect.size.height, static_cast<int>(_rotated),
        _offsetInPixels.x, _offsetInPixels.y);
}

platform::Ref<platform::Object> CCSpriteFrame::copyWithZone(platform::Zone*) const {
    auto copy = platform::make<CCSpriteFrame>();
    copy->initWithTextureFilename(_textureFilename, _rectInPixels, _rotated, _offsetInPixels,
                                  _originalSizeInPixels);
    copy->setTexture(_texture.get());
    return copy;
}

void CCSpriteFrame::setRect(CGRect rect) {
    _rect = rect;
    _rectInPixels = rectToPixels(rect);
}

void CCSpriteFrame::setRectInPixels(CGRect rectInPixels) {
    _rectInPixels = rectInPixels;
    _rect = rectToPoints(rectInPixels);
}

void CCSpriteFrame::setOffset(CGPoint offset) {
    _offset = offset;
    _offsetInPixels = pointToPixels(offset);
}

void CCSpriteFrame::setOffsetInPixels(CGPoint offsetInPixels) {
    _offsetInPixels = offsetInPixels;
    _offset = pointToPoints(offsetInPixels);
}

void CCSpriteFrame::setTexture(CCTexture2D* texture) {
    if (_texture.get() != texture) _texture = texture;
}

CCTexture2D* CCSpriteFrame::texture() const {
    if (_texture) return _texture.get();
    if (!_textureFilename.empty())
        return CCTextureCache::sharedTextureCache()->addImage(_textureFilename).get();
    return nullptr;
}
