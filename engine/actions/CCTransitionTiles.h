// Transitions through tile effects: the outgoing scene's tiles switch off or fade away in a
// sweep over the incoming scene, or the whole picture splits into bands that part and close
// again on the incoming scene.
#pragma once

#include "actions/CCTransition.h"
#include "platform/Geometry.h"

// The outgoing scene's tiles switch off one by one in a random order.
class CCTransitionTurnOffTiles : public CCTransitionFactory<CCTransitionTurnOffTiles, CCTransitionScene>,
                                 public CCTransitionEaseScene {
public:
    // Incoming scene below.
    void sceneOrder() override;
    void onEnter() override;
    // No easing: the action itself.
    platform::Ref<CCActionInterval> easeActionWithAction(CCActionInterval* action) override;
};

// The picture splits into three columns that slide apart, then close again on the incoming scene.
class CCTransitionSplitCols : public CCTransitionFactory<CCTransitionSplitCols, CCTransitionScene>,
                              public CCTransitionEaseScene {
public:
    // Runs the split on the transition itself, forwards and back, swapping the scenes between.
    void onEnter() override;
    // One half of the effect: half the duration.
    virtual platform::Ref<CCActionInterval> action();
    // An ease in-out of rate 3 over both halves.
    platform::Ref<CCActionInterval> easeActionWithAction(CCActionInterval* action) override;
};

// The same with three rows sliding sideways.
class CCTransitionSplitRows : public CCTransitionFactory<CCTransitionSplitRows, CCTransitionSplitCols> {
public:
    platform::Ref<CCActionInterval> action() override;
};

// The outgoing scene's tiles shrink away in a sweep from the bottom-left to the top-right.
class CCTransitionFadeTR : public CCTransitionFactory<CCTransitionFadeTR, CCTransitionScene>,
                           public CCTransitionEaseScene {
public:
    // Incoming scene below.
    void sceneOrder() override;
    void onEnter() override;
    // The sweep over a grid of the given size in tiles.
    virtual platform::Ref<CCActionInterval> actionWithSize(CGSize gridSize);
    // No easing: the action itself.
    platform::Ref<CCActionInterval> easeActionWithAction(CCActionInterval* action) override;
};

// The sweep from the top-right to the bottom-left.
class CCTransitionFadeBL : public CCTransitionFactory<CCTransitionFadeBL, CCTransitionFadeTR> {
public:
    platform::Ref<CCActionInterval> actionWithSize(CGSize gridSize) override;
};

// The sweep from the bottom up, row by row.
class CCTransitionFadeUp : public CCTransitionFactory<CCTransitionFadeUp, CCTransitionFadeTR> {
public:
    platform::Ref<CCActionInterval> actionWithSize(CGSize gridSize) override;
};

// The sweep from the top down, row by row.
class CCTransitionFadeDown : public CCTransitionFactory<CCTransitionFadeDown, CCTransitionFadeTR> {
public:
    platform::Ref<CCActionInterval> actionWithSize(CGSize gridSize) override;
};
