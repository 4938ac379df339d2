// Animations: a list of sprite frames, each shown for a number of delay units, with a length
// in seconds per unit and a loop count. The animate action plays them on sprites and posts a
// frame's user information when the frame is shown.
#pragma once

#include "platform/Geometry.h"
#include "platform/Object.h"
#include "platform/PropertyList.h"

#include <cstdint>
#include <string>
#include <vector>

class CCSpriteFrame;
class CCTexture2D;

class CCAnimationFrame : public platform::Object {
public:
    CCAnimationFrame();
    ~CCAnimationFrame() override;

    // userInfo: what the animate action posts when the frame is shown; null posts nothing.
    virtual bool initWithSpriteFrame(CCSpriteFrame* spriteFrame, float delayUnits,
                                     const platform::PlistValue& userInfo);
    std::string description() const override;
    // Deep: a copy of the sprite frame and of the user information.
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;

    CCSpriteFrame* spriteFrame() const { return _spriteFrame.get(); }
    // Retains the new frame.
    void setSpriteFrame(CCSpriteFrame* spriteFrame);
    float delayUnits() const { return _delayUnits; }
    void setDelayUnits(float delayUnits) { _delayUnits = delayUnits; }
    const platform::PlistValue& userInfo() const { return _userInfo; }
    void setUserInfo(const platform::PlistValue& userInfo) { _userInfo = userInfo; }

private:
    platform::Ref<CCSpriteFrame> _spriteFrame;
    float _delayUnits = 0;
    platform::PlistValue _userInfo;
};

using CCSpriteFrameArray = std::vector<platform::Ref<CCSpriteFrame>>;
using CCAnimationFrameArray = std::vector<platform::Ref<CCAnimationFrame>>;

class CCAnimation : public platform::Object {
public:
    static platform::Ref<CCAnimation> animation();
    static platform::Ref<CCAnimation> animationWithSpriteFrames(const CCSpriteFrameArray& frames);
    // delay: seconds per frame.
    static platform::Ref<CCAnimation> animationWithSpriteFrames(const CCSpriteFrameArray& frames,
                                                                float delay);
    static platform::Ref<CCAnimation> animationWithAnimationFrames(const CCAnimationFrameArray& frames,
                                                                   float delayPerUnit, std::uint64_t loops);

    CCAnimation();
    ~CCAnimation() override;

    // No frames, no delay.
    virtual bool init();
    virtual bool initWithSpriteFrames(const CCSpriteFrameArray& frames);
    // Each sprite frame becomes an animation frame of one delay unit; loops 1.
    virtual bool initWithSpriteFrames(const CCSpriteFrameArray& frames, float delay);
    // Keeps the given frame objects themselves, not copies.
    virtual bool initWithAnimationFrames(const CCAnimationFrameArray& frames, float delayPerUnit,
                                         std::uint64_t loops);
    std::string description() const override;
    // Seconds: total delay units x delay per unit, in float.
    float duration() const;
    // Shares the animation frames with this animation.
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;

    // Appends a frame of one delay unit.
    void addSpriteFrame(CCSpriteFrame* frame);
    // A frame of the whole image, from the texture cache (an empty frame when it cannot be loaded).
    void addSpriteFrameWithFilename(const std::string& filename);
    // rect in points.
    void addSpriteFrameWithTexture(CCTexture2D* texture, CGRect rect);

    // Changing the frames through these does not change the total delay units.
    const CCAnimationFrameArray& frames() const { return _frames; }
    CCAnimationFrameArray& frames() { return _frames; }
    void setFrames(const CCAnimationFrameArray& frames) { _frames = frames; }
    float totalDelayUnits() const { return _totalDelayUnits; }
    float delayPerUnit() const { return _delayPerUnit; }
    void setDelayPerUnit(float delayPerUnit) { _delayPerUnit = delayPerUnit; }
    bool restoreOriginalFrame() const { return _restoreOriginalFrame; }
    void setRestoreOriginalFrame(bool restore) { _restoreOriginalFrame = restore; }
    std::uint64_t loops() const { return _loops; }
    void setLoops(std::uint64_t loops) { _loops = loops; }

    // ---- older names, kept for old callers; each forwards to the current operation ----
    static platform::Ref<CCAnimation> animationWithFrames(const CCSpriteFrameArray& frames) {
        return animationWithSpriteFrames(frames);
    }
    static platform::Ref<CCAnimation> animationWithFrames(const CCSpriteFrameArray& frames, float delay) {
        return animationWithSpriteFrames(frames, delay);
    }
    bool initWithFrames(const CCSpriteFrameArray& frames) { return initWithSpriteFrames(frames); }
    bool initWithFrames(const CCSpriteFrameArray& frames, float delay) {
        return initWithSpriteFrames(frames, delay);
    }
    void addFrame(CCSpriteFrame* frame) { addSpriteFrame(frame); }
    void addFrameWithFilename(const std::string& filename) { addSpriteFrameWithFilename(filename); }
    void addFrameWithTexture(CCTexture2D* texture, CGRect rect) { addSpriteFrameWithTexture(texture, rect); }

private:
    CCAnimationFrameArray _frames;
    float _totalDelayUnits = 0;
    float _delayPerUnit = 0;
    bool _restoreOriginalFrame = false;
    std::uint64_t _loops = 0;
};
