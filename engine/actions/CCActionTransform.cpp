#include "actions/CCActionTransform.h"

#include <cmath>

using platform::Ref;

namespace {

// Reduces an angle into (-period, period) keeping its sign, in single precision.
float reduceAngle(float angle, float period) {
    return angle > 0 ? std::fmod(angle, period) : std::fmod(angle, -period);
}

// Takes the shorter way round: a difference beyond half a turn goes the other way.
float shorterTurn(float diff) {
    if (diff > 180) diff -= 360;
    if (diff < -180) diff += 360;
    return diff;
}

// start + change x t, worked in double and handed to the node as a float.
float lerpFloat(float start, float change, double t) {
    return static_cast<float>(static_cast<double>(start) + static_cast<double>(change) * t);
}

// The stacked move shared by moves, jumps and curves: first add to the start whatever moved the
// node since the previous update, then place it at start + offset.
void stackedMove(CCNode* node, CGPoint& start, CGPoint& previous, CGPoint offset) {
    CGPoint current = node->position();
    start.x += current.x - previous.x;
    start.y += current.y - previous.y;
    CGPoint next = CGPointMake(start.x + offset.x, start.y + offset.y);
    node->setPosition(next);
    previous = next;
}

CGPoint negated(CGPoint p) {
    return CGPointMake(-p.x, -p.y);
}

CGPoint minus(CGPoint a, CGPoint b) {
    return CGPointMake(a.x - b.x, a.y - b.y);
}

} // namespace

// ---- CCRotateTo ----

Ref<CCRotateTo> CCRotateTo::actionWithDuration(double duration, float angle) {
    return createWith(InitOf<CCRotateTo, double, float>(&CCRotateTo::initWithDuration), duration, angle);
}

Ref<CCRotateTo> CCRotateTo::actionWithDuration(double duration, float angleX, float angleY) {
    return createWith(InitOf<CCRotateTo, double, float, float>(&CCRotateTo::initWithDuration), duration,
                      angleX, angleY);
}

bool CCRotateTo::initWithDuration(double duration, float angle) {
    return initWithDuration(duration, angle, angle);
}

bool CCRotateTo::initWithDuration(double duration, float angleX, float angleY) {
    if (!CCActionInterval::initWithDuration(duration)) return false;
    _dstAngleX = angleX;
    _dstAngleY = angleY;
    return true;
}

Ref<platform::Object> CCRotateTo::copyWithZone(platform::Zone*) const {
    return sameClassWith(
        [&](CCRotateTo& a) { return a.initWithDuration(_duration, _dstAngleX, _dstAngleY); });
}

void CCRotateTo::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    if (!target) return;
    _startAngleX = reduceAngle(target->rotationX(), 360);
    _diffAngleX = shorterTurn(_dstAngleX - _startAngleX);
    _startAngleY = reduceAngle(target->rotationY(), 360);
    _diffAngleY = shorterTurn(_dstAngleY - _startAngleY);
}

void CCRotateTo::update(double t) {
    if (!_target) return;
    _target->setRotationX(lerpFloat(_startAngleX, _diffAngleX, t));
    _target->setRotationY(lerpFloat(_startAngleY, _diffAngleY, t));
}

// ---- CCRotateBy ----

Ref<CCRotateBy> CCRotateBy::actionWithDuration(double duration, float angle) {
    return createWith(InitOf<CCRotateBy, double, float>(&CCRotateBy::initWithDuration), duration, angle);
}

Ref<CCRotateBy> CCRotateBy::actionWithDuration(double duration, float angleX, float angleY) {
    return createWith(InitOf<CCRotateBy, double, float, float>(&CCRotateBy::initWithDuration), duration,
                      angleX, angleY);
}

bool CCRotateBy::initWithDuration(double duration, float angle) {
    return initWithDuration(duration, angle, angle);
}

bool CCRotateBy::initWithDuration(double duration, float angleX, float angleY) {
    if (!CCActionInterval::initWithDuration(duration)) return false;
    _angleX = angleX;
    _angleY = angleY;
    return true;
}

Ref<platform::Object> CCRotateBy::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCRotateBy& a) { return a.initWithDuration(_duration, _angleX, _angleY); });
}

void CCRotateBy::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    if (!target) return;
    _startAngleX = target->rotationX();
    _startAngleY = target->rotationY();
}

