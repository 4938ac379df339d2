#include "actions/CCTransition.h"

#include "actions/CCActionCamera.h"
#include "actions/CCActionEase.h"
#include "actions/CCActionInstant.h"
#include "actions/CCActionTransform.h"
#include "actions/CCGrid.h"
#include "core/CCCamera.h"
#include "core/CCDirector.h"
#include "platform/Exception.h"
#include "platform/GLCheck.h"
#include "platform/Log.h"

#include <GLES2/gl2.h>

#include <algorithm>
#include <array>

using platform::Ref;

namespace {

CCDirector* director() {
    return CCDirector::sharedDirector();
}

// Puts a scene back to rest after whatever the transition did to it.
void putToRest(CCScene* scene, bool visible) {
    if (!scene) return;
    scene->setVisible(visible);
    scene->setPosition(CGPointZero);
    scene->setScale(1.0f);
    scene->setRotation(0);
    scene->camera()->restore();
}

// Eye, centre and up.
std::array<float, 9> cameraOf(const CCCamera* camera) {
    std::array<float, 9> c{};
    camera->eyeX(&c[0], &c[1], &c[2]);
    camera->centerX(&c[3], &c[4], &c[5]);
    camera->upX(&c[6], &c[7], &c[8]);
    return c;
}

Ref<CCEaseOut> easeOut(CCActionInterval* action) {
    return CCEaseOut::actionWithAction(action, 2.0f);
}

} // namespace

// ---- CCTransitionScene ----

CCTransitionScene::~CCTransitionScene() = default;

bool CCTransitionScene::initWithDuration(double duration, CCScene* scene) {
    if (!scene) {
        CCLOG("Footlight: a transition needs an incoming scene");
        return false;
    }
    CCScene* running = director()->runningScene();
    if (scene == running) {
        CCLOG("Footlight: a transition cannot lead to the scene that is already running");
        return false;
    }
    if (!CCScene::init()) return false;
    _duration = duration;
    _inScene = scene;
    _outScene = running;
    sceneOrder();
    return true;
}

void CCTransitionScene::sceneOrder() {
    _inSceneOnTop = true;
}

void CCTransitionScene::draw() {
    CCScene::draw();
    // Held for the visit: a scene's drawing may end the transition's hold on it.
    Ref<CCScene> first = _inSceneOnTop ? _outScene : _inScene;
    Ref<CCScene> second = _inSceneOnTop ? _inScene : _outScene;
    if (first) first->visit();
    if (second) second->visit();
}

void CCTransitionScene::finish() {
    _finished = true;
    // An action of ours the action manager has not given its last step yet this tick would
    // move its scene off the rest finish puts it at (both slide-in moves end in the same tick).
    stopSceneActions(true);
    putToRest(_inScene.get(), true);
    putToRest(_outScene.get(), false);
    // Never switch inside an action's step: the director gets the change on the next tick.
    schedule(fl_selector(CCTransitionScene::setNewScene), 0);
}

void CCTransitionScene::setNewScene(double) {
    CCDirector* d = director();
    // Only while this transition is what the director shows and no other change is pending: a
    // scene change the game asked for meanwhile wins over ours.
    bool shownAlone = d->runningScene() == this && d->nextScene() == nullptr;
    if (shownAlone) {
        _sendCleanupToScene = d->sendCleanupToScene();
        d->replaceScene(_inScene.get());
    }
    // Held, it asks again at each tick until the director has switched: entered by another
    // transition as its incoming scene, covered by a change that keeps it (a push), or handed
    // over again before the switch, it switches once the director shows it with nothing else
    // pending. The switch leaves it, which ends the wait (its cleanup, or its exit's pause until
    // it is entered anew); let go, so does its cleanup.
    bool held = d->holdsScene(this);
    // Visible again once it asked or was let go: the game may go back to it.
    if ((shownAlone || !held) && _outScene) _outScene->setVisible(true);
    if (!held) unschedule(fl_selector(CCTransitionScene::setNewScene));
}

