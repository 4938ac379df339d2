#include "core/CCScheduler.h"

#include "platform/Exception.h"
#include "platform/Format.h"

#include <iterator>
#include <limits>
#include <utility>

#include <uthash.h>
#include <utlist.h>

using platform::Object;
using platform::Ref;

// One update registration. The target's reference is held by its _hashUpdateEntry.
struct _listEntry {
    _listEntry* prev;
    _listEntry* next;
    CCScheduler::UpdateThunk impMethod;
    Object* target;
    std::int64_t priority;
    bool paused;
    bool markedForDeletion;
};

struct _hashUpdateEntry {
    _listEntry** list; // the list holding `entry`
    _listEntry* entry;
    Object* target; // retained; the key
    UT_hash_handle hh;
};

struct _hashSelectorEntry {
    ccArray* timers;
    Object* target; // retained; the key
    std::uint32_t timerIndex;
    CCTimer* currentTimer;
    bool currentTimerSalvaged;
    bool paused;
    UT_hash_handle hh;
};

// ---------------------------------------------------------------------------------------------
// Timers

void CCTimer::setupTimerWithInterval(double seconds, std::uint32_t repeat, double delay) {
    _elapsed = -1;
    _interval = seconds;
    _delay = delay;
    _useDelay = delay > 0;
    _repeat = repeat;
    _runForever = repeat == TimerRepeatForever;
}

void CCTimer::update(double dt) {
    if (_elapsed == -1) {
        _elapsed = 0;
        _nTimesExecuted = 0;
        return;
    }
    if (_runForever && !_useDelay) {
        _elapsed += dt;
        if (_elapsed >= _interval) {
            trigger();
            _elapsed = 0;
        }
        return;
    }
    _elapsed += dt;
    if (_useDelay) {
        if (_elapsed >= _delay) {
            trigger();
            _elapsed = _elapsed - _delay;
            _nTimesExecuted += 1;
            _useDelay = false;
        }
    } else if (_elapsed >= _interval) {
        trigger();
        _elapsed = 0;
        _nTimesExecuted += 1;
    }
    if (!_runForever && _nTimesExecuted > _repeat) cancel();
}

Ref<CCTimerTargetSelector> CCTimerTargetSelector::timerWithTarget(Object* target, const Selector& selector) {
    return timerWithTarget(target, selector, 0);
}

Ref<CCTimerTargetSelector> CCTimerTargetSelector::timerWithTarget(Object* target, const Selector& selector,
                                                                  double seconds) {
    Ref<CCTimerTargetSelector> t = platform::make<CCTimerTargetSelector>();
    if (!t->initWithTarget(target, selector, seconds, TimerRepeatForever, 0)) return nullptr;
    return t;
}

bool CCTimerTargetSelector::initWithTarget(Object* target, const Selector& selector) {
    return initWithTarget(target, selector, 0, TimerRepeatForever, 0);
}

bool CCTimerTargetSelector::initWithTarget(Object* target, const Selector& selector, double seconds,
                                           std::uint32_t repeat, double delay) {
    _target = target;
    _selector = selector;
    _impMethod = selector.thunk();
    setupTimerWithInterval(seconds, repeat, delay);
    return true;
}

std::string CCTimerTargetSelector::description() const {
    return platform::format("<%s = %p | target:%s selector:(%s)>", className(), this,
                            _target ? _target->className() : std::string("(null)"), _selector.name());
}

void CCTimerTargetSelector::trigger() {
    if (_target && _impMethod) _impMethod(_target, _elapsed);
}

void CCTimerTargetSelector::cancel() {
    if (_scheduler) _scheduler->unscheduleSelector(_selector, _target);
}

Ref<CCTimerBlock> CCTimerBlock::timerWithTarget(Object* target, double seconds, const std::string& key,
                                                Block block) {
    Ref<CCTimerBlock> t = platform::make<CCTimerBlock>();
    if (!t->initWithTarget(target, seconds, TimerRepeatForever, 0, key, std::move(block))) return nullptr;
    return t;
}

bool CCTimerBlock::initWithTarget(Object* target, double seconds, std::uint32_t repeat, double delay,
                                  const std::string& key, Block block) {
    _block = std::move(block);
    _key = key;
    _target = target;
    setupTimerWithInterval(seconds, repeat, delay);
    return true;
}

