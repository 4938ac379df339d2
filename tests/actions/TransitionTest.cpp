#include "actions/CCActionTransform.h"
#include "actions/CCTransition.h"
#include "actions/CCTransitionFade.h"
#include "actions/CCTransitionPageTurn.h"
#include "actions/CCTransitionProgress.h"
#include "actions/CCTransitionTiles.h"
#include "core/CCCamera.h"
#include "core/CCDirector.h"
#include "core/CCGLView.h"
#include "core/CCLayer.h"
#include "core/CCTouchDispatcher.h"
#include "graphics/CCRenderTexture.h"
#include "platform/Drawable.h"
#include "platform/Exception.h"
#include "platform/Image.h"
#include "tests/actions/ActionTestSupport.h"
#include "tests/support/EngineTestSupport.h"
#include "tests/support/GLTestSupport.h"

#include <GLES2/gl2ext.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

using fltest::CallLog;
using fltest::LoggingScene;
using fltest::near;
using platform::Ref;

namespace {

using Calls = std::vector<std::string>;

// A move-in that notes the frame in which its actions end.
class ProbeTransition : public CCTransitionFactory<ProbeTransition, CCTransitionMoveInL> {
public:
    void finish() override {
        finishedAt = CCDirector::sharedDirector()->totalFrames();
        CCTransitionMoveInL::finish();
    }
    std::uint64_t finishedAt = 0;
};

// A transition without actions, in the draw order it is given.
class StillTransition : public CCTransitionFactory<StillTransition, CCTransitionScene> {
public:
    void sceneOrder() override { _inSceneOnTop = inOnTop; }
    static inline bool inOnTop = true;
};

class TransitionTest : public fltest::TwoSceneTest {
protected:
    void SetUp() override {
        TwoSceneTest::SetUp();
        startOnA();
    }
    bool dispatching() { return director()->touchDispatcher()->dispatchEvents(); }
    static void expectAtRest(CCScene* s, bool visible) {
        EXPECT_EQ(s->visible(), visible);
        EXPECT_EQ(s->position(), CGPointZero);
        EXPECT_EQ(s->scale(), 1.0f);
        EXPECT_EQ(s->rotation(), 0.0f);
        float x, y, z;
        s->camera()->eyeX(&x, &y, &z);
        EXPECT_EQ(x, 0.0f);
        EXPECT_EQ(y, 0.0f);
        EXPECT_EQ(z, CCCamera::getZEye());
    }
    float eye(CCScene* s, int axis) {
        float v[3];
        s->camera()->eyeX(&v[0], &v[1], &v[2]);
        return v[axis];
    }
};

} // namespace

TEST_F(TransitionTest, ReplaceLeavesTheScenesLifeCycleToTheTransitionAndSwitchesOneTickAfterItsActions) {
    auto t = ProbeTransition::transitionWithDuration(0.5, b.get());
    ASSERT_TRUE(t);
    EXPECT_EQ(t->outScene(), a.get());
    director()->replaceScene(t.get());
    advanceRefreshes(1);
    EXPECT_EQ(takeLog(), (Calls{"exitStart A", "enter B"}));
    EXPECT_FALSE(dispatching());
    EXPECT_TRUE(a->isRunning());

    for (int i = 0; i < 60 && !t->finishedAt; ++i)
        advanceRefreshes(1);
    ASSERT_NE(t->finishedAt, 0u);
    EXPECT_EQ(director()->runningScene(), t.get()) << "never inside finish";
    EXPECT_TRUE(takeLog().empty());
    advanceRefreshes(1); // the next scheduler tick switches, and the frame draws the new scene
    EXPECT_EQ(director()->totalFrames(), t->finishedAt + 2);
    EXPECT_EQ(director()->runningScene(), b.get());
    EXPECT_EQ(takeLog(), (Calls{"exit A", "enterDone B", "cleanup A"}));
    EXPECT_TRUE(dispatching());
    expectAtRest(a.get(), true);
    expectAtRest(b.get(), true);
    EXPECT_EQ(director()->scenesStack().size(), 1u);
    advanceRefreshes(3);
    EXPECT_TRUE(takeLog().empty()); // switched once
}

TEST_F(TransitionTest, GoingBackToTheOutgoingSceneAfterFinishShowsIt) {
    auto t = ProbeTransition::transitionWithDuration(0.25, b.get());
    director()->replaceScene(t.get());
    for (int i = 0; i < 60 && !t->finishedAt; ++i)
        advanceRefreshes(1);
    ASSERT_NE(t->finishedAt, 0u);
    EXPECT_FALSE(a->visible()); // put to rest hidden by finish
    // The game's change comes before the transition's own switch, and wins.
    director()->replaceScene(a.get());
    advanceRefreshes(2);
    EXPECT_EQ(director()->runningScene(), a.get());
    EXPECT_TRUE(a->visible());
    EXPECT_TRUE(near(presentedPixel(160, 240), 0xFF0000FFu));
}

TEST_F(TransitionTest, PushedTransitionKeepsTheCoveredSceneForPop) {
    director()->pushScene(CCTransitionFade::transitionWithDuration(0.2, b.get()).get());
    runFor(0.4);
    EXPECT_EQ(director()->runningScene(), b.get());
    EXPECT_EQ(takeLog(), (Calls{"exitStart A", "enter B", "exit A", "enterDone B"})); // no cleanup of A
    ASSERT_EQ(director()->scenesStack().size(), 2u);
    director()->popScene();
    advanceRefreshes(1);
    EXPECT_EQ(takeLog(), (Calls{"exitStart B", "exit B", "cleanup B", "enter A", "enterDone A"}));
}

TEST_F(TransitionTest, RefusesAMissingSceneOrTheRunningOne) {
    EXPECT_FALSE(CCTransitionFade::transitionWithDuration(1, nullptr));
    EXPECT_FALSE(CCTransitionFlipX::transitionWithDuration(1, a.get(), 1));
}