void CCTransitionScene::hideOutShowIn() {
    if (_inScene) _inScene->setVisible(true);
    if (_outScene) _outScene->setVisible(false);
}

void CCTransitionScene::finishAtOnce() {
    finish();
    setNewScene(0);
}

void CCTransitionScene::onEnter() {
    _finished = false;
    // Shown again after a push covered it: it finishes anew.
    unschedule(fl_selector(CCTransitionScene::setNewScene));
    // Each scene hears its call even when the other's throws; the first exception goes on to
    // the director, which then ends this transition at once (see finishAtOnce).
    platform::DeferredException thrown;
    thrown.run([&] { CCScene::onEnter(); });
    // Touches stay off until the last running transition has left.
    if (isRunning()) director()->transitionRuns(this, true);
    // How this transition came on stage (replaced or pushed).
    _sendCleanupToScene = director()->sendCleanupToScene();
    // A scene that does not run (this transition was covered by a pushed scene and shows again)
    // is entered first, so that its actions, ours among them, run; one that runs is not
    // entered twice. Once a scene's call has let this transition go (an end from its enter),
    // nothing more is entered.
    if (_outScene && isRunning()) {
        Ref<CCScene> out = _outScene;
        thrown.run([&] { director()->enterScene(out.get()); });
        if (isRunning()) thrown.run([&] { out->onExitTransitionDidStart(); });
    }
    if (_inScene && isRunning()) {
        Ref<CCScene> in = _inScene;
        thrown.run([&] { director()->enterScene(in.get()); });
    }
    // What the game put on its scenes before ours begins, so that a cut leaves it there. A
    // transition of ours that runs on the same scene has moved it already: what it found stands.
    _atEntry.clear();
    for (CCScene* scene : {_outScene.get(), _inScene.get()}) {
        if (!scene) continue;
        if (const SceneAtEntry* inner = innerEntryOf(scene)) {
            _atEntry.push_back(*inner);
            continue;
        }
        SceneAtEntry entry{scene, nullptr, {}};
        auto* grid = dynamic_cast<CCGridBase*>(scene->grid());
        if (grid && grid->active()) entry.grid = grid;
        entry.camera = cameraOf(scene->camera());
        _atEntry.push_back(entry);
    }
    thrown.rethrow();
}

const CCTransitionScene::SceneAtEntry* CCTransitionScene::innerEntryOf(const CCScene* scene) const {
    for (CCScene* s : {_outScene.get(), _inScene.get()}) {
        auto* inner = dynamic_cast<const CCTransitionScene*>(s);
        if (!inner || !inner->isRunning()) continue;
        if (const SceneAtEntry* found = inner->innerEntryOf(scene)) return found;
        for (const SceneAtEntry& entry : inner->_atEntry)
            if (entry.scene == scene) return &entry;
    }
    return nullptr;
}

// The scene the director is switching to while this transition leaves the stage: the incoming
// scene after the switch, the outgoing one when the game went back to it, another scene when a
// change came first. A scene of ours that does not take over leaves with the transition.
static CCScene* successor() {
    return director()->nextScene();
}

// Whether a transition, or one inside it, shows the scene.
static bool showsScene(const CCScene* shower, const CCScene* scene) {
    auto* transition = dynamic_cast<const CCTransitionScene*>(shower);
    if (!transition) return false;
    for (const CCScene* s : {transition->outScene(), transition->inScene()})
        if (s && (s == scene || showsScene(s, scene))) return true;
    return false;
}

