#include "graphics/CCAnimationCache.h"

#include "core/CCDirector.h"
#include "core/CCFileUtils.h"
#include "graphics/CCAnimation.h"
#include "graphics/CCSpriteFrame.h"
#include "graphics/CCSpriteFrameCache.h"
#include "platform/Format.h"

using platform::PlistValue;

namespace {

platform::Ref<CCAnimationCache>& sharedCache() {
    static platform::Ref<CCAnimationCache> cache;
    return cache;
}

// Numbers and booleans may be written as numbers or as numeric strings; a missing key reads
// as zero. Anything else is the wrong type.
bool isScalar(const PlistValue& v) {
    return v.isNull() || v.isNumber() || v.isString();
}

} // namespace

CCAnimationCache* CCAnimationCache::sharedAnimationCache() {
    platform::Ref<CCAnimationCache>& cache = sharedCache();
    if (!cache) {
        // The director's end lets go of every animation.
        CCDirector::setPurgeHook(CCDirectorPurge::AnimationCache, [] { purgeSharedAnimationCache(); });
        auto made = platform::make<CCAnimationCache>();
        made->init();
        cache = std::move(made);
    }
    return cache.get();
}

void CCAnimationCache::purgeSharedAnimationCache() {
    sharedCache() = nullptr;
}

CCAnimationCache::CCAnimationCache() = default;
CCAnimationCache::~CCAnimationCache() = default;

bool CCAnimationCache::init() {
    _animations.reserve(20);
    return true;
}

std::string CCAnimationCache::description() const {
    return platform::format("<%s = %p | num of animations =  %lu>", className(),
                            static_cast<const void*>(this), static_cast<unsigned long>(_animations.size()));
}

void CCAnimationCache::addAnimation(CCAnimation* animation, const std::string& name) {
    _animations[name] = animation;
}

void CCAnimationCache::removeAnimationByName(const std::string& name) {
    if (name.empty()) return;
    _animations.erase(name);
}

CCAnimation* CCAnimationCache::animationByName(const std::string& name) const {
    auto it = _animations.find(name);
    return it != _animations.end() ? it->second.get() : nullptr;
}

void CCAnimationCache::parseVersion1(const PlistValue& animations) {
    CCSpriteFrameCache* frameCache = CCSpriteFrameCache::sharedSpriteFrameCache();

    for (const auto& [name, animationDict] : animations.entries()) {
        const PlistValue& frameNames = animationDict["frames"];
        const PlistValue& delay = animationDict["delay"];
        if (!frameNames.isArray() || !isScalar(delay)) continue;

        CCAnimationFrameArray frames;
        frames.reserve(frameNames.count());
        for (const PlistValue& frameName : frameNames.items()) {
            if (!frameName.isString()) continue;
            CCSpriteFrame* spriteFrame = frameCache->spriteFrameByName(frameName.stringValue());
            if (!spriteFrame) continue;
            auto frame = platform::make<CCAnimationFrame>();
            frame->initWithSpriteFrame(spriteFrame, 1, {});
            frames.push_back(std::move(frame));
        }
        if (frames.empty()) continue;

        auto animation = CCAnimation::animationWithAnimationFrames(frames, delay.floatValue(), 1);
        sharedAnimationCache()->addAnimation(animation.get(), name);
    }
}

void CCAnimationCache::parseVersion2(const PlistValue& animations) {
    CCSpriteFrameCache* frameCache = CCSpriteFrameCache::sharedSpriteFrameCache();

    for (const auto& [name, animationDict] : animations.entries()) {
        const PlistValue& loops = animationDict["loops"];
        const PlistValue& restoreOriginalFrame = animationDict["restoreOriginalFrame"];
        const PlistValue& frameList = animationDict["frames"];
        const PlistValue& delayPerUnit = animationDict["delayPerUnit"];
        if (!frameList.isArray() || !isScalar(loops) || !isScalar(restoreOriginalFrame) ||
            !isScalar(delayPerUnit))
            continue;

        CCAnimationFrameArray frames;
        frames.reserve(frameList.count());
        for (const PlistValue& entry : frameList.items()) {
            const PlistValue& spriteFrameName = entry["spriteframe"];
            const PlistValue& delayUnits = entry["delayUnits"];
            const PlistValue& userInfo = entry["notification"];
            if (!entry.isDictionary() || !spriteFrameName.isString() || !isScalar(delayUnits) ||
                !(userInfo.isNull() || userInfo.isDictionary()))
                continue;
            CCSpriteFrame* spriteFrame = frameCache->spriteFrameByName(spriteFrameName.stringValue());
            if (!spriteFrame) continue;
            auto frame = platform::make<CCAnimationFrame>();
            frame->initWithSpriteFrame(spriteFrame, delayUnits.floatValue(), userInfo);
            frames.push_back(std::move(frame));
        }

        // Negative loop counts are taken as the unsigned count they wrap to.
        const std::uint64_t loopCount = loops.isNull() ? 1 : static_cast<std::uint64_t>(loops.integerValue());
        auto animation = platform::make<CCAnimation>();
        animation->initWithAnimationFrames(frames, delayPerUnit.floatValue(), loopCount);
        animation->setRestoreOriginalFrame(restoreOriginalFrame.boolValue());
        sharedAnimationCache()->addAnimation(animation.get(), name);
    }
}

void CCAnimationCache::addAnimationsWithDictionary(const PlistValue& dictionary) {
    const PlistValue& animations = dictionary["animations"];
    if (!animations.isDictionary()) return;

    const PlistValue& properties = dictionary["properties"];
    int format = 1;
    if (!properties.isNull()) {
        if (!properties.isDictionary() || !isScalar(properties["format"])) return;
        format = properties["format"].intValue();
        for (const PlistValue& sheet : properties["spritesheets"].items())
            if (sheet.isString())
                CCSpriteFrameCache::sharedSpriteFrameCache()->addSpriteFramesWithFile(sheet.stringValue());
    }

    if (format == 2)
        parseVersion2(animations);
    else if (format == 1)
        parseVersion1(animations);
}

void CCAnimationCache::addAnimationsWithFile(const std::string& plist) {
    const std::string path = CCFileUtils::sharedFileUtils()->fullPathForFilename(plist);
    if (path.empty()) return;
    addAnimationsWithDictionary(platform::dictionaryWithContentsOfFile(path));
}