TEST_F(TransitionTest, ConsecutiveTransitionsAndATransitionReplacedMidway) {
    auto c = LoggingScene::make(&log, "C", ccc3(0, 255, 0));
    director()->replaceScene(CCTransitionSlideInL::transitionWithDuration(0.25, b.get()).get());
    runFor(0.5);
    director()->replaceScene(CCTransitionFade::transitionWithDuration(0.25, c.get()).get());
    runFor(0.5);
    EXPECT_EQ(director()->runningScene(), c.get());
    EXPECT_EQ(takeLog(), (Calls{"exitStart A", "enter B", "exit A", "enterDone B", "cleanup A", "exitStart B",
                                "enter C", "exit B", "enterDone C", "cleanup B"}));

    // A second transition while the first one runs: the first never switches, and both of its
    // scenes leave with it.
    auto t1 = CCTransitionMoveInR::transitionWithDuration(0.5, a.get());
    director()->replaceScene(t1.get());
    runFor(0.25);
    auto t2 = CCTransitionCrossFade::transitionWithDuration(0.5, b.get());
    ASSERT_TRUE(t2);
    director()->replaceScene(t2.get());
    runFor(1);

    EXPECT_EQ(director()->runningScene(), b.get());
    EXPECT_EQ(director()->scenesStack().size(), 1u);
    EXPECT_EQ(takeLog(), (Calls{"exitStart C", "enter A", "enter B", "exit C", "exit A", "enterDone B",
                                "cleanup C", "cleanup A"}));
    EXPECT_TRUE(dispatching());
    EXPECT_TRUE(b->isRunning());
    EXPECT_FALSE(a->isRunning());
}

TEST_F(TransitionTest, AChangeFromTheOutgoingScenesExitLeavesTheTransitionOnlyScenesItHolds) {
    director()->replaceScene(CCTransitionFade::transitionWithDuration(1, b.get()).get());
    advanceRefreshes(5);
    auto d = LoggingScene::make(&log, "D", ccc3(0, 255, 0));
    a->afterExit = [&] { director()->replaceScene(d.get()); };
    {
        // Only the director holds C: A's exit lets it go while the transition leaves.
        auto c = LoggingScene::make(&log, "C", ccc3(255, 255, 0));
        director()->replaceScene(c.get());
    }
    log.clear();
    advanceRefreshes(2);
    EXPECT_EQ(director()->runningScene(), d.get());
    EXPECT_EQ(takeLog(),
              (Calls{"exit A", "cleanup C", "exit B", "cleanup A", "cleanup B", "enter D", "enterDone D"}));
    EXPECT_TRUE(near(presentedPixel(160, 240), 0x00FF00FFu));
}

TEST_F(TransitionTest, TouchesStayOffUntilTheLastOfTransitionsInsideOneAnotherHasLeft) {
    auto moveIn = CCTransitionMoveInL::transitionWithDuration(2.0, b.get());
    director()->replaceScene(CCTransitionFade::transitionWithDuration(0.2, moveIn.get()).get());
    advanceRefreshes(30); // the fade is over; the move-in runs for 1.5 s more
    ASSERT_TRUE(director()->runningScene()->isTransitionScene());
    EXPECT_FALSE(dispatching());
    runFor(2);
    EXPECT_EQ(director()->runningScene(), b.get());
    EXPECT_TRUE(dispatching());
}

namespace {

// What a game gives a scene it hands over: an update and an action, both of which hold the scene
// until its cleanup.
void giveWork(CCScene* s) {
    s->scheduleUpdate();
    s->runAction(CCRotateBy::actionWithDuration(10, 90).get());
}

} // namespace

TEST_F(TransitionTest, ARunningTransitionHandedOverAgainFromCleanupsHandsOverItsIncomingSceneAtAnEnd) {
    auto t = CCTransitionMoveInT::transitionWithDuration(5, b.get());
    director()->replaceScene(t.get());
    advanceRefreshes(2);
    auto handOverAgain = [&] {
        giveWork(b.get());
        director()->replaceScene(t.get());
    };
    a->afterCleanup = handOverAgain;
    b->afterCleanup = handOverAgain;
    log.clear();
    director()->end();
    EXPECT_EQ(takeLog(), (Calls{"exit A", "exit B", "cleanup A", "cleanup B", "cleanup B"}));
    // The work B was given in its cleanup went with its last one: only we hold B.
    EXPECT_EQ(b->numberOfRunningActions(), 0u);
    EXPECT_EQ(b->retainCount(), 2u); // the fixture's and the transition's
}

TEST_F(TransitionTest, ATransitionHandedOverAgainAtTheSwitchHandsOverItsIncomingScene) {
    auto t = CCTransitionMoveInT::transitionWithDuration(5, b.get());
    director()->replaceScene(t.get());
    advanceRefreshes(2);
    auto c = LoggingScene::make(&log, "C", ccc3(0, 255, 0));
    auto d = LoggingScene::make(&log, "D", ccc3(255, 255, 0));
    auto e = LoggingScene::make(&log, "E", ccc3(255, 0, 255));
    director()->replaceScene(c.get());
    // A fade made from the transition being left takes B back as cleaned up; the transition
    // handed over again owes B's cleanup all the same.
    b->afterCleanup = [&] {
        giveWork(b.get());
        director()->replaceScene(CCTransitionFade::transitionWithDuration(0.1, d.get()).get());
        director()->replaceScene(t.get());
        director()->replaceScene(e.get());
    };
    log.clear();
    advanceRefreshes(2);
    EXPECT_EQ(director()->runningScene(), e.get());
    Calls calls = takeLog();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "cleanup B"), 2) << ::testing::PrintToString(calls);
    EXPECT_EQ(b->numberOfRunningActions(), 0u);
    EXPECT_EQ(b->retainCount(), 2u);
}

