#include "platform/RunLoop.h"

#include "platform/DisplayLink.h"
#include "platform/Exception.h"
#include "platform/Thread.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

namespace platform {

namespace {
constexpr double kNever = std::numeric_limits<double>::infinity();

std::chrono::steady_clock::time_point toTimePoint(double seconds) {
    using namespace std::chrono;
    return steady_clock::time_point(duration_cast<steady_clock::duration>(duration<double>(seconds)));
}

double monotonicNow() {
    return MonotonicClock::sharedClock()->now();
}

// Counts a run or pump in progress for as long as it lasts, exceptions included.
struct DepthGuard {
    std::mutex& mutex;
    int& depth;
    DepthGuard(std::mutex& m, int& d) : mutex(m), depth(d) {}
    ~DepthGuard() {
        std::lock_guard lock(mutex);
        --depth;
    }
};
} // namespace

void RunLoop::Completion::finish(State s, std::exception_ptr e) {
    std::lock_guard lock(mutex);
    state = s;
    error = std::move(e);
    done.notify_all();
}

RunLoop* RunLoop::currentRunLoop() {
    return Thread::currentThread()->runLoop();
}

RunLoop* RunLoop::mainRunLoop() {
    return Thread::mainThread()->runLoop();
}

RunLoop::RunLoop() = default;

RunLoop::~RunLoop() {
    std::unique_lock lock(mutex_);
    endServing(lock, true);
}

void RunLoop::checkOwnThread(const char* what) const {
    if (Thread::currentThread() != thread_)
        raiseInconsistency(std::string("RunLoop: ") + what + " called off the loop's own thread");
}

void RunLoop::wake() {
    wake_.notify_all();
}

bool RunLoop::performBlock(std::function<void()> block) {
    if (!block) return false;
    {
        std::lock_guard lock(mutex_);
        if (finished_) return false;
        tasks_.push_back({std::move(block), nullptr});
    }
    wake();
    return true;
}

bool RunLoop::performBlockAndWait(std::function<void()> block) {
    if (!block) return false;
    if (Thread::currentThread() == thread_)
        raiseInconsistency("RunLoop: waiting on the calling thread's own loop would never return");
    auto completion = std::make_shared<Completion>();
    {
        std::lock_guard lock(mutex_);
        if (!serving_ || finished_) return false;
        tasks_.push_back({std::move(block), completion});
    }
    wake();
    std::unique_lock wait(completion->mutex);
    completion->done.wait(wait, [&] { return completion->state != Completion::State::Pending; });
    if (completion->error) std::rethrow_exception(completion->error);
    return completion->state == Completion::State::Ran;
}

std::uint64_t RunLoop::scheduleTimer(double delay, std::function<void()> block, double repeatInterval) {
    std::uint64_t id;
    {
        std::lock_guard lock(mutex_);
        id = nextTimerId_++;
        double interval = repeatInterval > 0 ? repeatInterval : 0;
        timers_.push_back({id, monotonicNow() + std::max(0.0, delay), interval, std::move(block)});
    }
    wake();
    return id;
}

void RunLoop::cancelTimer(std::uint64_t timerId) {
    std::lock_guard lock(mutex_);
    std::erase_if(timers_, [&](const Timer& t) { return t.id == timerId; });
}

void RunLoop::run() {
    runLoop(0, false);
}

bool RunLoop::runUntil(double deadline) {
    return runLoop(deadline, true);
}

bool RunLoop::runLoop(double deadline, bool hasDeadline) {
    checkOwnThread("run");
    {
        std::lock_guard lock(mutex_);
        if (stopRequested_) {
            stopRequested_ = false;
            return true;
        }
        serving_ = true;
        ++depth_;
    }
    DepthGuard guard(mutex_, depth_);
    for (;;) {
        runDue(true);
        std::unique_lock lock(mutex_);
        if (stopRequested_) {
            stopRequested_ = false;
            return true;
        }
        if (!tasks_.empty()) continue;
        double wakeAt = hasDeadline ? deadline : kNever;
        if (hasDeadline && monotonicNow() >= deadline) return false;
        for (const Timer& t : timers_)
            wakeAt = std::min(wakeAt, t.fireAt);
        for (const Ref<DisplayLink>& link : links_)
            if (!link->clock()->isManual()) wakeAt = std::min(wakeAt, link->nextFireTime());
        auto ready = [&] { return stopRequested_ || !tasks_.empty(); };
        if (wakeAt == kNever)
            wake_.wait(lock, ready);
        else
            wake_.wait_until(lock, toTimePoint(wakeAt), ready);
    }
}

void RunLoop::stop() {
    {
        std::unique_lock lock(mutex_);
        stopRequested_ = true;
        endServing(lock, false);
    }
    wake();
}

std::size_t RunLoop::pump() {
    checkOwnThread("pump");
    return serveTurn(false);
}

std::size_t RunLoop::serveTurn(bool blocksOnly) {
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = false;
        serving_ = true;
        ++depth_;
    }
    DepthGuard guard(mutex_, depth_);
    return blocksOnly ? runQueuedBlocks(false) : runDue(false);
}

