// Scalar helpers, 2D point functions, line intersections, the polyline-to-strip routine and
// the power-of-two size helper. Points come in as CGPoint (doubles); the arithmetic is mostly
// single precision, as the drawing code that calls it expects.
#pragma once

#include "core/ccTypes.h"
#include "platform/Geometry.h"

#include <cstdint>

// ---- Scalars ----
float squareFloat(float x);
// x * 0.017453, the single-precision constant the projection code has always used.
float degreesToRadians(float x);
float maxFloat(float a, float b);
// The bounds may come in either order.
float clampFloat(float value, float bound1, float bound2);

// ---- Points ----
inline constexpr CGPoint ccp(double x, double y) {
    return {x, y};
}
inline constexpr CGPoint pointAdd(CGPoint a, CGPoint b) {
    return {a.x + b.x, a.y + b.y};
}
inline constexpr CGPoint pointSub(CGPoint a, CGPoint b) {
    return {a.x - b.x, a.y - b.y};
}
inline constexpr CGPoint pointMult(CGPoint p, double s) {
    return {p.x * s, p.y * s};
}
inline constexpr double pointDot(CGPoint a, CGPoint b) {
    return a.x * b.x + a.y * b.y;
}
// Rotated a quarter turn anticlockwise: (-y, x).
inline constexpr CGPoint pointPerp(CGPoint p) {
    return {-p.y, p.x};
}
inline constexpr CGPoint pointMidpoint(CGPoint a, CGPoint b) {
    return {(a.x + b.x) / 2, (a.y + b.y) / 2};
}

// clampFloat per component between the corners minInclusive and maxInclusive.
CGPoint pointClamp(CGPoint p, CGPoint minInclusive, CGPoint maxInclusive);
float pointLength(CGPoint p);
// A zero vector stays zero.
CGPoint pointNormalize(CGPoint p);
// a at alpha 0, b at alpha 1.
CGPoint pointLerp(CGPoint a, CGPoint b, float alpha);
// Rotates p about pivot by angle radians, anticlockwise.
CGPoint pointRotateAround(CGPoint p, CGPoint pivot, float angle);

// ---- Lines ----
// Where line AB meets line CD: A + S (B - A) = C + T (D - C). False when A == B, C == D, or the
// lines are parallel and distinct; for overlapping lines true with S and T left undivided.
bool segmentIntersect(CGPoint A, CGPoint B, CGPoint C, CGPoint D, float* S, float* T);
// The fraction T along AB at which line CD crosses it; false when A == B, C == D or the lines
// are parallel.
bool lineIntersect(_ccVertex2F A, _ccVertex2F B, _ccVertex2F C, _ccVertex2F D, float* T);
// Turns points[offset .. offset + count - 1] of a polyline into a triangle strip of the given
// stroke width: vertices[2i] and vertices[2i + 1] lie either side of point i. The arrays hold
// at least offset + count points and twice as many vertices; earlier points are read as the
// neighbours of the first one, and the strip is repaired from the pair before offset.
void lineToPolygon(const CGPoint* points, _ccVertex2F* vertices, std::uint64_t offset, std::uint64_t count,
                   float stroke);

// ---- Sizes ----
// The smallest power of two not below x; 0 for 0 (and for x above 2^63).
std::uint64_t nextPowerOfTwo(std::uint64_t x);