TEST_F(TransitionTest, ATransitionCutShortByAThrowSwitchesAfterTheGameHandsItOverAgain) {
    a->throwIn = "exitStart";
    auto t = CCTransitionMoveInL::transitionWithDuration(0.2, b.get());
    director()->replaceScene(t.get());
    EXPECT_THROW(advanceRefreshes(1), platform::Exception);
    director()->replaceScene(t.get());
    runFor(1);
    EXPECT_EQ(director()->runningScene(), b.get());
    EXPECT_TRUE(dispatching());
}

TEST_F(TransitionTest, ATransitionRunWhoseEnteringThrewSwitchesAfterTheGamePushesItAgain) {
    b->throwIn = "enter";
    auto t = CCTransitionFade::transitionWithDuration(0.2, b.get());
    EXPECT_THROW(director()->runWithScene(t.get()), platform::Exception);
    director()->pushScene(t.get());
    runFor(1);
    EXPECT_EQ(director()->runningScene(), b.get());
    EXPECT_TRUE(dispatching());
}

TEST_F(TransitionTest, DrawsBothScenesInItsOrderAndCanBeSkippedToEitherScene) {
    StillTransition::inOnTop = false;
    director()->replaceScene(StillTransition::transitionWithDuration(1, b.get()).get());
    advanceRefreshes(1);
    EXPECT_TRUE(near(presentedPixel(160, 240), 0xFF0000FFu)); // the outgoing scene over
    // Replaced by its own incoming scene, the transition lets that scene finish entering.
    director()->replaceScene(b.get());
    advanceRefreshes(1);
    EXPECT_EQ(takeLog(), (Calls{"exitStart A", "enter B", "exit A", "enterDone B", "cleanup A"}));
    EXPECT_TRUE(b->isRunning());

    StillTransition::inOnTop = true;
    director()->replaceScene(StillTransition::transitionWithDuration(1, a.get()).get());
    advanceRefreshes(1);
    EXPECT_TRUE(near(presentedPixel(160, 240), 0xFF0000FFu)); // the incoming scene over
    // Back to the outgoing scene: it stays, the incoming one leaves.
    director()->replaceScene(b.get());
    advanceRefreshes(1);
    EXPECT_EQ(takeLog(), (Calls{"exitStart B", "enter A", "enterDone B", "exit A", "cleanup A"}));
    EXPECT_TRUE(b->isRunning());
    EXPECT_FALSE(a->isRunning());

    // On to a third scene: both of the transition's scenes leave, then the third one enters.
    auto c = LoggingScene::make(&log, "C", ccc3(0, 255, 0));
    director()->replaceScene(StillTransition::transitionWithDuration(1, a.get()).get());
    advanceRefreshes(1);
    director()->replaceScene(c.get());
    advanceRefreshes(1);
    EXPECT_EQ(takeLog(), (Calls{"exitStart B", "enter A", "exit B", "exit A", "cleanup B", "cleanup A",
                                "enter C", "enterDone C"}));
    EXPECT_TRUE(c->isRunning());
    EXPECT_TRUE(near(presentedPixel(160, 240), 0x00FF00FFu));
}

TEST_F(TransitionTest, FadeCoversWithItsColourThenUncovers) {
    auto t = CCTransitionFade::transitionWithDuration(1, b.get(), ccc3(0, 255, 0));
    EXPECT_EQ(CCTransitionFade::transitionWithDuration(1, b.get())->color(), ccc4(0, 0, 0, 0));
    EXPECT_EQ(t->color(), ccc4(0, 255, 0, 0));
    enter(t.get());
    auto* layer = dynamic_cast<CCLayerColor*>(t->getChildByTag(kCCSceneFadeTag));
    ASSERT_TRUE(layer);
    EXPECT_EQ(layer->zOrder(), 2);
    EXPECT_EQ(kCCSceneFadeTag, 4208917214);
    EXPECT_EQ(layer->opacity(), 0);
    EXPECT_FALSE(b->visible());
    EXPECT_TRUE(near(presentedPixel(10, 10), 0xFF0000FFu));

    runFor(0.25);
    EXPECT_TRUE(near(presentedPixel(10, 10), 0x7F7F00FFu, 4)); // half way to green, over red
    runFor(0.25 - 1.0 / 60);
    EXPECT_FALSE(b->visible());
    EXPECT_TRUE(near(presentedPixel(10, 10), 0x00FF00FFu, 10));
    runFor(2.0 / 60);
    EXPECT_TRUE(b->visible());
    EXPECT_FALSE(a->visible());
    EXPECT_TRUE(near(presentedPixel(10, 10), 0x00FF00FFu, 10));
    runFor(0.25 - 1.0 / 60);
    EXPECT_TRUE(near(presentedPixel(10, 10), 0x007F7FFFu, 4)); // uncovering blue
    runFor(0.3);
    EXPECT_EQ(director()->runningScene(), b.get());
    EXPECT_EQ(t->getChildByTag(kCCSceneFadeTag), nullptr);
    EXPECT_TRUE(near(presentedPixel(10, 10), 0x0000FFFFu));
}

TEST_F(TransitionTest, CrossFadeBlendsPicturesOfBothScenes) {
    auto t = CCTransitionCrossFade::transitionWithDuration(1, b.get());
    enter(t.get());
    CCNode* holder = t->getChildByTag(kCCSceneFadeTag);
    ASSERT_TRUE(holder);
    EXPECT_EQ(holder->zOrder(), 2);
    EXPECT_TRUE(near(presentedPixel(300, 460), 0xFF0000FFu));
    // Red gives way to blue, the two shares adding up to the whole picture at every frame.
    for (int frame = 1; frame <= 60; ++frame) {
        advanceRefreshes(1);
        std::uint32_t pixel = presentedPixel(300, 460);
        EXPECT_NEAR(int(pixel >> 24) + int((pixel >> 8) & 0xFF), 255, 8)
            << "frame " << frame << std::hex << " " << pixel;
        if (frame == 30) {
            EXPECT_NEAR(int(pixel >> 24), 127, 10) << std::hex << pixel;
        }
    }
    runFor(0.05);
    EXPECT_EQ(director()->runningScene(), b.get());
    EXPECT_TRUE(near(presentedPixel(300, 460), 0x0000FFFFu));
}