void CCTransitionScene::onExit() {
    // Every scene hears its call even when another's throws; the first exception goes on.
    platform::DeferredException thrown;
    thrown.run([&] { CCScene::onExit(); });
    director()->transitionRuns(this, false);
    // Before the scenes hear of it: what they do on entering or leaving stands.
    if (!_finished) putScenesToRest();
    Ref<CCScene> out = _outScene;
    Ref<CCScene> in = _inScene;
    // Held: a change the outgoing scene's exit asks for may let the director's next scene go.
    Ref<CCScene> next = successor();
    // Finished, the outgoing scene is hidden until the switch shows it again; leaving before
    // that (the game went back to it, or elsewhere), it is shown now, as the switch would.
    if (_finished && out) out->setVisible(true);
    for (const Ref<CCScene>& scene : {out, in}) {
        if (!scene || !scene->isRunning()) continue;
        if (scene == next)
            thrown.run([&] { scene->onEnterTransitionDidFinish(); });
        else if (!showsScene(next.get(), scene.get())) // a successor showing it takes it over running
            thrown.run([&] { director()->exitEnteredScene(scene.get()); });
    }
    thrown.rethrow();
}

Ref<CCFiniteTimeAction> CCTransitionScene::finishAction() {
    return CCCallFunc::actionWithTarget(this, fl_selector(CCTransitionScene::finish));
}

void CCTransitionScene::runOnScene(CCScene* scene, CCFiniteTimeAction* action) {
    // Not once this transition has been let go (an end from a scene it entered): the action
    // would outlive it.
    if (!scene || !action || !isRunning()) return;
    _sceneActions.emplace_back(scene, action);
    scene->runAction(action);
}

void CCTransitionScene::runOnInScene(CCFiniteTimeAction* action) {
    runOnScene(_inScene.get(), action);
}

void CCTransitionScene::runOnOutScene(CCFiniteTimeAction* action) {
    runOnScene(_outScene.get(), action);
}

void CCTransitionScene::runFinishOnOutScene(CCFiniteTimeAction* action) {
    if (!action || !isRunning()) return;
    if (_outScene)
        runOnOutScene(action);
    else
        runAction(
            CCSequence::actions(CCDelayTime::actionWithDuration(action->duration()), finishAction()).get());
}

void CCTransitionScene::putScenesToRest() {
    // The scenes may run again, under this director or another: nothing of the transition may
    // go on moving them, nor a grid of its capture (whose framebuffer belongs to this view's
    // context) stand in for their drawing. What the game put on them stays.
    stopSceneActions(false);
    for (CCScene* scene : {_inScene.get(), _outScene.get()}) {
        if (!scene) continue;
        auto entry = std::find_if(_atEntry.begin(), _atEntry.end(),
                                  [scene](const SceneAtEntry& e) { return e.scene == scene; });
        auto* grid = dynamic_cast<CCGridBase*>(scene->grid());
        if (grid && grid->active() && (entry == _atEntry.end() || entry->grid != grid))
            grid->setActive(false);
        putToRest(scene, true);
        CCCamera* camera = scene->camera();
        // A camera the game had moved goes back where the game put it.
        if (entry != _atEntry.end() && entry->camera != cameraOf(camera)) {
            const auto& c = entry->camera;
            camera->setEyeX(c[0], c[1], c[2]);
            camera->setCenterX(c[3], c[4], c[5]);
            camera->setUpX(c[6], c[7], c[8]);
        }
    }
    _atEntry.clear();
}

void CCTransitionScene::stopSceneActions(bool undoneOnly) {
    auto actions = std::move(_sceneActions);
    _sceneActions.clear();
    for (const auto& [scene, action] : actions)
        if (!undoneOnly || !action->isDone()) scene->stopAction(action.get());
}

void CCTransitionScene::cleanup() {
    // Whatever of ours still runs on the scenes stops with us.
    stopSceneActions(false);
    _atEntry.clear();
    platform::DeferredException thrown;
    thrown.run([&] { CCScene::cleanup(); });
    // Each scene of ours the director no longer holds is let go (exited if it still runs,
    // cleaned up once); one it holds, on its stack or taking over, keeps its work.
    Ref<CCScene> out = _outScene;
    Ref<CCScene> in = _inScene;
    for (const Ref<CCScene>& scene : {out, in})
        if (scene) thrown.run([&] { director()->letGoOfScene(scene.get()); });
    thrown.rethrow();
}

