// The shared store of animations by name, filled by code or from animation property lists
// (formats 1 and 2) whose frames come from the sprite-frame cache.
//
// Lists are outside data: a list that is missing, unreadable or of the wrong shape adds what
// can be read and never stops the program. Entries that hold a value of the wrong type are
// skipped; a missing key reads as zero.
#pragma once

#include "platform/Object.h"
#include "platform/PropertyList.h"

#include <string>
#include <unordered_map>

class CCAnimation;

class CCAnimationCache : public platform::Object {
public:
    // Made with init on first use.
    static CCAnimationCache* sharedAnimationCache();
    // Drops the shared instance; the next request makes a new one.
    static void purgeSharedAnimationCache();

    CCAnimationCache();
    ~CCAnimationCache() override;
    virtual bool init();
    std::string description() const override;

    // Stores the animation (retained), replacing one of the same name.
    void addAnimation(CCAnimation* animation, const std::string& name);
    // An empty name does nothing.
    void removeAnimationByName(const std::string& name);
    // The cache owns the animation; a caller that keeps it retains it.
    CCAnimation* animationByName(const std::string& name) const;

    // animations: the "animations" dictionary of a list. Both add to the shared cache.
    void parseVersion1(const platform::PlistValue& animations);
    void parseVersion2(const platform::PlistValue& animations);
    // The root dictionary of an animation list: loads its sprite sheets, then its animations.
    void addAnimationsWithDictionary(const platform::PlistValue& dictionary);
    void addAnimationsWithFile(const std::string& plist);

    // For tests and diagnostics.
    std::size_t animationCount() const { return _animations.size(); }

private:
    std::unordered_map<std::string, platform::Ref<CCAnimation>> _animations;
};
