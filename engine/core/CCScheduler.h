// The clock-driven dispatcher: per-frame update callbacks ordered by priority, and interval
// timers (selectors or blocks) per target. One frame is one call of update with the frame's
// delta time. Everything runs on the director's thread.
#pragma once

#include "core/CCArray.h"
#include "core/CCEntryPool.h"
#include "platform/Collections.h"
#include "platform/Object.h"
#include "platform/Selector.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

// The repeat count that keeps a timer running until it is unscheduled.
inline constexpr std::uint32_t TimerRepeatForever = 4294967294u;
// The action manager's update priority and the default bound of unscheduleAll/pauseAllTargets.
inline constexpr std::int64_t SystemPriority = -2147483648LL;

class CCScheduler;
struct _listEntry;
struct _hashUpdateEntry;
struct _hashSelectorEntry;

// One timed call: after an optional delay, then every interval, repeat + 1 times or forever.
// The frame in which a timer is first stepped only arms it.
class CCTimer : public platform::Object {
public:
    CCTimer() = default;

    // Seconds between calls, repetitions after the first call, seconds before the first call.
    void setupTimerWithInterval(double seconds, std::uint32_t repeat, double delay);
    // Makes the call; the base does nothing.
    virtual void trigger() {}
    // Unschedules the timer from its scheduler; the base does nothing.
    virtual void cancel() {}
    // One step by dt seconds; the scheduler calls it directly, it is not meant to be overridden.
    void update(double dt);
    double interval() const { return _interval; }
    void setInterval(double interval) { _interval = interval; }

    // The scheduler holding this timer, not retained; set by the scheduler that makes the timer
    // and cleared when it lets the timer go. cancel goes through it.
    CCScheduler* scheduler() const { return _scheduler; }
    void setScheduler(CCScheduler* scheduler) { _scheduler = scheduler; }

protected:
    double _interval = 0;
    double _elapsed = -1; // -1 until armed
    bool _runForever = false;
    bool _useDelay = false;
    std::uint32_t _nTimesExecuted = 0;
    std::uint32_t _repeat = 0;
    double _delay = 0;
    CCScheduler* _scheduler = nullptr;
};

// Calls a selector of a target (not retained by the timer) with the time since its last call.
class CCTimerTargetSelector : public CCTimer {
public:
    using Selector = platform::Selector<void(double)>;

    // Repeats forever with no delay.
    static platform::Ref<CCTimerTargetSelector> timerWithTarget(platform::Object* target,
                                                                const Selector& selector);
    static platform::Ref<CCTimerTargetSelector> timerWithTarget(platform::Object* target,
                                                                const Selector& selector, double seconds);

    // Interval 0, forever, no delay.
    bool initWithTarget(platform::Object* target, const Selector& selector);
    bool initWithTarget(platform::Object* target, const Selector& selector, double seconds,
                        std::uint32_t repeat, double delay);
    std::string description() const override;
    void trigger() override;
    void cancel() override;
    const Selector& selector() const { return _selector; }

private:
    platform::Object* _target = nullptr;
    Selector _selector;
    Selector::Thunk _impMethod = nullptr; // resolved once, when the timer is made
};

// Calls a block with the time since its last call; the key names the timer within its target.
class CCTimerBlock : public CCTimer {
public:
    using Block = std::function<void(double)>;

    // Repeats forever with no delay.
    static platform::Ref<CCTimerBlock> timerWithTarget(platform::Object* target, double seconds,
                                                       const std::string& key, Block block);

    bool initWithTarget(platform::Object* target, double seconds, std::uint32_t repeat, double delay,
                        const std::string& key, Block block);
    std::string description() const override;
    void trigger() override;
    void cancel() override;
    const std::string& key() const { return _key; }
    platform::Object* target() const { return _target; }

private:
    Block _block;
    std::string _key;
    platform::Object* _target = nullptr; // not retained
};

// Holds one retain on every target that has an update entry or a timer, from registration until
// the last of them is removed. Callbacks may schedule and unschedule anything while update runs.
class CCScheduler : public platform::Object {
public:
    // The cached call of a target's update(dt).
    using UpdateThunk = platform::Selector<void(double)>::Thunk;
    using Selector = platform::Selector<void(double)>;
    using Block = CCTimerBlock::Block;

    CCScheduler() = default;
    ~CCScheduler() override;

    // Time scale 1, nothing scheduled, not paused.
    virtual bool init();
    std::string description() const override;

    // Repeats forever with no delay. Scheduling a selector the target already has a timer for
    // only changes that timer's interval. `paused` counts only for a target new to the timers.
    void scheduleSelector(const Selector& selector, platform::Object* target, double interval, bool paused);
    void scheduleSelector(const Selector& selector, platform::Object* target, double interval,
                          std::uint32_t repeat, double delay, bool paused);
    // As scheduleSelector, timers matched by an equal key.
    void scheduleBlockForKey(const std::string& key, platform::Object* target, double interval,
                             std::uint32_t repeat, double delay, bool paused, Block block);
    void unscheduleSelector(const Selector& selector, platform::Object* target);
    void unscheduleBlockForKey(const std::string& key, platform::Object* target);

