#include "actions/CCActionCatmullRom.h"

#include "core/CCNode.h"
#include "core/CCPointExtension.h"
#include "platform/Exception.h"
#include "platform/Format.h"

#include <algorithm>
#include <utility>

using platform::Ref;

namespace {

constexpr const char* NSRangeException = "NSRangeException";

void checkIndex(std::uint64_t index, std::uint64_t limit, const char* operation) {
    if (index >= limit)
        throw platform::Exception(NSRangeException,
                                  platform::format("%s: index %llu beyond bounds [0 .. %llu]", operation,
                                                   static_cast<unsigned long long>(index),
                                                   static_cast<unsigned long long>(limit)));
}

} // namespace

// ---- CCPointArray ----

Ref<CCPointArray> CCPointArray::arrayWithCapacity(std::uint64_t capacity) {
    Ref<CCPointArray> made = platform::make<CCPointArray>();
    if (!made->initWithCapacity(capacity)) return nullptr;
    return made;
}

bool CCPointArray::init() {
    return initWithCapacity(50);
}

bool CCPointArray::initWithCapacity(std::uint64_t capacity) {
    _controlPoints.clear();
    // Only a hint; a wild capacity must not allocate wildly.
    _controlPoints.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(capacity, 1024)));
    return true;
}

Ref<CCPointArray> CCPointArray::allocSameClass() const {
    return platform::make<CCPointArray>();
}

Ref<platform::Object> CCPointArray::copyWithZone(platform::Zone*) const {
    Ref<CCPointArray> copy = allocSameClass();
    if (!copy->initWithCapacity(10)) return nullptr;
    copy->setControlPoints(_controlPoints);
    return copy;
}

void CCPointArray::addControlPoint(CGPoint point) {
    _controlPoints.push_back(point);
}

void CCPointArray::insertControlPoint(CGPoint point, std::uint64_t index) {
    checkIndex(index, count() + 1, "insertControlPoint");
    _controlPoints.insert(_controlPoints.begin() + static_cast<std::ptrdiff_t>(index), point);
}

CGPoint CCPointArray::getControlPointAtIndex(std::int64_t index) const {
    if (_controlPoints.empty()) return CGPointZero;
    std::int64_t last = static_cast<std::int64_t>(_controlPoints.size()) - 1;
    return _controlPoints[static_cast<std::size_t>(std::clamp<std::int64_t>(index, 0, last))];
}

void CCPointArray::replaceControlPoint(CGPoint point, std::uint64_t index) {
    checkIndex(index, count(), "replaceControlPoint");
    _controlPoints[static_cast<std::size_t>(index)] = point;
}

void CCPointArray::removeControlPointAtIndex(std::uint64_t index) {
    checkIndex(index, count(), "removeControlPointAtIndex");
    _controlPoints.erase(_controlPoints.begin() + static_cast<std::ptrdiff_t>(index));
}

Ref<CCPointArray> CCPointArray::reverse() const {
    Ref<CCPointArray> reversed = allocSameClass();
    if (!reversed->initWithCapacity(0)) return nullptr;
    reversed->setControlPoints(std::vector<CGPoint>(_controlPoints.rbegin(), _controlPoints.rend()));
    return reversed;
}

void CCPointArray::reverseInline() {
    std::size_t n = _controlPoints.size();
    for (std::size_t i = 0; i < n / 2; ++i)
        std::swap(_controlPoints[i], _controlPoints[n - 1 - i]);
}

// ---- the curve ----

CGPoint ccCardinalSplineAt(CGPoint p0, CGPoint p1, CGPoint p2, CGPoint p3, double tension, double t) {
    double t2 = t * t;
    double t3 = t2 * t;
    double s = (1 - tension) / 2;

    double b1 = s * ((-t3 + (2 * t2)) - t);
    double b2 = s * (-t3 + t2) + (2 * t3 - 3 * t2 + 1);
    double b3 = s * (t3 - 2 * t2 + t) + (-2 * t3 + 3 * t2);
    double b4 = s * (t3 - t2);

    double x = p0.x * b1 + p1.x * b2 + p2.x * b3 + p3.x * b4;
    double y = p0.y * b1 + p1.y * b2 + p2.y * b3 + p3.y * b4;
    return ccp(x, y);
}

// ---- CCCardinalSplineTo ----

Ref<CCCardinalSplineTo> CCCardinalSplineTo::actionWithDuration(double duration, CCPointArray* points,
                                                               double tension) {
    return createWith(&CCCardinalSplineTo::initWithDuration, duration, points, tension);
}

bool CCCardinalSplineTo::initWithDuration(double duration, CCPointArray* points, double tension) {
    if (!points) return false;
    if (!CCActionInterval::initWithDuration(duration)) return false;
    setPoints(points);
    _tension = tension;
    return true;
}

void CCCardinalSplineTo::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    std::uint64_t n = _points ? _points->count() : 0;
    // With fewer than two points there is no segment; one segment's share keeps the curve
    // (whose weights sum to 1) on the single point instead of dividing by zero.
    _deltaT = n >= 2 ? 1.0 / static_cast<double>(n - 1) : 1.0;
    _previousPosition = target ? target->position() : CGPointZero;
    _accumulatedDiff = CGPointZero;
}

