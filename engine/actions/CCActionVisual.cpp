#include "actions/CCActionVisual.h"

#include "core/CCProtocols.h"
#include "graphics/CCAnimation.h"
#include "graphics/CCSprite.h"
#include "graphics/CCSpriteFrame.h"
#include "platform/NotificationCenter.h"

#include <algorithm>
#include <cmath>

using platform::Ref;

std::uint8_t ccTruncatedByte(double value) {
    // Reduced through fmod first, so that no value can overflow the conversion to an integer.
    if (!std::isfinite(value)) return 0;
    return static_cast<std::uint8_t>(static_cast<std::int64_t>(std::fmod(std::trunc(value), 65536.0)) & 0xFF);
}

namespace {

// The integer part held to 0..255.
std::uint8_t clampedByte(double value) {
    if (std::isnan(value)) return 0;
    return static_cast<std::uint8_t>(std::clamp(std::trunc(value), 0.0, 255.0));
}

// The coloured face of a target, or null for a node without colour.
CCRGBAProtocol* rgbaOf(CCNode* target) {
    return dynamic_cast<CCRGBAProtocol*>(target);
}

} // namespace

// ---- CCBlink ----

Ref<CCBlink> CCBlink::actionWithDuration(double duration, std::uint64_t blinks) {
    return createWith(InitOf<CCBlink, double, std::uint64_t>(&CCBlink::initWithDuration), duration, blinks);
}

bool CCBlink::initWithDuration(double duration, std::uint64_t blinks) {
    if (!CCActionInterval::initWithDuration(duration)) return false;
    _times = blinks;
    return true;
}

Ref<platform::Object> CCBlink::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCBlink& a) { return a.initWithDuration(_duration, _times); });
}

void CCBlink::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    if (!target) return;
    _originalState = target->visible();
}

void CCBlink::update(double t) {
    // The finishing step changes nothing: stop puts the original visibility back right after.
    if (!_target || isDone() || _times == 0) return;
    float slice = 1.0f / static_cast<float>(_times);
    float m = std::fmod(static_cast<float>(t), slice);
    _target->setVisible(m > slice / 2);
}

void CCBlink::stop() {
    if (_target) _target->setVisible(_originalState);
    CCActionInterval::stop();
}

Ref<CCFiniteTimeAction> CCBlink::reverse() const {
    return sameClassWith([&](CCBlink& a) { return a.initWithDuration(_duration, _times); });
}

// ---- CCFadeIn, CCFadeOut ----

Ref<CCFadeIn> CCFadeIn::actionWithDuration(double duration) {
    return createWith(&CCFadeIn::initWithDuration, duration);
}

void CCFadeIn::update(double t) {
    if (CCRGBAProtocol* rgba = rgbaOf(_target)) rgba->setOpacity(ccTruncatedByte(t * 255));
}

Ref<CCFiniteTimeAction> CCFadeIn::reverse() const {
    return CCFadeOut::actionWithDuration(_duration);
}

Ref<CCFadeOut> CCFadeOut::actionWithDuration(double duration) {
    return createWith(&CCFadeOut::initWithDuration, duration);
}

void CCFadeOut::update(double t) {
    if (CCRGBAProtocol* rgba = rgbaOf(_target)) rgba->setOpacity(ccTruncatedByte((1 - t) * 255));
}

Ref<CCFiniteTimeAction> CCFadeOut::reverse() const {
    return CCFadeIn::actionWithDuration(_duration);
}

// ---- CCFadeTo ----

Ref<CCFadeTo> CCFadeTo::actionWithDuration(double duration, std::uint8_t opacity) {
    return createWith(InitOf<CCFadeTo, double, std::uint8_t>(&CCFadeTo::initWithDuration), duration, opacity);
}

bool CCFadeTo::initWithDuration(double duration, std::uint8_t opacity) {
    if (!CCActionInterval::initWithDuration(duration)) return false;
    _toOpacity = opacity;
    return true;
}

Ref<platform::Object> CCFadeTo::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCFadeTo& a) { return a.initWithDuration(_duration, _toOpacity); });
}

void CCFadeTo::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    if (CCRGBAProtocol* rgba = rgbaOf(target)) _fromOpacity = rgba->opacity();
}