std::string CCTimerBlock::description() const {
    return platform::format("<%s = %p | block>", className(), this);
}

void CCTimerBlock::trigger() {
    if (_block) _block(_elapsed);
}

void CCTimerBlock::cancel() {
    if (_scheduler) _scheduler->unscheduleBlockForKey(_key, _target);
}

// ---------------------------------------------------------------------------------------------
// Scheduler

CCScheduler::~CCScheduler() {
    // Every priority a signed 64-bit value can hold, so nothing outlives the scheduler.
    unscheduleAllWithMinPriority(std::numeric_limits<std::int64_t>::min());
}

bool CCScheduler::init() {
    _timeScale = 1.0;
    updateHashLocked = false;
    _paused = false;
    return true;
}

std::string CCScheduler::description() const {
    return platform::format("<%s = %p | timeScale = %0.2f >", className(), this, _timeScale);
}

namespace {

// The index of the first timer of kind T that `matches`, else NSNotFound.
template <class T, class Match> std::uint64_t findTimer(const ccArray* timers, Match matches) {
    for (std::uint64_t i = 0; i < timers->count; ++i) {
        auto* timer = dynamic_cast<const T*>(timers->items[i]);
        if (timer && matches(*timer)) return i;
    }
    return platform::NSNotFound;
}

// Timers that leave the scheduler forget it, so that a late cancel cannot reach a timer
// scheduled in their place.
void detachTimers(const ccArray* timers) {
    for (std::uint64_t i = 0; i < timers->count; ++i)
        static_cast<CCTimer*>(timers->items[i])->setScheduler(nullptr);
}

} // namespace

void CCScheduler::removeHashElement(_hashSelectorEntry* element, bool releaseLater) {
    // Unlink first and release last: the releases may run code that calls back in here.
    HASH_DEL(hashForTimers, element);
    ccArray* timers = element->timers;
    Object* target = element->target;
    timerEntries.destroy(element);
    if (timers) {
        detachTimers(timers);
        objArrayFree(timers);
    }
    if (releaseLater)
        releasedAfterWalk.push_back(platform::Ref<Object>::adopt(target));
    else
        target->release();
}

_hashSelectorEntry* CCScheduler::findTimerEntry(const Object* target) const {
    _hashSelectorEntry* element = nullptr;
    if (target) HASH_FIND_PTR(hashForTimers, &target, element);
    return element;
}

_hashUpdateEntry* CCScheduler::findUpdateEntry(const Object* target) const {
    _hashUpdateEntry* element = nullptr;
    if (target) HASH_FIND_PTR(hashForUpdates, &target, element);
    return element;
}

_hashSelectorEntry* CCScheduler::timerEntryFor(Object* target, bool paused) {
    _hashSelectorEntry* element = findTimerEntry(target);
    if (!element) {
        element = timerEntries.make();
        element->target = target;
        target->retain();
        element->paused = paused;
        HASH_ADD_PTR(hashForTimers, target, element);
    }
    if (!element->timers) element->timers = objArrayNew(10);
    return element;
}

void CCScheduler::appendTimer(_hashSelectorEntry* element, CCTimer* timer) {
    objArrayEnsureExtraCapacity(element->timers, 1);
    timer->setScheduler(this);
    objArrayAppendObject(element->timers, timer);
}

void CCScheduler::scheduleSelector(const Selector& selector, Object* target, double interval, bool paused) {
    scheduleSelector(selector, target, interval, TimerRepeatForever, 0, paused);
}

void CCScheduler::scheduleSelector(const Selector& selector, Object* target, double interval,
                                   std::uint32_t repeat, double delay, bool paused) {
    CCAssert(selector, "Argument selector must be non-nil");
    CCAssert(target, "Argument target must be non-nil");
    _hashSelectorEntry* element = timerEntryFor(target, paused);
    std::uint64_t found = findTimer<CCTimerTargetSelector>(
        element->timers, [&](const CCTimerTargetSelector& t) { return t.selector() == selector; });
    if (found != platform::NSNotFound) {
        static_cast<CCTimer*>(element->timers->items[found])->setInterval(interval);
        return;
    }
    Ref<CCTimerTargetSelector> timer = platform::make<CCTimerTargetSelector>();
    timer->initWithTarget(target, selector, interval, repeat, delay);
    appendTimer(element, timer.get());
}