    // Calls target->update(dt) each frame through a call resolved here, once. A target that
    // already has an update entry keeps its priority and paused flag. Priority-0 entries run in
    // registration order; equal priorities likewise.
    template <class T> void scheduleUpdateForTarget(T* target, std::int64_t priority, bool paused) {
        scheduleUpdateForTarget(static_cast<platform::Object*>(target),
                                platform::selectorFor<&T::update>("update").thunk(), priority, paused);
    }
    // The same with an explicit call, for targets whose class is not known at the call site.
    void scheduleUpdateForTarget(platform::Object* target, UpdateThunk update, std::int64_t priority,
                                 bool paused);
    // While update runs the entry is only marked, and removed at the end of the frame.
    void unscheduleUpdateForTarget(platform::Object* target);

    void unscheduleAll();
    // Every timer of every target, and the updates with priority >= minPriority.
    void unscheduleAllWithMinPriority(std::int64_t minPriority);
    void unscheduleAllForTarget(platform::Object* target);

    void resumeTarget(platform::Object* target);
    void pauseTarget(platform::Object* target);
    bool isTargetPaused(platform::Object* target) const;

    platform::ObjectSet pauseAllTargets();
    // Pauses every timer target and the update targets with priority >= minPriority; returns
    // each target it paused once.
    platform::ObjectSet pauseAllTargetsWithMinPriority(std::int64_t minPriority);
    void resumeTargets(const platform::ObjectSet& targets);

    // One frame: updates by priority (negative, zero, positive), then every timer.
    void update(double dt);

    bool isPaused() const { return _paused; }
    double timeScale() const { return _timeScale; }
    // Scales every delta time the callbacks receive; 1 leaves them untouched.
    void setTimeScale(double timeScale) { _timeScale = timeScale; }

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // The shared director's scheduler.
    static CCScheduler* sharedScheduler();
    // The paused flag moves behind repeat and delay.
    void scheduleSelector(const Selector& selector, platform::Object* target, double interval, bool paused,
                          std::uint32_t repeat, double delay) {
        scheduleSelector(selector, target, interval, repeat, delay, paused);
    }
    void unscheduleAllSelectorsForTarget(platform::Object* target) { unscheduleAllForTarget(target); }
    void unscheduleAllSelectorsWithMinPriority(std::int64_t minPriority) {
        unscheduleAllWithMinPriority(minPriority);
    }
    void unscheduleAllSelectors() { unscheduleAll(); }

private:
    // With releaseLater, the target's release waits until the timer walk has finished (see
    // update): its destructor may unschedule the entry the walk goes to next.
    void removeHashElement(_hashSelectorEntry* element, bool releaseLater = false);
    void priorityIn(_listEntry** list, platform::Object* target, UpdateThunk update, std::int64_t priority,
                    bool paused);
    // Where the list's runs of equal priority end, for the prioritised lists; null for updates0.
    std::map<std::int64_t, _listEntry*>* runEndsFor(_listEntry** list);
    // The end of update: releases the targets the walk let go and removes the marked entries.
    void finishUpdate();
    // When a callback throws, settles the step it interrupted as the walk would have, so that
    // what it unscheduled is let go, then ends the update.
    [[gnu::cold]] void settleAfterThrow();
    void appendIn(_listEntry** list, platform::Object* target, UpdateThunk update, bool paused);
    void addUpdateHashEntry(_listEntry** list, _listEntry* entry);
    void removeUpdateFromHash(_listEntry* entry);
    // The target's entries, or null (also for a null target).
    _hashSelectorEntry* findTimerEntry(const platform::Object* target) const;
    _hashUpdateEntry* findUpdateEntry(const platform::Object* target) const;
    // The target's timer entry, made (retaining the target) when it has none.
    _hashSelectorEntry* timerEntryFor(platform::Object* target, bool paused);
    // Appends a new timer to the entry; the array takes its reference.
    void appendTimer(_hashSelectorEntry* element, CCTimer* timer);
    void setTargetPaused(platform::Object* target, bool paused);
    // Removes timer `index` of the entry, salvaging it when it is being stepped.
    void removeTimerAtIndex(_hashSelectorEntry* element, std::uint64_t index);

    // The entries live in these, declared first so that they outlive the unscheduling done by
    // the destructor.
    CCEntryPool<_listEntry> listEntries;
    CCEntryPool<_hashUpdateEntry> updateEntries;
    CCEntryPool<_hashSelectorEntry> timerEntries;
    double _timeScale = 1.0;
    _listEntry* updatesNeg = nullptr;
    _listEntry* updates0 = nullptr;
    _listEntry* updatesPos = nullptr;
    // The last entry of each priority in updatesNeg and updatesPos, so that a new entry finds
    // its place without walking the list.
    std::map<std::int64_t, _listEntry*> updatesNegEnds;
    std::map<std::int64_t, _listEntry*> updatesPosEnds;
    _hashUpdateEntry* hashForUpdates = nullptr;
    _hashSelectorEntry* hashForTimers = nullptr;
    _hashSelectorEntry* currentTarget = nullptr;
    bool currentTargetSalvaged = false;
    bool updateHashLocked = false;
    bool updatesMarked = false; // some entry was marked for deletion during this update
    bool _paused = false;
    // Targets whose entries the timer walk removed, released once the walk is done.
    std::vector<platform::Ref<platform::Object>> releasedAfterWalk;
};
