#include "actions/CCTransitionFade.h"

#include "actions/CCActionInstant.h"
#include "actions/CCActionVisual.h"
#include "core/CCDirector.h"
#include "core/CCLayer.h"
#include "graphics/CCClippingNode.h"
#include "graphics/CCRenderTexture.h"
#include "graphics/CCSprite.h"
#include "platform/Exception.h"

#include <GLES2/gl2.h>

using platform::Ref;

// ---- CCTransitionFade ----

bool CCTransitionFade::initWithDuration(double duration, CCScene* scene, _ccColor3B color) {
    if (!CCTransitionScene::initWithDuration(duration, scene)) return false;
    _color.r = color.r;
    _color.g = color.g;
    _color.b = color.b;
    _color.a = 0;
    return true;
}

bool CCTransitionFade::initWithDuration(double duration, CCScene* scene) {
    return initWithDuration(duration, scene, ccc3(0, 0, 0));
}

void CCTransitionFade::onEnter() {
    CCTransitionScene::onEnter();
    if (!isRunning()) return;
    Ref<CCLayerColor> layer = CCLayerColor::layerWithColor(_color);
    _inScene->setVisible(false);
    addChild(layer.get(), 2, kCCSceneFadeTag);
    CCNode* f = getChildByTag(kCCSceneFadeTag);
    if (!f) return;
    double half = _duration / 2;
    Ref<CCFiniteTimeAction> a =
        CCSequence::actions(CCFadeIn::actionWithDuration(half),
                            CCCallFunc::actionWithTarget(this, fl_selector(CCTransitionScene::hideOutShowIn)),
                            CCFadeOut::actionWithDuration(half), finishAction());
    f->runAction(a.get());
}

void CCTransitionFade::onExit() {
    // The colour layer goes also when a scene's exit throws: shown again, the fade adds a new one.
    platform::DeferredException thrown;
    thrown.run([&] { CCTransitionScene::onExit(); });
    removeChildByTag(kCCSceneFadeTag, true);
    thrown.rethrow();
}

// ---- CCTransitionCrossFade ----

void CCTransitionCrossFade::draw() {}

namespace {

// A window-sized picture of a scene as it looks now, centred on the window.
Ref<CCRenderTexture> pictureOf(CCScene* scene, CGSize size) {
    Ref<CCRenderTexture> picture = CCRenderTexture::renderTextureWithWidth(
        static_cast<int>(size.width), static_cast<int>(size.height), kCCTexture2DPixelFormat_RGBA8888,
        CCClippingNode::viewDepthStencilFormat());
    if (!picture) return nullptr;
    picture->sprite()->setAnchorPoint(CGPointMake(0.5, 0.5));
    picture->setPosition(CGPointMake(size.width / 2, size.height / 2));
    picture->setAnchorPoint(CGPointMake(0.5, 0.5));
    picture->begin();
    try {
        if (scene) scene->visit();
    } catch (...) {
        picture->end(); // back to the window's framebuffer and matrices first
        throw;
    }
    picture->end();
    return picture;
}

} // namespace

void CCTransitionCrossFade::onEnter() {
    CCTransitionScene::onEnter();
    if (!isRunning()) return;
    CGSize size = CCDirector::sharedDirector()->winSize();
    Ref<CCLayerColor> layer = CCLayerColor::layerWithColor(ccc4(0, 0, 0, 0));
    Ref<CCRenderTexture> inTexture = pictureOf(_inScene.get(), size);
    Ref<CCRenderTexture> outTexture = pictureOf(_outScene.get(), size);
    if (!layer || !inTexture || !outTexture) {
        // No pictures (a window too large for a texture): switch without the blend.
        finish();
        return;
    }
    // The incoming picture keeps its sprite's premultiplied blend: over the cleared frame it shows
    // what an addition would, and it counts as coverage, so a capture of the fade stays opaque.
    outTexture->sprite()->setBlendFunc(_ccBlendFunc{GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA});
    // The outgoing picture is drawn over the incoming one.
    layer->addChild(inTexture.get());
    layer->addChild(outTexture.get());
    inTexture->sprite()->setOpacity(255);
    outTexture->sprite()->setOpacity(255);
    // Its blend applies the fading opacity once; folded into its colour as well, it would count
    // twice and the two pictures would add up to less than one (0.75 halfway).
    outTexture->sprite()->setOpacityModifyRGB(false);
    Ref<CCFiniteTimeAction> a = CCSequence::actions(
        CCFadeTo::actionWithDuration(_duration, 0),
        CCCallFunc::actionWithTarget(this, fl_selector(CCTransitionScene::hideOutShowIn)), finishAction());
    outTexture->sprite()->runAction(a.get());
    addChild(layer.get(), 2, kCCSceneFadeTag);
}

void CCTransitionCrossFade::onExit() {
    removeChildByTag(kCCSceneFadeTag, true);
    CCTransitionScene::onExit();
}
