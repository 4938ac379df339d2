// Points, sizes, rectangles (doubles) and the 2D affine transform, with the operations the
// engine calls. Kept outside namespace platform: every part of the engine speaks them.
#pragma once

#include <string>

struct CGPoint {
    double x = 0, y = 0;
};
struct CGSize {
    double width = 0, height = 0;
};
struct CGRect {
    CGPoint origin;
    CGSize size;
};
// [a b 0; c d 0; tx ty 1]: x' = a x + c y + tx, y' = b x + d y + ty.
struct CGAffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
};

inline constexpr CGPoint CGPointZero{0, 0};
inline constexpr CGSize CGSizeZero{0, 0};
inline constexpr CGRect CGRectZero{{0, 0}, {0, 0}};
inline constexpr CGAffineTransform CGAffineTransformIdentity{1, 0, 0, 1, 0, 0};

inline constexpr CGPoint CGPointMake(double x, double y) {
    return {x, y};
}
inline constexpr CGSize CGSizeMake(double w, double h) {
    return {w, h};
}
inline constexpr CGRect CGRectMake(double x, double y, double w, double h) {
    return {{x, y}, {w, h}};
}

bool CGPointEqualToPoint(CGPoint a, CGPoint b);
bool CGSizeEqualToSize(CGSize a, CGSize b);
bool CGRectEqualToRect(CGRect a, CGRect b);
inline bool operator==(CGPoint a, CGPoint b) {
    return CGPointEqualToPoint(a, b);
}
inline bool operator==(CGSize a, CGSize b) {
    return CGSizeEqualToSize(a, b);
}
inline bool operator==(CGRect a, CGRect b) {
    return CGRectEqualToRect(a, b);
}

double CGRectGetMinX(CGRect r);
double CGRectGetMidX(CGRect r);
double CGRectGetMaxX(CGRect r);
double CGRectGetMinY(CGRect r);
double CGRectGetMidY(CGRect r);
double CGRectGetMaxY(CGRect r);
double CGRectGetWidth(CGRect r);
double CGRectGetHeight(CGRect r);
// Negative sizes flipped to positive ones over the same area.
CGRect CGRectStandardize(CGRect r);
bool CGRectIsEmpty(CGRect r);
// Half-open: the minimum edges are inside, the maximum edges are not.
bool CGRectContainsPoint(CGRect r, CGPoint p);
bool CGRectContainsRect(CGRect outer, CGRect inner);
bool CGRectIntersectsRect(CGRect a, CGRect b);
CGRect CGRectIntersection(CGRect a, CGRect b);
CGRect CGRectUnion(CGRect a, CGRect b);
CGRect CGRectOffset(CGRect r, double dx, double dy);
CGRect CGRectInset(CGRect r, double dx, double dy);

CGAffineTransform CGAffineTransformMake(double a, double b, double c, double d, double tx, double ty);
CGAffineTransform CGAffineTransformMakeTranslation(double tx, double ty);
CGAffineTransform CGAffineTransformMakeScale(double sx, double sy);
CGAffineTransform CGAffineTransformMakeRotation(double radians);
// t1 then t2.
CGAffineTransform CGAffineTransformConcat(CGAffineTransform t1, CGAffineTransform t2);
// The translation, rotation or scale applied before t.
CGAffineTransform CGAffineTransformTranslate(CGAffineTransform t, double tx, double ty);
CGAffineTransform CGAffineTransformRotate(CGAffineTransform t, double radians);
CGAffineTransform CGAffineTransformScale(CGAffineTransform t, double sx, double sy);
// A singular transform is returned unchanged.
CGAffineTransform CGAffineTransformInvert(CGAffineTransform t);
bool CGAffineTransformIsIdentity(CGAffineTransform t);
bool CGAffineTransformEqualToTransform(CGAffineTransform a, CGAffineTransform b);
CGPoint CGPointApplyAffineTransform(CGPoint p, CGAffineTransform t);
CGSize CGSizeApplyAffineTransform(CGSize s, CGAffineTransform t);
// The bounding box of the transformed corners.
CGRect CGRectApplyAffineTransform(CGRect r, CGAffineTransform t);

// "{x, y}", "{w, h}", "{{x, y}, {w, h}}" with %g numbers.
std::string NSStringFromCGPoint(CGPoint p);
std::string NSStringFromCGSize(CGSize s);
std::string NSStringFromCGRect(CGRect r);

// The inverse readers: "{x,y}", "{w,h}", "{{x,y},{w,h}}", blanks allowed anywhere between the
// parts and anything after the closing brace ignored. A string that does not have that shape
// gives zeros, as the platform's readers did.
CGPoint CGPointFromString(const std::string& s);
CGSize CGSizeFromString(const std::string& s);
CGRect CGRectFromString(const std::string& s);
