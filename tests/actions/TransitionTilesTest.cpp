#include "actions/CCActionTiledGrid.h"
#include "actions/CCGrid.h"
#include "actions/CCTransitionTiles.h"
#include "core/CCDirector.h"
#include "core/CCLayer.h"
#include "tests/actions/ActionTestSupport.h"
#include "tests/support/EngineTestSupport.h"
#include "tests/support/TestSupport.h"

#include <cmath>
#include <functional>
#include <string>
#include <typeinfo>
#include <vector>

using fltest::CallLog;
using fltest::near;
using platform::Ref;

namespace {

using Calls = std::vector<std::string>;

constexpr std::uint32_t kRed = 0xFF0000FFu;
constexpr std::uint32_t kBlue = 0x0000FFFFu;

// Neither scene: the window's own clear colour shows through.
bool empty(std::uint32_t pixel) {
    return !near(pixel, kRed, 40) && !near(pixel, kBlue, 40);
}

CCTiledGrid3D* tiles(CCNode* node) {
    return dynamic_cast<CCTiledGrid3D*>(node->grid());
}

using MakeTransition = std::function<Ref<CCTransitionScene>(double, CCScene*)>;

template <class T> MakeTransition maker() {
    return [](double d, CCScene* s) -> Ref<CCTransitionScene> { return T::transitionWithDuration(d, s); };
}

// The kinds that wear the outgoing scene away over a tile grid.
const std::vector<std::pair<std::string, MakeTransition>>& tileKinds() {
    static const std::vector<std::pair<std::string, MakeTransition>> kinds = {
        {"turn-off", maker<CCTransitionTurnOffTiles>()},
        {"TR", maker<CCTransitionFadeTR>()},
        {"BL", maker<CCTransitionFadeBL>()},
        {"up", maker<CCTransitionFadeUp>()},
        {"down", maker<CCTransitionFadeDown>()},
    };
    return kinds;
}

using TilesTransitionBase = fltest::TwoSceneTest;

class TilesTransitionTest : public TilesTransitionBase {};

struct WindowCase {
    CGSize size;
    double columns;
};

class TileGridSizeTest : public TilesTransitionBase, public ::testing::WithParamInterface<WindowCase> {
protected:
    CGSize viewSize() const override { return GetParam().size; }
};

} // namespace

// ---- turn-off and fade sweeps ----

TEST_P(TileGridSizeTest, TileKindsWearTheOutgoingSceneAwayOverAGridOfTheWindowsAspect) {
    startOnA();
    for (const auto& [name, make] : tileKinds()) {
        Ref<CCTransitionScene> t = make(0.25, b.get());
        ASSERT_TRUE(t) << name;
        EXPECT_FALSE(t->isInSceneOnTop()) << name;
        CCScene* out = t->outScene();
        enter(t.get());
        ASSERT_TRUE(tiles(out)) << name;
        EXPECT_TRUE(tiles(out)->active()) << name;
        EXPECT_EQ(tiles(out)->gridSize(), CGSizeMake(GetParam().columns, 12)) << name;
        EXPECT_EQ(t->grid(), nullptr) << name;
        // It may keep the stopped grid of an earlier turn as the outgoing scene.
        EXPECT_FALSE(t->inScene()->grid() && t->inScene()->grid()->active()) << name;
        runFor(0.25 + 2.0 / 60);
        ASSERT_EQ(director()->runningScene(), t->inScene()) << name;
        EXPECT_FALSE(tiles(out)->active()) << name;
        std::swap(a, b);
    }
}

INSTANTIATE_TEST_SUITE_P(Windows, TileGridSizeTest,
                         ::testing::Values(WindowCase{CGSizeMake(480, 320), 18},
                                           WindowCase{CGSizeMake(320, 480), 8},
                                           WindowCase{CGSizeMake(568, 320), 21}));