void CCRotateBy::update(double t) {
    if (!_target) return;
    _target->setRotationX(lerpFloat(_startAngleX, _angleX, t));
    _target->setRotationY(lerpFloat(_startAngleY, _angleY, t));
}

Ref<CCFiniteTimeAction> CCRotateBy::reverse() const {
    return sameClassWith([&](CCRotateBy& a) { return a.initWithDuration(_duration, -_angleX, -_angleY); });
}

// ---- CCMoveBy ----

Ref<CCMoveBy> CCMoveBy::actionWithDuration(double duration, CGPoint deltaPosition) {
    return createWith(&CCMoveBy::initWithDuration, duration, deltaPosition);
}

bool CCMoveBy::initWithDuration(double duration, CGPoint deltaPosition) {
    if (!CCActionInterval::initWithDuration(duration)) return false;
    _positionDelta = deltaPosition;
    return true;
}

Ref<platform::Object> CCMoveBy::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCMoveBy& a) { return a.initWithDuration(_duration, _positionDelta); });
}

void CCMoveBy::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    if (!target) return;
    _previousPos = _startPos = target->position();
}

void CCMoveBy::update(double t) {
    if (!_target) return;
    stackedMove(_target, _startPos, _previousPos, CGPointMake(_positionDelta.x * t, _positionDelta.y * t));
}

Ref<CCFiniteTimeAction> CCMoveBy::reverse() const {
    return sameClassWith([&](CCMoveBy& a) { return a.initWithDuration(_duration, negated(_positionDelta)); });
}

// ---- CCMoveTo ----

Ref<CCMoveTo> CCMoveTo::actionWithDuration(double duration, CGPoint position) {
    return createWith(&CCMoveTo::initWithDuration, duration, position);
}

bool CCMoveTo::initWithDuration(double duration, CGPoint position) {
    if (!CCActionInterval::initWithDuration(duration)) return false;
    _endPosition = position;
    _positionDelta = CGPointZero;
    return true;
}

Ref<platform::Object> CCMoveTo::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCMoveTo& a) { return a.initWithDuration(_duration, _endPosition); });
}

void CCMoveTo::startWithTarget(CCNode* target) {
    CCMoveBy::startWithTarget(target);
    if (!target) return;
    _positionDelta = minus(_endPosition, target->position());
}

Ref<CCFiniteTimeAction> CCMoveTo::reverse() const {
    return nullptr;
}

// ---- CCSkewTo ----

Ref<CCSkewTo> CCSkewTo::actionWithDuration(double duration, float skewX, float skewY) {
    return createWith(&CCSkewTo::initWithDuration, duration, skewX, skewY);
}

bool CCSkewTo::initWithDuration(double duration, float skewX, float skewY) {
    if (!CCActionInterval::initWithDuration(duration)) return false;
    _endSkewX = skewX;
    _endSkewY = skewY;
    return true;
}

Ref<platform::Object> CCSkewTo::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCSkewTo& a) { return a.initWithDuration(_duration, _endSkewX, _endSkewY); });
}

void CCSkewTo::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    if (!target) return;
    // X wraps by half a turn, Y by a whole one: the two axes have always been reduced unlike.
    _startSkewX = reduceAngle(target->skewX(), 180);
    _deltaX = shorterTurn(_endSkewX - _startSkewX);
    _startSkewY = reduceAngle(target->skewY(), 360);
    _deltaY = shorterTurn(_endSkewY - _startSkewY);
}

void CCSkewTo::update(double t) {
    if (!_target) return;
    _target->setSkewX(lerpFloat(_startSkewX, _deltaX, t));
    _target->setSkewY(lerpFloat(_startSkewY, _deltaY, t));
}

// ---- CCSkewBy ----

Ref<CCSkewBy> CCSkewBy::actionWithDuration(double duration, float deltaSkewX, float deltaSkewY) {
    return createWith(&CCSkewBy::initWithDuration, duration, deltaSkewX, deltaSkewY);
}

bool CCSkewBy::initWithDuration(double duration, float deltaSkewX, float deltaSkewY) {
    if (!CCSkewTo::initWithDuration(duration, deltaSkewX, deltaSkewY)) return false;
    _skewX = deltaSkewX;
    _skewY = deltaSkewY;
    return true;
}

Ref<platform::Object> CCSkewBy::copyWithZone(platform::Zone*) const {
    // From the amounts, not the end skews: those are rewritten at every start.
    return sameClassWith([&](CCSkewBy& a) { return a.initWithDuration(_duration, _skewX, _skewY); });
}