// ---- CCTransitionSceneOriented ----

bool CCTransitionSceneOriented::initWithDuration(double duration, CCScene* scene, std::int32_t orientation) {
    if (!CCTransitionScene::initWithDuration(duration, scene)) return false;
    _orientation = orientation;
    return true;
}

void CCTransitionSceneOriented::draw() {
    if (glIsEnabled(GL_DEPTH_TEST) != GL_TRUE) return CCTransitionScene::draw();
    glCheck(glDisable(GL_DEPTH_TEST));
    // Back on also when a scene's drawing throws.
    struct DepthTestBack {
        ~DepthTestBack() { glCheck(glEnable(GL_DEPTH_TEST)); }
    } back;
    CCTransitionScene::draw();
}

// ---- rotate-zoom, jump-zoom ----

void CCTransitionRotoZoom::onEnter() {
    CCTransitionScene::onEnter();
    if (!isRunning()) return;
    _inScene->setScale(0.001f);
    if (_outScene) _outScene->setScale(1.0f);
    _inScene->setAnchorPoint(CGPointMake(0.5, 0.5));
    if (_outScene) _outScene->setAnchorPoint(CGPointMake(0.5, 0.5));

    double half = _duration / 2;
    Ref<CCFiniteTimeAction> rotoZoom =
        CCSequence::actions(CCSpawn::actions(CCScaleBy::actionWithDuration(half, 0.001f),
                                             CCRotateBy::actionWithDuration(half, 720.0f)),
                            CCDelayTime::actionWithDuration(half));
    runOnInScene(CCSequence::actions(rotoZoom->reverse(), finishAction()).get());
    runOnOutScene(rotoZoom.get());
}

void CCTransitionJumpZoom::onEnter() {
    CCTransitionScene::onEnter();
    if (!isRunning()) return;
    CGSize s = director()->winSize();
    _inScene->setScale(0.5f);
    _inScene->setPosition(CGPointMake(s.width, 0));
    _inScene->setAnchorPoint(CGPointMake(0.5, 0.5));
    if (_outScene) _outScene->setAnchorPoint(CGPointMake(0.5, 0.5));

    double quarter = _duration / 4;
    Ref<CCJumpBy> jump = CCJumpBy::actionWithDuration(quarter, CGPointMake(-s.width, 0), s.width / 4, 2);
    // The incoming scene hops with its own copy: one action object shared by two sequences
    // would be restarted on the incoming scene while the outgoing sequence still gives it its
    // last step and stop, depending on which scene the action manager steps first.
    Ref<CCJumpBy> jumpIn = platform::copyOf(jump.get());
    Ref<CCFiniteTimeAction> jumpZoomOut =
        CCSequence::actions(CCScaleTo::actionWithDuration(quarter, 0.5f), jump);
    Ref<CCFiniteTimeAction> jumpZoomIn =
        CCSequence::actions(jumpIn, CCScaleTo::actionWithDuration(quarter, 1.0f));
    runOnInScene(
        CCSequence::actions(CCDelayTime::actionWithDuration(_duration / 2), jumpZoomIn, finishAction())
            .get());
    runOnOutScene(jumpZoomOut.get());
}

// ---- move-in ----

void CCTransitionMoveInL::onEnter() {
    CCTransitionScene::onEnter();
    if (!isRunning()) return;
    initScenes();
    Ref<CCActionInterval> a = action();
    runOnInScene(CCSequence::actions(easeActionWithAction(a.get()), finishAction()).get());
}

void CCTransitionMoveInL::initScenes() {
    _inScene->setPosition(CGPointMake(-director()->winSize().width, 0));
}

Ref<CCActionInterval> CCTransitionMoveInL::action() {
    return CCMoveTo::actionWithDuration(_duration, CGPointZero);
}

Ref<CCActionInterval> CCTransitionMoveInL::easeActionWithAction(CCActionInterval* action) {
    return easeOut(action);
}