// Captured halfway (a screenshot, or a transition from a running fade), the fade of two opaque
// scenes is opaque, as on the screen.
TEST_F(TransitionTest, ACaptureOfACrossFadeIsOpaque) {
    auto t = CCTransitionCrossFade::transitionWithDuration(1, b.get());
    enter(t.get());
    advanceRefreshes(30);
    auto rt = CCRenderTexture::renderTextureWithWidth(320, 480);
    ASSERT_TRUE(rt);
    rt->beginWithClear(0, 0, 0, 0);
    t->visit();
    rt->end();
    platform::Ref<platform::Image> picture = rt->newCGImage();
    ASSERT_TRUE(picture);
    const std::uint8_t* pixel = &picture->pixels()[(20 * 320 + 300) * 4]; // (300, 460), rows top-down
    EXPECT_NEAR(pixel[0], 127, 10);
    EXPECT_EQ(pixel[3], 255);
}

namespace {

// One transition kind: how to make it, its draw order, and checks at chosen times.
struct Kind {
    std::string name;
    std::function<Ref<CCTransitionScene>(CCScene*)> make;
    bool inOnTop;
    std::function<void(CCScene* in, CCScene* out, double t)> check; // t: seconds since entry
    std::vector<double> times;
};

void expectPos(CCScene* s, double x, double y, double tolerance = 0.01) {
    EXPECT_NEAR(s->position().x, x, tolerance);
    EXPECT_NEAR(s->position().y, y, tolerance);
}

// Eased out with rate 2, at t of 1.
double eased(double t) {
    return std::sqrt(t);
}

} // namespace

TEST_F(TransitionTest, EachKindRunsItsActionsAndEndsWithBothScenesAtRest) {
    const double W = 320, H = 480, d = 1;
    auto move = [](double fromX, double fromY) {
        return [=](CCScene* in, CCScene*, double t) {
            expectPos(in, fromX * (1 - eased(t)), fromY * (1 - eased(t)), 0.01);
        };
    };
    auto slide = [](double dx, double dy) {
        return [=](CCScene* in, CCScene* out, double t) {
            expectPos(out, dx * eased(t), dy * eased(t));
            expectPos(in, out->position().x - dx, out->position().y - dy, 1e-9); // one overlap all the way
        };
    };
    // The sign of the eye's swing: the outgoing scene at d/4, the incoming one at 3d/4.
    auto flip = [](int axis, float outSign, float inSign, bool zoom) {
        return [=](CCScene* in, CCScene* out, double t) {
            float v[3];
            if (t < 0.5) {
                EXPECT_FALSE(in->visible());
                out->camera()->eyeX(&v[0], &v[1], &v[2]);
                EXPECT_GT(v[axis] * outSign, FLT_EPSILON / 4) << "out, t " << t;
                if (zoom) {
                    EXPECT_NEAR(out->scale(), 0.75, 0.01);
                }
            } else {
                EXPECT_TRUE(in->visible());
                EXPECT_FALSE(out->visible());
                in->camera()->eyeX(&v[0], &v[1], &v[2]);
                EXPECT_GT(v[axis] * inSign, FLT_EPSILON / 4) << "in, t " << t;
                if (zoom) {
                    EXPECT_NEAR(in->scale(), 0.75, 0.01);
                }
            }
        };
    };
    auto oriented = [](auto factory, std::int32_t orientation) {
        return [=](CCScene* s) -> Ref<CCTransitionScene> { return factory(1, s, orientation); };
    };
#define FACTORY(T) [](double dd, CCScene* s, std::int32_t o) { return T::transitionWithDuration(dd, s, o); }
#define PLAIN(T) [](CCScene* s) -> Ref<CCTransitionScene> { return T::transitionWithDuration(1, s); }
    std::vector<Kind> kinds = {
        {"MoveInL", PLAIN(CCTransitionMoveInL), true, move(-W, 0), {0, 0.5}},
        {"MoveInR", PLAIN(CCTransitionMoveInR), true, move(W, 0), {0, 0.25}},
        {"MoveInT", PLAIN(CCTransitionMoveInT), true, move(0, H), {0, 0.75}},
        {"MoveInB", PLAIN(CCTransitionMoveInB), true, move(0, -H), {0.5}},
        {"SlideInL", PLAIN(CCTransitionSlideInL), false, slide(W - 0.5, 0), {0, 0.5}},
        {"SlideInR", PLAIN(CCTransitionSlideInR), true, slide(-(W - 0.5), 0), {0.5}},
        {"SlideInT", PLAIN(CCTransitionSlideInT), false, slide(0, -(H - 0.5)), {0.5}},
        {"SlideInB", PLAIN(CCTransitionSlideInB), true, slide(0, H - 0.5), {0.5}},
        {"ShrinkGrow",
         PLAIN(CCTransitionShrinkGrow),
         true,
         [](CCScene* in, CCScene* out, double t) {
             EXPECT_EQ(in->anchorPoint(), CGPointMake(double(0.6666667f), 0.5));
             EXPECT_EQ(out->anchorPoint(), CGPointMake(double(0.33333334f), 0.5));
             EXPECT_NEAR(in->scale(), 0.001 + 0.999 * eased(t), 1e-4);
             EXPECT_NEAR(out->scale(), 1 - 0.99 * eased(t), 1e-4);
         },
         {0, 0.5}},
        {"RotoZoom",
         PLAIN(CCTransitionRotoZoom),
         true,
         [](CCScene* in, CCScene* out, double t) {
             if (t < 0.5) {
                 EXPECT_NEAR(out->rotation(), 1440 * t, 0.01);
                 EXPECT_NEAR(out->scale(), 1 - 0.999 * 2 * t, 1e-4);
                 EXPECT_NEAR(in->scale(), 0.001, 1e-6); // waits
             } else {
                 EXPECT_NEAR(in->rotation(), -1440 * (t - 0.5), 0.01);
                 EXPECT_NEAR(in->scale(), 0.001 + 0.999 * 2 * (t - 0.5), 1e-3);
             }
         },
         {0.25, 0.75}},
        {"JumpZoom",
         PLAIN(CCTransitionJumpZoom),
         true,
         [W](CCScene* in, CCScene* out, double t) {
             if (t < 0.5) {
                 EXPECT_NEAR(out->scale(), 0.5, 1e-6);
                 EXPECT_NEAR(out->position().x, -W * 4 * (t - 0.25), 0.01);
                 EXPECT_GT(out->position().y, 1); // in the air
                 expectPos(in, W, 0);
                 EXPECT_NEAR(in->scale(), 0.5, 1e-6);
             } else {
                 expectPos(out, -W, 0);
                 EXPECT_NEAR(in->position().x, W - W * 4 * (t - 0.5), 0.01);
                 EXPECT_GT(in->position().y, 1);
             }
         },
         {0.3, 0.55}},
        {"FlipX 1", oriented(FACTORY(CCTransitionFlipX), 1), true, flip(0, 1, -1, false), {0.25, 0.75}},
        {"FlipX 0", oriented(FACTORY(CCTransitionFlipX), 0), true, flip(0, -1, 1, false), {0.25, 0.75}},
        {"FlipY 0", oriented(FACTORY(CCTransitionFlipY), 0), true, flip(1, 1, -1, false), {0.25, 0.75}},
        {"FlipY 1", oriented(FACTORY(CCTransitionFlipY), 1), true, flip(1, -1, 1, false), {0.25, 0.75}},
        {"FlipAngular 1",
         oriented(FACTORY(CCTransitionFlipAngular), 1),
         true,
         flip(1, 1, 1, false),
         {0.25, 0.75}},
        {"FlipAngular 0",
         oriented(FACTORY(CCTransitionFlipAngular), 0),
         true,
         flip(1, -1, -1, false),
         {0.25, 0.75}},
        {"ZoomFlipX 1",
         oriented(FACTORY(CCTransitionZoomFlipX), 1),
         true,
         flip(0, 1, -1, true),
         {0.25, 0.75}},
        {"ZoomFlipY 0",
         oriented(FACTORY(CCTransitionZoomFlipY), 0),
         true,
         flip(1, 1, -1, true),
         {0.25, 0.75}},
        {"ZoomFlipAngular 0",
         oriented(FACTORY(CCTransitionZoomFlipAngular), 0),
         true,
         flip(0, 1, -1, true),
         {0.25, 0.75}},
        {"ZoomFlipAngular 1",
         oriented(FACTORY(CCTransitionZoomFlipAngular), 1),
         true,
         flip(0, -1, 1, true),
         {0.25, 0.75}},
    };
#undef FACTORY
#undef PLAIN
    Ref<LoggingScene> from = a, to = b;
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.name);
        Ref<CCTransitionScene> t = k.make(to.get());
        ASSERT_TRUE(t);
        EXPECT_EQ(t->isInSceneOnTop(), k.inOnTop);
        enter(t.get());
        double now = 0;
        for (double at : k.times) {
            runFor(at - now);
            now = at;
            k.check(to.get(), from.get(), now);
        }
        runFor(d + 2.0 / 60 - now);
        EXPECT_EQ(director()->runningScene(), to.get());
        expectAtRest(from.get(), true);
        expectAtRest(to.get(), true);
        std::swap(from, to);
    }
}