void CCSkewBy::startWithTarget(CCNode* target) {
    CCSkewTo::startWithTarget(target);
    _deltaX = _skewX;
    _deltaY = _skewY;
    _endSkewX = _startSkewX + _deltaX;
    _endSkewY = _startSkewY + _deltaY;
}

Ref<CCFiniteTimeAction> CCSkewBy::reverse() const {
    return sameClassWith([&](CCSkewBy& a) { return a.initWithDuration(_duration, -_skewX, -_skewY); });
}

// ---- CCJumpBy ----

Ref<CCJumpBy> CCJumpBy::actionWithDuration(double duration, CGPoint position, double height,
                                           std::uint64_t jumps) {
    return createWith(&CCJumpBy::initWithDuration, duration, position, height, jumps);
}

bool CCJumpBy::initWithDuration(double duration, CGPoint position, double height, std::uint64_t jumps) {
    if (!CCActionInterval::initWithDuration(duration)) return false;
    _delta = position;
    _height = height;
    _jumps = jumps;
    return true;
}

Ref<platform::Object> CCJumpBy::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCJumpBy& a) { return a.initWithDuration(_duration, _delta, _height, _jumps); });
}

void CCJumpBy::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    if (!target) return;
    _previousPos = _startPosition = target->position();
}

void CCJumpBy::update(double t) {
    if (!_target) return;
    // Where in the current hop we are, 0..1, in single precision.
    double frac = std::fmod(static_cast<float>(static_cast<double>(_jumps) * t), 1.0f);
    double y = _height * 4 * frac * (1 - frac) + _delta.y * t;
    double x = _delta.x * t;
    stackedMove(_target, _startPosition, _previousPos, CGPointMake(x, y));
}

Ref<CCFiniteTimeAction> CCJumpBy::reverse() const {
    return sameClassWith(
        [&](CCJumpBy& a) { return a.initWithDuration(_duration, negated(_delta), _height, _jumps); });
}

// ---- CCJumpTo ----

Ref<CCJumpTo> CCJumpTo::actionWithDuration(double duration, CGPoint position, double height,
                                           std::uint64_t jumps) {
    return createWith(&CCJumpTo::initWithDuration, duration, position, height, jumps);
}

bool CCJumpTo::initWithDuration(double duration, CGPoint position, double height, std::uint64_t jumps) {
    if (!CCJumpBy::initWithDuration(duration, position, height, jumps)) return false;
    _endPosition = position;
    return true;
}

Ref<platform::Object> CCJumpTo::copyWithZone(platform::Zone*) const {
    return sameClassWith(
        [&](CCJumpTo& a) { return a.initWithDuration(_duration, _endPosition, _height, _jumps); });
}

void CCJumpTo::startWithTarget(CCNode* target) {
    CCJumpBy::startWithTarget(target);
    if (!target) return;
    // From the end position kept apart, so that a restart (in a repeat) hops to the same place.
    _delta = minus(_endPosition, _startPosition);
}

Ref<CCFiniteTimeAction> CCJumpTo::reverse() const {
    return nullptr;
}

// ---- CCBezierBy ----

Ref<CCBezierBy> CCBezierBy::actionWithDuration(double duration, _ccBezierConfig bezier) {
    return createWith(&CCBezierBy::initWithDuration, duration, bezier);
}

bool CCBezierBy::initWithDuration(double duration, _ccBezierConfig bezier) {
    if (!CCActionInterval::initWithDuration(duration)) return false;
    _config = bezier;
    return true;
}

Ref<platform::Object> CCBezierBy::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCBezierBy& a) { return a.initWithDuration(_duration, _config); });
}

void CCBezierBy::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    if (!target) return;
    _previousPosition = _startPosition = target->position();
}

void CCBezierBy::update(double t) {
    if (!_target) return;
    // The curve starts at the offset 0, so its first term drops out. Control coordinates are
    // taken in single precision, as the curve has always been evaluated.
    double u = 1 - t;
    auto at = [&](double c1, double c2, double end) {
        float b = static_cast<float>(c1), c = static_cast<float>(c2), d = static_cast<float>(end);
        return 3 * t * (u * u) * b + 3 * (t * t) * u * c + (t * t * t) * d;
    };
    double x = at(_config.controlPoint_1.x, _config.controlPoint_2.x, _config.endPosition.x);
    double y = at(_config.controlPoint_1.y, _config.controlPoint_2.y, _config.endPosition.y);
    stackedMove(_target, _startPosition, _previousPosition, CGPointMake(x, y));
}

