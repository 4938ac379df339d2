// Transitions through a colour, and through a blend of pictures of the two scenes.
#pragma once

#include "actions/CCTransition.h"
#include "core/ccTypes.h"

#include <cstdint>

// The tag of the fade's colour layer and of the cross-fade's holder layer, at z 2 over the two
// scenes. No other child of these transitions may carry it.
inline constexpr std::int64_t kCCSceneFadeTag = 0xFADEFADE;

// The outgoing scene fades out to a colour, then the incoming scene fades in from it.
class CCTransitionFade : public CCTransitionFactory<CCTransitionFade, CCTransitionScene> {
public:
    // Alpha stays 0: the colour layer starts fully transparent.
    virtual bool initWithDuration(double duration, CCScene* scene, _ccColor3B color);
    // Black.
    bool initWithDuration(double duration, CCScene* scene) override;
    // Starts the colour layer: half the time to cover, half to uncover.
    void onEnter() override;
    // Removes the colour layer.
    void onExit() override;

    _ccColor4B color() const { return _color; }

protected:
    _ccColor4B _color{0, 0, 0, 0};
};

// A picture of the outgoing scene fades away over a picture of the incoming one. Both are
// taken once, when the transition enters.
class CCTransitionCrossFade : public CCTransitionFactory<CCTransitionCrossFade, CCTransitionScene> {
public:
    // Nothing: only the two pictures are drawn.
    void draw() override;
    void onEnter() override;
    // Removes the pictures.
    void onExit() override;
};
