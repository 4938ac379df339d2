// Threads: the main thread's identity, threads that serve a run loop, and handing blocks to a
// thread's run loop, optionally waiting until they have run.
#pragma once

#include "platform/Object.h"
#include "platform/RunLoop.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class CCObjectWith2Params;

namespace platform {

class Thread : public Object {
public:
    // The process's first thread (the one whose id is the process id).
    static Thread* mainThread();
    // The calling thread's object; threads not started here get one on first use, which lives
    // until the thread ends.
    static Thread* currentThread();
    // Whether the calling thread is the main thread.
    static bool isMainThread();

    // Starts a thread that runs `entry` and ends.
    static Ref<Thread> detachNewThread(std::function<void()> entry, std::string name = {});
    // Starts a thread that serves its run loop until stop(); it counts as serving from the
    // moment this returns, so callers may wait on it at once.
    static Ref<Thread> startRunLoopThread(std::string name = {});

    const std::string& name() const { return name_; }
    RunLoop* runLoop() const { return runLoop_.get(); }
    bool isFinished() const { return finished_.load(); }
    // Stops the thread's run loop (a run-loop thread then ends).
    void stop();
    // Waits for a thread started here to end; does nothing for other threads or from itself.
    void join();

    // Blocks for this thread's run loop. Without waiting the block is always queued (also on the
    // calling thread: it runs at the loop's next turn); false when the thread has ended.
    bool performBlock(std::function<void()> block);
    // Waiting on the calling thread runs the block inline before returning. Waiting on another
    // thread answers false without running the block when that thread is not serving its run
    // loop (never run or pumped, stopped, ended) instead of hanging.
    bool performBlock(std::function<void()> block, bool waitUntilDone);
    // The same with a one-argument block; the object is retained until the block has run.
    bool performBlock(std::function<void(Object*)> block, Object* object, bool waitUntilDone);
    // What the queued blocks call on this thread.
    void executeBlock(const std::function<void()>& block);
    void executeBlock2(CCObjectWith2Params* params);

    ~Thread() override;

private:
    struct ForeignHolder;
    explicit Thread(std::string name);
    void start(std::function<void()> body);
    // The thread is done: its loop stops serving and drops what is queued.
    void finish();
    bool isCurrent() const;
    bool perform(std::function<void()> body, bool waitUntilDone);

    std::string name_;
    Ref<RunLoop> runLoop_;
    std::thread thread_;
    std::mutex joinMutex_;
    std::atomic<bool> finished_{false};
};

} // namespace platform

// A one-argument block and its argument, carried to another thread together.
class CCObjectWith2Params : public platform::Object {
public:
    CCObjectWith2Params(std::function<void(platform::Object*)> block, platform::Object* param)
        : block_(std::move(block)), param_(param) {}
    const std::function<void(platform::Object*)>& block() const { return block_; }
    platform::Object* param() const { return param_.get(); }

private:
    std::function<void(platform::Object*)> block_; // copied
    platform::Ref<platform::Object> param_;        // retained
};