TEST_F(TilesTransitionTest, FadeSweepsMakeTheirOwnEffectUneased) {
    startOnA();
    const std::pair<Ref<CCTransitionFadeTR>, const std::type_info*> cases[] = {
        {CCTransitionFadeTR::transitionWithDuration(2, b.get()), &typeid(CCFadeOutTRTiles)},
        {CCTransitionFadeBL::transitionWithDuration(2, b.get()), &typeid(CCFadeOutBLTiles)},
        {CCTransitionFadeUp::transitionWithDuration(2, b.get()), &typeid(CCFadeOutUpTiles)},
        {CCTransitionFadeDown::transitionWithDuration(2, b.get()), &typeid(CCFadeOutDownTiles)},
    };
    for (const auto& [transition, kind] : cases) {
        Ref<CCActionInterval> action = transition->actionWithSize(CGSizeMake(5, 3));
        ASSERT_TRUE(action);
        EXPECT_TRUE(fltest::dynamicType(action) == *kind) << action->className();
        EXPECT_EQ(action->duration(), 2.0);
        EXPECT_EQ(dynamic_cast<CCGridAction*>(action.get())->gridSize(), CGSizeMake(5, 3));
        EXPECT_EQ(transition->easeActionWithAction(action.get()).get(), action.get());
    }
}

TEST_F(TilesTransitionTest, TurnOffSwitchesOffHalfTheTilesHalfWayThenSwitches) {
    startOnA();
    auto t = CCTransitionTurnOffTiles::transitionWithDuration(1, b.get());
    ASSERT_TRUE(t);
    enter(t.get());
    EXPECT_EQ(takeLog(), (Calls{"exitStart A", "enter B"}));
    EXPECT_TRUE(near(presentedPixel(160, 240), kRed));

    // 8 by 12 tiles of 40 points: half of the 96 are off, showing the incoming scene below.
    runFor(0.5);
    int red = 0, blue = 0;
    for (int x = 0; x < 8; ++x)
        for (int y = 0; y < 12; ++y) {
            std::uint32_t p = presentedPixel(x * 40 + 20, y * 40 + 20);
            red += near(p, kRed);
            blue += near(p, kBlue);
        }
    EXPECT_EQ(red, 48);
    EXPECT_EQ(blue, 48);

    runFor(0.5 + 2.0 / 60);
    EXPECT_EQ(director()->runningScene(), b.get());
    EXPECT_EQ(takeLog(), (Calls{"exit A", "enterDone B", "cleanup A"}));
    EXPECT_TRUE(a->visible());
    EXPECT_TRUE(near(presentedPixel(160, 240), kBlue));
}

TEST_F(TilesTransitionTest, FadeSweepsUncoverTheIncomingSceneFromTheirStartingSide) {
    startOnA();
    struct Case {
        MakeTransition make;
        CGPoint gone, kept; // half way: a point already uncovered, one still covered
    };
    const Case cases[] = {
        {maker<CCTransitionFadeTR>(), CGPointMake(10, 10), CGPointMake(310, 470)},
        {maker<CCTransitionFadeBL>(), CGPointMake(310, 470), CGPointMake(10, 10)},
        {maker<CCTransitionFadeUp>(), CGPointMake(160, 20), CGPointMake(160, 460)},
        {maker<CCTransitionFadeDown>(), CGPointMake(160, 475), CGPointMake(160, 20)},
    };
    for (const Case& c : cases) {
        Ref<CCTransitionScene> t = c.make(1, b.get());
        ASSERT_TRUE(t);
        enter(t.get());
        runFor(0.5);
        EXPECT_TRUE(near(presentedPixel(int(c.gone.x), int(c.gone.y)), kBlue)) << t->className();
        EXPECT_TRUE(near(presentedPixel(int(c.kept.x), int(c.kept.y)), kRed)) << t->className();
        runFor(0.5 + 2.0 / 60);
        ASSERT_EQ(director()->runningScene(), b.get());
        // Back to A at once for the next sweep.
        director()->replaceScene(a.get());
        advanceRefreshes(1);
    }
}

