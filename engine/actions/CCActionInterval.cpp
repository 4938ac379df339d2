#include "actions/CCActionInterval.h"

#include "actions/CCActionInstant.h"
#include "platform/Exception.h"

#include <algorithm>
#include <cmath>

using platform::Ref;

namespace {

constexpr double kEpsilon = FLT_EPSILON;

} // namespace

// ---- CCActionInterval ----

Ref<CCActionInterval> CCActionInterval::actionWithDuration(double duration) {
    return createWith(&CCActionInterval::initWithDuration, duration);
}

bool CCActionInterval::init() {
    return false;
}

bool CCActionInterval::initWithDuration(double duration) {
    if (!CCFiniteTimeAction::init()) return false;
    _duration = duration == 0 ? kEpsilon : duration;
    _elapsed = 0;
    _firstTick = true;
    return true;
}

Ref<platform::Object> CCActionInterval::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCActionInterval& a) { return a.initWithDuration(_duration); });
}

bool CCActionInterval::isDone() const {
    return _elapsed >= _duration;
}

void CCActionInterval::step(double dt) {
    if (_firstTick) {
        _firstTick = false;
        _elapsed = 0;
    } else {
        _elapsed += dt;
    }
    double t = _elapsed / std::max(_duration, kEpsilon);
    if (t > 1) t = 1;
    if (!(t > 0)) t = 0;
    update(t);
}

void CCActionInterval::startWithTarget(CCNode* target) {
    CCFiniteTimeAction::startWithTarget(target);
    _elapsed = 0;
    _firstTick = true;
}

Ref<CCFiniteTimeAction> CCActionInterval::reverse() const {
    return nullptr;
}

void CCActionInterval::setAmplitudeRate(double) {
    throw platform::Exception("IntervalAction (Amplitude)", "Abstract class needs implementation");
}

double CCActionInterval::getAmplitudeRate() const {
    throw platform::Exception("IntervalAction (Amplitude)", "Abstract class needs implementation");
}

// ---- CCSequence ----

Ref<CCSequence> CCSequence::actionOne(CCFiniteTimeAction* one, CCFiniteTimeAction* two) {
    return createWith(&CCSequence::initOne, one, two);
}

bool CCSequence::initOne(CCFiniteTimeAction* one, CCFiniteTimeAction* two) {
    if (!one || !two) return false;
    if (!initWithDuration(one->duration() + two->duration())) return false;
    _actions[0] = one;
    _actions[1] = two;
    return true;
}

Ref<platform::Object> CCSequence::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCSequence& a) {
        return a.initOne(platform::copyOf(_actions[0].get()).get(),
                         platform::copyOf(_actions[1].get()).get());
    });
}

void CCSequence::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    _split = _actions[0]->duration() / std::max(_duration, kEpsilon);
    _last = -1;
}

void CCSequence::stop() {
    if (_last != -1) _actions[_last]->stop();
    CCActionInterval::stop();
}

void CCSequence::update(double t) {
    // Inner actions may call back into the node and drop this sequence; keep them alive.
    Ref<CCFiniteTimeAction> first = _actions[0], second = _actions[1];
    int found;
    double newT;
    if (t < _split) {
        found = 0;
        newT = _split != 0 ? t / _split : 1;
        if (_last == 1) {
            // Time runs backwards: undo the second action before the first takes over.
            second->update(0);
            second->stop();
        }
    } else {
        found = 1;
        newT = _split == 1 ? 1 : (t - _split) / (1 - _split);
        if (_last == -1) {
            // The first action was skipped entirely: run it through to its end.
            first->startWithTarget(_target);
            first->update(1);
            first->stop();
        } else if (_last == 0) {
            first->update(1);
            first->stop();
        }
    }
    CCFiniteTimeAction* current = found == 0 ? first.get() : second.get();
    if (found == _last && current->isDone()) return;
    if (found != _last) current->startWithTarget(_target);
    current->update(newT);
    _last = found;
}

Ref<CCFiniteTimeAction> CCSequence::reverse() const {
    Ref<CCFiniteTimeAction> two = _actions[1]->reverse(), one = _actions[0]->reverse();
    return sameClassWith([&](CCSequence& a) { return a.initOne(two.get(), one.get()); });
}

// ---- CCRepeat ----

Ref<CCRepeat> CCRepeat::actionWithAction(CCFiniteTimeAction* action, std::uint64_t times) {
    return createWith(&CCRepeat::initWithAction, action, times);
}

bool CCRepeat::initWithAction(CCFiniteTimeAction* action, std::uint64_t times) {
    if (!action) return false;
    if (!initWithDuration(action->duration() * static_cast<double>(times))) return false;
    _times = times;
    setInnerAction(action);
    _isActionInstant = dynamic_cast<CCActionInstant*>(action) != nullptr;
    _total = 0;
    return true;
}

