// Transitions that wipe one scene over the other through a progress timer. On entry a picture
// of one scene is taken into a render texture and laid over both scenes as a timer; sweeping
// the timer's percentage wipes the picture of the outgoing scene away, or the picture of the
// incoming scene in. The kinds differ only in the shape of the sweep.
#pragma once

#include "actions/CCTransition.h"

#include <cstdint>

class CCProgressTimer;
class CCRenderTexture;

// The tag of the timer node, at z 2 over the two scenes. No other child of these transitions
// may carry it.
inline constexpr std::int64_t kCCSceneRadial = 0xC001;

class CCTransitionProgress : public CCTransitionFactory<CCTransitionProgress, CCTransitionScene> {
public:
    // Takes the picture and starts the sweep; the transition finishes when it ends. Without a
    // timer node (this base class, or no render texture for a window that large) the
    // transition finishes at once.
    void onEnter() override;
    // Removes the timer node.
    void onExit() override;
    // Outgoing scene on top of the incoming one.
    void sceneOrder() override;
    // Which scene is pictured and the sweep's percentages: the outgoing scene, 100 to 0.
    virtual void setupTransition();
    // The timer that shows the picture, set up for this kind; none here.
    virtual platform::Ref<CCProgressTimer> progressTimerNodeWithRenderTexture(CCRenderTexture* texture);

    float to() const { return _to; }
    float from() const { return _from; }
    CCScene* sceneToBeModified() const { return _sceneToBeModified; }

protected:
    float _to = 0;
    float _from = 0;
    // One of the two scenes the transition holds already: not retained.
    CCScene* _sceneToBeModified = nullptr;
};

// The outgoing picture is swept away anticlockwise from 12 o'clock.
class CCTransitionProgressRadialCCW
    : public CCTransitionFactory<CCTransitionProgressRadialCCW, CCTransitionProgress> {
public:
    platform::Ref<CCProgressTimer> progressTimerNodeWithRenderTexture(CCRenderTexture* texture) override;
};

// The outgoing picture is swept away clockwise from 12 o'clock.
class CCTransitionProgressRadialCW
    : public CCTransitionFactory<CCTransitionProgressRadialCW, CCTransitionProgress> {
public:
    platform::Ref<CCProgressTimer> progressTimerNodeWithRenderTexture(CCRenderTexture* texture) override;
};

// The outgoing picture shrinks towards the right edge.
class CCTransitionProgressHorizontal
    : public CCTransitionFactory<CCTransitionProgressHorizontal, CCTransitionProgress> {
public:
    platform::Ref<CCProgressTimer> progressTimerNodeWithRenderTexture(CCRenderTexture* texture) override;
};

// The outgoing picture shrinks towards the bottom edge.
class CCTransitionProgressVertical
    : public CCTransitionFactory<CCTransitionProgressVertical, CCTransitionProgress> {
public:
    platform::Ref<CCProgressTimer> progressTimerNodeWithRenderTexture(CCRenderTexture* texture) override;
};

// The incoming picture grows from the centre over the outgoing scene, which stays visible
// until the end.
class CCTransitionProgressInOut
    : public CCTransitionFactory<CCTransitionProgressInOut, CCTransitionProgress> {
public:
    void sceneOrder() override;
    // The incoming scene, 0 to 100.
    void setupTransition() override;
    platform::Ref<CCProgressTimer> progressTimerNodeWithRenderTexture(CCRenderTexture* texture) override;
};

// The outgoing picture shrinks into the centre.
class CCTransitionProgressOutIn
    : public CCTransitionFactory<CCTransitionProgressOutIn, CCTransitionProgress> {
public:
    platform::Ref<CCProgressTimer> progressTimerNodeWithRenderTexture(CCRenderTexture* texture) override;
};