void CCScheduler::scheduleBlockForKey(const std::string& key, Object* target, double interval,
                                      std::uint32_t repeat, double delay, bool paused, Block block) {
    CCAssert(block, "Argument block must be non-nil");
    CCAssert(target, "Argument target must be non-nil");
    _hashSelectorEntry* element = timerEntryFor(target, paused);
    std::uint64_t found =
        findTimer<CCTimerBlock>(element->timers, [&](const CCTimerBlock& t) { return t.key() == key; });
    if (found != platform::NSNotFound) {
        static_cast<CCTimer*>(element->timers->items[found])->setInterval(interval);
        return;
    }
    Ref<CCTimerBlock> timer = platform::make<CCTimerBlock>();
    timer->initWithTarget(target, interval, repeat, delay, key, std::move(block));
    appendTimer(element, timer.get());
}

void CCScheduler::removeTimerAtIndex(_hashSelectorEntry* element, std::uint64_t index) {
    auto* timer = static_cast<CCTimer*>(element->timers->items[index]);
    if (timer == element->currentTimer && !element->currentTimerSalvaged) {
        timer->retain(); // released when its step ends
        element->currentTimerSalvaged = true;
    }
    timer->setScheduler(nullptr);
    objArrayRemoveObjectAtIndex(element->timers, index);
    // Unsigned on purpose: from 0 it wraps and the stepping loop's increment brings it back.
    if (element->timerIndex >= index) element->timerIndex -= 1;
    if (element->timers->count == 0) {
        if (currentTarget == element)
            currentTargetSalvaged = true;
        else
            removeHashElement(element);
    }
}

void CCScheduler::unscheduleSelector(const Selector& selector, Object* target) {
    _hashSelectorEntry* element = findTimerEntry(target);
    if (!element) return;
    std::uint64_t found = findTimer<CCTimerTargetSelector>(
        element->timers, [&](const CCTimerTargetSelector& t) { return t.selector() == selector; });
    if (found != platform::NSNotFound) removeTimerAtIndex(element, found);
}

void CCScheduler::unscheduleBlockForKey(const std::string& key, Object* target) {
    _hashSelectorEntry* element = findTimerEntry(target);
    if (!element) return;
    std::uint64_t found =
        findTimer<CCTimerBlock>(element->timers, [&](const CCTimerBlock& t) { return t.key() == key; });
    if (found != platform::NSNotFound) removeTimerAtIndex(element, found);
}

void CCScheduler::addUpdateHashEntry(_listEntry** list, _listEntry* entry) {
    auto* hashElement = updateEntries.make();
    hashElement->target = entry->target;
    entry->target->retain();
    hashElement->list = list;
    hashElement->entry = entry;
    HASH_ADD_PTR(hashForUpdates, target, hashElement);
}

std::map<std::int64_t, _listEntry*>* CCScheduler::runEndsFor(_listEntry** list) {
    if (list == &updatesNeg) return &updatesNegEnds;
    if (list == &updatesPos) return &updatesPosEnds;
    return nullptr;
}

void CCScheduler::priorityIn(_listEntry** list, Object* target, UpdateThunk update, std::int64_t priority,
                             bool paused) {
    std::map<std::int64_t, _listEntry*>& ends = *runEndsFor(list);
    // Before the first entry of a higher priority, that is after the last entry of the highest
    // priority not above this one: equal priorities keep their registration order.
    auto after = ends.upper_bound(priority);
    _listEntry* last = after == ends.begin() ? nullptr : std::prev(after)->second;
    auto* entry = listEntries.make(nullptr, nullptr, update, target, priority, paused, false);
    std::map<std::int64_t, _listEntry*>::iterator run;
    try {
        run = ends.try_emplace(after, priority, entry);
    } catch (...) {
        listEntries.destroy(entry); // nothing is linked yet
        throw;
    }
    if (last)
        DL_APPEND_ELEM(*list, last, entry);
    else
        DL_PREPEND(*list, entry);
    run->second = entry; // the new end of its priority's run
    addUpdateHashEntry(list, entry);
}

