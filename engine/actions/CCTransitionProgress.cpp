#include "actions/CCTransitionProgress.h"

#include "actions/CCActionInstant.h"
#include "actions/CCActionProgressTimer.h"
#include "core/CCDirector.h"
#include "core/CCPointExtension.h"
#include "graphics/CCClippingNode.h"
#include "graphics/CCProgressTimer.h"
#include "graphics/CCRenderTexture.h"
#include "graphics/CCSprite.h"

using platform::Ref;

// ---- CCTransitionProgress ----

void CCTransitionProgress::onEnter() {
    CCTransitionScene::onEnter();
    if (!isRunning()) return;
    setupTransition();

    const CGSize size = CCDirector::sharedDirector()->winSize();
    Ref<CCRenderTexture> texture = CCRenderTexture::renderTextureWithWidth(
        static_cast<int>(size.width), static_cast<int>(size.height), kCCTexture2DPixelFormat_RGBA8888,
        CCClippingNode::viewDepthStencilFormat());
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
    try {
        if (_sceneToBeModified) _sceneToBeModified->visit();
    } catch (...) {
        texture->end(); // back to the window's framebuffer and matrices first
        throw;
    }
    texture->end();

    // Only the picture of the outgoing scene stands over the incoming scene from now on.
    if (_sceneToBeModified == _outScene.get()) hideOutShowIn();

    Ref<CCProgressTimer> node = progressTimerNodeWithRenderTexture(texture.get());
    if (!node) {
        finish();
        return;
    }
    Ref<CCFiniteTimeAction> sweep =
        CCSequence::actions(CCProgressFromTo::actionWithDuration(_duration, _from, _to), finishAction());
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

namespace {

// A timer over the render texture's sprite, its picture turned upright (the render texture
// holds it upside down); the kind's settings go between this and centring.
Ref<CCProgressTimer> pictureTimer(CCRenderTexture* texture) {
    if (!texture) return nullptr;
    Ref<CCProgressTimer> node = CCProgressTimer::progressWithSprite(texture->sprite());
    if (!node || !node->sprite()) return nullptr;
    node->sprite()->setFlipY(true);
    return node;
}

// Centred on the window, as the picture was taken.
Ref<CCProgressTimer> centred(Ref<CCProgressTimer> node) {
    const CGSize size = CCDirector::sharedDirector()->winSize();
    node->setPosition(ccp(size.width / 2, size.height / 2));
    node->setAnchorPoint(ccp(0.5, 0.5));
    return node;
}

// The picture swept round from 12 o'clock, starting whole.
Ref<CCProgressTimer> radialTimer(CCRenderTexture* texture, bool reverseDirection) {
    Ref<CCProgressTimer> node = pictureTimer(texture);
    if (!node) return nullptr;
    node->setType(kCCProgressTimerTypeRadial);
    node->setReverseDirection(reverseDirection);
    node->setPercentage(100);
    return centred(node);
}

// The picture as a bar growing from the midpoint at the change rate, starting at percentage.
Ref<CCProgressTimer> barTimer(CCRenderTexture* texture, CGPoint midpoint, CGPoint changeRate,
                              float percentage) {
    Ref<CCProgressTimer> node = pictureTimer(texture);
    if (!node) return nullptr;
    node->setType(kCCProgressTimerTypeBar);
    node->setMidpoint(midpoint);
    node->setBarChangeRate(changeRate);
    node->setPercentage(percentage);
    return centred(node);
}

} // namespace

// ---- the kinds ----

Ref<CCProgressTimer>
CCTransitionProgressRadialCCW::progressTimerNodeWithRenderTexture(CCRenderTexture* texture) {
    return radialTimer(texture, false);
}

Ref<CCProgressTimer>
CCTransitionProgressRadialCW::progressTimerNodeWithRenderTexture(CCRenderTexture* texture) {
    return radialTimer(texture, true);
}

Ref<CCProgressTimer>
CCTransitionProgressHorizontal::progressTimerNodeWithRenderTexture(CCRenderTexture* texture) {
    return barTimer(texture, ccp(1, 0), ccp(1, 0), 100);
}

Ref<CCProgressTimer>
CCTransitionProgressVertical::progressTimerNodeWithRenderTexture(CCRenderTexture* texture) {
    return barTimer(texture, ccp(0, 0), ccp(0, 1), 100);
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
    return barTimer(texture, ccp(0.5, 0.5), ccp(1, 1), 0);
}

Ref<CCProgressTimer> CCTransitionProgressOutIn::progressTimerNodeWithRenderTexture(CCRenderTexture* texture) {
    return barTimer(texture, ccp(0.5, 0.5), ccp(1, 1), 100);
}
