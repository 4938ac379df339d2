// Scene transitions. A transition is a scene handed to the director in place of the incoming
// scene: it takes the director's running scene as the outgoing one, draws both, animates them
// with ordinary actions and, one scheduler tick after its last action, replaces itself by the
// incoming scene. Touches are off while it runs. The geometric family lives here; the fades
// are in CCTransitionFade.h.
#pragma once

#include "actions/CCActionInterval.h"
#include "core/CCScene.h"
#include "platform/Object.h"

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

// The "receiving class" factory of transitions: `Self::transitionWithDuration(d, scene, extra...)`
// makes a Self and sends it initWithDuration(d, scene, extra...), so an initialiser that a
// subclass overrides (the fade's default colour) applies. Null when the initialiser refuses.
template <class Self, class Base> class CCTransitionFactory : public Base {
public:
    using Base::Base;

    template <class... Extra>
    static platform::Ref<Self> transitionWithDuration(double duration, CCScene* scene, Extra&&... extra) {
        platform::Ref<Self> made = platform::make<Self>();
        if (!made->initWithDuration(duration, scene, std::forward<Extra>(extra)...)) return nullptr;
        return made;
    }
};

// Transitions whose main action is eased.
class CCTransitionEaseScene {
public:
    virtual ~CCTransitionEaseScene() = default;
    // Wraps the main action in the transition's easing.
    virtual platform::Ref<CCActionInterval> easeActionWithAction(CCActionInterval* action) = 0;
};

class CCTransitionScene : public CCTransitionFactory<CCTransitionScene, CCScene> {
public:
    CCTransitionScene() = default;
    ~CCTransitionScene() override;

    // Seconds. Takes the director's running scene as the outgoing scene and fixes the draw
    // order with sceneOrder. False for a null incoming scene or for the running scene itself:
    // neither could ever be switched to soundly.
    virtual bool initWithDuration(double duration, CCScene* scene);
    // Incoming scene on top; subclasses choose their own.
    virtual void sceneOrder();
    // Visits the two scenes in the order sceneOrder chose.
    void draw() override;
    // Puts both scenes back to rest and schedules the switch for the next scheduler tick.
    virtual void finish();
    // The switch: replaces this transition by the incoming scene at the director, once.
    void setNewScene(double dt);
    // For a set-up that was cut short (a scene's callback threw as the transition entered):
    // puts the scenes to rest and switches to the incoming scene at the next frame, as its
    // actions never will.
    void finishAtOnce();
    // Incoming scene visible, outgoing scene hidden.
    void hideOutShowIn();
    // Touches off while it runs (see CCDirector::transitionRuns); the outgoing scene starts
    // leaving, the incoming one enters (each entered first when it does not run). A scene's call
    // may let the transition go (an end): it then no longer runs, and a subclass's set-up stops
    // there.
    void onEnter() override;
    // Touches back on unless another transition runs; the scene the director switches to
    // finishes entering, the other one that still runs leaves. Cut short, the transition first
    // leaves both scenes as finishing would have, taking off only what it put on them: its
    // actions stopped, its grid off, their cameras as they were, both at rest and visible.
    void onExit() override;
    // Lets go of each of its scenes the director no longer holds (see CCDirector::letGoOfScene).
    void cleanup() override;
    bool isTransitionScene() const override { return true; }

    CCScene* inScene() const { return _inScene.get(); }
    CCScene* outScene() const { return _outScene.get(); }
    // Seconds.
    double duration() const { return _duration; }
    bool isInSceneOnTop() const { return _inSceneOnTop; }

protected:
    // The call of finish, for the end of the action that ends the transition.
    platform::Ref<CCFiniteTimeAction> finishAction();
    // Runs the action on the incoming scene.
    void runOnInScene(CCFiniteTimeAction* action);
    // Runs the action on the outgoing scene, when there is one.
    void runOnOutScene(CCFiniteTimeAction* action);
    // Runs on the outgoing scene the action that ends with finishAction(). A transition that
    // opened the show has no outgoing scene: it then waits the action's time out itself and
    // finishes all the same, rather than never switching.
    void runFinishOnOutScene(CCFiniteTimeAction* action);

    platform::Ref<CCScene> _inScene;
    platform::Ref<CCScene> _outScene;
    double _duration = 0;
    bool _inSceneOnTop = false;
    // Copied from the director on entry (replaced or pushed) and again at the switch.
    bool _sendCleanupToScene = false;

private:
    // Runs the action on one of the two scenes and keeps it until the transition finishes or
    // is let go.
    void runOnScene(CCScene* scene, CCFiniteTimeAction* action);
    // What a transition cut short leaves undone: see onExit.
    void putScenesToRest();
    // Stops the actions this transition runs on its scenes (only those not yet done, or all)
    // and forgets them.
    void stopSceneActions(bool undoneOnly);

    // finish has run since the transition entered.
    bool _finished = false;
    // What the game had put on a scene when the transition entered: its active grid and its
    // camera (eye, centre, up), which a cut leaves in place.
    struct SceneAtEntry {
        CCScene* scene;
        const CCGridProtocol* grid;
        std::array<float, 9> camera;
    };
    std::vector<SceneAtEntry> _atEntry;
    // What a running transition inside this one, at any depth, found on the scene at its entry.
    const SceneAtEntry* innerEntryOf(const CCScene* scene) const;
    // The actions run on the scenes since the transition entered. The one that calls finish
    // holds the transition, so the list is emptied when the transition finishes or leaves.
    std::vector<std::pair<CCScene*, platform::Ref<CCAction>>> _sceneActions;
};