void CCScheduler::appendIn(_listEntry** list, Object* target, UpdateThunk update, bool paused) {
    auto* entry = listEntries.make(nullptr, nullptr, update, target, std::int64_t{0}, paused, false);
    DL_APPEND(*list, entry);
    addUpdateHashEntry(list, entry);
}

void CCScheduler::scheduleUpdateForTarget(Object* target, UpdateThunk update, std::int64_t priority,
                                          bool paused) {
    CCAssert(target, "Argument target must be non-nil");
    CCAssert(update, "Argument update must be non-nil");
    if (_hashUpdateEntry* hashElement = findUpdateEntry(target)) {
        hashElement->entry->markedForDeletion = false;
        return;
    }
    if (priority == 0)
        appendIn(&updates0, target, update, paused);
    else if (priority < 0)
        priorityIn(&updatesNeg, target, update, priority, paused);
    else
        priorityIn(&updatesPos, target, update, priority, paused);
}

void CCScheduler::removeUpdateFromHash(_listEntry* entry) {
    _hashUpdateEntry* element = findUpdateEntry(entry->target);
    if (!element) return;
    if (std::map<std::int64_t, _listEntry*>* ends = runEndsFor(element->list)) {
        _listEntry* removed = element->entry;
        auto run = ends->find(removed->priority);
        if (run != ends->end() && run->second == removed) {
            // The list's head has the tail as its prev, so it never ends an earlier run.
            if (removed != *element->list && removed->prev->priority == removed->priority)
                run->second = removed->prev;
            else
                ends->erase(run);
        }
    }
    DL_DELETE(*element->list, element->entry);
    listEntries.destroy(element->entry);
    Object* target = element->target;
    HASH_DEL(hashForUpdates, element);
    updateEntries.destroy(element);
    target->release();
}

void CCScheduler::unscheduleUpdateForTarget(Object* target) {
    _hashUpdateEntry* element = findUpdateEntry(target);
    if (!element) return;
    if (updateHashLocked) {
        element->entry->markedForDeletion = true;
        updatesMarked = true;
    } else {
        removeUpdateFromHash(element->entry);
    }
}

void CCScheduler::unscheduleAll() {
    unscheduleAllWithMinPriority(SystemPriority);
}

void CCScheduler::unscheduleAllWithMinPriority(std::int64_t minPriority) {
    for (_hashSelectorEntry* element = hashForTimers; element;) {
        auto* next = static_cast<_hashSelectorEntry*>(element->hh.next);
        unscheduleAllForTarget(element->target);
        element = next;
    }
    auto unscheduleFrom = [&](_listEntry* list, bool all) {
        for (_listEntry* entry = list; entry;) {
            _listEntry* next = entry->next;
            if (all || entry->priority >= minPriority) unscheduleUpdateForTarget(entry->target);
            entry = next;
        }
    };
    if (minPriority < 0) unscheduleFrom(updatesNeg, false);
    if (minPriority <= 0) unscheduleFrom(updates0, true);
    unscheduleFrom(updatesPos, false);
}

void CCScheduler::unscheduleAllForTarget(Object* target) {
    _hashSelectorEntry* element = findTimerEntry(target);
    // Holds the target across the removals below, which release the scheduler's references,
    // so that its update entry can still be looked up by this pointer. Only taken while the
    // scheduler holds it too: a target may unschedule itself from its own destructor.
    Ref<Object> keep = element ? target : nullptr;
    if (element) {
        if (element->currentTimer && !element->currentTimerSalvaged &&
            objArrayContainsObject(element->timers, element->currentTimer)) {
            element->currentTimer->retain();
            element->currentTimerSalvaged = true;
        }
        detachTimers(element->timers);
        objArrayRemoveAllObjects(element->timers);
        if (currentTarget == element)
            currentTargetSalvaged = true;
        else
            removeHashElement(element);
    }
    unscheduleUpdateForTarget(target);
}

void CCScheduler::setTargetPaused(Object* target, bool paused) {
    if (_hashSelectorEntry* element = findTimerEntry(target)) element->paused = paused;
    if (_hashUpdateEntry* update = findUpdateEntry(target)) update->entry->paused = paused;
}

void CCScheduler::resumeTarget(Object* target) {
    setTargetPaused(target, false);
}

void CCScheduler::pauseTarget(Object* target) {
    setTargetPaused(target, true);
}