void CCTransitionMoveInR::initScenes() {
    _inScene->setPosition(CGPointMake(director()->winSize().width, 0));
}

void CCTransitionMoveInT::initScenes() {
    _inScene->setPosition(CGPointMake(0, director()->winSize().height));
}

void CCTransitionMoveInB::initScenes() {
    _inScene->setPosition(CGPointMake(0, -director()->winSize().height));
}

// ---- slide-in ----

// Half a point of overlap, so that no gap shows between the two scenes as they move.
static constexpr double kSlideInOverlap = 0.5;

void CCTransitionSlideInL::onEnter() {
    CCTransitionScene::onEnter();
    if (!isRunning()) return;
    initScenes();
    Ref<CCActionInterval> in = action();
    Ref<CCActionInterval> out = action();
    Ref<CCActionInterval> inEased = easeActionWithAction(in.get());
    Ref<CCActionInterval> outEased = easeActionWithAction(out.get());
    runOnInScene(inEased.get());
    runFinishOnOutScene(CCSequence::actions(outEased, finishAction()).get());
}

void CCTransitionSlideInL::sceneOrder() {
    _inSceneOnTop = false;
}

void CCTransitionSlideInL::initScenes() {
    _inScene->setPosition(CGPointMake(-(director()->winSize().width - kSlideInOverlap), 0));
}

Ref<CCActionInterval> CCTransitionSlideInL::action() {
    return CCMoveBy::actionWithDuration(_duration,
                                        CGPointMake(director()->winSize().width - kSlideInOverlap, 0));
}

Ref<CCActionInterval> CCTransitionSlideInL::easeActionWithAction(CCActionInterval* action) {
    return easeOut(action);
}

void CCTransitionSlideInR::sceneOrder() {
    _inSceneOnTop = true;
}

void CCTransitionSlideInR::initScenes() {
    _inScene->setPosition(CGPointMake(director()->winSize().width - kSlideInOverlap, 0));
}

Ref<CCActionInterval> CCTransitionSlideInR::action() {
    return CCMoveBy::actionWithDuration(_duration,
                                        CGPointMake(-(director()->winSize().width - kSlideInOverlap), 0));
}

void CCTransitionSlideInT::sceneOrder() {
    _inSceneOnTop = false;
}

void CCTransitionSlideInT::initScenes() {
    _inScene->setPosition(CGPointMake(0, director()->winSize().height - kSlideInOverlap));
}

Ref<CCActionInterval> CCTransitionSlideInT::action() {
    return CCMoveBy::actionWithDuration(_duration,
                                        CGPointMake(0, -(director()->winSize().height - kSlideInOverlap)));
}

void CCTransitionSlideInB::sceneOrder() {
    _inSceneOnTop = true;
}

void CCTransitionSlideInB::initScenes() {
    _inScene->setPosition(CGPointMake(0, -(director()->winSize().height - kSlideInOverlap)));
}

Ref<CCActionInterval> CCTransitionSlideInB::action() {
    return CCMoveBy::actionWithDuration(_duration,
                                        CGPointMake(0, director()->winSize().height - kSlideInOverlap));
}

// ---- shrink-grow ----

void CCTransitionShrinkGrow::onEnter() {
    CCTransitionScene::onEnter();
    if (!isRunning()) return;
    _inScene->setScale(0.001f);
    _inScene->setAnchorPoint(CGPointMake(static_cast<double>(2 / 3.0f), 0.5));
    if (_outScene) {
        _outScene->setScale(1.0f);
        _outScene->setAnchorPoint(CGPointMake(static_cast<double>(1 / 3.0f), 0.5));
    }
    Ref<CCActionInterval> scaleIn = CCScaleTo::actionWithDuration(_duration, 1.0f);
    Ref<CCActionInterval> scaleOut = CCScaleTo::actionWithDuration(_duration, 0.01f);
    runOnInScene(easeActionWithAction(scaleIn.get()).get());
    runFinishOnOutScene(CCSequence::actions(easeActionWithAction(scaleOut.get()), finishAction()).get());
}

