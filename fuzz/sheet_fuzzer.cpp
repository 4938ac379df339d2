// Sprite sheets and animation lists: the input read as a property list and loaded into the
// sprite-frame cache (as every format) and the animation cache, then every frame and animation
// looked up and removed again.
#include "fuzz/FuzzSupport.h"
#include "graphics/CCAnimation.h"
#include "graphics/CCAnimationCache.h"
#include "graphics/CCSpriteFrame.h"
#include "graphics/CCSpriteFrameCache.h"
#include "platform/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const platform::PlistValue root = platform::PlistValue::fromMemory(data, size);
    CCSpriteFrameCache* frames = CCSpriteFrameCache::sharedSpriteFrameCache();
    CCAnimationCache* animations = CCAnimationCache::sharedAnimationCache();

    frames->addSpriteFramesWithDictionary(root, "texture.png");
    for (const auto& [name, entry] : root["frames"].entries()) {
        if (CCSpriteFrame* frame = frames->spriteFrameByName(name)) (void)frame->description();
        for (const auto& alias : entry["aliases"].items())
            (void)frames->spriteFrameByName(alias.stringValue());
    }

    // The lists' sprite sheets would be read from whatever paths the input names: parse the
    // animations directly instead, in both formats.
    animations->parseVersion1(root["animations"]);
    animations->parseVersion2(root["animations"]);
    for (const auto& entry : root["animations"].entries()) {
        if (CCAnimation* animation = animations->animationByName(entry.first)) {
            (void)animation->description();
            (void)animation->duration();
        }
    }

    frames->removeSpriteFramesFromDictionary(root);
    frames->removeSpriteFrames();
    CCAnimationCache::purgeSharedAnimationCache();
    return 0;
}
