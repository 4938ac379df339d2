// Grid actions: installing, replacing and reusing grids, stopping them, and the amplitude
// wrappers' rates.
#include "actions/CCActionGrid.h"
#include "actions/CCActionInterval.h"
#include "core/CCGLView.h"
#include "core/CCNode.h"
#include "platform/Exception.h"
#include "tests/support/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using platform::Ref;

namespace {

// An effect with an amplitude that records what the wrappers hand it.
class RateProbe : public CCActionFactory<RateProbe, CCActionInterval> {
public:
    void setAmplitudeRate(double rate) override { rates.push_back(static_cast<float>(rate)); }
    void update(double t) override { updates.push_back(t); }
    void startWithTarget(CCNode* target) override {
        CCActionInterval::startWithTarget(target);
        ++starts;
    }
    Ref<CCFiniteTimeAction> reverse() const override { return RateProbe::actionWithDuration(_duration); }
    static Ref<RateProbe> actionWithDuration(double d) { return createWith(&RateProbe::initWithDuration, d); }

    std::vector<float> rates;
    std::vector<double> updates;
    int starts = 0;
};

void expectThrows(const std::function<void()>& call, const std::string& name, const std::string& reason) {
    try {
        call();
        ADD_FAILURE() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.name(), name);
        EXPECT_EQ(e.reason(), reason);
    }
}

class GridActionTest : public fltest::EngineGLTest {
protected:
    CGSize viewSize() const override { return CGSizeMake(64, 64); }
    void SetUp() override {
        EngineGLTest::SetUp();
        node = CCNode::node();
    }
    void TearDown() override {
        node = nullptr;
        EngineGLTest::TearDown();
    }
    CCGridBase* nodeGrid() const { return dynamic_cast<CCGridBase*>(node->grid()); }

    Ref<CCNode> node;
};

TEST_F(GridActionTest, StartInstallsAnActiveGridOfTheActionsKind) {
    Ref<CCGrid3DAction> bend = CCGrid3DAction::actionWithDuration(1, CGSizeMake(4, 2));
    bend->startWithTarget(node.get());
    ASSERT_TRUE(dynamic_cast<CCGrid3D*>(node->grid()));
    EXPECT_TRUE(nodeGrid()->active());
    EXPECT_EQ(nodeGrid()->gridSize().width, 4);

    // Vertex operations go to the target's grid.
    bend->setVertex(CGPointMake(1, 1), _ccVertex3F{1, 2, 3});
    EXPECT_EQ(bend->vertex(CGPointMake(1, 1)).z, 3);
    EXPECT_EQ(bend->originalVertex(CGPointMake(1, 1)).x, 16);

    // A second action without reuse replaces the grid and starts undistorted.
    Ref<CCGridBase> first = nodeGrid();
    Ref<CCTiledGrid3DAction> tiles = CCTiledGrid3DAction::actionWithDuration(1, CGSizeMake(4, 2));
    tiles->startWithTarget(node.get());
    EXPECT_FALSE(first->active());
    ASSERT_TRUE(dynamic_cast<CCTiledGrid3D*>(node->grid()));
    EXPECT_TRUE(nodeGrid()->active());
    // The 3D action finds no grid of its kind now.
    EXPECT_EQ(bend->vertex(CGPointMake(1, 1)).x, 0);
    bend->setVertex(CGPointMake(1, 1), _ccVertex3F{1, 2, 3});
    EXPECT_EQ(tiles->tile(CGPointMake(1, 1)).bl.x, 16);
}