// ---- a game's exception during a transition ----

namespace {

using MakeTransition = std::function<Ref<CCTransitionScene>(CCScene*)>;

// A maker of transitions of one kind lasting 0.1 s.
template <class T, class... Extra> MakeTransition kindOf(Extra... extra) {
    return [=](CCScene* s) -> Ref<CCTransitionScene> { return T::transitionWithDuration(0.1, s, extra...); };
}

// The kinds a game's throw is tried with: colour, picture, grid, progress and move families.
std::vector<std::pair<std::string, MakeTransition>> throwingKinds() {
    return {{"Fade", kindOf<CCTransitionFade>()},
            {"CrossFade", kindOf<CCTransitionCrossFade>()},
            {"PageTurn", kindOf<CCTransitionPageTurn>(false)},
            {"TurnOffTiles", kindOf<CCTransitionTurnOffTiles>()},
            {"SplitCols", kindOf<CCTransitionSplitCols>()},
            {"RadialCCW", kindOf<CCTransitionProgressRadialCCW>()},
            {"MoveInL", kindOf<CCTransitionMoveInL>()}};
}

class TransitionThrowTest : public TransitionTest {
protected:
    // Switches back and forth through each kind, the incoming scene throwing from inCall and
    // the outgoing one from outCall by turns, the game catching what the frames throw. Each
    // switch must settle as it does without a throw, `framesLate` frames after the throw.
    void switchThroughEachKind(const std::string& inCall, const std::string& outCall, int framesLate) {
        Ref<LoggingScene> from = a, to = b;
        bool incoming = true;
        for (const auto& [name, make] : throwingKinds()) {
            SCOPED_TRACE(name);
            (incoming ? to->throwIn : from->throwIn) = incoming ? inCall : outCall;
            from->scheduleUpdate(); // the scheduler holds it until its cleanup
            Ref<CCTransitionScene> t = make(to.get());
            director()->replaceScene(t.get());
            int throws = 0, afterThrow = 0;
            for (int i = 0; i < 30 && director()->runningScene() != to.get(); ++i) {
                if (throws) ++afterThrow;
                try {
                    advanceRefreshes(1);
                } catch (const platform::Exception&) {
                    ++throws;
                }
            }
            EXPECT_EQ(throws, 1);
            EXPECT_EQ(afterThrow, framesLate);
            EXPECT_EQ(director()->runningScene(), to.get());
            std::string in = to == b ? "B" : "A", out = to == b ? "A" : "B";
            EXPECT_EQ(takeLog(), (Calls{"exitStart " + out, "enter " + in, "exit " + out, "enterDone " + in,
                                        "cleanup " + out}));
            EXPECT_TRUE(dispatching());
            EXPECT_TRUE(to->isRunning());
            EXPECT_FALSE(from->isRunning());
            EXPECT_EQ(t->retainCount(), 1u); // cleaned up: no action or timer holds it
            t = nullptr;
            EXPECT_EQ(from->retainCount(), 2u); // the fixture's and ours: the scheduler let go
            advanceRefreshes(1);
            EXPECT_TRUE(near(presentedPixel(160, 240), to == b ? 0x0000FFFFu : 0xFF0000FFu));
            EXPECT_TRUE(takeLog().empty());
            std::swap(from, to);
            incoming = !incoming;
        }
    }
};

} // namespace

