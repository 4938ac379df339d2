// Actions that run for a fixed duration, and the actions that combine other actions: one after
// the other, together, a number of times, forever, faster or slower, backwards in time, on
// another node, and the pause. Composite actions start, update and stop their inner actions
// themselves; inner actions never go through the action manager.
#pragma once

#include "actions/CCAction.h"
#include "core/CCNode.h"
#include "platform/Object.h"

#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

// Turns the time that has passed into a progress t in 0..1 and hands it to update. A duration
// of exactly 0 becomes FLT_EPSILON, so every interval action takes at least two steps: the
// first applies t = 0, the one that reaches the duration applies t = 1.
class CCActionInterval : public CCActionFactory<CCActionInterval, CCFiniteTimeAction> {
public:
    // A new action of this class with the duration. Subclasses that are made by duration alone
    // give themselves the same factory in one line (createWith(&Self::initWithDuration, d)).
    static platform::Ref<CCActionInterval> actionWithDuration(double duration);

    CCActionInterval() = default;

    // Refused: interval actions are made with initWithDuration or an initialiser calling it.
    bool init() override;
    // Seconds; 0 becomes FLT_EPSILON.
    bool initWithDuration(double duration);
    // A new action of the receiver's class with the same duration; no tag, no target.
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    // Once elapsed reaches the duration.
    bool isDone() const override;
    // The first step after a start applies t = 0 without counting dt.
    void step(double dt) override;
    // Starts again from t = 0.
    void startWithTarget(CCNode* target) override;
    // None at this level.
    platform::Ref<CCFiniteTimeAction> reverse() const override;
    // Seconds since the start; not clamped to the duration.
    double elapsed() const { return _elapsed; }
    // The amplitude rate the amplitude wrappers drive. Both throw "IntervalAction (Amplitude)"
    // here: only effects with an amplitude have one.
    virtual void setAmplitudeRate(double amplitudeRate);
    virtual double getAmplitudeRate() const;

protected:
    double _elapsed = 0;
    bool _firstTick = true;
};

namespace detail {
class CompositeWalk;

// Chains of sequences and spawns nested at most this deep run with plain nested calls, which at
// this depth take about 8 KB of stack (160 KB in a sanitizer build); deeper ones run through a
// loop with its stack on the heap.
inline constexpr std::uint32_t kDirectChainDepth = 128;

// An action argument of the list factories: a plain pointer or a Ref, temporaries included
// (they live until the factory returns).
template <class T> CCFiniteTimeAction* asFiniteAction(T* action) {
    return action;
}
template <class T> CCFiniteTimeAction* asFiniteAction(const platform::Ref<T>& action) {
    return action.get();
}
inline CCFiniteTimeAction* asFiniteAction(std::nullptr_t) {
    return nullptr;
}

// The list factories of an action made of two (Pair::actionOne): ((a op b) op c) ..., ending at
// the first null. One action gives that action itself; a null first action gives null.
template <class Pair> class CCActionListFactory : public CCActionFactory<Pair, CCActionInterval> {
public:
    template <class First, class... More>
    static platform::Ref<CCFiniteTimeAction> actions(const First& first, const More&... more) {
        return actions(asFiniteAction(first), {asFiniteAction(more)...});
    }
    static platform::Ref<CCFiniteTimeAction> actions(CCFiniteTimeAction* first,
                                                     std::initializer_list<CCFiniteTimeAction*> more) {
        if (!first) return nullptr;
        platform::Ref<CCFiniteTimeAction> result = first;
        for (CCFiniteTimeAction* next : more) {
            if (!next) break;
            result = platform::Ref<CCFiniteTimeAction>(Pair::actionOne(result.get(), next));
        }
        return result;
    }
    // The same fold over an array; null for an empty array.
    static platform::Ref<CCFiniteTimeAction>
    actionWithArray(const std::vector<platform::Ref<CCFiniteTimeAction>>& array) {
        if (array.empty() || !array.front()) return nullptr;
        platform::Ref<CCFiniteTimeAction> result = array.front();
        for (std::size_t i = 1; i < array.size(); ++i) {
            if (!array[i]) break;
            result = platform::Ref<CCFiniteTimeAction>(Pair::actionOne(result.get(), array[i].get()));
        }
        return result;
    }
};
} // namespace detail

