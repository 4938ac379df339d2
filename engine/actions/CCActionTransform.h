// Interval actions that change a node's rotation, position, skew and scale: each records the
// node's values when it starts and applies start + change x t at progress t. Angles, skews and
// scales are single-precision degrees and factors, as the node keeps them; positions are points.
//
// Moves, jumps and curves are "stacked": each update adds to the start whatever moved the node
// since the previous update, so several of them running on one node add up, and a position set
// from outside shifts the rest of the path instead of being overwritten.
#pragma once

#include "actions/CCActionInterval.h"
#include "platform/Geometry.h"

#include <cstdint>

// Turns the node to absolute angles by the shorter way round.
class CCRotateTo : public CCActionFactory<CCRotateTo, CCActionInterval> {
public:
    // angle in degrees, for X and Y alike.
    static platform::Ref<CCRotateTo> actionWithDuration(double duration, float angle);
    static platform::Ref<CCRotateTo> actionWithDuration(double duration, float angleX, float angleY);

    CCRotateTo() = default;

    virtual bool initWithDuration(double duration, float angle);
    virtual bool initWithDuration(double duration, float angleX, float angleY);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void startWithTarget(CCNode* target) override;
    void update(double t) override;
    // None: an absolute rotation has no undo of its own.

protected:
    float _dstAngleX = 0, _startAngleX = 0, _diffAngleX = 0;
    float _dstAngleY = 0, _startAngleY = 0, _diffAngleY = 0;
};

// Turns the node by angles from wherever it is.
class CCRotateBy : public CCActionFactory<CCRotateBy, CCActionInterval> {
public:
    static platform::Ref<CCRotateBy> actionWithDuration(double duration, float angle);
    static platform::Ref<CCRotateBy> actionWithDuration(double duration, float angleX, float angleY);

    CCRotateBy() = default;

    virtual bool initWithDuration(double duration, float angle);
    virtual bool initWithDuration(double duration, float angleX, float angleY);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void startWithTarget(CCNode* target) override;
    void update(double t) override;
    // The receiver's class, turning back by the same angles.
    platform::Ref<CCFiniteTimeAction> reverse() const override;

protected:
    float _angleX = 0, _startAngleX = 0;
    float _angleY = 0, _startAngleY = 0;
};

// Moves the node by an offset in points.
class CCMoveBy : public CCActionFactory<CCMoveBy, CCActionInterval> {
public:
    static platform::Ref<CCMoveBy> actionWithDuration(double duration, CGPoint deltaPosition);

    CCMoveBy() = default;

    virtual bool initWithDuration(double duration, CGPoint deltaPosition);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void startWithTarget(CCNode* target) override;
    void update(double t) override;
    // The receiver's class, moving back by the same offset.
    platform::Ref<CCFiniteTimeAction> reverse() const override;

protected:
    CGPoint _positionDelta = CGPointZero;
    CGPoint _startPos = CGPointZero;
    CGPoint _previousPos = CGPointZero;
};

// Moves the node to a position; the offset is worked out again at every start.
class CCMoveTo : public CCActionFactory<CCMoveTo, CCMoveBy> {
public:
    static platform::Ref<CCMoveTo> actionWithDuration(double duration, CGPoint position);

    CCMoveTo() = default;

    bool initWithDuration(double duration, CGPoint position) override;
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void startWithTarget(CCNode* target) override;
    // None, as for every action that goes to absolute values.
    platform::Ref<CCFiniteTimeAction> reverse() const override;

protected:
    CGPoint _endPosition = CGPointZero;
};

// Skews the node to absolute angles (degrees) by the shorter way round.
class CCSkewTo : public CCActionFactory<CCSkewTo, CCActionInterval> {
public:
    static platform::Ref<CCSkewTo> actionWithDuration(double duration, float skewX, float skewY);

    CCSkewTo() = default;

    virtual bool initWithDuration(double duration, float skewX, float skewY);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void startWithTarget(CCNode* target) override;
    void update(double t) override;
    // None: an absolute skew has no undo of its own.

protected:
    float _skewX = 0, _skewY = 0; // the amounts of the skew-by form
    float _startSkewX = 0, _startSkewY = 0;
    float _endSkewX = 0, _endSkewY = 0;
    float _deltaX = 0, _deltaY = 0;
};

// Skews the node by angles (degrees) from wherever it is.
class CCSkewBy : public CCActionFactory<CCSkewBy, CCSkewTo> {
public:
    static platform::Ref<CCSkewBy> actionWithDuration(double duration, float deltaSkewX, float deltaSkewY);

    CCSkewBy() = default;

