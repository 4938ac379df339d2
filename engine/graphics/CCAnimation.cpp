#include "graphics/CCAnimation.h"

#include "graphics/CCSpriteFrame.h"
#include "graphics/CCTexture2D.h"
#include "graphics/CCTextureCache.h"
#include "platform/Format.h"

// ---- CCAnimationFrame

CCAnimationFrame::CCAnimationFrame() = default;
CCAnimationFrame::~CCAnimationFrame() = default;

bool CCAnimationFrame::initWithSpriteFrame(CCSpriteFrame* spriteFrame, float delayUnits,
                                           const platform::PlistValue& userInfo) {
    setSpriteFrame(spriteFrame);
    setDelayUnits(delayUnits);
    setUserInfo(userInfo);
    return true;
}

std::string CCAnimationFrame::description() const {
    return platform::format("<%s = %p | SpriteFrame = %p, delayUnits = %0.2f >", className(),
                            static_cast<const void*>(this), static_cast<const void*>(_spriteFrame.get()),
                            static_cast<double>(_delayUnits));
}

platform::Ref<platform::Object> CCAnimationFrame::copyWithZone(platform::Zone*) const {
    auto copy = platform::make<CCAnimationFrame>();
    // Property-list values are immutable, so holding the same value is holding a copy.
    copy->initWithSpriteFrame(platform::copyOf(_spriteFrame.get()).get(), _delayUnits, _userInfo);
    return copy;
}

void CCAnimationFrame::setSpriteFrame(CCSpriteFrame* spriteFrame) {
    _spriteFrame = spriteFrame;
}

// ---- CCAnimation

platform::Ref<CCAnimation> CCAnimation::animation() {
    auto made = platform::make<CCAnimation>();
    return made->init() ? made : nullptr;
}

platform::Ref<CCAnimation> CCAnimation::animationWithSpriteFrames(const CCSpriteFrameArray& frames) {
    auto made = platform::make<CCAnimation>();
    return made->initWithSpriteFrames(frames) ? made : nullptr;
}

platform::Ref<CCAnimation> CCAnimation::animationWithSpriteFrames(const CCSpriteFrameArray& frames,
                                                                  float delay) {
    auto made = platform::make<CCAnimation>();
    return made->initWithSpriteFrames(frames, delay) ? made : nullptr;
}

platform::Ref<CCAnimation> CCAnimation::animationWithAnimationFrames(const CCAnimationFrameArray& frames,
                                                                     float delayPerUnit,
                                                                     std::uint64_t loops) {
    auto made = platform::make<CCAnimation>();
    return made->initWithAnimationFrames(frames, delayPerUnit, loops) ? made : nullptr;
}

CCAnimation::CCAnimation() = default;
CCAnimation::~CCAnimation() = default;

bool CCAnimation::init() {
    return initWithSpriteFrames({}, 0);
}

bool CCAnimation::initWithSpriteFrames(const CCSpriteFrameArray& frames) {
    return initWithSpriteFrames(frames, 0);
}

bool CCAnimation::initWithSpriteFrames(const CCSpriteFrameArray& frames, float delay) {
    _loops = 1;
    _delayPerUnit = delay;
    _frames = CCAnimationFrameArray();
    _frames.reserve(frames.size());
    for (const auto& spriteFrame : frames) {
        auto frame = platform::make<CCAnimationFrame>();
        frame->initWithSpriteFrame(spriteFrame.get(), 1, {});
        _frames.push_back(std::move(frame));
        _totalDelayUnits++;
    }
    return true;
}

bool CCAnimation::initWithAnimationFrames(const CCAnimationFrameArray& frames, float delayPerUnit,
                                          std::uint64_t loops) {
    _delayPerUnit = delayPerUnit;
    _loops = loops;
    _frames = frames;
    for (const auto& frame : frames)
        if (frame) _totalDelayUnits += frame->delayUnits();
    return true;
}

std::string CCAnimation::description() const {
    return platform::format("<%s = %p | frames=%lu, totalDelayUnits=%f, delayPerUnit=%f, loops=%lu>",
                            className(), static_cast<const void*>(this),
                            static_cast<unsigned long>(_frames.size()), static_cast<double>(_totalDelayUnits),
                            static_cast<double>(_delayPerUnit), static_cast<unsigned long>(_loops));
}

float CCAnimation::duration() const {
    return _totalDelayUnits * _delayPerUnit;
}

platform::Ref<platform::Object> CCAnimation::copyWithZone(platform::Zone*) const {
    auto copy = platform::make<CCAnimation>();
    copy->initWithAnimationFrames(_frames, _delayPerUnit, _loops);
    copy->setRestoreOriginalFrame(_restoreOriginalFrame);
    return copy;
}

void CCAnimation::addSpriteFrame(CCSpriteFrame* spriteFrame) {
    auto frame = platform::make<CCAnimationFrame>();
    frame->initWithSpriteFrame(spriteFrame, 1, {});
    _frames.push_back(std::move(frame));
    _totalDelayUnits++;
}

void CCAnimation::addSpriteFrameWithFilename(const std::string& filename) {
    platform::Ref<CCTexture2D> texture = CCTextureCache::sharedTextureCache()->addImage(filename);
    // An image that cannot be loaded still takes its place in the timing, as an empty frame.
    CGRect rect = CGRectZero;
    if (texture) rect.size = texture->contentSize();
    addSpriteFrame(CCSpriteFrame::frameWithTexture(texture.get(), rect).get());
}

void CCAnimation::addSpriteFrameWithTexture(CCTexture2D* texture, CGRect rect) {
    addSpriteFrame(CCSpriteFrame::frameWithTexture(texture, rect).get());
}
