#include "actions/CCTransitionProgress.h"

#include "core/CCDirector.h"
#include "core/CCGLView.h"
#include "core/CCLayer.h"
#include "graphics/CCProgressTimer.h"
#include "graphics/CCSprite.h"
#include "tests/actions/ActionTestSupport.h"
#include "tests/support/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using fltest::CallLog;
using fltest::LoggingScene;
using fltest::near;
using platform::Ref;

namespace {

using Calls = std::vector<std::string>;

constexpr std::uint32_t kRed = 0xFF0000FFu, kBlue = 0x0000FFFFu, kGreen = 0x00FF00FFu, kBlack = 0x000000FFu;

class TransitionProgressTest : public fltest::TwoSceneTest {
protected:
    void SetUp() override {
        TwoSceneTest::SetUp();
        startOnA();
    }
    static CCProgressTimer* timerOf(CCScene* t) {
        return dynamic_cast<CCProgressTimer*>(t->getChildByTag(kCCSceneRadial));
    }
    // The colours at the centres of the window's left, right, bottom and top halves and at
    // its centre and lower-left corner.
    struct Samples {
        std::uint32_t left, right, bottom, top, centre, corner;
    };
    Samples samples() const {
        return {presentedPixel(80, 240),  presentedPixel(240, 240), presentedPixel(160, 120),
                presentedPixel(160, 360), presentedPixel(160, 240), presentedPixel(10, 10)};
    }
};

} // namespace

TEST_F(TransitionProgressTest, TimerNodeIsTaggedAboveTheScenesForTheSweepOnly) {
    auto t = CCTransitionProgressRadialCCW::transitionWithDuration(1, b.get());
    ASSERT_TRUE(t);
    EXPECT_FALSE(t->isInSceneOnTop());
    director()->replaceScene(t.get());
    advanceRefreshes(1);
    EXPECT_EQ(takeLog(), (Calls{"exitStart A", "enter B"}));

    CCProgressTimer* timer = timerOf(t.get());
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->tag(), 49153);
    EXPECT_EQ(timer->zOrder(), 2);
    EXPECT_EQ(timer->position(), CGPointMake(160, 240));
    EXPECT_EQ(timer->anchorPoint(), CGPointMake(0.5, 0.5));
    EXPECT_TRUE(timer->sprite()->flipY());
    EXPECT_EQ(timer->contentSize(), CGSizeMake(320, 480));
    // The outgoing scene is hidden at once: what shows of it is its picture.
    EXPECT_FALSE(a->visible());
    EXPECT_TRUE(b->visible());
    EXPECT_EQ(t->sceneToBeModified(), a.get());

    runFor(1.1);
    EXPECT_EQ(director()->runningScene(), b.get());
    EXPECT_EQ(takeLog(), (Calls{"exit A", "enterDone B", "cleanup A"}));
    EXPECT_EQ(t->getChildByTag(kCCSceneRadial), nullptr);
    EXPECT_TRUE(near(presentedPixel(160, 240), kBlue));
}

TEST_F(TransitionProgressTest, EachKindSetsUpItsTimerAndSweep) {
    struct Kind {
        std::string name;
        std::function<Ref<CCTransitionProgress>(CCScene*)> make;
        CCProgressTimerType type;
        bool reverse;
        CGPoint midpoint, rate;
        float from, to;
        bool picturesIncoming;
    };
    const CGPoint centre = CGPointMake(0.5, 0.5), one = CGPointMake(1, 1);
    const std::vector<Kind> kinds = {
        {"radial CCW",
         [](CCScene* s) {
             return Ref<CCTransitionProgress>(CCTransitionProgressRadialCCW::transitionWithDuration(1, s));
         },
         kCCProgressTimerTypeRadial, false, centre, one, 100, 0, false},
        {"radial CW",
         [](CCScene* s) {
             return Ref<CCTransitionProgress>(CCTransitionProgressRadialCW::transitionWithDuration(1, s));
         },
         kCCProgressTimerTypeRadial, true, centre, one, 100, 0, false},
        {"horizontal",
         [](CCScene* s) {
             return Ref<CCTransitionProgress>(CCTransitionProgressHorizontal::transitionWithDuration(1, s));
         },
         kCCProgressTimerTypeBar, false, CGPointMake(1, 0), CGPointMake(1, 0), 100, 0, false},
        {"vertical",
         [](CCScene* s) {
             return Ref<CCTransitionProgress>(CCTransitionProgressVertical::transitionWithDuration(1, s));
         },
         kCCProgressTimerTypeBar, false, CGPointMake(0, 0), CGPointMake(0, 1), 100, 0, false},
        {"in-out",
         [](CCScene* s) {
             return Ref<CCTransitionProgress>(CCTransitionProgressInOut::transitionWithDuration(1, s));
         },
         kCCProgressTimerTypeBar, false, centre, one, 0, 100, true},
        {"out-in",
         [](CCScene* s) {
             return Ref<CCTransitionProgress>(CCTransitionProgressOutIn::transitionWithDuration(1, s));
         },
         kCCProgressTimerTypeBar, false, centre, one, 100, 0, false},
    };
    CCScene* scenes[2] = {b.get(), a.get()};
    int next = 0;
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        CCScene* in = scenes[next];
        CCScene* out = scenes[1 - next];
        next = 1 - next;
        Ref<CCTransitionProgress> t = kind.make(in);
        ASSERT_TRUE(t);
        EXPECT_FALSE(t->isInSceneOnTop());
        enter(t.get());
        EXPECT_EQ(t->from(), kind.from);
        EXPECT_EQ(t->to(), kind.to);
        EXPECT_EQ(t->sceneToBeModified(), kind.picturesIncoming ? in : out);
        EXPECT_EQ(out->visible(), kind.picturesIncoming);
        CCProgressTimer* timer = timerOf(t.get());
        ASSERT_NE(timer, nullptr);
        EXPECT_EQ(timer->type(), kind.type);
        EXPECT_EQ(timer->reverseDirection(), kind.reverse);
        EXPECT_EQ(timer->midpoint(), kind.midpoint);
        EXPECT_EQ(timer->barChangeRate(), kind.rate);
        EXPECT_EQ(timer->percentage(), kind.from);
        runFor(1.1);
        EXPECT_EQ(director()->runningScene(), in);
        EXPECT_TRUE(in->visible());
    }
}

