#include "core/CCProfiling.h"
#include "platform/DisplayLink.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Timers read the default clock; a manual one makes every measured duration exact.
class ProfilingTest : public ::testing::Test {
protected:
    void SetUp() override {
        clock = platform::make<platform::ManualClock>(100.0);
        platform::Clock::setDefaultClock(clock.get());
        CCProfiler::sharedProfiler()->releaseAllTimers();
    }
    void TearDown() override {
        CCProfiler::sharedProfiler()->releaseAllTimers();
        platform::Clock::setDefaultClock(nullptr);
    }
    platform::Ref<platform::ManualClock> clock;
};

} // namespace

TEST_F(ProfilingTest, NewTimerHasNoMeasurementsAndDescribesItself) {
    CCProfilingTimer* timer = CCProfiler::sharedProfiler()->createAndAddTimerWithName("draw");
    EXPECT_EQ(timer->name(), "draw");
    EXPECT_EQ(timer->numberOfCalls(), 0u);
    EXPECT_EQ(timer->minTime(), 10000.0);
    EXPECT_EQ(timer->startTime(), 100.0);
    EXPECT_EQ(
        timer->description(),
        "draw ::\tavg: 0.000000ms,\tmin: 10000.000000ms,\tmax: 0.000000ms,\ttotal: 0.00s,\tnr calls: 0");
}

TEST_F(ProfilingTest, DurationsGiveCountMinimumMaximumAverageAndTotal) {
    CCProfilingTimer* timer = CCProfiler::sharedProfiler()->createAndAddTimerWithName("update");
    for (double ms : {4.0, 1.5, 12.5})
        timer->addDuration(ms);
    EXPECT_EQ(timer->numberOfCalls(), 3u);
    EXPECT_EQ(timer->minTime(), 1.5);
    EXPECT_EQ(timer->maxTime(), 12.5);
    EXPECT_EQ(timer->totalTime(), 18.0);
    EXPECT_EQ(timer->averageTime(), 6.0);
    EXPECT_EQ(timer->description(),
              "update ::\tavg: 6.000000ms,\tmin: 1.500000ms,\tmax: 12.500000ms,\ttotal: 0.02s,\tnr calls: 3");

    timer->reset();
    EXPECT_EQ(timer->numberOfCalls(), 0u);
    EXPECT_EQ(timer->totalTime(), 0.0);
    EXPECT_EQ(timer->averageTime(), 0.0);
    EXPECT_EQ(timer->maxTime(), 0.0);
    EXPECT_EQ(timer->minTime(), 10000.0);

    // A first measurement longer than the 10 s placeholder is still the minimum.
    timer->addDuration(25000.0);
    EXPECT_EQ(timer->minTime(), 25000.0);
}

TEST_F(ProfilingTest, BeginAndEndMeasureOnTheClock) {
    CCProfilingBeginTimingBlock("load");
    CCProfilingTimer* timer = CCProfiler::sharedProfiler()->timerWithName("load");
    ASSERT_NE(timer, nullptr);
    clock->advance(0.25);
    CCProfilingEndTimingBlock("load");
    CCProfilingBeginTimingBlock("load"); // the same timer again
    clock->advance(0.125);
    CCProfilingEndTimingBlock("load");
    EXPECT_EQ(CCProfiler::sharedProfiler()->timerWithName("load"), timer);
    EXPECT_EQ(timer->numberOfCalls(), 2u);
    EXPECT_EQ(timer->minTime(), 125.0);
    EXPECT_EQ(timer->maxTime(), 250.0);
    EXPECT_EQ(timer->totalTime(), 375.0);

    CCProfilingResetTimingBlock("load");
    EXPECT_EQ(timer->numberOfCalls(), 0u);
    EXPECT_EQ(timer->startTime(), 100.375);
    // Names without a timer are ignored.
    CCProfilingEndTimingBlock("unknown");
    CCProfilingResetTimingBlock("unknown");
    EXPECT_EQ(CCProfiler::sharedProfiler()->activeTimers().size(), 1u);
}

TEST_F(ProfilingTest, RegistryReplacesReleasesAndPrintsInOrder) {
    CCProfiler* profiler = CCProfiler::sharedProfiler();
    EXPECT_EQ(CCProfiler::sharedProfiler(), profiler);
    CCProfilingTimer* first = profiler->createAndAddTimerWithName("a");
    first->addDuration(2.0);
    profiler->createAndAddTimerWithName("b")->addDuration(3.0);
    profiler->createAndAddTimerWithName("c");

    // Replacing "a" keeps its place and drops its measurements.
    CCProfilingTimer* replaced = profiler->createAndAddTimerWithName("a");
    EXPECT_NE(replaced, first);
    EXPECT_EQ(profiler->timerWithName("a"), replaced);
    profiler->releaseTimer("c");
    profiler->releaseTimer("never added");
    EXPECT_EQ(profiler->timerWithName("c"), nullptr);

    testing::internal::CaptureStdout();
    profiler->displayTimers();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "a ::\tavg: 0.000000ms,\tmin: 10000.000000ms,\tmax: 0.000000ms,\ttotal: 0.00s,\tnr calls: 0\n"
              "b ::\tavg: 3.000000ms,\tmin: 3.000000ms,\tmax: 3.000000ms,\ttotal: 0.00s,\tnr calls: 1\n");

    profiler->releaseAllTimers();
    EXPECT_TRUE(profiler->activeTimers().empty());
    testing::internal::CaptureStdout();
    profiler->displayTimers();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}