    bool initWithDuration(double duration, float deltaSkewX, float deltaSkewY) override;
    // Skews by the amounts given, whether or not this one has run.
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void startWithTarget(CCNode* target) override;
    // The receiver's class, skewing back by the same amounts.
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};

// Moves the node by an offset in `jumps` parabolic hops of `height` points.
class CCJumpBy : public CCActionFactory<CCJumpBy, CCActionInterval> {
public:
    static platform::Ref<CCJumpBy> actionWithDuration(double duration, CGPoint position, double height,
                                                      std::uint64_t jumps);

    CCJumpBy() = default;

    virtual bool initWithDuration(double duration, CGPoint position, double height, std::uint64_t jumps);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void startWithTarget(CCNode* target) override;
    void update(double t) override;
    // The receiver's class, hopping back by the same offset.
    platform::Ref<CCFiniteTimeAction> reverse() const override;

protected:
    CGPoint _startPosition = CGPointZero;
    CGPoint _delta = CGPointZero;
    double _height = 0;
    std::uint64_t _jumps = 0;
    CGPoint _previousPos = CGPointZero;
};

// Hops the node to a position; the offset is worked out again at every start.
class CCJumpTo : public CCActionFactory<CCJumpTo, CCJumpBy> {
public:
    static platform::Ref<CCJumpTo> actionWithDuration(double duration, CGPoint position, double height,
                                                      std::uint64_t jumps);

    CCJumpTo() = default;

    bool initWithDuration(double duration, CGPoint position, double height, std::uint64_t jumps) override;
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void startWithTarget(CCNode* target) override;
    // None, as for every action that goes to absolute values.
    platform::Ref<CCFiniteTimeAction> reverse() const override;

protected:
    CGPoint _endPosition = CGPointZero;
};

// A cubic curve: the end point and two control points.
struct _ccBezierConfig {
    CGPoint endPosition;
    CGPoint controlPoint_1;
    CGPoint controlPoint_2;
};
using ccBezierConfig = _ccBezierConfig;

// Moves the node along a cubic curve whose points are offsets from where it starts.
class CCBezierBy : public CCActionFactory<CCBezierBy, CCActionInterval> {
public:
    static platform::Ref<CCBezierBy> actionWithDuration(double duration, _ccBezierConfig bezier);

    CCBezierBy() = default;

    virtual bool initWithDuration(double duration, _ccBezierConfig bezier);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void startWithTarget(CCNode* target) override;
    void update(double t) override;
    // The receiver's class, running the same curve back to where it began.
    platform::Ref<CCFiniteTimeAction> reverse() const override;

protected:
    _ccBezierConfig _config{};
    CGPoint _startPosition = CGPointZero;
    CGPoint _previousPosition = CGPointZero;
};

// Moves the node along a cubic curve through absolute points.
class CCBezierTo : public CCActionFactory<CCBezierTo, CCBezierBy> {
public:
    static platform::Ref<CCBezierTo> actionWithDuration(double duration, _ccBezierConfig bezier);

    CCBezierTo() = default;

    bool initWithDuration(double duration, _ccBezierConfig bezier) override;
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void startWithTarget(CCNode* target) override;
    // None, as for every action that goes to absolute values.
    platform::Ref<CCFiniteTimeAction> reverse() const override;

protected:
    _ccBezierConfig _toConfig{};
};

// Scales the node to absolute factors.
class CCScaleTo : public CCActionFactory<CCScaleTo, CCActionInterval> {
public:
    // One factor for X and Y alike.
    static platform::Ref<CCScaleTo> actionWithDuration(double duration, float scale);
    static platform::Ref<CCScaleTo> actionWithDuration(double duration, float scaleX, float scaleY);

    CCScaleTo() = default;

    virtual bool initWithDuration(double duration, float scale);
    virtual bool initWithDuration(double duration, float scaleX, float scaleY);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void startWithTarget(CCNode* target) override;
    void update(double t) override;
    // None: an absolute scale has no undo of its own.

protected:
    float _startScaleX = 0, _startScaleY = 0;
    float _endScaleX = 0, _endScaleY = 0;
    float _deltaX = 0, _deltaY = 0;
};

// Multiplies the node's scale by factors; the factors live in the end-scale fields.
class CCScaleBy : public CCActionFactory<CCScaleBy, CCScaleTo> {
public:
    static platform::Ref<CCScaleBy> actionWithDuration(double duration, float scale);
    static platform::Ref<CCScaleBy> actionWithDuration(double duration, float scaleX, float scaleY);

    CCScaleBy() = default;

    void startWithTarget(CCNode* target) override;
    // The receiver's class, scaling by the inverse factors.
    platform::Ref<CCFiniteTimeAction> reverse() const override;
};