TEST_F(GridActionTest, ReuseContinuesFromTheDistortedGridOnce) {
    Ref<CCGrid3DAction> one = CCGrid3DAction::actionWithDuration(1, CGSizeMake(2, 2));
    one->startWithTarget(node.get());
    one->setVertex(CGPointMake(1, 1), _ccVertex3F{5, 5, 5});
    Ref<CCGridBase> grid = nodeGrid();

    CCReuseGrid::actionWithTimes(1)->startWithTarget(node.get());
    EXPECT_EQ(grid->reuseGrid(), 1);
    Ref<CCGrid3DAction> two = CCGrid3DAction::actionWithDuration(1, CGSizeMake(2, 2));
    two->startWithTarget(node.get());
    EXPECT_EQ(nodeGrid(), grid.get());
    EXPECT_EQ(grid->reuseGrid(), 0);
    EXPECT_EQ(two->originalVertex(CGPointMake(1, 1)).z, 5);

    // Another size, or another kind, cannot reuse; the node's grid stays.
    CCReuseGrid::actionWithTimes(2)->startWithTarget(node.get());
    expectThrows(
        [&] { CCGrid3DAction::actionWithDuration(1, CGSizeMake(3, 2))->startWithTarget(node.get()); },
        "GridBase", "Cannot reuse grid");
    expectThrows(
        [&] { CCTiledGrid3DAction::actionWithDuration(1, CGSizeMake(2, 2))->startWithTarget(node.get()); },
        "GridBase", "Cannot reuse grid");
    EXPECT_EQ(nodeGrid(), grid.get());
    EXPECT_EQ(grid->reuseGrid(), 2);

    // Nor can an inactive grid.
    CCStopGrid::action()->startWithTarget(node.get());
    EXPECT_FALSE(grid->active());
    EXPECT_EQ(nodeGrid(), grid.get());
    expectThrows(
        [&] { CCGrid3DAction::actionWithDuration(1, CGSizeMake(2, 2))->startWithTarget(node.get()); },
        "GridBase", "Cannot reuse grid");
}

TEST_F(GridActionTest, ReuseAndStopLeaveInactiveOrMissingGridsAlone) {
    CCReuseGrid::actionWithTimes(3)->startWithTarget(node.get());
    CCStopGrid::action()->startWithTarget(node.get());
    EXPECT_EQ(node->grid(), nullptr);

    CCGrid3DAction::actionWithDuration(1, CGSizeMake(2, 2))->startWithTarget(node.get());
    CCStopGrid::action()->startWithTarget(node.get());
    CCReuseGrid::actionWithTimes(3)->startWithTarget(node.get());
    EXPECT_EQ(nodeGrid()->reuseGrid(), 0);
    // An inactive grid is simply replaced by the next action.
    Ref<CCGridBase> old = nodeGrid();
    CCGrid3DAction::actionWithDuration(1, CGSizeMake(2, 2))->startWithTarget(node.get());
    EXPECT_NE(nodeGrid(), old.get());

    Ref<CCReuseGrid> reuse = CCReuseGrid::actionWithTimes(4);
    EXPECT_EQ(platform::copyOf(reuse.get())->times(), 4);
}

TEST_F(GridActionTest, GridsThatCannotBeMadeLeaveTheNodeWithout) {
    // A size of no cells makes no grid: the effect reads zeros and writes nothing.
    Ref<CCTiledGrid3DAction> empty = CCTiledGrid3DAction::actionWithDuration(1, CGSizeMake(0, 3));
    empty->startWithTarget(node.get());
    EXPECT_EQ(node->grid(), nullptr);
    _ccQuad3 q{{1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}};
    empty->setTile(CGPointZero, q);
    EXPECT_EQ(empty->tile(CGPointZero).bl.x, 0);
    EXPECT_EQ(empty->originalTile(CGPointZero).tr.z, 0);
}

TEST_F(GridActionTest, PlainGridActionHasNoGridAndReversesThroughTime) {
    Ref<CCGridAction> plain = CCGridAction::actionWithDuration(2, CGSizeMake(3, 3));
    expectThrows([&] { plain->startWithTarget(node.get()); }, "GridBase",
                 "Abstract class needs implementation");

    Ref<CCGrid3DAction> bend = CCGrid3DAction::actionWithDuration(2, CGSizeMake(3, 5));
    Ref<CCFiniteTimeAction> back = bend->reverse();
    auto* reversed = dynamic_cast<CCReverseTime*>(back.get());
    ASSERT_TRUE(reversed);
    // The action itself, so anything set on it since it was made runs backwards too.
    EXPECT_EQ(reversed->otherAction(), bend.get());
    EXPECT_EQ(back->duration(), 2);

    Ref<CCGrid3DAction> copy = platform::copyOf(bend.get());
    EXPECT_EQ(copy->gridSize().width, 3);
    EXPECT_EQ(copy->duration(), 2);
}

