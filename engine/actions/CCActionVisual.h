// Interval actions that change how a node looks rather than where it is: blinking, fading,
// tinting, and playing a sprite-frame animation. Fades and tints act on nodes that adopt
// CCRGBAProtocol and leave other nodes alone; the animate action plays on sprites only.
#pragma once

#include "actions/CCActionInterval.h"
#include "core/ccTypes.h"

#include <cstdint>
#include <string>
#include <vector>

class CCAnimation;
class CCSpriteFrame;

// The name of the notification the animate action posts when it shows a frame that carries
// user information: the sprite is the sender and the frame's userInfo (a platform::PlistValue)
// the attachment.
inline const std::string CCAnimationFrameDisplayedNotification = "CCAnimationFrameDisplayedNotification";

// The integer part of a computed opacity or channel (toward zero), reduced to its low 8 bits:
// how such values have always become bytes. A value that is not a finite number gives 0.
std::uint8_t ccTruncatedByte(double value);

// Hides the node for the first half and shows it for the second half of each of `blinks` equal
// slices of the duration; stopping gives the node back the visibility it had at the start.
class CCBlink : public CCActionFactory<CCBlink, CCActionInterval> {
public:
    static platform::Ref<CCBlink> actionWithDuration(double duration, std::uint64_t blinks);

    CCBlink() = default;

    virtual bool initWithDuration(double duration, std::uint64_t blinks);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void startWithTarget(CCNode* target) override;
    // A blink of no times changes nothing.
    void update(double t) override;
    void stop() override;
    // Blinking is its own reverse: the same class, duration and count.
    platform::Ref<CCFiniteTimeAction> reverse() const override;

protected:
    std::uint64_t _times = 0;
    bool _originalState = false;
};

// Opacity from 0 to 255, whatever it was.
class CCFadeIn : public CCActionFactory<CCFadeIn, CCActionInterval> {
public:
    static platform::Ref<CCFadeIn> actionWithDuration(double duration);

    CCFadeIn() = default;

    void update(double t) override;
    // A fade-out of the same duration.
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};

// Opacity from 255 to 0, whatever it was.
class CCFadeOut : public CCActionFactory<CCFadeOut, CCActionInterval> {
public:
    static platform::Ref<CCFadeOut> actionWithDuration(double duration);

    CCFadeOut() = default;

    void update(double t) override;
    // A fade-in of the same duration.
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};

// Opacity from the current value to a given one.
class CCFadeTo : public CCActionFactory<CCFadeTo, CCActionInterval> {
public:
    static platform::Ref<CCFadeTo> actionWithDuration(double duration, std::uint8_t opacity);

    CCFadeTo() = default;

    virtual bool initWithDuration(double duration, std::uint8_t opacity);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void startWithTarget(CCNode* target) override;
    void update(double t) override;

protected:
    std::uint8_t _toOpacity = 0;
    std::uint8_t _fromOpacity = 0;
};

// Colour from the current one to a given one.
class CCTintTo : public CCActionFactory<CCTintTo, CCActionInterval> {
public:
    static platform::Ref<CCTintTo> actionWithDuration(double duration, std::uint8_t red, std::uint8_t green,
                                                      std::uint8_t blue);

    CCTintTo() = default;

    virtual bool initWithDuration(double duration, std::uint8_t red, std::uint8_t green, std::uint8_t blue);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void startWithTarget(CCNode* target) override;
    void update(double t) override;

protected:
    _ccColor3B _to = ccBLACK;
    _ccColor3B _from = ccBLACK;
};

// Colour changed by signed amounts per channel; a channel pushed past 0 or 255 stays there.
class CCTintBy : public CCActionFactory<CCTintBy, CCActionInterval> {
public:
    static platform::Ref<CCTintBy> actionWithDuration(double duration, std::int16_t deltaRed,
                                                      std::int16_t deltaGreen, std::int16_t deltaBlue);

    CCTintBy() = default;

    virtual bool initWithDuration(double duration, std::int16_t deltaRed, std::int16_t deltaGreen,
                                  std::int16_t deltaBlue);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void startWithTarget(CCNode* target) override;
    void update(double t) override;
    // A tint-by of the same duration with the amounts negated.
    platform::Ref<CCFiniteTimeAction> reverse() const override;

protected:
    std::int16_t _deltaR = 0, _deltaG = 0, _deltaB = 0;
    std::int16_t _fromR = 0, _fromG = 0, _fromB = 0;
};

// Plays an animation on a sprite: its duration is the animation's times its loops, and each
// frame is shown once the progress within the current loop reaches the frame's split time.
class CCAnimate : public CCActionFactory<CCAnimate, CCActionInterval> {
public:
    // Retains the animation. Null for a null animation.
    static platform::Ref<CCAnimate> actionWithAnimation(CCAnimation* animation);

    CCAnimate();
    ~CCAnimate() override;

    virtual bool initWithAnimation(CCAnimation* animation);
    // Plays a copy of the animation (the copy shares the animation frames).
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    // Remembers the sprite's frame when the animation asks for it to be restored.
    void startWithTarget(CCNode* target) override;
    // Puts the remembered frame back when the animation asks for it.
    void stop() override;
    void update(double t) override;
    // The receiver's class playing copies of the frames in reverse order.
    platform::Ref<CCFiniteTimeAction> reverse() const override;
    CCAnimation* animation() const { return _animation.get(); }
    // Retains the animation; the split times stay those of the initialiser's animation.
    void setAnimation(CCAnimation* animation);
    // Progress (0..1 within a loop) at which each frame is shown.
    const std::vector<float>& splitTimes() const { return _splitTimes; }

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // Each plays a copy of the animation carrying the restore flag; the animation passed in is
    // left as it is. The duration forms also spread the duration evenly over the frames.
    static platform::Ref<CCAnimate> actionWithAnimation(CCAnimation* animation, bool restoreOriginalFrame);
    bool initWithAnimation(CCAnimation* animation, bool restoreOriginalFrame);
    static platform::Ref<CCAnimate> actionWithDuration(double duration, CCAnimation* animation,
                                                       bool restoreOriginalFrame);
    bool initWithDuration(double duration, CCAnimation* animation, bool restoreOriginalFrame);
    // The inherited forms stay reachable beside the older ones.
    using CCActionInterval::actionWithDuration;
    using CCActionInterval::initWithDuration;

protected:
    std::vector<float> _splitTimes;
    std::int64_t _nextFrame = 0;
    platform::Ref<CCAnimation> _animation;
    platform::Ref<CCSpriteFrame> _origFrame;
    std::uint64_t _executedLoops = 0;
};
