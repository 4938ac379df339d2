#include "actions/CCActionProgressTimer.h"

#include "core/CCDirector.h"
#include "core/CCGLView.h"
#include "core/CCScheduler.h"
#include "graphics/CCProgressTimer.h"
#include "tests/support/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <vector>

using platform::Ref;

namespace {

class ProgressActionTest : public fltest::EngineGLTest {
protected:
    void SetUp() override {
        EngineGLTest::SetUp();
        timer = CCProgressTimer::progressWithSprite(nullptr);
        timer->onEnter();
    }
    void TearDown() override {
        timer->onExit();
        timer->cleanup();
        timer = nullptr;
        EngineGLTest::TearDown();
    }
    // Runs the action and records the percentage after the first step and after each tick.
    std::vector<float> percentagesOf(const Ref<CCAction>& action, std::vector<double> ticks) {
        timer->runAction(action.get());
        std::vector<float> seen;
        tick(0);
        seen.push_back(timer->percentage());
        for (double dt : ticks) {
            tick(dt);
            seen.push_back(timer->percentage());
        }
        return seen;
    }
    void tick(double dt) { director()->scheduler()->update(dt); }

    Ref<CCProgressTimer> timer;
};

TEST_F(ProgressActionTest, ProgressToRunsFromWhereTheTimerStands) {
    timer->setPercentage(20);
    EXPECT_EQ(percentagesOf(CCProgressTo::actionWithDuration(2, 60), {0.5, 1, 0.5}),
              (std::vector<float>{20, 30, 50, 60}));

    // 99.9 is not full: the sweep starts there.
    timer->setPercentage(99.9f);
    auto action = CCProgressTo::actionWithDuration(1, 100);
    EXPECT_EQ(percentagesOf(action, {1}), (std::vector<float>{99.9f, 100}));
}

TEST_F(ProgressActionTest, AFullTimerCountsAsEmptyWhenProgressToStarts) {
    timer->setPercentage(100);
    EXPECT_EQ(percentagesOf(CCProgressTo::actionWithDuration(1, 100), {0.25, 0.75}),
              (std::vector<float>{0, 25, 100}));

    // To 0 from full goes nowhere visible: 0 from the first step on.
    EXPECT_EQ(percentagesOf(CCProgressTo::actionWithDuration(1, 0), {0.5, 0.5}),
              (std::vector<float>{0, 0, 0}));
}

TEST_F(ProgressActionTest, ProgressFromToIgnoresTheTimersPercentage) {
    timer->setPercentage(70);
    EXPECT_EQ(percentagesOf(CCProgressFromTo::actionWithDuration(4, 100, 0), {1, 2, 1}),
              (std::vector<float>{100, 75, 25, 0}));
}

TEST_F(ProgressActionTest, ReverseAndCopiesKeepDurationAndPercentages) {
    auto forward = CCProgressFromTo::actionWithDuration(3, 0, 100);
    Ref<CCFiniteTimeAction> back = forward->reverse();
    auto* reversed = dynamic_cast<CCProgressFromTo*>(back.get());
    ASSERT_NE(reversed, nullptr);
    EXPECT_EQ(reversed->duration(), 3);
    EXPECT_EQ(reversed->from(), 100);
    EXPECT_EQ(reversed->to(), 0);

    auto copied = platform::copyOf(forward.get());
    EXPECT_EQ(copied->duration(), 3);
    EXPECT_EQ(copied->from(), 0);
    EXPECT_EQ(copied->to(), 100);

    auto to = CCProgressTo::actionWithDuration(2, 40);
    auto toCopy = platform::copyOf(to.get());
    EXPECT_EQ(toCopy->duration(), 2);
    EXPECT_EQ(toCopy->to(), 40);
    // No reverse of its own.
    EXPECT_EQ(to->reverse(), nullptr);

    // A copy runs on its own.
    timer->setPercentage(10);
    EXPECT_EQ(percentagesOf(toCopy, {1, 1}), (std::vector<float>{10, 25, 40}));
}

TEST_F(ProgressActionTest, OnANodeThatIsNoTimerNothingHappens) {
    auto node = CCNode::node();
    node->onEnter();
    auto to = CCProgressTo::actionWithDuration(1, 50);
    node->runAction(to.get());
    auto fromTo = CCProgressFromTo::actionWithDuration(1, 0, 50);
    node->runAction(fromTo.get());
    tick(0);
    tick(0.5);
    EXPECT_EQ(to->from(), 0);
    tick(1);
    EXPECT_EQ(node->numberOfRunningActions(), 0u);
    node->onExit();
    node->cleanup();
}

} // namespace
