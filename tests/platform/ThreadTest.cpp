#include "platform/DisplayLink.h"
#include "platform/Exception.h"
#include "platform/Log.h"
#include "platform/RunLoop.h"
#include "platform/SerialQueue.h"
#include "platform/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using platform::make;
using platform::Object;
using platform::Ref;
using platform::RunLoop;
using platform::SerialQueue;
using platform::Thread;

namespace {

// A one-shot gate between threads.
class Gate {
public:
    void open() {
        std::lock_guard lock(m_);
        open_ = true;
        cv_.notify_all();
    }
    void wait() {
        std::unique_lock lock(m_);
        cv_.wait(lock, [&] { return open_; });
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool open_ = false;
};

// Keeps the log quiet and records what the threads complained about.
class ThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::setLogSink([this](const std::string& line) {
            std::lock_guard lock(logMutex);
            lines.push_back(line);
        });
        RunLoop::mainRunLoop()->pump(); // drain what earlier tests left
    }
    void TearDown() override { platform::setLogSink({}); }
    // Runs the main loop until a block stops it; bounded so a fault fails instead of hanging.
    bool runMainUntilStopped() {
        return RunLoop::mainRunLoop()->runUntil(platform::MonotonicClock::sharedClock()->now() + 10);
    }

    std::mutex logMutex;
    std::vector<std::string> lines;
};

TEST_F(ThreadTest, MainThreadIdentityHoldsOnlyOnTheMainThread) {
    EXPECT_TRUE(Thread::isMainThread());
    EXPECT_EQ(Thread::currentThread(), Thread::mainThread());
    EXPECT_EQ(RunLoop::currentRunLoop(), RunLoop::mainRunLoop());

    Thread* seen[2] = {};
    bool wasMain = true;
    Ref<Thread> worker = Thread::detachNewThread(
        [&] {
            wasMain = Thread::isMainThread();
            seen[0] = Thread::currentThread();
            seen[1] = Thread::currentThread();
        },
        "worker");
    worker->join();
    EXPECT_FALSE(wasMain);
    EXPECT_EQ(seen[0], worker.get());
    EXPECT_EQ(seen[1], worker.get());
    EXPECT_TRUE(worker->isFinished());
    EXPECT_EQ(worker->name(), "worker");

    // A thread started elsewhere gets an object of its own, stable for its life.
    Thread* foreign[2] = {};
    std::thread([&] {
        foreign[0] = Thread::currentThread();
        foreign[1] = Thread::currentThread();
        EXPECT_FALSE(Thread::isMainThread());
        EXPECT_EQ(RunLoop::currentRunLoop(), foreign[0]->runLoop());
    }).join();
    EXPECT_NE(foreign[0], nullptr);
    EXPECT_EQ(foreign[0], foreign[1]);
    EXPECT_NE(foreign[0], Thread::mainThread());
}

TEST_F(ThreadTest, PerformingWithoutWaitingQueuesInOrderEvenOnTheCallingThread) {
    std::vector<int> order;
    Thread* main = Thread::mainThread();
    EXPECT_TRUE(main->performBlock([&] { order.push_back(1); }));
    EXPECT_TRUE(main->performBlock([&] { order.push_back(2); }, false));
    EXPECT_TRUE(main->performBlock([&](Object*) { order.push_back(3); }, nullptr, false));
    EXPECT_TRUE(order.empty());
    // A block queued by a block waits for the next turn, so pumping cannot spin for ever.
    main->performBlock([&] {
        main->performBlock([&] { order.push_back(5); });
        order.push_back(4);
    });
    EXPECT_EQ(RunLoop::mainRunLoop()->pump(), 4u);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
    RunLoop::mainRunLoop()->pump();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_FALSE(main->performBlock(std::function<void()>()));
}

TEST_F(ThreadTest, WaitingOnTheCallingThreadRunsTheBlockBeforeReturning) {
    Thread* main = Thread::mainThread();
    bool ran = false;
    EXPECT_TRUE(main->performBlock([&] { ran = true; }, true));
    EXPECT_TRUE(ran);

    Ref<Object> param = make<Object>();
    Object* received = nullptr;
    EXPECT_TRUE(main->performBlock([&](Object* o) { received = o; }, param.get(), true));
    EXPECT_EQ(received, param.get());

    // Without waiting, the object stays retained until its block has run.
    main->performBlock([&](Object* o) { received = o; }, param.get(), false);
    EXPECT_EQ(param->retainCount(), 2u);
    RunLoop::mainRunLoop()->pump();
    EXPECT_EQ(param->retainCount(), 1u);
}

TEST_F(ThreadTest, WaitingOnAnotherThreadReturnsAfterTheBlockRanThere) {
    Ref<Thread> worker = Thread::startRunLoopThread("loader");
    Thread* ranOn = nullptr;
    std::vector<int> order;
    worker->performBlock([&] { order.push_back(1); });
    EXPECT_TRUE(worker->performBlock(
        [&] {
            ranOn = Thread::currentThread();
            order.push_back(2);
        },
        true));
    EXPECT_EQ(ranOn, worker.get());
    EXPECT_EQ(order, (std::vector<int>{1, 2}));

    // The block's exception comes back to the waiter; the worker carries on.
    EXPECT_THROW(worker->performBlock([] { throw std::runtime_error("bad"); }, true), std::runtime_error);
    EXPECT_TRUE(worker->performBlock([&] { order.push_back(3); }, true));
    EXPECT_EQ(order.size(), 3u);
    worker->stop();
    worker->join();
}