void CCFadeTo::update(double t) {
    if (CCRGBAProtocol* rgba = rgbaOf(_target))
        rgba->setOpacity(
            ccTruncatedByte(_fromOpacity + (static_cast<double>(_toOpacity) - _fromOpacity) * t));
}

// ---- CCTintTo ----

Ref<CCTintTo> CCTintTo::actionWithDuration(double duration, std::uint8_t red, std::uint8_t green,
                                           std::uint8_t blue) {
    return createWith(&CCTintTo::initWithDuration, duration, red, green, blue);
}

bool CCTintTo::initWithDuration(double duration, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    if (!CCActionInterval::initWithDuration(duration)) return false;
    _to = ccc3(red, green, blue);
    return true;
}

Ref<platform::Object> CCTintTo::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCTintTo& a) { return a.initWithDuration(_duration, _to.r, _to.g, _to.b); });
}

void CCTintTo::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    if (CCRGBAProtocol* rgba = rgbaOf(target)) _from = rgba->color();
}

void CCTintTo::update(double t) {
    CCRGBAProtocol* rgba = rgbaOf(_target);
    if (!rgba) return;
    auto channel = [t](std::uint8_t from, std::uint8_t to) {
        return ccTruncatedByte(from + (static_cast<double>(to) - from) * t);
    };
    rgba->setColor(ccc3(channel(_from.r, _to.r), channel(_from.g, _to.g), channel(_from.b, _to.b)));
}

// ---- CCTintBy ----

Ref<CCTintBy> CCTintBy::actionWithDuration(double duration, std::int16_t deltaRed, std::int16_t deltaGreen,
                                           std::int16_t deltaBlue) {
    return createWith(&CCTintBy::initWithDuration, duration, deltaRed, deltaGreen, deltaBlue);
}

bool CCTintBy::initWithDuration(double duration, std::int16_t deltaRed, std::int16_t deltaGreen,
                                std::int16_t deltaBlue) {
    if (!CCActionInterval::initWithDuration(duration)) return false;
    _deltaR = deltaRed;
    _deltaG = deltaGreen;
    _deltaB = deltaBlue;
    return true;
}

Ref<platform::Object> CCTintBy::copyWithZone(platform::Zone*) const {
    return sameClassWith(
        [&](CCTintBy& a) { return a.initWithDuration(_duration, _deltaR, _deltaG, _deltaB); });
}

void CCTintBy::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    if (CCRGBAProtocol* rgba = rgbaOf(target)) {
        _ccColor3B c = rgba->color();
        _fromR = c.r;
        _fromG = c.g;
        _fromB = c.b;
    }
}

void CCTintBy::update(double t) {
    CCRGBAProtocol* rgba = rgbaOf(_target);
    if (!rgba) return;
    // A channel pushed out of 0..255 stays at the edge it crossed, rather than wrapping round
    // into an unrelated colour.
    auto channel = [t](std::int16_t from, std::int16_t delta) { return clampedByte(from + delta * t); };
    rgba->setColor(ccc3(channel(_fromR, _deltaR), channel(_fromG, _deltaG), channel(_fromB, _deltaB)));
}

Ref<CCFiniteTimeAction> CCTintBy::reverse() const {
    auto negate = [](std::int16_t v) { return static_cast<std::int16_t>(-v); };
    return CCTintBy::actionWithDuration(_duration, negate(_deltaR), negate(_deltaG), negate(_deltaB));
}

// ---- CCAnimate ----

CCAnimate::CCAnimate() = default;
CCAnimate::~CCAnimate() = default;

Ref<CCAnimate> CCAnimate::actionWithAnimation(CCAnimation* animation) {
    return createWith(static_cast<bool (CCAnimate::*)(CCAnimation*)>(&CCAnimate::initWithAnimation),
                      animation);
}

