#include "platform/DisplayLink.h"
#include "platform/RunLoop.h"
#include "platform/Selector.h"
#include "platform/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using platform::Clock;
using platform::DisplayLink;
using platform::make;
using platform::ManualClock;
using platform::Object;
using platform::Ref;
using platform::RunLoop;

namespace {

class Frames : public Object {
public:
    void tick(DisplayLink* link) {
        stamps.push_back(link->timestamp());
        clockAt.push_back(link->clock()->now());
        if (onTick) onTick(link);
    }
    std::vector<double> stamps, clockAt;
    std::function<void(DisplayLink*)> onTick;
};

double refresh(double epoch, int n) {
    return epoch + n / 60.0;
}

class DisplayLinkTest : public ::testing::Test {
protected:
    void TearDown() override { Clock::setDefaultClock(nullptr); }

    Ref<DisplayLink> attach(Frames* target, std::int64_t interval = 1) {
        Ref<DisplayLink> link =
            DisplayLink::displayLinkWithTarget(target, fl_selector(Frames::tick), clock.get());
        link->setFrameInterval(interval);
        link->addToRunLoop(RunLoop::mainRunLoop());
        return link;
    }

    Ref<ManualClock> clock = make<ManualClock>(10.0);
    Ref<Frames> frames = make<Frames>();
};

TEST_F(DisplayLinkTest, ManualClockFiresEachRefreshWithItsExactTime) {
    Ref<DisplayLink> link = attach(frames.get());
    EXPECT_EQ(link->timestamp(), 0.0);
    for (int i = 0; i < 3; ++i)
        clock->advance(1.0 / 60);
    ASSERT_EQ(frames->stamps.size(), 3u);
    for (int n = 1; n <= 3; ++n) {
        EXPECT_EQ(frames->stamps[std::size_t(n - 1)], refresh(10, n));
        EXPECT_EQ(frames->clockAt[std::size_t(n - 1)], refresh(10, n));
    }
    // A long step fires every refresh on the way, in order; sixty small steps reach a whole
    // second even though their sum rounds below it.
    clock->advance(0.5);
    EXPECT_EQ(frames->stamps.size(), 33u);
    EXPECT_EQ(frames->stamps.back(), refresh(10, 33));
    for (int i = 0; i < 60; ++i)
        clock->advance(1.0 / 60);
    EXPECT_EQ(frames->stamps.size(), 93u);
    for (std::size_t i = 1; i < frames->stamps.size(); ++i)
        EXPECT_LT(frames->stamps[i - 1], frames->stamps[i]);
    link->invalidate();
}

TEST_F(DisplayLinkTest, FrameIntervalCountsRefreshesAndIsAtLeastOne) {
    Ref<DisplayLink> link = attach(frames.get(), 2);
    clock->advance(0.1); // six refreshes: frames at the 2nd, 4th and 6th
    EXPECT_EQ(frames->stamps, (std::vector<double>{refresh(10, 2), refresh(10, 4), refresh(10, 6)}));
    // A new interval counts from the last frame.
    link->setFrameInterval(15);
    clock->advance(14.0 / 60);
    EXPECT_EQ(frames->stamps.size(), 3u);
    clock->advance(1.0 / 60);
    EXPECT_EQ(frames->stamps.back(), refresh(10, 21));

    for (std::int64_t bad : {0, -3}) {
        link->setFrameInterval(bad);
        EXPECT_EQ(link->frameInterval(), 1);
    }
    clock->advance(1.0 / 60);
    EXPECT_EQ(frames->stamps.back(), refresh(10, 22));
    link->invalidate();
}

TEST_F(DisplayLinkTest, InvalidateStopsCallbacksAndReleasesTheTarget) {
    Ref<DisplayLink> link = attach(frames.get());
    EXPECT_EQ(frames->retainCount(), 2u);
    EXPECT_EQ(RunLoop::mainRunLoop()->displayLinkCount(), 1u);
    // Invalidated from its own callback: nothing further fires within the same advance.
    frames->onTick = [](DisplayLink* l) { l->invalidate(); };
    clock->advance(1.0);
    EXPECT_EQ(frames->stamps.size(), 1u);
    EXPECT_FALSE(link->isValid());
    EXPECT_EQ(frames->retainCount(), 1u);
    EXPECT_EQ(RunLoop::mainRunLoop()->displayLinkCount(), 0u);
    link->addToRunLoop(RunLoop::mainRunLoop()); // an invalid link cannot come back
    clock->advance(1.0);
    EXPECT_EQ(frames->stamps.size(), 1u);

    // Removed from its loop, a link is quiet until added again, from when it counts anew.
    Ref<Frames> other = make<Frames>();
    Ref<DisplayLink> second = attach(other.get());
    second->removeFromRunLoop(RunLoop::mainRunLoop());
    clock->advance(1.0);
    EXPECT_TRUE(other->stamps.empty());
    second->addToRunLoop(RunLoop::mainRunLoop());
    clock->advance(1.0 / 60);
    EXPECT_EQ(other->stamps, (std::vector<double>{clock->now()}));
    second->invalidate();
}

TEST_F(DisplayLinkTest, LinksDueTogetherFireInTheOrderTheyWereAdded) {
    std::vector<int> order;
    Ref<Frames> a = make<Frames>(), b = make<Frames>();
    a->onTick = [&](DisplayLink*) { order.push_back(1); };
    b->onTick = [&](DisplayLink*) { order.push_back(2); };
    Ref<DisplayLink> la = attach(a.get(), 2);
    Ref<DisplayLink> lb = attach(b.get(), 1);
    clock->advance(2.0 / 60);
    EXPECT_EQ(order, (std::vector<int>{2, 1, 2}));
    la->invalidate();
    lb->invalidate();
}

TEST_F(DisplayLinkTest, AdvancingIsATurnOfTheCallingThreadsRunLoop) {
    // What another thread posted runs before the frame; what a frame posts waits for the next turn.
    std::vector<std::string> order;
    Ref<DisplayLink> link = attach(frames.get());
    frames->onTick = [&](DisplayLink*) {
        order.push_back("frame");
        RunLoop::mainRunLoop()->performBlock([&] { order.push_back("posted by a frame"); });
    };
    std::thread worker(
        [&] { RunLoop::mainRunLoop()->performBlock([&] { order.push_back("from a worker"); }); });
    worker.join();
    clock->advance(1.0 / 60);
    EXPECT_EQ(order, (std::vector<std::string>{"from a worker", "frame"}));
    clock->advance(1.0 / 60);
    EXPECT_EQ(order, (std::vector<std::string>{"from a worker", "frame", "posted by a frame", "frame"}));

    // As with pump(), the loop counts as served: a worker waiting for it is answered, not refused.
    std::atomic<int> waited{-1};
    std::thread waiter([&] { waited = RunLoop::mainRunLoop()->performBlockAndWait([] {}) ? 1 : 0; });
    while (waited < 0)
        clock->advance(1.0 / 60);
    waiter.join();
    EXPECT_EQ(waited, 1);
    link->invalidate();
    clock->advance(0); // the last frame's block, before `order` goes
}

TEST_F(DisplayLinkTest, TheDefaultClockServesNewLinks) {
    EXPECT_FALSE(Clock::defaultClock()->isManual());
    Clock::setDefaultClock(clock.get());
    Ref<DisplayLink> link = DisplayLink::displayLinkWithTarget(frames.get(), fl_selector(Frames::tick));
    EXPECT_EQ(link->clock(), clock.get());
    Clock::setDefaultClock(nullptr);
    EXPECT_EQ(Clock::defaultClock(), platform::MonotonicClock::sharedClock());
}

TEST_F(DisplayLinkTest, RealClockLinksFireFromARunningLoopWithRisingTimestamps) {
    RunLoop* main = RunLoop::mainRunLoop();
    Ref<DisplayLink> link = DisplayLink::displayLinkWithTarget(frames.get(), fl_selector(Frames::tick));
    Frames* f = frames.get();
    frames->onTick = [main, f](DisplayLink*) {
        if (f->stamps.size() == 3) main->stop();
    };
    link->addToRunLoop(main);
    double start = platform::MonotonicClock::sharedClock()->now();
    EXPECT_TRUE(main->runUntil(start + 10));
    link->invalidate();
    ASSERT_EQ(frames->stamps.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_GT(frames->stamps[i], start);
        EXPECT_LE(frames->stamps[i], frames->clockAt[i]);
        if (i > 0) {
            EXPECT_GT(frames->stamps[i], frames->stamps[i - 1]);
        }
    }
}

} // namespace