TEST_F(ThreadTest, AWorkerWaitsOnTheMainThreadWhileItRunsItsLoop) {
    RunLoop* mainLoop = RunLoop::mainRunLoop();
    bool ranOnMain = false, performed = false;
    Ref<Thread> worker = Thread::detachNewThread([&] {
        performed = Thread::mainThread()->performBlock([&] { ranOnMain = Thread::isMainThread(); }, true);
        Thread::mainThread()->performBlock([mainLoop] { mainLoop->stop(); });
    });
    EXPECT_TRUE(runMainUntilStopped());
    worker->join();
    EXPECT_TRUE(performed);
    EXPECT_TRUE(ranOnMain);
}

TEST_F(ThreadTest, WaitingOnAThreadNotServingItsLoopFailsInsteadOfHanging) {
    // A thread that never ran its loop.
    Gate release;
    Ref<Thread> busy = Thread::detachNewThread([&] { release.wait(); });
    bool ran = false;
    EXPECT_FALSE(busy->performBlock([&] { ran = true; }, true));
    EXPECT_FALSE(busy->performBlock([&](Object*) { ran = true; }, nullptr, true));
    release.open();
    busy->join();
    EXPECT_FALSE(ran);

    // A thread that has ended: waiting or not, nothing is performed.
    Ref<Thread> ended = Thread::startRunLoopThread();
    ended->stop();
    ended->join();
    EXPECT_FALSE(ended->performBlock([&] { ran = true; }, true));
    EXPECT_FALSE(ended->performBlock([&] { ran = true; }));
    EXPECT_FALSE(ran);
    {
        std::lock_guard lock(logMutex);
        EXPECT_FALSE(lines.empty());
    }

    // The main loop stopped while a worker waits (or is about to): the worker is released with
    // failure whichever comes first, and its block never runs.
    RunLoop::mainRunLoop()->pump();
    Gate posted;
    bool performed = true;
    Ref<Thread> waiter = Thread::detachNewThread([&] {
        posted.open();
        performed = Thread::mainThread()->performBlock([&] { ran = true; }, true);
    });
    posted.wait();
    RunLoop::mainRunLoop()->stop();
    waiter->join();
    EXPECT_FALSE(performed);
    RunLoop::mainRunLoop()->pump();
    EXPECT_FALSE(ran);
}

TEST_F(ThreadTest, RunLoopsBelongToTheirThreadAndHonourStops) {
    Ref<Thread> worker = Thread::startRunLoopThread();
    RunLoop* loop = worker->runLoop();
    EXPECT_THROW(loop->pump(), platform::Exception);
    EXPECT_THROW(loop->run(), platform::Exception);
    EXPECT_THROW(RunLoop::mainRunLoop()->performBlockAndWait([] {}), platform::Exception);
    worker->stop();
    worker->join();

    // A stop requested while the loop is idle ends the next run at once.
    RunLoop* main = RunLoop::mainRunLoop();
    main->stop();
    EXPECT_FALSE(main->isServing());
    EXPECT_TRUE(main->runUntil(platform::MonotonicClock::sharedClock()->now() + 10));
    // A deadline in the past returns after one turn, reporting no stop.
    bool ran = false;
    main->performBlock([&] { ran = true; });
    EXPECT_FALSE(main->runUntil(0));
    EXPECT_TRUE(ran);
    EXPECT_TRUE(main->isServing());
}

TEST_F(ThreadTest, TimersFireWhenDueAndNotAfterCancelling) {
    RunLoop* main = RunLoop::mainRunLoop();
    std::vector<std::string> fired;
    main->scheduleTimer(0, [&] { fired.push_back("now"); });
    std::uint64_t later = main->scheduleTimer(3600, [&] { fired.push_back("later"); });
    std::uint64_t cancelled = main->scheduleTimer(0, [&] { fired.push_back("cancelled"); });
    main->cancelTimer(cancelled);
    std::uint64_t repeating = main->scheduleTimer(
        0, [&] { fired.push_back("repeat"); }, 3600);
    main->pump();
    EXPECT_EQ(fired, (std::vector<std::string>{"now", "repeat"}));
    main->pump();
    EXPECT_EQ(fired.size(), 2u);
    main->cancelTimer(later);
    main->cancelTimer(repeating);
}

TEST_F(ThreadTest, SerialQueueRunsBlocksInOrderOnOneWorker) {
    std::vector<int> order;
    Thread* worker = nullptr;
    bool sameWorker = true;
    {
        Ref<SerialQueue> queue = make<SerialQueue>("textures");
        for (int i = 0; i < 50; ++i)
            queue->dispatchAsync([&, i] {
                Thread* t = Thread::currentThread();
                if (worker && worker != t) sameWorker = false;
                worker = t;
                order.push_back(i);
            });
        // A synchronous block sees every block queued before it, and may itself dispatch
        // synchronously without deadlocking.
        std::size_t seen = 0;
        bool nestedRan = false;
        queue->dispatchSync([&] {
            seen = order.size();
            EXPECT_TRUE(queue->isCurrent());
            queue->dispatchSync([&] { nestedRan = true; });
        });
        EXPECT_EQ(seen, 50u);
        EXPECT_TRUE(nestedRan);
        EXPECT_FALSE(queue->isCurrent());
        // Blocks still queued when the queue goes are run first.
        for (int i = 50; i < 60; ++i)
            queue->dispatchAsync([&, i] { order.push_back(i); });
    }
    ASSERT_EQ(order.size(), 60u);
    for (int i = 0; i < 60; ++i)
        EXPECT_EQ(order[std::size_t(i)], i);
    EXPECT_TRUE(sameWorker);
    EXPECT_NE(worker, Thread::mainThread());
}

} // namespace
