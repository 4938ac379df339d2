#include "core/CCPointExtension.h"

#include <algorithm>
#include <cmath>
#include <utility>

// ---- Scalars ----

float squareFloat(float x) {
    return x * x;
}

float degreesToRadians(float x) {
    return x * 0.017453f;
}

float maxFloat(float a, float b) {
    return a > b ? a : b;
}

float clampFloat(float value, float bound1, float bound2) {
    if (bound1 > bound2) std::swap(bound1, bound2);
    if (value < bound1) return bound1;
    if (value > bound2) return bound2;
    return value;
}

// ---- Points ----

CGPoint pointClamp(CGPoint p, CGPoint minInclusive, CGPoint maxInclusive) {
    return {clampFloat(static_cast<float>(p.x), static_cast<float>(minInclusive.x),
                       static_cast<float>(maxInclusive.x)),
            clampFloat(static_cast<float>(p.y), static_cast<float>(minInclusive.y),
                       static_cast<float>(maxInclusive.y))};
}

float pointLength(CGPoint p) {
    const float x = static_cast<float>(p.x);
    const float y = static_cast<float>(p.y);
    return std::sqrt(x * x + y * y);
}

CGPoint pointNormalize(CGPoint p) {
    const float length = pointLength(p);
    if (length == 0.0f) return CGPointZero;
    const float l = 1.0f / length;
    return {p.x * l, p.y * l};
}

CGPoint pointLerp(CGPoint a, CGPoint b, float alpha) {
    return pointAdd(pointMult(a, 1.0f - alpha), pointMult(b, alpha));
}

CGPoint pointRotateAround(CGPoint p, CGPoint pivot, float angle) {
    const CGPoint r = pointSub(p, pivot);
    const float cosa = std::cos(angle);
    const float sina = std::sin(angle);
    return {r.x * cosa - r.y * sina + pivot.x, r.y * cosa + r.x * sina + pivot.y};
}

// ---- Lines ----

bool segmentIntersect(CGPoint A, CGPoint B, CGPoint C, CGPoint D, float* S, float* T) {
    if (A == B || C == D) return false;
    const float BAx = static_cast<float>(B.x - A.x), BAy = static_cast<float>(B.y - A.y);
    const float DCx = static_cast<float>(D.x - C.x), DCy = static_cast<float>(D.y - C.y);
    const float ACx = static_cast<float>(A.x - C.x), ACy = static_cast<float>(A.y - C.y);
    const float denom = DCy * BAx - DCx * BAy;
    *S = DCx * ACy - DCy * ACx;
    *T = BAx * ACy - BAy * ACx;
    if (denom == 0.0f) {
        // Parallel: the lines overlap exactly when A lies on CD's line.
        return *S == 0.0f || *T == 0.0f;
    }
    *S = *S / denom;
    *T = *T / denom;
    return true;
}

bool lineIntersect(_ccVertex2F A, _ccVertex2F B, _ccVertex2F C, _ccVertex2F D, float* T) {
    if ((A.x == B.x && A.y == B.y) || (C.x == D.x && C.y == D.y)) return false;
    const float BAx = B.x - A.x;
    const float BAy = B.y - A.y;
    // Turn the frame so that AB runs along the x axis from A.
    const float distAB = std::sqrt(BAx * BAx + BAy * BAy);
    const float theCos = BAx / distAB;
    const float theSin = BAy / distAB;
    const float cx = C.x - A.x, cy = C.y - A.y;
    const float dx = D.x - A.x, dy = D.y - A.y;
    const float Cy = cy * theCos - cx * theSin;
    const float Cx = cx * theCos + cy * theSin;
    const float Dy = dy * theCos - dx * theSin;
    const float Dx = dx * theCos + dy * theSin;
    if (Cy == Dy) return false;
    *T = (Dx + (Cx - Dx) * Dy / (Dy - Cy)) / distAB;
    return true;
}

namespace {
struct V2 {
    float x, y;
};
V2 sub(V2 a, V2 b) {
    return {a.x - b.x, a.y - b.y};
}
V2 perp(V2 v) {
    return {-v.y, v.x};
}
V2 mid(V2 a, V2 b) {
    return {(a.x + b.x) / 2, (a.y + b.y) / 2};
}
// A zero vector (repeated points) stays zero instead of turning into NaN vertices.
V2 normalize(V2 v) {
    const float length = std::sqrt(v.x * v.x + v.y * v.y);
    if (length == 0.0f) return {0.0f, 0.0f};
    const float l = 1.0f / length;
    return {v.x * l, v.y * l};
}
V2 at(const CGPoint* points, std::uint64_t i) {
    return {static_cast<float>(points[i].x), static_cast<float>(points[i].y)};
}
} // namespace

void lineToPolygon(const CGPoint* points, _ccVertex2F* vertices, std::uint64_t offset, std::uint64_t count,
                   float stroke) {
    const std::uint64_t total = offset + count;
    if (total < 2) return;
    const float h = stroke / 2;
    for (std::uint64_t i = offset; i < total; ++i) {
        const V2 p1 = at(points, i);
        V2 perpVector;
        if (i == 0) {
            perpVector = perp(normalize(sub(p1, at(points, i + 1))));
        } else if (i == total - 1) {
            perpVector = perp(normalize(sub(at(points, i - 1), p1)));
        } else {
            const V2 p0 = at(points, i - 1);
            const V2 p2 = at(points, i + 1);
            const V2 a = normalize(sub(p2, p1));
            const V2 b = normalize(sub(p0, p1));
            // Rounding can push the cosine just past +-1; acos would give NaN there.
            const float angle = std::acos(std::clamp(a.x * b.x + a.y * b.y, -1.0f, 1.0f));
            if (angle < 1.2217305f) {
                perpVector = perp(normalize(mid(a, b)));
            } else if (angle < 2.9670596f) {
                perpVector = normalize(mid(a, b));
            } else {
                perpVector = perp(normalize(sub(p2, p0)));
            }
        }
        vertices[i * 2] = {p1.x + perpVector.x * h, p1.y + perpVector.y * h};
        vertices[i * 2 + 1] = {p1.x - perpVector.x * h, p1.y - perpVector.y * h};
    }

    // Where a pair's sides cross the next pair's, the strip would twist: swap the next pair.
    for (std::uint64_t i = offset == 0 ? 0 : offset - 1; i < total - 1; ++i) {
        const std::uint64_t j = i * 2;
        const _ccVertex2F e = vertices[j], f = vertices[j + 1], g = vertices[j + 2], hv = vertices[j + 3];
        float t = 0.0f;
        const bool fix = !lineIntersect(e, hv, f, g, &t) || t < 0.0f || t > 1.0f;
        if (fix) {
            vertices[j + 2] = hv;
            vertices[j + 3] = g;
        }
    }
}

// ---- Sizes ----

std::uint64_t nextPowerOfTwo(std::uint64_t x) {
    x = x - 1;
    x = x | (x >> 1);
    x = x | (x >> 2);
    x = x | (x >> 4);
    x = x | (x >> 8);
    x = x | (x >> 16);
    // The last step keeps sizes above 2^32 right as well.
    x = x | (x >> 32);
    return x + 1;
}
