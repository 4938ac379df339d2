// The display link: a callback on a run loop at the refreshes of a 60 Hz display, and the
// clocks that time it. The real clock is monotonic; the manual clock only moves when a test
// advances it, and then fires the due callbacks at once with exact timestamps.
#pragma once

#include "platform/Object.h"
#include "platform/Selector.h"

#include <cstdint>
#include <limits>
#include <vector>

namespace platform {

class DisplayLink;
class RunLoop;

// Seconds on a rising time line.
class Clock : public Object {
public:
    virtual double now() const = 0;
    // A manual clock fires its display links itself; run loops do not sleep towards them.
    virtual bool isManual() const { return false; }

    // The clock new display links use: the monotonic clock unless a test sets another.
    static Clock* defaultClock();
    // Retained; null restores the monotonic clock.
    static void setDefaultClock(Clock* clock);

protected:
    friend class DisplayLink;
    virtual void attach(DisplayLink*) {}
    virtual void detach(DisplayLink*) {}
};

class MonotonicClock : public Clock {
public:
    static MonotonicClock* sharedClock();
    double now() const override;
};

class ManualClock : public Clock {
public:
    explicit ManualClock(double start = 0) : now_(start) {}
    double now() const override { return now_; }
    bool isManual() const override { return true; }
    // Moves time on by `seconds` (not below zero), firing every display link due on the way in
    // time order, each with the clock standing at its refresh time; ties in the order the links
    // were added to their run loops. Runs on the calling thread, as turns of its run loop: the
    // blocks queued there run first, and again before each further refresh (not timers, which
    // keep the monotonic clock). Like RunLoop::pump, it makes the loop count as served.
    void advance(double seconds);

protected:
    void attach(DisplayLink* link) override;
    void detach(DisplayLink* link) override;

private:
    double now_;
    std::vector<DisplayLink*> links_; // attached while on a run loop; not retained
};

class DisplayLink : public Object {
public:
    static constexpr double kRefreshRate = 60.0;
    // The longest frame interval, in refreshes (about 2.4 million years): exact as a double, and
    // far enough from the integer limit that refresh counts cannot overflow.
    static constexpr std::int64_t kMaxFrameInterval = std::int64_t{1} << 52;
    using Callback = Selector<void(DisplayLink*)>;

    // The target is retained until invalidate(). A null clock means Clock::defaultClock().
    static Ref<DisplayLink> displayLinkWithTarget(Object* target, Callback selector, Clock* clock = nullptr);

    // Starts the refreshes from the clock's present time: the first callback comes one frame
    // interval later. The loop retains the link. A link serves one loop; adding it to another
    // moves it.
    void addToRunLoop(RunLoop* loop);
    void removeFromRunLoop(RunLoop* loop);
    // Leaves the run loop and releases the target for good.
    void invalidate();
    bool isValid() const { return valid_; }

    // Refreshes per callback, held within 1..kMaxFrameInterval. Takes effect from the next callback.
    std::int64_t frameInterval() const { return frameInterval_; }
    void setFrameInterval(std::int64_t interval);
    // The refresh time of the current callback (0 before the first).
    double timestamp() const { return timestamp_; }
    // Seconds between two refreshes of the display.
    double duration() const { return 1.0 / kRefreshRate; }
    Clock* clock() const { return clock_.get(); }
    // When the next callback is due, on the link's clock; infinity when not on a run loop.
    double nextFireTime() const;

    ~DisplayLink() override;

private:
    friend class RunLoop;
    friend class ManualClock;
    DisplayLink(Object* target, Callback selector, Clock* clock);
    double refreshTime(std::int64_t refresh) const {
        return epoch_ + static_cast<double>(refresh) / kRefreshRate;
    }
    // Calls the target when due (skipping refreshes missed while late); true when it fired.
    bool fireIfDue();

    Ref<Object> target_;
    Callback selector_;
    Ref<Clock> clock_;
    RunLoop* runLoop_ = nullptr; // the loop retains us
    double epoch_ = 0;
    std::int64_t lastRefresh_ = 0, frameInterval_ = 1;
    double timestamp_ = 0;
    bool valid_ = true;
};

} // namespace platform