Ref<platform::Object> CCRepeat::copyWithZone(platform::Zone*) const {
    return sameClassWith(
        [&](CCRepeat& a) { return a.initWithAction(platform::copyOf(_innerAction.get()).get(), _times); });
}

// A repeat, a repeat-forever or a speed action whose inner action was set to null does nothing.

void CCRepeat::startWithTarget(CCNode* target) {
    _total = 0;
    _nextDt = _innerAction ? _innerAction->duration() / _duration : 1;
    CCActionInterval::startWithTarget(target);
    if (_innerAction) _innerAction->startWithTarget(target);
}

void CCRepeat::stop() {
    if (_innerAction) _innerAction->stop();
    CCActionInterval::stop();
}

void CCRepeat::update(double t) {
    if (_times == 0 || !_innerAction) return; // nothing to repeat: done from the start
    Ref<CCFiniteTimeAction> inner = _innerAction;
    const double cycle = inner->duration() / _duration;
    if (t < _nextDt) {
        const float scaled = static_cast<float>(static_cast<double>(_times) * t);
        inner->update(std::fmod(scaled, 1.0f));
        return;
    }
    // Cycle ends summed in doubles can fall just short of 1, so this loop may count the last
    // cycle itself; the inner action then must not be restarted and run through a second time.
    bool lastCycleRun = false;
    while (t > _nextDt && _total < _times) {
        inner->update(1);
        ++_total;
        inner->stop();
        if (_total == _times) {
            lastCycleRun = true;
            break;
        }
        inner->startWithTarget(_target);
        _nextDt += cycle;
    }
    if (t >= 1 && _total < _times) ++_total;
    if (_isActionInstant || lastCycleRun) return;
    if (_total == _times) {
        inner->update(1);
        inner->stop();
    } else {
        // The progress within the cycle that has just begun, on the same scale as the
        // in-cycle updates above, so that the inner action does not jump back at the next step.
        const double within = cycle > 0 ? (t - (_nextDt - cycle)) / cycle : 1;
        inner->update(std::clamp(within, 0.0, 1.0));
    }
}

bool CCRepeat::isDone() const {
    return _total == _times;
}

Ref<CCFiniteTimeAction> CCRepeat::reverse() const {
    Ref<CCFiniteTimeAction> inner = _innerAction ? _innerAction->reverse() : nullptr;
    return sameClassWith([&](CCRepeat& a) { return a.initWithAction(inner.get(), _times); });
}

// ---- CCSpawn ----

Ref<CCSpawn> CCSpawn::actionOne(CCFiniteTimeAction* one, CCFiniteTimeAction* two) {
    return createWith(&CCSpawn::initOne, one, two);
}

bool CCSpawn::initOne(CCFiniteTimeAction* one, CCFiniteTimeAction* two) {
    if (!one || !two) return false;
    const double d1 = one->duration(), d2 = two->duration();
    if (!initWithDuration(std::max(d1, d2))) return false;
    _one = one;
    _two = two;
    // The padding is a plain sequence and delay, whatever class this spawn is.
    if (d1 > d2)
        _two = Ref<CCFiniteTimeAction>(
            CCSequence::actionOne(two, CCDelayTime::actionWithDuration(d1 - d2).get()));
    else if (d1 < d2)
        _one = Ref<CCFiniteTimeAction>(
            CCSequence::actionOne(one, CCDelayTime::actionWithDuration(d2 - d1).get()));
    return true;
}

Ref<platform::Object> CCSpawn::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCSpawn& a) {
        return a.initOne(platform::copyOf(_one.get()).get(), platform::copyOf(_two.get()).get());
    });
}

void CCSpawn::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    _one->startWithTarget(target);
    _two->startWithTarget(target);
}

void CCSpawn::stop() {
    _one->stop();
    _two->stop();
    CCActionInterval::stop();
}

void CCSpawn::update(double t) {
    Ref<CCFiniteTimeAction> one = _one, two = _two;
    one->update(t);
    two->update(t);
}

Ref<CCFiniteTimeAction> CCSpawn::reverse() const {
    Ref<CCFiniteTimeAction> one = _one->reverse(), two = _two->reverse();
    return sameClassWith([&](CCSpawn& a) { return a.initOne(one.get(), two.get()); });
}

// ---- CCDelayTime ----

Ref<CCDelayTime> CCDelayTime::actionWithDuration(double duration) {
    return createWith(&CCDelayTime::initWithDuration, duration);
}

void CCDelayTime::update(double) {}

Ref<CCFiniteTimeAction> CCDelayTime::reverse() const {
    return sameClassWith([&](CCDelayTime& a) { return a.initWithDuration(_duration); });
}

// ---- CCReverseTime ----

Ref<CCReverseTime> CCReverseTime::actionWithAction(CCFiniteTimeAction* action) {
    return createWith(&CCReverseTime::initWithAction, action);
}

