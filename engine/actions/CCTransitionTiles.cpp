#include "actions/CCTransitionTiles.h"

#include "actions/CCActionEase.h"
#include "actions/CCActionGrid.h"
#include "actions/CCActionInstant.h"
#include "actions/CCActionTiledGrid.h"
#include "core/CCDirector.h"

using platform::Ref;

namespace {

// Turn-off tiles seeds the C library's generator with this at every start, so a transition
// switches its tiles off in the same order every time.
constexpr std::uint32_t kTurnOffSeed = 0;

// Twelve rows, and as many columns as keep the tiles about square: the aspect ratio in single
// precision, times 12, truncated.
CGSize tileGridSize() {
    CGSize s = CCDirector::sharedDirector()->winSize();
    const float aspect = static_cast<float>(s.width / s.height);
    const double columns = aspect * 12.0;
    // A window without height has no aspect: keep the conversion defined (the grid refuses
    // such sizes and the effect then leaves the scene whole).
    if (!(columns >= 0)) return CGSizeMake(0, 12);
    if (columns > 65536) return CGSizeMake(65536, 12);
    return CGSizeMake(static_cast<int>(columns), 12);
}

} // namespace

// ---- turn-off tiles ----

void CCTransitionTurnOffTiles::sceneOrder() {
    _inSceneOnTop = false;
}

void CCTransitionTurnOffTiles::onEnter() {
    CCTransitionScene::onEnter();
    if (!isRunning()) return;
    Ref<CCTurnOffTiles> toff = CCTurnOffTiles::actionWithDuration(_duration, tileGridSize(), kTurnOffSeed);
    runFinishOnOutScene(
        CCSequence::actions(easeActionWithAction(toff.get()), finishAction(), CCStopGrid::action()).get());
}

Ref<CCActionInterval> CCTransitionTurnOffTiles::easeActionWithAction(CCActionInterval* action) {
    return action;
}

// ---- split columns and rows ----

void CCTransitionSplitCols::onEnter() {
    CCTransitionScene::onEnter();
    if (!isRunning()) return;
    _inScene->setVisible(false);
    Ref<CCActionInterval> split = action();
    if (!split) return;
    // The one split runs forwards, then backwards; the scenes swap in the middle.
    Ref<CCFiniteTimeAction> there = CCSequence::actions(
        split, CCCallFunc::actionWithTarget(this, fl_selector(CCTransitionScene::hideOutShowIn)),
        CCReverseTime::actionWithAction(split.get()));
    auto* thereInterval = dynamic_cast<CCActionInterval*>(there.get());
    runAction(
        CCSequence::actions(easeActionWithAction(thereInterval), finishAction(), CCStopGrid::action()).get());
}

Ref<CCActionInterval> CCTransitionSplitCols::action() {
    return CCSplitCols::actionWithDuration(_duration / 2.0, 3);
}

Ref<CCActionInterval> CCTransitionSplitCols::easeActionWithAction(CCActionInterval* action) {
    return CCEaseInOut::actionWithAction(action, 3.0f);
}

Ref<CCActionInterval> CCTransitionSplitRows::action() {
    return CCSplitRows::actionWithDuration(_duration / 2.0, 3);
}

// ---- fade-out tile sweeps ----

void CCTransitionFadeTR::sceneOrder() {
    _inSceneOnTop = false;
}

void CCTransitionFadeTR::onEnter() {
    CCTransitionScene::onEnter();
    if (!isRunning()) return;
    Ref<CCActionInterval> action = actionWithSize(tileGridSize());
    runFinishOnOutScene(
        CCSequence::actions(easeActionWithAction(action.get()), finishAction(), CCStopGrid::action()).get());
}

Ref<CCActionInterval> CCTransitionFadeTR::actionWithSize(CGSize gridSize) {
    return CCFadeOutTRTiles::actionWithDuration(_duration, gridSize);
}

Ref<CCActionInterval> CCTransitionFadeTR::easeActionWithAction(CCActionInterval* action) {
    return action;
}

Ref<CCActionInterval> CCTransitionFadeBL::actionWithSize(CGSize gridSize) {
    return CCFadeOutBLTiles::actionWithDuration(_duration, gridSize);
}

Ref<CCActionInterval> CCTransitionFadeUp::actionWithSize(CGSize gridSize) {
    return CCFadeOutUpTiles::actionWithDuration(_duration, gridSize);
}

Ref<CCActionInterval> CCTransitionFadeDown::actionWithSize(CGSize gridSize) {
    return CCFadeOutDownTiles::actionWithDuration(_duration, gridSize);
}