TEST_F(GridActionTest, WrappersDriveTheAmplitudeRateAlongTheirCurves) {
    Ref<RateProbe> probe = RateProbe::actionWithDuration(5);
    Ref<CCAccelDeccelAmplitude> both = CCAccelDeccelAmplitude::actionWithAction(probe.get(), 2);
    EXPECT_EQ(both->rate(), 1.0f);
    both->startWithTarget(node.get());
    EXPECT_EQ(probe->starts, 1);
    for (double t : {0.0, 0.25, 0.5, 0.75, 1.0})
        both->update(t);
    EXPECT_EQ(probe->rates, (std::vector<float>{0, 0.5f, 1, 0.5f, 0}));
    EXPECT_EQ(probe->updates, (std::vector<double>{0, 0.25, 0.5, 0.75, 1}));

    Ref<RateProbe> p2 = RateProbe::actionWithDuration(1);
    Ref<CCAccelAmplitude> accel = CCAccelAmplitude::actionWithAction(p2.get(), 1);
    accel->setRate(2);
    accel->update(0.5);
    accel->update(0.1);
    EXPECT_EQ(p2->rates[0], 0.25f);
    EXPECT_EQ(p2->rates[1], powf(0.1f, 2.0f));

    Ref<RateProbe> p3 = RateProbe::actionWithDuration(1);
    Ref<CCDeccelAmplitude> deccel = CCDeccelAmplitude::actionWithAction(p3.get(), 1);
    deccel->setRate(2);
    deccel->update(0.5);
    deccel->update(0);
    deccel->update(1);
    EXPECT_EQ(p3->rates, (std::vector<float>{0.25f, 1, 0}));
}

TEST_F(GridActionTest, WrapperRunsForItsOwnDuration) {
    Ref<RateProbe> probe = RateProbe::actionWithDuration(10);
    Ref<CCAccelAmplitude> accel = CCAccelAmplitude::actionWithAction(probe.get(), 1);
    accel->startWithTarget(node.get());
    accel->step(0);
    accel->step(0.5);
    EXPECT_EQ(probe->updates.back(), 0.5);
    accel->step(0.5);
    EXPECT_TRUE(accel->isDone());
    EXPECT_EQ(probe->updates.back(), 1);
}

TEST_F(GridActionTest, WrapperReverseAndCopyKeepTheClass) {
    Ref<RateProbe> probe = RateProbe::actionWithDuration(1);
    Ref<CCAccelAmplitude> accel = CCAccelAmplitude::actionWithAction(probe.get(), 3);
    accel->setRate(4);
    Ref<CCFiniteTimeAction> back = accel->reverse();
    auto* backAccel = dynamic_cast<CCAccelAmplitude*>(back.get());
    ASSERT_TRUE(backAccel);
    EXPECT_EQ(backAccel->rate(), 1.0f);
    EXPECT_EQ(backAccel->duration(), 3);
    EXPECT_NE(backAccel->innerAction(), probe.get());

    // A copy wraps a copy of the effect and keeps the rate, so running it changes something.
    Ref<CCAccelAmplitude> copy = platform::copyOf(accel.get());
    EXPECT_EQ(copy->rate(), 4.0f);
    ASSERT_TRUE(copy->innerAction());
    EXPECT_NE(copy->innerAction(), probe.get());
    copy->update(0.5);
    EXPECT_EQ(static_cast<RateProbe*>(copy->innerAction())->rates.back(), powf(0.5f, 4.0f));
    EXPECT_TRUE(probe->rates.empty());

    EXPECT_FALSE(CCAccelAmplitude::actionWithAction(nullptr, 1));
}

TEST_F(GridActionTest, WrappingAnActionWithoutAmplitudeFailsAtItsFirstUpdate) {
    Ref<CCActionInterval> delay = CCDelayTime::actionWithDuration(1);
    Ref<CCDeccelAmplitude> deccel = CCDeccelAmplitude::actionWithAction(delay.get(), 1);
    deccel->startWithTarget(node.get());
    expectThrows([&] { deccel->update(0.5); }, "IntervalAction (Amplitude)",
                 "Abstract class needs implementation");
    expectThrows([&] { (void)delay->getAmplitudeRate(); }, "IntervalAction (Amplitude)",
                 "Abstract class needs implementation");
}

} // namespace