// Runs the first action, then the second. Longer chains are sequences of sequences.
// actions(a, b, c, ...) and actionWithArray give ((a then b) then c) ... (see CCActionListFactory).
// Chains of sequences and spawns deeper than detail::kDirectChainDepth are stepped, stopped,
// copied, reversed and freed with a loop rather than one nested call per level, so a chain of a
// million actions does not exhaust the stack.
class CCSequence : public detail::CCActionListFactory<CCSequence> {
public:
    // Both actions retained, not copied. Null when either is null.
    static platform::Ref<CCSequence> actionOne(CCFiniteTimeAction* one, CCFiniteTimeAction* two);

    CCSequence() = default;
    ~CCSequence() override;

    // Duration d1 + d2 (0 becomes FLT_EPSILON). False when either action is null.
    bool initOne(CCFiniteTimeAction* one, CCFiniteTimeAction* two);
    // Copies both inner actions.
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void startWithTarget(CCNode* target) override;
    // Stops the inner action updated last.
    void stop() override;
    void update(double t) override;
    // The reverse of the second, then the reverse of the first.
    platform::Ref<CCFiniteTimeAction> reverse() const override;

    // ---- older names, kept for old callers; each forwards to the current operation ----
    static platform::Ref<CCFiniteTimeAction>
    actionsWithArray(const std::vector<platform::Ref<CCFiniteTimeAction>>& array) {
        return actionWithArray(array);
    }

protected:
    friend class detail::CompositeWalk;

    platform::Ref<CCFiniteTimeAction> _actions[2];
    // The progress at which the second action takes over.
    double _split = 0;
    // -1 before the first update, else the index of the action updated last.
    std::int32_t _last = -1;
    // How deep sequences and spawns nest in this one, itself counted: 1 when neither inner
    // action is one (see CompositeWalk).
    std::uint32_t _chainDepth = 0;
};

// Runs its inner action a number of times, restarting it at each cycle.
class CCRepeat : public CCActionFactory<CCRepeat, CCActionInterval> {
public:
    // Null for a null action.
    static platform::Ref<CCRepeat> actionWithAction(CCFiniteTimeAction* action, std::uint64_t times);

    CCRepeat() = default;

    // Duration = inner duration x times. An instant inner action runs `times` times; a count of
    // 0 runs nothing and is done at once.
    bool initWithAction(CCFiniteTimeAction* action, std::uint64_t times);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void startWithTarget(CCNode* target) override;
    void stop() override;
    void update(double t) override;
    // Once every cycle has been counted.
    bool isDone() const override;
    platform::Ref<CCFiniteTimeAction> reverse() const override;
    CCFiniteTimeAction* innerAction() const { return _innerAction.get(); }
    void setInnerAction(CCFiniteTimeAction* action) { _innerAction = action; }

    std::uint64_t times() const { return _times; }

protected:
    std::uint64_t _times = 0;
    // Cycles completed.
    std::uint64_t _total = 0;
    // The progress at which the current cycle ends.
    double _nextDt = 0;
    bool _isActionInstant = false;
    platform::Ref<CCFiniteTimeAction> _innerAction;
};

// Runs both actions at the same time; the shorter one is padded with a delay, so the spawn lasts
// as long as the longer one.
// The same list factories as CCSequence's.
class CCSpawn : public detail::CCActionListFactory<CCSpawn> {
public:
    static platform::Ref<CCSpawn> actionOne(CCFiniteTimeAction* one, CCFiniteTimeAction* two);

    CCSpawn() = default;
    ~CCSpawn() override;

    // Duration max(d1, d2). False when either action is null.
    bool initOne(CCFiniteTimeAction* one, CCFiniteTimeAction* two);
    // Copies the inner actions as padded.
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void startWithTarget(CCNode* target) override;
    void stop() override;
    void update(double t) override;
    platform::Ref<CCFiniteTimeAction> reverse() const override;

    // ---- older names, kept for old callers; each forwards to the current operation ----
    static platform::Ref<CCFiniteTimeAction>
    actionsWithArray(const std::vector<platform::Ref<CCFiniteTimeAction>>& array) {
        return actionWithArray(array);
    }

protected:
    friend class detail::CompositeWalk;

    platform::Ref<CCFiniteTimeAction> _one;
    platform::Ref<CCFiniteTimeAction> _two;
    // As the sequence's.
    std::uint32_t _chainDepth = 0;
};