TEST_F(TransitionProgressTest, MidwayFramesShowThePictureOverTheLiveScene) {
    // Radial, anticlockwise uncovering: half way, the right half is still the picture of A.
    enter(CCTransitionProgressRadialCCW::transitionWithDuration(1, b.get()).get());
    runFor(0.5);
    Samples s = samples();
    EXPECT_TRUE(near(s.left, kBlue)) << std::hex << s.left;
    EXPECT_TRUE(near(s.right, kRed)) << std::hex << s.right;
    runFor(0.6);

    // Clockwise back to A: the left half is still B's picture.
    enter(CCTransitionProgressRadialCW::transitionWithDuration(1, a.get()).get());
    runFor(0.5);
    s = samples();
    EXPECT_TRUE(near(s.left, kBlue)) << std::hex << s.left;
    EXPECT_TRUE(near(s.right, kRed)) << std::hex << s.right;
    runFor(0.6);

    // Vertical: the picture of A shrinks to the bottom.
    enter(CCTransitionProgressVertical::transitionWithDuration(1, b.get()).get());
    runFor(0.5);
    s = samples();
    EXPECT_TRUE(near(s.bottom, kRed)) << std::hex << s.bottom;
    EXPECT_TRUE(near(s.top, kBlue)) << std::hex << s.top;
    runFor(0.6);

    // Horizontal: the picture of B shrinks to the right.
    enter(CCTransitionProgressHorizontal::transitionWithDuration(1, a.get()).get());
    runFor(0.5);
    s = samples();
    EXPECT_TRUE(near(s.left, kRed)) << std::hex << s.left;
    EXPECT_TRUE(near(s.right, kBlue)) << std::hex << s.right;
    runFor(0.6);

    // In-out: the picture of B grows from the centre over A, which stays visible meanwhile.
    auto inOut = CCTransitionProgressInOut::transitionWithDuration(1, b.get());
    enter(inOut.get());
    EXPECT_TRUE(near(samples().centre, kRed));
    runFor(0.5);
    s = samples();
    EXPECT_TRUE(a->visible());
    EXPECT_TRUE(near(s.centre, kBlue)) << std::hex << s.centre;
    EXPECT_TRUE(near(s.corner, kRed)) << std::hex << s.corner;
    runFor(0.6);
    EXPECT_EQ(director()->runningScene(), b.get());
    EXPECT_TRUE(near(samples().corner, kBlue));

    // Out-in: the picture of B shrinks into the centre, uncovering A at the corners.
    enter(CCTransitionProgressOutIn::transitionWithDuration(1, a.get()).get());
    runFor(0.5);
    s = samples();
    EXPECT_TRUE(near(s.centre, kBlue)) << std::hex << s.centre;
    EXPECT_TRUE(near(s.corner, kRed)) << std::hex << s.corner;
    runFor(0.6);
    EXPECT_EQ(director()->runningScene(), a.get());
    EXPECT_TRUE(near(samples().centre, kRed));
}

TEST_F(TransitionProgressTest, PictureIsAStillOnOpaqueBlack) {
    // A scene that covers only the lower-left quarter of the window: the rest of its picture is
    // black, not the scene below.
    auto quarter = LoggingScene::make(&log, "Q", ccc3(0, 255, 0), CGSizeMake(160, 240));
    director()->replaceScene(quarter.get());
    advanceRefreshes(1);
    enter(CCTransitionProgressOutIn::transitionWithDuration(1, b.get()).get());
    // Changed after the picture was taken: the picture does not follow.
    quarter->layer->setColor(ccc3(255, 255, 0));
    runFor(0.1);
    EXPECT_TRUE(near(presentedPixel(80, 120), kGreen)) << std::hex << presentedPixel(80, 120);
    EXPECT_TRUE(near(presentedPixel(240, 360), kBlack)) << std::hex << presentedPixel(240, 360);
    runFor(1);
    EXPECT_EQ(director()->runningScene(), b.get());
}

TEST_F(TransitionProgressTest, BaseTransitionWithoutATimerSwitchesAtOnce) {
    auto t = CCTransitionProgress::transitionWithDuration(5, b.get());
    enter(t.get());
    EXPECT_EQ(t->getChildByTag(kCCSceneRadial), nullptr);
    advanceRefreshes(2);
    EXPECT_EQ(director()->runningScene(), b.get());
    EXPECT_EQ(takeLog(), (Calls{"exitStart A", "enter B", "exit A", "enterDone B", "cleanup A"}));
}
