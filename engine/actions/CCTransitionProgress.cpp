#include "actions/CCTransitionProgress.h"

#include "actions/CCActionInstant.h"
#include "actions/CCActionProgressTimer.h"
#include "core/CCDirector.h"
#include "core/CCPointExtension.h"
#include "graphics/CCProgressTimer.h"
#include "graphics/CCRenderTexture.h"
#include "graphics/CCSprite.h"

using platform::Ref;

// ---- CCTransitionProgress ----

void CCTransitionProgress::onEnter() {
    CCTransitionScene::onEnter();
    setupTransition();

    const CGSize size = CCDirector::sharedDirector()->winSize();
    Ref<CCRenderTexture> texture =
        CCRenderTexture::renderTextureWithWidth(static_cast<int>(size.width), static_cast<int>(size.height));
    if (!texture) {
        // No picture to sweep: switch straight to the incoming scene.
        finish();
        return;
    }
    texture->sprite()->setAnchorPoint(ccp(0.5, 0.5));
    texture->setPosition(ccp(size.width / 2, size.height / 2));
    texture->setAnchorPoint(ccp(0.5, 0.5));

    // One still picture on opaque black: what moves in the pictured scene later is not seen.
    texture->clear(0, 0, 0, 1);
    texture->begin();
    if (_sceneToBeModified) _sceneToBeModified->visit();
    texture->end();

    // Only the picture of the outgoing scene stands over the incoming scene from now on.
    if (_sceneToBeModified == _outScene.get()) hideOutShowIn();

    Ref<CCProgressTimer> node = progressTimerNodeWithRenderTexture(texture.get());
    if (!node) {
        finish();
        return;
    }
    Ref<CCFiniteTimeAction> sweep =
        CCSequence::actions(CCProgressFromTo::actionWithDuration(_duration, _from, _to),
                            CCCallFunc::actionWithTarget(this, fl_selector(CCTransitionScene::finish)));
    node->runAction(sweep.get());
    addChild(node.get(), 2, kCCSceneRadial);
}

void CCTransitionProgress::onExit() {
    removeChildByTag(kCCSceneRadial, true);
    CCTransitionScene::onExit();
}

void CCTransitionProgress::sceneOrder() {
    _inSceneOnTop = false;
}

void CCTransitionProgress::setupTransition() {
    _sceneToBeModified = _outScene.get();
    _from = 100;
    _to = 0;
}

Ref<CCProgressTimer> CCTransitionProgress::progressTimerNodeWithRenderTexture(CCRenderTexture*) {
    return nullptr;
}

Ref<CCProgressTimer> CCTransitionProgress::pictureTimer(CCRenderTexture* texture) const {
    if (!texture) return nullptr;
    Ref<CCProgressTimer> node = CCProgressTimer::progressWithSprite(texture->sprite());
    if (!node || !node->sprite()) return nullptr;
    // The render texture holds the picture upside down.
    node->sprite()->setFlipY(true);
    return node;
}

namespace {

// Centred on the window, as the picture was taken.
void centre(CCProgressTimer* node) {
    const CGSize size = CCDirector::sharedDirector()->winSize();
    node->setPosition(ccp(size.width / 2, size.height / 2));
    node->setAnchorPoint(ccp(0.5, 0.5));
}

} // namespace

// ---- the kinds ----

Ref<CCProgressTimer>
CCTransitionProgressRadialCCW::progressTimerNodeWithRenderTexture(CCRenderTexture* texture) {
    Ref<CCProgressTimer> node = pictureTimer(texture);
    if (!node) return nullptr;
    // Sweeping 100 to 0 shrinks the visible sector clockwise, uncovering anticlockwise.
    node->setType(kCCProgressTimerTypeRadial);
    node->setReverseDirection(false);
    node->setPercentage(100);
    centre(node.get());
    return node;
}

Ref<CCProgressTimer>
CCTransitionProgressRadialCW::progressTimerNodeWithRenderTexture(CCRenderTexture* texture) {
    Ref<CCProgressTimer> node = pictureTimer(texture);
    if (!node) return nullptr;
    node->setType(kCCProgressTimerTypeRadial);
    node->setReverseDirection(true);
    node->setPercentage(100);
    centre(node.get());
    return node;
}

Ref<CCProgressTimer>
CCTransitionProgressHorizontal::progressTimerNodeWithRenderTexture(CCRenderTexture* texture) {
    Ref<CCProgressTimer> node = pictureTimer(texture);
    if (!node) return nullptr;
    node->setType(kCCProgressTimerTypeBar);
    node->setMidpoint(ccp(1, 0));
    node->setBarChangeRate(ccp(1, 0));
    node->setPercentage(100);
    centre(node.get());
    return node;
}

Ref<CCProgressTimer>
CCTransitionProgressVertical::progressTimerNodeWithRenderTexture(CCRenderTexture* texture) {
    Ref<CCProgressTimer> node = pictureTimer(texture);
    if (!node) return nullptr;
    node->setType(kCCProgressTimerTypeBar);
    node->setMidpoint(ccp(0, 0));
    node->setBarChangeRate(ccp(0, 1));
    node->setPercentage(100);
    centre(node.get());
    return node;
}

void CCTransitionProgressInOut::sceneOrder() {
    _inSceneOnTop = false;
}

void CCTransitionProgressInOut::setupTransition() {
    _sceneToBeModified = _inScene.get();
    _from = 0;
    _to = 100;
}

Ref<CCProgressTimer> CCTransitionProgressInOut::progressTimerNodeWithRenderTexture(CCRenderTexture* texture) {
    Ref<CCProgressTimer> node = pictureTimer(texture);
    if (!node) return nullptr;
    node->setType(kCCProgressTimerTypeBar);
    node->setMidpoint(ccp(0.5, 0.5));
    node->setBarChangeRate(ccp(1, 1));
    node->setPercentage(0);
    centre(node.get());
    return node;
}

Ref<CCProgressTimer> CCTransitionProgressOutIn::progressTimerNodeWithRenderTexture(CCRenderTexture* texture) {
    Ref<CCProgressTimer> node = pictureTimer(texture);
    if (!node) return nullptr;
    node->setType(kCCProgressTimerTypeBar);
    node->setMidpoint(ccp(0.5, 0.5));
    node->setBarChangeRate(ccp(1, 1));
    node->setPercentage(100);
    centre(node.get());
    return node;
}