std::size_t RunLoop::runQueuedBlocks(bool stopAware) {
    std::size_t ran = 0;
    // Blocks queued before this turn; those they queue wait for the next one.
    std::size_t pending;
    {
        std::lock_guard lock(mutex_);
        pending = tasks_.size();
    }
    for (; pending > 0; --pending) {
        Task task;
        {
            std::lock_guard lock(mutex_);
            if (tasks_.empty() || (stopAware && stopRequested_)) break;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        ++ran;
        if (!task.completion) {
            task.block();
            continue;
        }
        try {
            task.block();
            task.completion->finish(Completion::State::Ran);
        } catch (...) {
            task.completion->finish(Completion::State::Ran, std::current_exception());
        }
    }
    return ran;
}

std::size_t RunLoop::runDue(bool stopAware) {
    std::size_t ran = runQueuedBlocks(stopAware);

    // Due timers, earliest first; each is looked up again because a block may cancel others.
    for (;;) {
        std::function<void()> block;
        {
            std::lock_guard lock(mutex_);
            if (stopAware && stopRequested_) break;
            double now = monotonicNow();
            auto due = std::min_element(timers_.begin(), timers_.end(),
                                        [](const Timer& a, const Timer& b) { return a.fireAt < b.fireAt; });
            if (due == timers_.end() || due->fireAt > now) break;
            if (due->interval > 0) {
                block = due->block;
                due->fireAt += due->interval;
                if (due->fireAt <= now) due->fireAt = now + due->interval; // no catch-up bursts
            } else {
                block = std::move(due->block);
                timers_.erase(due);
            }
        }
        ++ran;
        block();
    }

    // Display links, walked by index and held while called: a callback may invalidate links.
    for (std::size_t i = 0;; ++i) {
        Ref<DisplayLink> link;
        {
            std::lock_guard lock(mutex_);
            if (i >= links_.size() || (stopAware && stopRequested_)) break;
            link = links_[i];
        }
        if (link->fireIfDue()) ++ran;
    }
    return ran;
}

void RunLoop::endServing(std::unique_lock<std::mutex>& lock, bool dropAll) {
    serving_ = false;
    std::vector<std::shared_ptr<Completion>> failed;
    std::deque<Task> dropped;
    for (auto it = tasks_.begin(); it != tasks_.end();) {
        if (it->completion) {
            failed.push_back(std::move(it->completion));
            it = tasks_.erase(it);
        } else {
            ++it;
        }
    }
    std::vector<Ref<DisplayLink>> links;
    if (dropAll) {
        finished_ = true;
        dropped.swap(tasks_);
        timers_.clear();
        links.swap(links_);
    }
    // Blocks and links are let go outside the lock: their captures may post to this loop.
    lock.unlock();
    for (auto& completion : failed)
        completion->finish(Completion::State::Failed);
    for (auto& link : links)
        link->runLoop_ = nullptr;
    dropped.clear();
    links.clear();
    lock.lock();
}

bool RunLoop::isServing() const {
    std::lock_guard lock(mutex_);
    return serving_;
}

bool RunLoop::isRunning() const {
    std::lock_guard lock(mutex_);
    return depth_ > 0;
}

std::size_t RunLoop::displayLinkCount() const {
    std::lock_guard lock(mutex_);
    return links_.size();
}

bool RunLoop::attachLink(DisplayLink* link) {
    {
        std::lock_guard lock(mutex_);
        if (finished_) return false;
        links_.emplace_back(link);
    }
    wake();
    return true;
}

void RunLoop::detachLink(DisplayLink* link) {
    Ref<DisplayLink> keep(link); // the release below must not destroy the caller mid-call
    std::lock_guard lock(mutex_);
    std::erase_if(links_, [&](const Ref<DisplayLink>& l) { return l.get() == link; });
}

} // namespace platform
