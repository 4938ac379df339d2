#include "actions/CCTransitionPageTurn.h"

#include "actions/CCActionGrid.h"
#include "actions/CCActionInstant.h"
#include "actions/CCActionPageTurn3D.h"
#include "core/CCDirector.h"

using platform::Ref;

bool CCTransitionPageTurn::initWithDuration(double duration, CCScene* scene, bool backwards) {
    _back = backwards;
    return CCTransitionScene::initWithDuration(duration, scene);
}

void CCTransitionPageTurn::sceneOrder() {
    _inSceneOnTop = _back;
}

void CCTransitionPageTurn::onEnter() {
    CCTransitionScene::onEnter();
    if (!isRunning()) return;
    CGSize s = CCDirector::sharedDirector()->winSize();
    // More cells along the longer side, so the curl looks as smooth either way up.
    CGSize gridSize = s.width > s.height ? CGSizeMake(16, 12) : CGSizeMake(12, 16);
    Ref<CCActionInterval> action = actionWithSize(gridSize);

    if (!_back) {
        runFinishOnOutScene(CCSequence::actions(action, finishAction(), CCStopGrid::action()).get());
    } else {
        _inScene->setVisible(false);
        runOnInScene(
            CCSequence::actions(CCShow::action(), action, finishAction(), CCStopGrid::action()).get());
    }
}

Ref<CCActionInterval> CCTransitionPageTurn::actionWithSize(CGSize gridSize) {
    Ref<CCPageTurn3D> curl = CCPageTurn3D::actionWithDuration(_duration, gridSize);
    if (!_back) return curl;
    return CCReverseTime::actionWithAction(curl.get());
}