Ref<CCFiniteTimeAction> CCBezierBy::reverse() const {
    // The same curve walked from its end: offsets from the end point, control points swapped.
    _ccBezierConfig r;
    r.endPosition = negated(_config.endPosition);
    r.controlPoint_1 = minus(_config.controlPoint_2, _config.endPosition);
    r.controlPoint_2 = minus(_config.controlPoint_1, _config.endPosition);
    return sameClassWith([&](CCBezierBy& a) { return a.initWithDuration(_duration, r); });
}

// ---- CCBezierTo ----

Ref<CCBezierTo> CCBezierTo::actionWithDuration(double duration, _ccBezierConfig bezier) {
    return createWith(&CCBezierTo::initWithDuration, duration, bezier);
}

bool CCBezierTo::initWithDuration(double duration, _ccBezierConfig bezier) {
    if (!CCActionInterval::initWithDuration(duration)) return false;
    _toConfig = bezier;
    _config = _ccBezierConfig{};
    return true;
}

Ref<platform::Object> CCBezierTo::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCBezierTo& a) { return a.initWithDuration(_duration, _toConfig); });
}

void CCBezierTo::startWithTarget(CCNode* target) {
    CCBezierBy::startWithTarget(target);
    if (!target) return;
    _config.controlPoint_1 = minus(_toConfig.controlPoint_1, _startPosition);
    _config.controlPoint_2 = minus(_toConfig.controlPoint_2, _startPosition);
    _config.endPosition = minus(_toConfig.endPosition, _startPosition);
}

Ref<CCFiniteTimeAction> CCBezierTo::reverse() const {
    return nullptr;
}

// ---- CCScaleTo ----

Ref<CCScaleTo> CCScaleTo::actionWithDuration(double duration, float scale) {
    return createWith(InitOf<CCScaleTo, double, float>(&CCScaleTo::initWithDuration), duration, scale);
}

Ref<CCScaleTo> CCScaleTo::actionWithDuration(double duration, float scaleX, float scaleY) {
    return createWith(InitOf<CCScaleTo, double, float, float>(&CCScaleTo::initWithDuration), duration, scaleX,
                      scaleY);
}

bool CCScaleTo::initWithDuration(double duration, float scale) {
    return initWithDuration(duration, scale, scale);
}

bool CCScaleTo::initWithDuration(double duration, float scaleX, float scaleY) {
    if (!CCActionInterval::initWithDuration(duration)) return false;
    _endScaleX = scaleX;
    _endScaleY = scaleY;
    return true;
}

Ref<platform::Object> CCScaleTo::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCScaleTo& a) { return a.initWithDuration(_duration, _endScaleX, _endScaleY); });
}

void CCScaleTo::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    if (!target) return;
    _startScaleX = target->scaleX();
    _startScaleY = target->scaleY();
    _deltaX = _endScaleX - _startScaleX;
    _deltaY = _endScaleY - _startScaleY;
}

void CCScaleTo::update(double t) {
    if (!_target) return;
    _target->setScaleX(lerpFloat(_startScaleX, _deltaX, t));
    _target->setScaleY(lerpFloat(_startScaleY, _deltaY, t));
}

// ---- CCScaleBy ----

Ref<CCScaleBy> CCScaleBy::actionWithDuration(double duration, float scale) {
    return createWith(InitOf<CCScaleTo, double, float>(&CCScaleTo::initWithDuration), duration, scale);
}

Ref<CCScaleBy> CCScaleBy::actionWithDuration(double duration, float scaleX, float scaleY) {
    return createWith(InitOf<CCScaleTo, double, float, float>(&CCScaleTo::initWithDuration), duration, scaleX,
                      scaleY);
}

void CCScaleBy::startWithTarget(CCNode* target) {
    CCScaleTo::startWithTarget(target);
    _deltaX = _startScaleX * _endScaleX - _startScaleX;
    _deltaY = _startScaleY * _endScaleY - _startScaleY;
}

Ref<CCFiniteTimeAction> CCScaleBy::reverse() const {
    return sameClassWith(
        [&](CCScaleBy& a) { return a.initWithDuration(_duration, 1 / _endScaleX, 1 / _endScaleY); });
}
