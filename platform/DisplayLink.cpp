#include "platform/DisplayLink.h"

#include "platform/RunLoop.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <mutex>
#include <utility>

namespace platform {

namespace {
constexpr double kNever = std::numeric_limits<double>::infinity();
// Sums of frame-length steps round a little below a refresh time; they still reach it.
constexpr double kDueSlack = 1e-9;

std::mutex defaultClockMutex;
Ref<Clock>& defaultClockSlot() {
    static Ref<Clock> slot;
    return slot;
}
} // namespace

Clock* Clock::defaultClock() {
    std::lock_guard lock(defaultClockMutex);
    if (defaultClockSlot()) return defaultClockSlot().get();
    return MonotonicClock::sharedClock();
}

void Clock::setDefaultClock(Clock* clock) {
    Ref<Clock> old;
    {
        std::lock_guard lock(defaultClockMutex);
        old = std::move(defaultClockSlot());
        defaultClockSlot() = clock;
    }
}

MonotonicClock* MonotonicClock::sharedClock() {
    static MonotonicClock* shared = new MonotonicClock(); // lives for the process
    return shared;
}

double MonotonicClock::now() const {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void ManualClock::advance(double seconds) {
    double target = now_ + std::max(0.0, seconds);
    // Each step is a turn of the caller's run loop, as a real loop serves its sources between
    // display-link callbacks: what was posted to this thread (a background load's answer, a
    // worker's results) runs first, and what a frame posts waits for the next refresh or advance.
    // Like pump(), that counts as serving the loop, so a worker waiting for this thread is answered
    // at the next advance. A block that throws ends the advance there, the clock at the last
    // refresh fired.
    RunLoop* loop = RunLoop::currentRunLoop();
    loop->serveTurn(true);
    for (bool fired = false;;) {
        // The earliest due link; looked up afresh each time, callbacks may add or drop links.
        DisplayLink* next = nullptr;
        double nextTime = kNever;
        for (DisplayLink* link : links_) {
            double t = link->nextFireTime();
            if (t < nextTime) {
                next = link;
                nextTime = t;
            }
        }
        if (!next || nextTime > target + kDueSlack) break;
        if (std::exchange(fired, false)) {
            loop->serveTurn(true);
            continue; // the blocks may have changed the links
        }
        Ref<DisplayLink> keep(next);
        now_ = std::max(now_, nextTime);
        keep->fireIfDue();
        fired = true;
    }
    now_ = std::max(now_, target);
}

void ManualClock::attach(DisplayLink* link) {
    if (std::find(links_.begin(), links_.end(), link) == links_.end()) links_.push_back(link);
}

void ManualClock::detach(DisplayLink* link) {
    std::erase(links_, link);
}

DisplayLink::DisplayLink(Object* target, Callback selector, Clock* clock)
    : target_(target), selector_(std::move(selector)), clock_(clock ? clock : Clock::defaultClock()) {}

DisplayLink::~DisplayLink() {
    clock_->detach(this);
}

Ref<DisplayLink> DisplayLink::displayLinkWithTarget(Object* target, Callback selector, Clock* clock) {
    return Ref<DisplayLink>::adopt(new DisplayLink(target, std::move(selector), clock));
}

void DisplayLink::addToRunLoop(RunLoop* loop) {
    if (!valid_ || !loop || loop == runLoop_) return;
    Ref<DisplayLink> keep(this);
    if (runLoop_) removeFromRunLoop(runLoop_);
    if (!loop->attachLink(this)) return;
    runLoop_ = loop;
    epoch_ = clock_->now();
    lastRefresh_ = 0;
    clock_->attach(this);
}

void DisplayLink::removeFromRunLoop(RunLoop* loop) {
    if (!loop || loop != runLoop_) return;
    Ref<DisplayLink> keep(this);
    runLoop_ = nullptr;
    clock_->detach(this);
    loop->detachLink(this);
}

void DisplayLink::invalidate() {
    if (!valid_) return;
    Ref<DisplayLink> keep(this);
    valid_ = false;
    removeFromRunLoop(runLoop_);
    target_ = nullptr; // may destroy the target, which may own us: `keep` holds us until return
}

void DisplayLink::setFrameInterval(std::int64_t interval) {
    frameInterval_ = std::clamp<std::int64_t>(interval, 1, kMaxFrameInterval);
}

double DisplayLink::nextFireTime() const {
    if (!runLoop_ || !valid_) return kNever;
    return refreshTime(lastRefresh_ + frameInterval_);
}

bool DisplayLink::fireIfDue() {
    if (!runLoop_ || !valid_) return false;
    double now = clock_->now();
    std::int64_t refresh = lastRefresh_ + frameInterval_;
    if (refreshTime(refresh) > now + kDueSlack) return false;
    // Late (a slow frame on the real clock): skip to the latest due refresh of the interval grid.
    double behind = std::floor((now + kDueSlack - refreshTime(refresh)) * kRefreshRate /
                               static_cast<double>(frameInterval_));
    if (behind > 0) refresh += static_cast<std::int64_t>(behind) * frameInterval_;
    while (refresh > lastRefresh_ + frameInterval_ && refreshTime(refresh) > now + kDueSlack)
        refresh -= frameInterval_;
    lastRefresh_ = refresh;
    timestamp_ = refreshTime(refresh);
    Ref<DisplayLink> keep(this);
    Ref<Object> target = target_;
    if (target && selector_) selector_(target.get(), this);
    return true;
}

} // namespace platform