TEST_F(TransitionThrowTest, AThrowAsTheTransitionEndsStillSwitchesOnceInThatFrame) {
    switchThroughEachKind("enterDone", "exit", 0);
}

TEST_F(TransitionThrowTest, AThrowAsTheTransitionStartsEndsItOnTheIncomingSceneAtTheNextFrame) {
    switchThroughEachKind("enter", "exitStart", 1);
}

// ---- ending and popping to the root whatever a scene throws ----

namespace {

// What one run of a scene operation leaves: the scenes' calls, the state when the game catches
// (or, without a throw, once the operation returned), the running scene and the pixel of the
// next frame, the calls and references left after the purge.
struct LetGoRun {
    Calls calls;
    int throws = 0;
    std::size_t stackAtCatch = 0;
    std::string nextAtCatch;
    bool viewAtCatch = false;
    std::string running;
    std::uint32_t pixel = 0;
    Calls purgeCalls;
    std::vector<std::uint64_t> references;
    bool operator==(const LetGoRun&) const = default;
};

void PrintTo(const LetGoRun& r, std::ostream* os) {
    auto list = [os](const Calls& calls) {
        for (const std::string& call : calls)
            *os << call << "; ";
    };
    *os << "calls: ";
    list(r.calls);
    *os << "throws " << r.throws << ", at the catch: stack " << r.stackAtCatch << ", next '" << r.nextAtCatch
        << "', view " << r.viewAtCatch << "; running '" << r.running << "', pixel " << std::hex << r.pixel
        << std::dec << "; purge: ";
    list(r.purgeCalls);
    for (std::uint64_t n : r.references)
        *os << n << " ";
}

class SceneLetGoTest : public fltest::EngineGLTest {
protected:
    using Operation = std::function<void(Ref<LoggingScene>*)>;

    // A fresh director shows A (red) under B (blue) under C (green) as `depth` asks; the scene
    // `thrower` (an index, or none) throws from `call`; `operate` does the operation, whose
    // exception the game catches.
    LetGoRun play(std::size_t depth, const Operation& operate, int thrower = -1, const char* call = "") {
        CCDirector::purgeSharedDirector();
        director()->setView(view());
        CallLog log;
        Ref<LoggingScene> s[] = {LoggingScene::make(&log, "A", ccc3(255, 0, 0)),
                                 LoggingScene::make(&log, "B", ccc3(0, 0, 255)),
                                 LoggingScene::make(&log, "C", ccc3(0, 255, 0))};
        director()->runWithScene(s[0].get());
        director()->startAnimation();
        for (std::size_t i = 1; i < depth; ++i) {
            director()->pushScene(s[i].get());
            advanceRefreshes(1);
        }
        // The scheduler holds each scene on the stack until its cleanup.
        for (std::size_t i = 0; i < depth; ++i)
            s[i]->scheduleUpdate();
        log.clear();
        auto nameOf = [&s](CCScene* scene) -> std::string {
            for (const char* name : {"A", "B", "C"})
                if (scene && scene == s[*name - 'A'].get()) return name;
            return "";
        };
        if (thrower >= 0) s[thrower]->throwIn = call;
        LetGoRun run;
        try {
            operate(s);
        } catch (const platform::Exception&) {
            ++run.throws;
        }
        run.stackAtCatch = director()->scenesStack().size();
        run.nextAtCatch = nameOf(director()->nextScene());
        run.viewAtCatch = director()->view() != nullptr;
        advanceRefreshes(1);
        run.running = nameOf(director()->runningScene());
        run.pixel = presentedPixel(160, 240);
        run.calls = std::exchange(log.calls, {});
        CCDirector::purgeSharedDirector();
        run.purgeCalls = log.calls;
        for (auto& scene : s)
            run.references.push_back(scene->retainCount());
        return run;
    }
    // The operation without the throw and with it: the second run throws once and otherwise
    // leaves what the first leaves. Gives the first.
    LetGoRun playWithAndWithoutTheThrow(std::size_t depth, const Operation& operate, int thrower,
                                        const char* call) {
        LetGoRun clean = play(depth, operate);
        LetGoRun thrown = play(depth, operate, thrower, call);
        EXPECT_EQ(clean.throws, 0);
        EXPECT_EQ(thrown.throws, 1);
        thrown.throws = clean.throws;
        EXPECT_EQ(thrown, clean);
        EXPECT_EQ(clean.references, (std::vector<std::uint64_t>{1, 1, 1})); // only ours
        return clean;
    }
};

} // namespace