bool CCAnimate::initWithAnimation(CCAnimation* animation) {
    if (!animation) return false;
    float singleDuration = animation->duration();
    if (!CCActionInterval::initWithDuration(singleDuration * static_cast<float>(animation->loops())))
        return false;
    _nextFrame = 0;
    setAnimation(animation);
    _origFrame = nullptr;
    _executedLoops = 0;

    // Each frame's place within one loop, from the delay units of the frames before it. An
    // animation that takes no time shows every frame at once.
    _splitTimes.clear();
    _splitTimes.reserve(animation->frames().size());
    float accumUnitsOfTime = 0;
    float newUnitOfTimeValue = singleDuration / animation->totalDelayUnits();
    for (const Ref<CCAnimationFrame>& frame : animation->frames()) {
        float value = singleDuration > 0 ? (accumUnitsOfTime * newUnitOfTimeValue) / singleDuration : 0;
        _splitTimes.push_back(value);
        if (frame) accumUnitsOfTime += frame->delayUnits();
    }
    return true;
}

Ref<platform::Object> CCAnimate::copyWithZone(platform::Zone*) const {
    Ref<CCAnimation> animation = platform::copyOf(_animation.get());
    return sameClassWith([&](CCAnimate& a) { return a.initWithAnimation(animation.get()); });
}

void CCAnimate::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    _origFrame = nullptr;
    auto* sprite = dynamic_cast<CCSprite*>(target);
    if (_animation && _animation->restoreOriginalFrame() && sprite) _origFrame = sprite->displayFrame();
    _nextFrame = 0;
    _executedLoops = 0;
}

void CCAnimate::stop() {
    if (_animation && _animation->restoreOriginalFrame() && _origFrame)
        if (auto* sprite = dynamic_cast<CCSprite*>(_target)) sprite->setDisplayFrame(_origFrame.get());
    CCActionInterval::stop();
}

void CCAnimate::update(double t) {
    Ref<CCAnimation> animation = _animation;
    if (!animation) return;

    // Within the last loop's end everything left is shown; before it, t becomes the progress
    // within the current loop, and a new loop starts again from the first frame.
    if (t < 1) {
        double x = t * static_cast<double>(animation->loops());
        std::uint64_t loopNumber = x >= 1 ? static_cast<std::uint64_t>(std::min(x, 1.8e19)) : 0;
        if (loopNumber > _executedLoops) {
            _nextFrame = 0;
            ++_executedLoops;
        }
        t = std::fmod(static_cast<float>(x), 1.0f);
    }

    auto* sprite = dynamic_cast<CCSprite*>(_target);
    if (!sprite) return;
    // Observers of the notification may stop this action or change the frames: hold what is
    // being used and look at the sizes again on every frame.
    Ref<CCAnimate> keepAlive(this);
    Ref<CCSprite> keepSprite(sprite);
    for (std::size_t i = static_cast<std::size_t>(std::max<std::int64_t>(_nextFrame, 0));
         i < std::min(_splitTimes.size(), animation->frames().size()); ++i) {
        // Several frames may be due in one update when they are shorter than a display frame.
        if (!(_splitTimes[i] <= t)) break;
        Ref<CCAnimationFrame> frame = animation->frames()[i];
        _nextFrame = static_cast<std::int64_t>(i) + 1;
        if (!frame) continue;
        sprite->setDisplayFrame(frame->spriteFrame());
        if (!frame->userInfo().isNull())
            platform::NotificationCenter::defaultCenter().postNotificationName(
                CCAnimationFrameDisplayedNotification, sprite, frame->userInfo());
        if (_target != sprite) break;
    }
}

Ref<CCFiniteTimeAction> CCAnimate::reverse() const {
    if (!_animation) return nullptr;
    CCAnimationFrameArray reversed;
    const CCAnimationFrameArray& frames = _animation->frames();
    reversed.reserve(frames.size());
    for (auto it = frames.rbegin(); it != frames.rend(); ++it)
        if (*it) reversed.push_back(platform::copyOf(it->get()));
    Ref<CCAnimation> animation =
        CCAnimation::animationWithAnimationFrames(reversed, _animation->delayPerUnit(), _animation->loops());
    if (!animation) return nullptr;
    animation->setRestoreOriginalFrame(_animation->restoreOriginalFrame());
    return sameClassWith([&](CCAnimate& a) { return a.initWithAnimation(animation.get()); });
}

void CCAnimate::setAnimation(CCAnimation* animation) {
    _animation = animation;
}