bool CCReverseTime::initWithAction(CCFiniteTimeAction* action) {
    if (!action) return false;
    if (!initWithDuration(action->duration())) return false;
    _other = action;
    return true;
}

Ref<platform::Object> CCReverseTime::copyWithZone(platform::Zone*) const {
    return sameClassWith(
        [&](CCReverseTime& a) { return a.initWithAction(platform::copyOf(_other.get()).get()); });
}

void CCReverseTime::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    _other->startWithTarget(target);
}

void CCReverseTime::stop() {
    _other->stop();
    CCActionInterval::stop();
}

void CCReverseTime::update(double t) {
    Ref<CCFiniteTimeAction> other = _other;
    other->update(1 - t);
}

Ref<CCFiniteTimeAction> CCReverseTime::reverse() const {
    return platform::copyOf(_other.get());
}

// ---- CCTargetedAction ----

Ref<CCTargetedAction> CCTargetedAction::actionWithTarget(CCNode* target, CCFiniteTimeAction* action) {
    return createWith(&CCTargetedAction::initWithTarget, target, action);
}

bool CCTargetedAction::initWithTarget(CCNode* target, CCFiniteTimeAction* action) {
    if (!action) return false;
    if (!initWithDuration(action->duration())) return false;
    _forcedTarget = target;
    _action = action;
    return true;
}

Ref<platform::Object> CCTargetedAction::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCTargetedAction& a) {
        return a.initWithTarget(_forcedTarget.get(), platform::copyOf(_action.get()).get());
    });
}

void CCTargetedAction::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    _action->startWithTarget(_forcedTarget.get());
}

void CCTargetedAction::stop() {
    _action->stop();
}

void CCTargetedAction::update(double t) {
    Ref<CCFiniteTimeAction> action = _action;
    action->update(t);
}

// ---- CCRepeatForever ----

Ref<CCRepeatForever> CCRepeatForever::actionWithAction(CCFiniteTimeAction* action) {
    return createWith(&CCRepeatForever::initWithAction, action);
}

bool CCRepeatForever::initWithAction(CCFiniteTimeAction* action) {
    if (!dynamic_cast<CCActionInterval*>(action)) return false;
    if (!CCAction::init()) return false;
    setInnerAction(action);
    return true;
}

Ref<platform::Object> CCRepeatForever::copyWithZone(platform::Zone*) const {
    return sameClassWith(
        [&](CCRepeatForever& a) { return a.initWithAction(platform::copyOf(_innerAction.get()).get()); });
}

void CCRepeatForever::startWithTarget(CCNode* target) {
    CCAction::startWithTarget(target);
    if (_innerAction) _innerAction->startWithTarget(target);
}

void CCRepeatForever::step(double dt) {
    Ref<CCActionInterval> inner = _innerAction;
    if (!inner) return;
    inner->step(dt);
    if (inner->isDone()) {
        // Carry the overshoot into the next cycle, so no time is lost between cycles.
        const double diff = inner->elapsed() - inner->duration();
        inner->startWithTarget(_target);
        inner->step(0);
        inner->step(diff);
    }
}

bool CCRepeatForever::isDone() const {
    return false;
}

Ref<CCRepeatForever> CCRepeatForever::reverse() const {
    Ref<CCFiniteTimeAction> reversed = _innerAction ? _innerAction->reverse() : nullptr;
    return actionWithAction(reversed.get());
}

// ---- CCSpeed ----

Ref<CCSpeed> CCSpeed::actionWithAction(CCFiniteTimeAction* action, double speed) {
    return createWith(&CCSpeed::initWithAction, action, speed);
}

bool CCSpeed::initWithAction(CCFiniteTimeAction* action, double speed) {
    if (!dynamic_cast<CCActionInterval*>(action)) return false;
    if (!CCAction::init()) return false;
    setInnerAction(action);
    _speed = speed;
    return true;
}

Ref<platform::Object> CCSpeed::copyWithZone(platform::Zone*) const {
    return sameClassWith(
        [&](CCSpeed& a) { return a.initWithAction(platform::copyOf(_innerAction.get()).get(), _speed); });
}

void CCSpeed::startWithTarget(CCNode* target) {
    CCAction::startWithTarget(target);
    if (_innerAction) _innerAction->startWithTarget(target);
}

void CCSpeed::stop() {
    if (_innerAction) _innerAction->stop();
    CCAction::stop();
}

void CCSpeed::step(double dt) {
    Ref<CCActionInterval> inner = _innerAction;
    if (inner) inner->step(dt * _speed);
}

bool CCSpeed::isDone() const {
    return !_innerAction || _innerAction->isDone();
}

Ref<CCSpeed> CCSpeed::reverse() const {
    Ref<CCFiniteTimeAction> reversed = _innerAction ? _innerAction->reverse() : nullptr;
    return actionWithAction(dynamic_cast<CCActionInterval*>(reversed.get()), _speed);
}