TEST_F(SceneLetGoTest, EndingAndPoppingToTheRootLetEachSceneGoOnceWhateverItsCallbacksThrow) {
    // Ending right after a transition's entry threw: the transition was set to finish at once,
    // yet both its scenes leave with it as when it entered cleanly.
    LetGoRun run = playWithAndWithoutTheThrow(
        1,
        [&](Ref<LoggingScene>* s) {
            s[1]->scheduleUpdate();
            director()->replaceScene(CCTransitionMoveInL::transitionWithDuration(0.1, s[1].get()).get());
            try {
                advanceRefreshes(1);
            } catch (const platform::Exception&) {
                director()->end();
                throw;
            }
            director()->end();
        },
        1, "enter");
    EXPECT_EQ(run.calls, (Calls{"exitStart A", "enter B", "exit A", "exit B", "cleanup A", "cleanup B"}));
    EXPECT_EQ(run.running, "");
    EXPECT_FALSE(run.viewAtCatch);

    // Popping to the root: each scene above it leaves once (the switch does not exit the top
    // scene again), and the root runs and shows at the next frame.
    auto popToRoot = [&](Ref<LoggingScene>*) { director()->popToRootScene(); };
    run = playWithAndWithoutTheThrow(3, popToRoot, 2, "exit");
    EXPECT_EQ(run.calls,
              (Calls{"exitStart C", "exit C", "cleanup C", "cleanup B", "enter A", "enterDone A"}));
    EXPECT_EQ(run.stackAtCatch, 1u);
    EXPECT_EQ(run.nextAtCatch, "A");
    EXPECT_EQ(run.running, "A");
    EXPECT_TRUE(near(run.pixel, 0xFF0000FFu));
    EXPECT_EQ(run.purgeCalls, (Calls{"exitStart A", "exit A", "cleanup A"}));

    // Popping to the root past a pushed transition: the transition lets its incoming scene go
    // as it leaves, and the root it covered takes over again.
    run = play(1, [&](Ref<LoggingScene>* s) {
        director()->pushScene(CCTransitionMoveInL::transitionWithDuration(0.5, s[1].get()).get());
        advanceRefreshes(5);
        director()->popToRootScene();
    });
    EXPECT_EQ(run.calls, (Calls{"exitStart A", "enter B", "enterDone A", "exit B", "cleanup B"}));
    EXPECT_EQ(run.running, "A");
    EXPECT_TRUE(near(run.pixel, 0xFF0000FFu));
    EXPECT_EQ(run.purgeCalls, (Calls{"exitStart A", "exit A", "cleanup A"}));
    EXPECT_EQ(run.references, (std::vector<std::uint64_t>{1, 1, 1}));

    // Ending while the running scene's exit throws: the director is ended all the same, and the
    // purge has nothing left to exit.
    run = playWithAndWithoutTheThrow(
        2, [&](Ref<LoggingScene>*) { director()->end(); }, 1, "exit");
    EXPECT_EQ(run.calls, (Calls{"exitStart B", "exit B", "cleanup B", "cleanup A"}));
    EXPECT_EQ(run.stackAtCatch, 0u);
    EXPECT_FALSE(run.viewAtCatch);
    EXPECT_EQ(run.running, "");
    EXPECT_TRUE(run.purgeCalls.empty());
}

// ---- a transition that opens the show ----

namespace {

// Opening the show, a transition has no outgoing scene; it must still end on time, also when
// the action that ends it would run on the outgoing scene.
class OpeningTransitionTest : public fltest::EngineGLTest, public ::testing::WithParamInterface<std::string> {
protected:
    Ref<CCTransitionScene> make(CCScene* in) {
        const std::string& kind = GetParam();
        if (kind == "SlideInL") return CCTransitionSlideInL::transitionWithDuration(0.5, in);
        if (kind == "SlideInB") return CCTransitionSlideInB::transitionWithDuration(0.5, in);
        if (kind == "ShrinkGrow") return CCTransitionShrinkGrow::transitionWithDuration(0.5, in);
        if (kind == "MoveInR") return CCTransitionMoveInR::transitionWithDuration(0.5, in);
        if (kind == "RotoZoom") return CCTransitionRotoZoom::transitionWithDuration(0.5, in);
        if (kind == "JumpZoom") return CCTransitionJumpZoom::transitionWithDuration(0.5, in);
        if (kind == "ZoomFlipX") return CCTransitionZoomFlipX::transitionWithDuration(0.5, in, 1);
        if (kind == "Fade") return CCTransitionFade::transitionWithDuration(0.5, in);
        if (kind == "CrossFade") return CCTransitionCrossFade::transitionWithDuration(0.5, in);
        return nullptr;
    }
    CallLog log; // outlives the scene, which still logs as the director ends
};

} // namespace

TEST_P(OpeningTransitionTest, SwitchesToTheIncomingSceneOnTime) {
    auto b = LoggingScene::make(&log, "B", ccc3(0, 0, 255));
    Ref<CCTransitionScene> t = make(b.get());
    ASSERT_TRUE(t);
    EXPECT_EQ(t->outScene(), nullptr);
    director()->runWithScene(t.get());
    director()->startAnimation();
    advanceRefreshes(20); // a third of a second: still running
    EXPECT_EQ(director()->runningScene(), t.get());
    advanceRefreshes(13);
    EXPECT_EQ(director()->runningScene(), b.get());
    EXPECT_TRUE(b->visible());
    EXPECT_TRUE(director()->touchDispatcher()->dispatchEvents());
    EXPECT_TRUE(near(presentedPixel(160, 240), 0x0000FFFFu));
}

INSTANTIATE_TEST_SUITE_P(Kinds, OpeningTransitionTest,
                         ::testing::Values("SlideInL", "SlideInB", "ShrinkGrow", "MoveInR", "RotoZoom",
                                           "JumpZoom", "ZoomFlipX", "Fade", "CrossFade"));

// ---- turning transitions on a view with a depth buffer ----