bool CCScheduler::isTargetPaused(Object* target) const {
    if (_hashSelectorEntry* element = findTimerEntry(target)) return element->paused;
    _hashUpdateEntry* update = findUpdateEntry(target);
    return update ? update->entry->paused : false;
}

platform::ObjectSet CCScheduler::pauseAllTargets() {
    return pauseAllTargetsWithMinPriority(SystemPriority);
}

platform::ObjectSet CCScheduler::pauseAllTargetsWithMinPriority(std::int64_t minPriority) {
    platform::ObjectSet paused(50);
    for (_hashSelectorEntry* element = hashForTimers; element;
         element = static_cast<_hashSelectorEntry*>(element->hh.next)) {
        element->paused = true;
        paused.add(element->target);
    }
    auto pauseIn = [&](_listEntry* list, bool all) {
        for (_listEntry* entry = list; entry; entry = entry->next) {
            if (all || entry->priority >= minPriority) {
                entry->paused = true;
                paused.add(entry->target);
            }
        }
    };
    if (minPriority < 0) pauseIn(updatesNeg, false);
    if (minPriority <= 0) pauseIn(updates0, true);
    pauseIn(updatesPos, false);
    return paused;
}

void CCScheduler::resumeTargets(const platform::ObjectSet& targets) {
    for (const Ref<Object>& target : targets)
        resumeTarget(target.get());
}

void CCScheduler::settleAfterThrow() {
    if (_hashSelectorEntry* element = currentTarget) {
        if (CCTimer* timer = element->currentTimer) {
            element->currentTimer = nullptr;
            if (element->currentTimerSalvaged) timer->release();
            element->currentTimerSalvaged = false;
        }
        currentTarget = nullptr;
        if (currentTargetSalvaged && element->timers->count == 0) removeHashElement(element, true);
    }
    currentTargetSalvaged = false;
    finishUpdate();
}

void CCScheduler::finishUpdate() {
    // Now that no entry pointer is held, the targets may go; whatever their destructors
    // unschedule is only marked while the update runs, or removed at once from the tables.
    releasedAfterWalk.clear();

    // Marks are only made while the update runs, so a frame that made none skips the walk.
    if (updatesMarked) {
        updatesMarked = false;
        for (_listEntry** list : {&updatesNeg, &updates0, &updatesPos}) {
            for (_listEntry* entry = *list; entry;) {
                _listEntry* next = entry->next;
                if (entry->markedForDeletion) removeUpdateFromHash(entry);
                entry = next;
            }
        }
    }

    updateHashLocked = false;
    currentTarget = nullptr;
}

void CCScheduler::update(double dt) {
    if (_paused) return;
    updateHashLocked = true;
    if (_timeScale != 1.0) dt *= _timeScale;

    try {
        // Each list's head is read when its walk starts and successors before each call;
        // entries unscheduled meanwhile are only marked.
        for (_listEntry** list : {&updatesNeg, &updates0, &updatesPos}) {
            for (_listEntry* entry = *list; entry;) {
                _listEntry* next = entry->next;
                if (!entry->paused && !entry->markedForDeletion) entry->impMethod(entry->target, dt);
                entry = next;
            }
        }

        for (_hashSelectorEntry* element = hashForTimers; element;) {
            currentTarget = element;
            currentTargetSalvaged = false;
            if (!element->paused) {
                for (element->timerIndex = 0; element->timerIndex < element->timers->count;
                     ++element->timerIndex) {
                    element->currentTimer =
                        static_cast<CCTimer*>(element->timers->items[element->timerIndex]);
                    element->currentTimerSalvaged = false;
                    element->currentTimer->update(dt);
                    if (element->currentTimerSalvaged) element->currentTimer->release();
                    element->currentTimer = nullptr;
                }
            }
            auto* next = static_cast<_hashSelectorEntry*>(element->hh.next);
            // The walk is done with this entry; clearing the mark first keeps a removal made
            // while it is freed from taking it for the entry being stepped.
            currentTarget = nullptr;
            if (currentTargetSalvaged && element->timers->count == 0) removeHashElement(element, true);
            element = next;
        }
    } catch (...) {
        settleAfterThrow();
        throw;
    }
    finishUpdate();
}