Ref<CCActionInterval> CCTransitionShrinkGrow::easeActionWithAction(CCActionInterval* action) {
    return easeOut(action);
}

// ---- flips ----

namespace {

// The camera swing of one half of a flip: radius 1, no change of radius or azimuth.
Ref<CCOrbitCamera> orbit(double duration, float angleZ, float deltaAngleZ, float angleX) {
    return CCOrbitCamera::actionWithDuration(static_cast<float>(duration / 2), 1, 0, angleZ, deltaAngleZ,
                                             angleX, 0);
}

struct FlipAngles {
    float inAngleZ;
    float deltaZ;
};

FlipAngles flipAngles(bool positiveStep) {
    return positiveStep ? FlipAngles{270, 90} : FlipAngles{90, -90};
}

} // namespace

void CCTransitionSceneOriented::runFlip(bool positiveStep, float inAngleX, float outAngleX) {
    FlipAngles a = flipAngles(positiveStep);
    double half = _duration / 2;
    _inScene->setVisible(false);
    Ref<CCFiniteTimeAction> inA =
        CCSequence::actions(CCDelayTime::actionWithDuration(half), CCShow::action(),
                            orbit(_duration, a.inAngleZ, a.deltaZ, inAngleX), finishAction());
    Ref<CCFiniteTimeAction> outA = CCSequence::actions(
        orbit(_duration, 0, a.deltaZ, outAngleX), CCHide::action(), CCDelayTime::actionWithDuration(half));
    runOnInScene(inA.get());
    runOnOutScene(outA.get());
}

void CCTransitionSceneOriented::runZoomFlip(bool positiveStep, float inAngleX, float outAngleX,
                                            bool showAgain) {
    FlipAngles a = flipAngles(positiveStep);
    double half = _duration / 2;
    _inScene->setVisible(false);
    Ref<CCFiniteTimeAction> turnIn =
        CCSpawn::actions(orbit(_duration, a.inAngleZ, a.deltaZ, inAngleX),
                         CCScaleTo::actionWithDuration(half, 1.0f), CCShow::action());
    Ref<CCFiniteTimeAction> inA =
        showAgain ? CCSequence::actions(CCDelayTime::actionWithDuration(half), turnIn, CCShow::action(),
                                        finishAction())
                  : CCSequence::actions(CCDelayTime::actionWithDuration(half), turnIn, finishAction());
    Ref<CCFiniteTimeAction> outA = CCSequence::actions(
        CCSpawn::actions(orbit(_duration, 0, a.deltaZ, outAngleX), CCScaleTo::actionWithDuration(half, 0.5f)),
        CCHide::action(), CCDelayTime::actionWithDuration(half));
    _inScene->setScale(0.5f);
    runOnInScene(inA.get());
    runOnOutScene(outA.get());
}

void CCTransitionFlipX::onEnter() {
    CCTransitionScene::onEnter();
    if (!isRunning()) return;
    runFlip(_orientation == 1, 0, 0);
}

void CCTransitionFlipY::onEnter() {
    CCTransitionScene::onEnter();
    if (!isRunning()) return;
    runFlip(_orientation == 0, 90, 90);
}

void CCTransitionFlipAngular::onEnter() {
    CCTransitionScene::onEnter();
    if (!isRunning()) return;
    runFlip(_orientation == 1, -45, 45);
}

void CCTransitionZoomFlipX::onEnter() {
    CCTransitionScene::onEnter();
    if (!isRunning()) return;
    runZoomFlip(_orientation == 1, 0, 0, false);
}

void CCTransitionZoomFlipY::onEnter() {
    CCTransitionScene::onEnter();
    if (!isRunning()) return;
    runZoomFlip(_orientation == 0, 90, 90, false);
}

void CCTransitionZoomFlipAngular::onEnter() {
    CCTransitionScene::onEnter();
    if (!isRunning()) return;
    runZoomFlip(_orientation == 0, -45, 45, true);
}
