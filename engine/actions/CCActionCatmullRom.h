// Moving a node along a cardinal spline through a list of control points. The To kinds take the
// points in the parent's space; the By kinds take them as offsets from where the node stood when
// the action started. Catmull-Rom is the cardinal spline with tension 0.5.
#pragma once

#include "actions/CCActionInterval.h"
#include "platform/Geometry.h"
#include "platform/Object.h"

#include <cstdint>
#include <vector>

// A small growable list of points.
class CCPointArray : public platform::Object {
public:
    static platform::Ref<CCPointArray> arrayWithCapacity(std::uint64_t capacity);

    CCPointArray() = default;

    // Capacity 50.
    virtual bool init();
    virtual bool initWithCapacity(std::uint64_t capacity);
    // Same class, same points, its own list.
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void addControlPoint(CGPoint point);
    // Indexes above count throw NSRangeException.
    void insertControlPoint(CGPoint point, std::uint64_t index);
    // The index is clamped to the list: below 0 gives the first point, past the end the last.
    // An empty list gives (0, 0).
    CGPoint getControlPointAtIndex(std::int64_t index) const;
    // Indexes at or above count throw NSRangeException.
    void replaceControlPoint(CGPoint point, std::uint64_t index);
    void removeControlPointAtIndex(std::uint64_t index);
    std::uint64_t count() const { return _controlPoints.size(); }
    // A new array of the same class with the points in reverse order.
    platform::Ref<CCPointArray> reverse() const;
    void reverseInline();
    const std::vector<CGPoint>& controlPoints() const { return _controlPoints; }
    void setControlPoints(std::vector<CGPoint> points) { _controlPoints = std::move(points); }

protected:
    // A new, uninitialised array of this object's class.
    virtual platform::Ref<CCPointArray> allocSameClass() const;

    std::vector<CGPoint> _controlPoints;
};

// Moves the node through the points given in its parent's space.
class CCCardinalSplineTo : public CCActionFactory<CCCardinalSplineTo, CCActionInterval> {
public:
    // The points are retained, not copied. Null for null points.
    static platform::Ref<CCCardinalSplineTo> actionWithDuration(double duration, CCPointArray* points,
                                                                double tension);

    CCCardinalSplineTo() = default;

    // False for null points.
    bool initWithDuration(double duration, CCPointArray* points, double tension);
    void startWithTarget(CCNode* target) override;
    // Same class and tension over the same (shared) point array.
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void update(double t) override;
    // Places the node and remembers where it was placed.
    virtual void updatePosition(CGPoint newPos);
    // Same class and tension over the points in reverse order.
    platform::Ref<CCFiniteTimeAction> reverse() const override;
    CCPointArray* points() const { return _points.get(); }
    void setPoints(CCPointArray* points) { _points = points; }
    double tension() const { return _tension; }

protected:
    platform::Ref<CCPointArray> _points;
    // The share of the time given to one segment.
    double _deltaT = 0;
    double _tension = 0;
    // Where this action last put the node.
    CGPoint _previousPosition = CGPointZero;
    // The sum of the moves other code made to the node while this action ran.
    CGPoint _accumulatedDiff = CGPointZero;
};

// Moves the node through offsets from its position at the start.
class CCCardinalSplineBy : public CCActionFactory<CCCardinalSplineBy, CCCardinalSplineTo> {
public:
    static platform::Ref<CCCardinalSplineBy> actionWithDuration(double duration, CCPointArray* points,
                                                                double tension);

    CCCardinalSplineBy() = default;

    void startWithTarget(CCNode* target) override;
    // The point is an offset from the start position.
    void updatePosition(CGPoint newPos) override;
    // Retraces the same path backwards, starting from wherever the node ends.
    platform::Ref<CCFiniteTimeAction> reverse() const override;

protected:
    CGPoint _startPosition = CGPointZero;
};

class CCCatmullRomTo : public CCActionFactory<CCCatmullRomTo, CCCardinalSplineTo> {
public:
    static platform::Ref<CCCatmullRomTo> actionWithDuration(double duration, CCPointArray* points);

    // Tension 0.5.
    bool initWithDuration(double duration, CCPointArray* points);
};

class CCCatmullRomBy : public CCActionFactory<CCCatmullRomBy, CCCardinalSplineBy> {
public:
    static platform::Ref<CCCatmullRomBy> actionWithDuration(double duration, CCPointArray* points);

    // Tension 0.5.
    bool initWithDuration(double duration, CCPointArray* points);
};

// The cardinal spline through p0..p3 at local time t of the segment from p1 to p2.
CGPoint ccCardinalSplineAt(CGPoint p0, CGPoint p1, CGPoint p2, CGPoint p3, double tension, double t);