TEST_F(TilesTransitionTest, OpeningTheShowWithNothingToWearAwayStillSwitches) {
    auto t = CCTransitionFadeUp::transitionWithDuration(0.5, b.get());
    ASSERT_TRUE(t);
    EXPECT_EQ(t->outScene(), nullptr);
    director()->runWithScene(t.get());
    director()->startAnimation();
    runFor(0.5 + 3.0 / 60);
    EXPECT_EQ(director()->runningScene(), b.get());
}

// ---- splits ----

TEST_F(TilesTransitionTest, SplitColumnsPartTheWholePictureThenCloseOnTheIncomingScene) {
    startOnA();
    auto t = CCTransitionSplitCols::transitionWithDuration(1, b.get());
    ASSERT_TRUE(t);
    EXPECT_TRUE(t->isInSceneOnTop());
    Ref<CCActionInterval> half = t->action();
    ASSERT_TRUE(dynamic_cast<CCSplitCols*>(half.get()));
    EXPECT_EQ(half->duration(), 0.5);

    enter(t.get());
    EXPECT_EQ(takeLog(), (Calls{"exitStart A", "enter B"}));
    ASSERT_TRUE(tiles(t.get())); // on the transition itself, not on a scene
    EXPECT_TRUE(tiles(t.get())->active());
    EXPECT_EQ(tiles(t.get())->gridSize(), CGSizeMake(3, 1));
    EXPECT_EQ(a->grid(), nullptr);
    EXPECT_FALSE(b->visible());

    // A quarter of the time, eased in-out at rate 3 over the whole: the split is at 1/8, so the
    // outer columns have dropped 60 points and the middle one risen as much.
    runFor(0.25);
    EXPECT_TRUE(near(presentedPixel(50, 300), kRed));
    EXPECT_TRUE(empty(presentedPixel(50, 450)));
    EXPECT_TRUE(near(presentedPixel(160, 450), kRed));
    EXPECT_TRUE(empty(presentedPixel(160, 30)));

    // At 0.6 the ease stands at 0.744: the scenes swapped, and the split back at 0.512 brings the
    // incoming scene in, its columns 246 points off.
    runFor(0.35);
    EXPECT_TRUE(b->visible());
    EXPECT_FALSE(a->visible());
    EXPECT_TRUE(near(presentedPixel(50, 100), kBlue));
    EXPECT_TRUE(empty(presentedPixel(50, 300)));
    EXPECT_TRUE(near(presentedPixel(160, 300), kBlue));
    EXPECT_TRUE(empty(presentedPixel(160, 100)));
    EXPECT_TRUE(near(presentedPixel(270, 100), kBlue));

    runFor(0.4 + 2.0 / 60);
    EXPECT_EQ(director()->runningScene(), b.get());
    EXPECT_EQ(takeLog(), (Calls{"exit A", "enterDone B", "cleanup A"}));
    EXPECT_FALSE(tiles(t.get())->active()); // stopped, left on the node
    EXPECT_TRUE(near(presentedPixel(50, 300), kBlue));
    EXPECT_TRUE(near(presentedPixel(160, 100), kBlue));
}

TEST_F(TilesTransitionTest, SplitRowsSlideSideways) {
    startOnA();
    auto t = CCTransitionSplitRows::transitionWithDuration(1, b.get());
    ASSERT_TRUE(t);
    Ref<CCActionInterval> half = t->action();
    ASSERT_TRUE(dynamic_cast<CCSplitRows*>(half.get()));
    EXPECT_EQ(half->duration(), 0.5);
    enter(t.get());
    ASSERT_TRUE(tiles(t.get()));
    EXPECT_EQ(tiles(t.get())->gridSize(), CGSizeMake(1, 3));

    // At 0.6 the rows are 0.512 of the width (164 points) off: the bottom one to the left, the
    // middle one to the right.
    runFor(0.6);
    EXPECT_TRUE(near(presentedPixel(100, 80), kBlue));
    EXPECT_TRUE(empty(presentedPixel(250, 80)));
    EXPECT_TRUE(empty(presentedPixel(100, 240)));
    EXPECT_TRUE(near(presentedPixel(250, 240), kBlue));
    runFor(0.4 + 2.0 / 60);
    EXPECT_EQ(director()->runningScene(), b.get());
}