Ref<platform::Object> CCCardinalSplineTo::copyWithZone(platform::Zone*) const {
    return sameClassWith(
        [&](CCCardinalSplineTo& a) { return a.initWithDuration(_duration, _points.get(), _tension); });
}

void CCCardinalSplineTo::update(double t) {
    if (!_target || !_points || _points->count() == 0) return;
    std::uint64_t last = _points->count() - 1;

    std::uint64_t p;
    double lt;
    if (t == 1) {
        p = last;
        lt = 1;
    } else {
        // Eases may send t beyond 0..1. Before the start the first segment carries on; past the
        // end the segment number runs past the list, whose clamped lookups then give the last
        // point. Far past it (where the number no longer converts) the node rests on that point.
        constexpr double kFarSegment = 9007199254740992.0; // 2^53
        double scaled = t / _deltaT;
        p = !(scaled > 0) ? 0 : scaled >= kFarSegment ? last + 1 : static_cast<std::uint64_t>(scaled);
        lt = scaled >= kFarSegment ? 0 : (t - _deltaT * static_cast<double>(p)) / _deltaT;
    }

    std::int64_t i = static_cast<std::int64_t>(p);
    CGPoint pp0 = _points->getControlPointAtIndex(i - 1);
    CGPoint pp1 = _points->getControlPointAtIndex(i + 0);
    CGPoint pp2 = _points->getControlPointAtIndex(i + 1);
    CGPoint pp3 = _points->getControlPointAtIndex(i + 2);

    CGPoint newPos = ccCardinalSplineAt(pp0, pp1, pp2, pp3, _tension, lt);

    // Moves made by other code since the last step are kept, and stay kept in later steps.
    CGPoint diff = pointSub(_target->position(), _previousPosition);
    if (diff.x != 0 || diff.y != 0) _accumulatedDiff = pointAdd(_accumulatedDiff, diff);
    newPos = pointAdd(newPos, _accumulatedDiff);

    updatePosition(newPos);
}

void CCCardinalSplineTo::updatePosition(CGPoint newPos) {
    _target->setPosition(newPos);
    _previousPosition = newPos;
}

Ref<CCFiniteTimeAction> CCCardinalSplineTo::reverse() const {
    if (!_points) return nullptr;
    Ref<CCPointArray> reversed = _points->reverse();
    return sameClassWith(
        [&](CCCardinalSplineTo& a) { return a.initWithDuration(_duration, reversed.get(), _tension); });
}

// ---- CCCardinalSplineBy ----

Ref<CCCardinalSplineBy> CCCardinalSplineBy::actionWithDuration(double duration, CCPointArray* points,
                                                               double tension) {
    return createWith(&CCCardinalSplineBy::initWithDuration, duration, points, tension);
}

void CCCardinalSplineBy::startWithTarget(CCNode* target) {
    CCCardinalSplineTo::startWithTarget(target);
    _startPosition = target ? target->position() : CGPointZero;
}

void CCCardinalSplineBy::updatePosition(CGPoint newPos) {
    CGPoint p = pointAdd(newPos, _startPosition);
    _target->setPosition(p);
    _previousPosition = p;
}

Ref<CCFiniteTimeAction> CCCardinalSplineBy::reverse() const {
    if (!_points) return nullptr;
    Ref<CCPointArray> copy = platform::copyOf(_points.get());

    // The offsets become steps from one point to the next (the first stays an offset).
    const std::vector<CGPoint>& original = _points->controlPoints();
    for (std::uint64_t i = 1; i < copy->count(); ++i)
        copy->replaceControlPoint(pointSub(original[i], original[i - 1]), i);

    Ref<CCPointArray> reversed = copy->reverse();
    copy = nullptr;

    // The first offset, walked backwards, leads the list; then the steps are walked back one by
    // one from it.
    if (reversed->count() > 0) {
        std::uint64_t last = reversed->count() - 1;
        CGPoint first = reversed->getControlPointAtIndex(static_cast<std::int64_t>(last));
        reversed->removeControlPointAtIndex(last);
        reversed->insertControlPoint(pointMult(first, -1), 0);

        for (std::uint64_t i = 1; i < reversed->count(); ++i) {
            std::int64_t at = static_cast<std::int64_t>(i);
            CGPoint step = reversed->getControlPointAtIndex(at);
            CGPoint previous = reversed->getControlPointAtIndex(at - 1);
            reversed->replaceControlPoint(pointSub(previous, step), i);
        }
    }

    return sameClassWith(
        [&](CCCardinalSplineBy& a) { return a.initWithDuration(_duration, reversed.get(), _tension); });
}

// ---- Catmull-Rom ----

Ref<CCCatmullRomTo> CCCatmullRomTo::actionWithDuration(double duration, CCPointArray* points) {
    return createWith(&CCCatmullRomTo::initWithDuration, duration, points);
}

bool CCCatmullRomTo::initWithDuration(double duration, CCPointArray* points) {
    return CCCardinalSplineTo::initWithDuration(duration, points, 0.5);
}

Ref<CCCatmullRomBy> CCCatmullRomBy::actionWithDuration(double duration, CCPointArray* points) {
    return createWith(&CCCatmullRomBy::initWithDuration, duration, points);
}

bool CCCatmullRomBy::initWithDuration(double duration, CCPointArray* points) {
    return CCCardinalSplineBy::initWithDuration(duration, points, 0.5);
}