// Waits for its duration and changes nothing.
class CCDelayTime : public CCActionFactory<CCDelayTime, CCActionInterval> {
public:
    static platform::Ref<CCDelayTime> actionWithDuration(double duration);

    CCDelayTime() = default;

    void update(double t) override;
    // A delay of the same class and duration.
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};

// Runs another action backwards: update(t) applies the other action's 1 - t.
class CCReverseTime : public CCActionFactory<CCReverseTime, CCActionInterval> {
public:
    static platform::Ref<CCReverseTime> actionWithAction(CCFiniteTimeAction* action);

    CCReverseTime() = default;

    // False for a null action.
    bool initWithAction(CCFiniteTimeAction* action);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void startWithTarget(CCNode* target) override;
    void stop() override;
    void update(double t) override;
    // A copy of the other action.
    platform::Ref<CCFiniteTimeAction> reverse() const override;

    CCFiniteTimeAction* otherAction() const { return _other.get(); }

protected:
    platform::Ref<CCFiniteTimeAction> _other;
};

// Runs an action on a node of its own choosing (the forced target), whatever node it is run on.
class CCTargetedAction : public CCActionFactory<CCTargetedAction, CCActionInterval> {
public:
    static platform::Ref<CCTargetedAction> actionWithTarget(CCNode* target, CCFiniteTimeAction* action);

    CCTargetedAction() = default;

    // The forced target and the action are retained. False for a null action.
    bool initWithTarget(CCNode* target, CCFiniteTimeAction* action);
    // Keeps the same forced target; copies the action.
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    // The inner action starts on the forced target.
    void startWithTarget(CCNode* target) override;
    // Stops the inner action only: this action keeps its own target.
    void stop() override;
    void update(double t) override;
    CCNode* forcedTarget() const { return _forcedTarget.get(); }
    void setForcedTarget(CCNode* target) { _forcedTarget = target; }

    CCFiniteTimeAction* action() const { return _action.get(); }

protected:
    platform::Ref<CCNode> _forcedTarget;
    platform::Ref<CCFiniteTimeAction> _action;
};

// Restarts its inner action each time it finishes, carrying the overshoot into the next cycle.
// It is never done, so the manager only drops it when asked to. The inner action may come as a
// finite-time action (what the sequence and spawn factories return); one that is not an
// interval action is refused as a null one is.
class CCRepeatForever : public CCActionFactory<CCRepeatForever, CCAction> {
public:
    static platform::Ref<CCRepeatForever> actionWithAction(CCFiniteTimeAction* action);

    CCRepeatForever() = default;

    // False for a null action or one that is not an interval action.
    bool initWithAction(CCFiniteTimeAction* action);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void startWithTarget(CCNode* target) override;
    void step(double dt) override;
    // Never.
    bool isDone() const override;
    // Forever the inner action's reverse; null when that has none.
    platform::Ref<CCRepeatForever> reverse() const;
    CCActionInterval* innerAction() const { return _innerAction.get(); }
    // Clears the inner action for one that is not an interval action, as for a null one.
    void setInnerAction(CCFiniteTimeAction* action) {
        _innerAction = dynamic_cast<CCActionInterval*>(action);
    }

protected:
    platform::Ref<CCActionInterval> _innerAction;
};

// Steps its inner action by dt x speed; the speed may change while it runs. Its inner action is
// taken as CCRepeatForever takes one.
class CCSpeed : public CCActionFactory<CCSpeed, CCAction> {
public:
    static platform::Ref<CCSpeed> actionWithAction(CCFiniteTimeAction* action, double speed);

    CCSpeed() = default;

    // False for a null action or one that is not an interval action.
    bool initWithAction(CCFiniteTimeAction* action, double speed);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void startWithTarget(CCNode* target) override;
    void stop() override;
    void step(double dt) override;
    // When the inner action is done.
    bool isDone() const override;
    // The inner action's reverse at the same speed; null when that has none.
    platform::Ref<CCSpeed> reverse() const;
    double speed() const { return _speed; }
    void setSpeed(double speed) { _speed = speed; }
    CCActionInterval* innerAction() const { return _innerAction.get(); }
    // Clears the inner action for one that is not an interval action, as for a null one.
    void setInnerAction(CCFiniteTimeAction* action) {
        _innerAction = dynamic_cast<CCActionInterval*>(action);
    }

protected:
    platform::Ref<CCActionInterval> _innerAction;
    double _speed = 1;
};
