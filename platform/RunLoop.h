// A thread's run loop: posted blocks, timers and display links, run by the thread that owns
// the loop. Blocks may be posted from any thread; running is for the owning thread only.
#pragma once

#include "platform/Object.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

class DisplayLink;
class Thread;

class RunLoop : public Object {
public:
    // The calling thread's loop, made with its thread object on first use.
    static RunLoop* currentRunLoop();
    static RunLoop* mainRunLoop();

    // Queues a block for the loop's next turn; any thread. False (and the block dropped) once
    // the loop's thread has ended.
    bool performBlock(std::function<void()> block);
    // Queues a block and blocks the caller until it has run. False without running it when the
    // loop is not being served (never run or pumped, stopped, or its thread ended), including
    // when that happens while waiting. An exception from the block is rethrown to the caller.
    // Calling it on the loop's own thread would wait for ever: Thread::performBlock runs such
    // blocks inline instead, and this throws NSInternalInconsistencyException.
    bool performBlockAndWait(std::function<void()> block);

    // A timer on the monotonic clock: fires after `delay` seconds, then every `repeatInterval`
    // seconds when that is positive. Returns an id for cancelTimer.
    std::uint64_t scheduleTimer(double delay, std::function<void()> block, double repeatInterval = 0);
    void cancelTimer(std::uint64_t timerId);

    // Runs until stop(). A stop requested while the loop is not running ends the next run at once.
    void run();
    // Runs until stop() or the monotonic clock reaches `deadline` (seconds, see MonotonicClock);
    // true when stop() ended it.
    bool runUntil(double deadline);
    // Ends the innermost run after the block being run; the loop no longer counts as served, so
    // callers waiting on it are released with failure. Any thread.
    void stop();
    // Runs what is due now: the blocks queued before the call, due timers and due display links.
    // Counts as serving the loop (tests pump it between steps) and forgets a stop requested
    // while idle. Returns how many ran.
    std::size_t pump();

    // From the first run or pump until stop() or the end of the thread.
    bool isServing() const;
    bool isRunning() const;
    // Display links currently attached (the loop retains them until removed or invalidated).
    std::size_t displayLinkCount() const;

    RunLoop();
    ~RunLoop() override;

private:
    friend class Thread;
    friend class DisplayLink;
    friend class ManualClock;

    struct Completion {
        std::mutex mutex;
        std::condition_variable done;
        enum class State { Pending, Ran, Failed } state = State::Pending;
        std::exception_ptr error;
        void finish(State s, std::exception_ptr e = nullptr);
    };
    struct Task {
        std::function<void()> block;
        std::shared_ptr<Completion> completion; // null unless a caller waits
    };
    struct Timer {
        std::uint64_t id;
        double fireAt, interval;
        std::function<void()> block;
    };

    void checkOwnThread(const char* what) const;
    bool runLoop(double deadline, bool hasDeadline);
    std::size_t runDue(bool stopAware);
    // The blocks queued before the call, in order; with nothing queued, one look under the lock.
    std::size_t runQueuedBlocks(bool stopAware);
    // A turn that counts as serving the loop: pump()'s, or with `blocksOnly` a manual clock's,
    // which runs the queued blocks alone and fires its display links itself.
    std::size_t serveTurn(bool blocksOnly);
    // Fails every waiting caller; with `dropAll` discards every queued block (thread ended).
    void endServing(std::unique_lock<std::mutex>& lock, bool dropAll);
    bool attachLink(DisplayLink* link);
    void detachLink(DisplayLink* link);
    void wake();

    Thread* thread_ = nullptr; // the owner; cleared when the thread object goes
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    std::vector<Timer> timers_;
    std::vector<Ref<DisplayLink>> links_;
    std::uint64_t nextTimerId_ = 1;
    bool serving_ = false, finished_ = false, stopRequested_ = false;
    int depth_ = 0; // nested runs and pumps in progress
};

} // namespace platform
