#include "actions/CCTransitionPageTurn.h"

#include "actions/CCActionGrid.h"
#include "actions/CCActionInstant.h"
#include "actions/CCActionPageTurn3D.h"
#include "core/CCDirector.h"

using platform::Ref;

namespace {

void run(CCNode* node, const Ref<CCFiniteTimeAction>& action) {
    if (node && action) node->runAction(action.get());
}

} // namespace

bool CCTransitionPageTurn::initWithDuration(double duration, CCScene* scene, bool backwards) {
    _back = backwards;
    return CCTransitionScene::initWithDuration(duration, scene);
}

void CCTransitionPageTurn::sceneOrder() {
    _inSceneOnTop = _back;
}

void CCTransitionPageTurn::onEnter() {
    CCTransitionScene::onEnter();
    CGSize s = CCDirector::sharedDirector()->winSize();
    // More cells along the longer side, so the curl looks as smooth either way up.
    CGSize gridSize = s.width > s.height ? CGSizeMake(16, 12) : CGSizeMake(12, 16);
    Ref<CCActionInterval> action = actionWithSize(gridSize);
    Ref<CCCallFunc> finishCall = CCCallFunc::actionWithTarget(this, fl_selector(CCTransitionScene::finish));

    if (!_back) {
        if (_outScene)
            run(_outScene.get(), CCSequence::actions(action, finishCall, CCStopGrid::action()));
        else // nothing to turn away (the transition opened the show): still end on time
            run(this, CCSequence::actions(CCDelayTime::actionWithDuration(_duration), finishCall));
    } else {
        _inScene->setVisible(false);
        run(_inScene.get(), CCSequence::actions(CCShow::action(), action, finishCall, CCStopGrid::action()));
    }
}

Ref<CCActionInterval> CCTransitionPageTurn::actionWithSize(CGSize gridSize) {
    Ref<CCPageTurn3D> curl = CCPageTurn3D::actionWithDuration(_duration, gridSize);
    if (!_back) return curl;
    return CCReverseTime::actionWithAction(curl.get());
}