// Transitions that come in two mirrored forms, chosen by an orientation of 0 or 1.
class CCTransitionSceneOriented : public CCTransitionFactory<CCTransitionSceneOriented, CCTransitionScene> {
public:
    using CCTransitionScene::initWithDuration;
    virtual bool initWithDuration(double duration, CCScene* scene, std::int32_t orientation);
    std::int32_t orientation() const { return _orientation; }
    // Each scene turns as one flat picture: drawn without the depth test, in which its layers,
    // all at z 0, would fight as they turn. The director's setting is put back afterwards.
    void draw() override;

protected:
    // The flips: the outgoing scene turns away through the first half of the time and hides;
    // the incoming one waits hidden, then turns in. positiveStep picks the angles (270 by 90, or
    // 90 by -90); the angles X tilt the axis each scene turns about.
    void runFlip(bool positiveStep, float inAngleX, float outAngleX);
    // As runFlip, the scenes shrinking to half size as they turn away and growing back as they
    // turn in; showAgain shows the incoming scene once more after its turn (the angular kind).
    void runZoomFlip(bool positiveStep, float inAngleX, float outAngleX, bool showAgain);

    std::int32_t _orientation = 0;
};

// The outgoing scene spins away and shrinks; then the incoming one spins in and grows.
class CCTransitionRotoZoom : public CCTransitionFactory<CCTransitionRotoZoom, CCTransitionScene> {
public:
    void onEnter() override;
};

// The outgoing scene shrinks and jumps away; the incoming one jumps in and grows.
class CCTransitionJumpZoom : public CCTransitionFactory<CCTransitionJumpZoom, CCTransitionScene> {
public:
    void onEnter() override;
};

// The incoming scene moves in over the outgoing one from the left.
class CCTransitionMoveInL : public CCTransitionFactory<CCTransitionMoveInL, CCTransitionScene>,
                            public CCTransitionEaseScene {
public:
    void onEnter() override;
    // Places the incoming scene where it starts.
    virtual void initScenes();
    // The main action, before easing.
    virtual platform::Ref<CCActionInterval> action();
    // An ease out of rate 2.
    platform::Ref<CCActionInterval> easeActionWithAction(CCActionInterval* action) override;
};

class CCTransitionMoveInR : public CCTransitionFactory<CCTransitionMoveInR, CCTransitionMoveInL> {
public:
    void initScenes() override;
};

class CCTransitionMoveInT : public CCTransitionFactory<CCTransitionMoveInT, CCTransitionMoveInL> {
public:
    void initScenes() override;
};

class CCTransitionMoveInB : public CCTransitionFactory<CCTransitionMoveInB, CCTransitionMoveInL> {
public:
    void initScenes() override;
};

// Both scenes slide together, the incoming one pushing the outgoing one out; they overlap by
// half a point so no seam shows.
class CCTransitionSlideInL : public CCTransitionFactory<CCTransitionSlideInL, CCTransitionScene>,
                             public CCTransitionEaseScene {
public:
    void onEnter() override;
    // Incoming scene below.
    void sceneOrder() override;
    virtual void initScenes();
    // A new move each call: both scenes run their own.
    virtual platform::Ref<CCActionInterval> action();
    // An ease out of rate 2.
    platform::Ref<CCActionInterval> easeActionWithAction(CCActionInterval* action) override;
};

class CCTransitionSlideInR : public CCTransitionFactory<CCTransitionSlideInR, CCTransitionSlideInL> {
public:
    // Incoming scene on top.
    void sceneOrder() override;
    void initScenes() override;
    platform::Ref<CCActionInterval> action() override;
};

class CCTransitionSlideInT : public CCTransitionFactory<CCTransitionSlideInT, CCTransitionSlideInL> {
public:
    // Incoming scene below.
    void sceneOrder() override;
    void initScenes() override;
    platform::Ref<CCActionInterval> action() override;
};

class CCTransitionSlideInB : public CCTransitionFactory<CCTransitionSlideInB, CCTransitionSlideInL> {
public:
    // Incoming scene on top.
    void sceneOrder() override;
    void initScenes() override;
    platform::Ref<CCActionInterval> action() override;
};

// The outgoing scene shrinks towards its left third while the incoming one grows from its
// right third.
class CCTransitionShrinkGrow : public CCTransitionFactory<CCTransitionShrinkGrow, CCTransitionScene>,
                               public CCTransitionEaseScene {
public:
    void onEnter() override;
    // An ease out of rate 2.
    platform::Ref<CCActionInterval> easeActionWithAction(CCActionInterval* action) override;
};

// The flips turn the outgoing scene away through the first half of the time, then turn the
// incoming one in through the second half, by orbiting the scenes' cameras.
class CCTransitionFlipX : public CCTransitionFactory<CCTransitionFlipX, CCTransitionSceneOriented> {
public:
    void onEnter() override;
};

class CCTransitionFlipY : public CCTransitionFactory<CCTransitionFlipY, CCTransitionSceneOriented> {
public:
    void onEnter() override;
};

class CCTransitionFlipAngular
    : public CCTransitionFactory<CCTransitionFlipAngular, CCTransitionSceneOriented> {
public:
    void onEnter() override;
};

// The flips again, with the scenes shrinking to half size as they turn away and growing back
// as they turn in.
class CCTransitionZoomFlipX : public CCTransitionFactory<CCTransitionZoomFlipX, CCTransitionSceneOriented> {
public:
    void onEnter() override;
};

class CCTransitionZoomFlipY : public CCTransitionFactory<CCTransitionZoomFlipY, CCTransitionSceneOriented> {
public:
    void onEnter() override;
};

class CCTransitionZoomFlipAngular
    : public CCTransitionFactory<CCTransitionZoomFlipAngular, CCTransitionSceneOriented> {
public:
    void onEnter() override;
};
