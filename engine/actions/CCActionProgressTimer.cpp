#include "actions/CCActionProgressTimer.h"

#include "graphics/CCProgressTimer.h"

using platform::Ref;

namespace {

// from + (to - from) * t: the difference in single precision, the rest in double, narrowed at
// the end.
float progressAt(float from, float to, double t) {
    const float delta = to - from;
    return static_cast<float>(from + delta * t);
}

void setTimerPercentage(CCNode* target, float percentage) {
    if (auto* timer = dynamic_cast<CCProgressTimer*>(target)) timer->setPercentage(percentage);
}

} // namespace

// ---- CCProgressTo ----

Ref<CCProgressTo> CCProgressTo::actionWithDuration(double duration, float percent) {
    return createWith(&CCProgressTo::initWithDuration, duration, percent);
}

bool CCProgressTo::initWithDuration(double duration, float percent) {
    if (!CCActionInterval::initWithDuration(duration)) return false;
    _to = percent;
    return true;
}

Ref<platform::Object> CCProgressTo::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCProgressTo& a) { return a.initWithDuration(_duration, _to); });
}

void CCProgressTo::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    auto* timer = dynamic_cast<CCProgressTimer*>(target);
    _from = timer ? timer->percentage() : 0;
    // A full timer starts over from empty.
    if (_from == 100) _from = 0;
}

void CCProgressTo::update(double t) {
    setTimerPercentage(_target, progressAt(_from, _to, t));
}

// ---- CCProgressFromTo ----

Ref<CCProgressFromTo> CCProgressFromTo::actionWithDuration(double duration, float from, float to) {
    return createWith(&CCProgressFromTo::initWithDuration, duration, from, to);
}

bool CCProgressFromTo::initWithDuration(double duration, float from, float to) {
    if (!CCActionInterval::initWithDuration(duration)) return false;
    _to = to;
    _from = from;
    return true;
}

Ref<platform::Object> CCProgressFromTo::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCProgressFromTo& a) { return a.initWithDuration(_duration, _from, _to); });
}

Ref<CCFiniteTimeAction> CCProgressFromTo::reverse() const {
    return sameClassWith([&](CCProgressFromTo& a) { return a.initWithDuration(_duration, _to, _from); });
}

void CCProgressFromTo::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
}

void CCProgressFromTo::update(double t) {
    setTimerPercentage(_target, progressAt(_from, _to, t));
}