namespace {

// A 128 x 128 view with a depth buffer, on which the director turns its depth test on. Each
// scene is a background and two overlapping layers, all at z 0.
class TurningTransitionTest : public fltest::TwoSceneTest {
protected:
    CGSize viewSize() const override { return CGSizeMake(128, 128); }
    void SetUp() override {
        TwoSceneTest::SetUp();
        depthView = fltest::makeGLView(viewSize(), 1.0, kEAGLColorFormatRGBA8, GL_DEPTH24_STENCIL8_OES);
        ASSERT_TRUE(depthView);
        director()->setView(depthView.get());
        for (CCScene* s : {static_cast<CCScene*>(a.get()), static_cast<CCScene*>(b.get())}) {
            for (int i : {1, 2}) {
                auto layer = CCLayerColor::layerWithColor(ccc4(0, 255, 255 / i, 255), 64, 64);
                layer->setPosition(CGPointMake(16 * i, 24 * i));
                s->addChild(layer.get());
            }
        }
        startOnA();
    }
    void TearDown() override {
        depthView = nullptr;
        TwoSceneTest::TearDown();
    }
    Ref<CCGLView> depthView;
};

template <class T, std::int32_t orientation> Ref<CCTransitionScene> turn(CCScene* in) {
    return T::transitionWithDuration(1, in, orientation);
}

} // namespace

TEST_F(TurningTransitionTest, EachFrameOfEveryTurnEqualsTheFrameDrawnWithoutTheDepthTest) {
    using Make = Ref<CCTransitionScene> (*)(CCScene*);
    const std::vector<std::pair<std::string, Make>> kinds = {
        {"FlipX", turn<CCTransitionFlipX, 1>},
        {"FlipY", turn<CCTransitionFlipY, 0>},
        {"FlipAngular", turn<CCTransitionFlipAngular, 1>},
        {"ZoomFlipX", turn<CCTransitionZoomFlipX, 1>},
        {"ZoomFlipY", turn<CCTransitionZoomFlipY, 0>},
        {"ZoomFlipAngular", turn<CCTransitionZoomFlipAngular, 0>},
    };
    for (const auto& [name, make] : kinds) {
        SCOPED_TRACE(name);
        std::vector<platform::PixelBuffer> withDepth = turnFrames(make(b.get()).get(), true);
        std::vector<platform::PixelBuffer> without = turnFrames(make(b.get()).get(), false);
        ASSERT_EQ(withDepth.size(), without.size());
        for (std::size_t f = 0; f < withDepth.size(); ++f) {
            const auto& got = withDepth[f];
            ASSERT_EQ(got.rgba.size(), std::size_t{128 * 128 * 4});
            int differing = 0;
            for (int y = 0; y < got.height; ++y)
                for (int x = 0; x < got.width; ++x)
                    differing += got.pixel(x, y) != without[f].pixel(x, y);
            EXPECT_EQ(differing, 0) << "at " << kTurnPercents[f] << "%";
        }
    }
}

// ---- a transition cut short by the director's end ----

namespace {

// A red layer over the lower left and a blue one above it: a moved camera or a picture drawn
// through a grid shows.
Ref<CCScene> twoLayerScene() {
    Ref<CCScene> scene = CCScene::node();
    Ref<CCLayerColor> red = CCLayerColor::layerWithColor(ccc4(255, 0, 0, 255), 200, 300);
    Ref<CCLayerColor> blue = CCLayerColor::layerWithColor(ccc4(0, 0, 255, 255), 100, 120);
    blue->setPosition(CGPointMake(150, 280));
    scene->addChild(red.get());
    scene->addChild(blue.get());
    return scene;
}

class TransitionEndTest : public fltest::EngineGLTest {};

} // namespace

TEST_F(TransitionEndTest, ScenesOfATransitionEndedMidwayDrawAsNewUnderANewDirector) {
    // The kinds that put a grid on a scene or on themselves, or move the scenes' cameras.
    std::vector<std::pair<std::string, MakeTransition>> kinds = {
        {"PageTurn", kindOf<CCTransitionPageTurn>(false)},
        {"PageTurn back", kindOf<CCTransitionPageTurn>(true)},
        {"TurnOffTiles", kindOf<CCTransitionTurnOffTiles>()},
        {"FadeTR", kindOf<CCTransitionFadeTR>()},
        {"FadeUp", kindOf<CCTransitionFadeUp>()},
        {"SplitCols", kindOf<CCTransitionSplitCols>()},
        {"FlipX", kindOf<CCTransitionFlipX>(0)},
        {"FlipAngular", kindOf<CCTransitionFlipAngular>(1)},
        {"ZoomFlipY", kindOf<CCTransitionZoomFlipY>(0)},
    };
    for (const auto& [name, make] : kinds) {
        SCOPED_TRACE(name);
        CCDirector::purgeSharedDirector();
        director()->setView(view());
        Ref<CCScene> out = twoLayerScene(), in = twoLayerScene();
        director()->runWithScene(out.get());
        director()->startAnimation();
        Ref<CCTransitionScene> t = make(in.get());
        ASSERT_TRUE(t);
        director()->replaceScene(t.get());
        advanceRefreshes(6); // two thirds of the way
        director()->end();
        t = nullptr;
        CCDirector::purgeSharedDirector();

        // The game runs the same scenes again under a new director and view.
        Ref<CCGLView> second = fltest::makeGLView(CGSizeMake(320, 480));
        ASSERT_TRUE(second);
        director()->setView(second.get());
        logLines.clear();
        auto frameOf = [&](CCScene* scene) {
            scene->setPosition(CGPointZero);
            scene->setScale(1);
            scene->setRotation(0);
            scene->setVisible(true);
            if (director()->runningScene())
                director()->replaceScene(scene);
            else
                director()->pushScene(scene);
            director()->drawScene();
            return second->layer()->presentedFrame().rgba;
        };
        const std::vector<std::uint8_t> fresh = frameOf(twoLayerScene().get());
        EXPECT_TRUE(frameOf(out.get()) == fresh) << "the outgoing scene";
        EXPECT_TRUE(frameOf(in.get()) == fresh) << "the incoming scene";
        EXPECT_TRUE(logLines.empty()) << ::testing::PrintToString(logLines);
        CCDirector::purgeSharedDirector();
    }
}
