#include "actions/CCActionPageTurn3D.h"

#include <cmath>

using platform::Ref;

namespace {

// The single-precision quarter turn the curl has always used.
constexpr float kHalfPiF = 1.5707964f;
constexpr double kPi = 3.141592653589793;

} // namespace

Ref<CCPageTurn3D> CCPageTurn3D::actionWithDuration(double duration, CGSize gridSize) {
    return createWith(static_cast<bool (CCGridAction::*)(double, CGSize)>(&CCGridAction::initWithDuration),
                      duration, gridSize);
}

void CCPageTurn3D::update(double t) {
    CCGrid3D* grid = targetGrid();
    if (!grid) return;
    // Marked with every step, as the mesh it leaves is folded: a grid drawn flat before the
    // first step has dropped the mark.
    grid->setFoldsOverItself(true);

    // The apex waits at -100 for the first quarter, then sinks ever faster.
    const double late = t - 0.25;
    const float tt = late > 0 ? static_cast<float>(late) : 0.0f;
    const float deltaAy = tt * tt * 500.0f;
    const float ay = -100.0f - deltaAy;

    const float deltaTheta = -kHalfPiF * sqrtf(static_cast<float>(t));
    const float theta = kHalfPiF + deltaTheta;
    const float sinTheta = sinf(theta);
    const float cosTheta = cosf(theta);

    // Whole points only, compared with the grid size as the size is stored.
    for (int i = 0; i <= _gridSize.width; ++i) {
        for (int j = 0; j <= _gridSize.height; ++j) {
            const CGPoint pos = CGPointMake(i, j);
            _ccVertex3F p = originalVertex(pos);

            const float dy = p.y - ay;
            const float R = sqrtf(p.x * p.x + dy * dy);
            const float r = R * sinTheta;
            const float alpha = asinf(p.x / R);
            const float beta = alpha / sinTheta;
            const float cosBeta = cosf(beta);
            // Once the cone has closed (sinTheta 0, so r 0) beta has no value, but everything it
            // would scale vanishes with r: take that as nothing rather than let NaN reach the mesh.
            const bool closed = r == 0.0f;
            const float bend = closed ? 0.0f : 1.0f - cosBeta;

            p.x = !closed && static_cast<double>(beta) <= kPi ? r * sinf(beta) : 0.0f;
            p.y = (R + ay) - sinTheta * r * bend;
            p.z = cosTheta * r * bend / 7.0f;
            // Never below the flat picture's plane, so the page never dips under the scene.
            if (p.z < 0.5f) p.z = 0.5f;
            setVertex(pos, p);
        }
    }
}
