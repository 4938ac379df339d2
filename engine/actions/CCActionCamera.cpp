#include "actions/CCActionCamera.h"

#include "core/CCCamera.h"
#include "core/CCNode.h"

#include <cfloat>
#include <cmath>

using platform::Ref;

namespace {

// pi / 180 in single precision.
constexpr float kDegreesToRadians = 0.017453292f;
constexpr float kPi = 3.14159265358979323846f;

} // namespace

// ---- CCActionCamera ----

void CCActionCamera::startWithTarget(CCNode* target) {
    CCActionInterval::startWithTarget(target);
    if (!target) return;
    CCCamera* camera = target->camera();
    camera->centerX(&_centerXOrig, &_centerYOrig, &_centerZOrig);
    camera->eyeX(&_eyeXOrig, &_eyeYOrig, &_eyeZOrig);
    camera->upX(&_upXOrig, &_upYOrig, &_upZOrig);
}

Ref<CCFiniteTimeAction> CCActionCamera::reverse() const {
    // The wrapper retains this action, which the caller owns already; the const is only the
    // signature's.
    return CCReverseTime::actionWithAction(const_cast<CCActionCamera*>(this));
}

// ---- CCOrbitCamera ----

Ref<CCOrbitCamera> CCOrbitCamera::actionWithDuration(float t, float radius, float deltaRadius, float angleZ,
                                                     float deltaAngleZ, float angleX, float deltaAngleX) {
    return createWith(&CCOrbitCamera::initWithDuration, t, radius, deltaRadius, angleZ, deltaAngleZ, angleX,
                      deltaAngleX);
}

Ref<platform::Object> CCOrbitCamera::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCOrbitCamera& a) {
        return a.initWithDuration(static_cast<float>(_duration), _radius, _deltaRadius, _angleZ, _deltaAngleZ,
                                  _angleX, _deltaAngleX);
    });
}

bool CCOrbitCamera::initWithDuration(float t, float radius, float deltaRadius, float angleZ,
                                     float deltaAngleZ, float angleX, float deltaAngleX) {
    if (!CCActionInterval::initWithDuration(static_cast<double>(t))) return false;
    _radius = radius;
    _deltaRadius = deltaRadius;
    _angleZ = angleZ;
    _deltaAngleZ = deltaAngleZ;
    _angleX = angleX;
    _deltaAngleX = deltaAngleX;
    _radDeltaZ = deltaAngleZ * kDegreesToRadians;
    _radDeltaX = deltaAngleX * kDegreesToRadians;
    return true;
}

void CCOrbitCamera::startWithTarget(CCNode* target) {
    CCActionCamera::startWithTarget(target);
    _radZ = _angleZ * kDegreesToRadians;
    _radX = _angleX * kDegreesToRadians;
}

void CCOrbitCamera::update(double t) {
    if (!_target) return;
    float r = static_cast<float>((_radius + _deltaRadius * t) * static_cast<double>(CCCamera::getZEye()));
    float za = static_cast<float>(_radZ + _radDeltaZ * t);
    float xa = static_cast<float>(_radX + _radDeltaX * t);

    float i = r * ::sinf(za) * ::cosf(xa) + _centerXOrig;
    float j = r * ::sinf(za) * ::sinf(xa) + _centerYOrig;
    float k = r * ::cosf(za) + _centerZOrig;

    _target->camera()->setEyeX(i, j, k);
}

void CCOrbitCamera::sphericalRadius(float* newRadius, float* zenith, float* azimuth) const {
    float radius = 0, zen = 0, azi = 0;
    if (_target) {
        CCCamera* camera = _target->camera();
        float ex, ey, ez, cx, cy, cz;
        camera->eyeX(&ex, &ey, &ez);
        camera->centerX(&cx, &cy, &cz);

        float x = ex - cx;
        float y = ey - cy;
        float z = ez - cz;

        float r = ::sqrtf(x * x + y * y + z * z);
        float s = ::sqrtf(x * x + y * y);
        if (s == 0.0f) s = FLT_EPSILON;
        if (r == 0.0f) r = FLT_EPSILON;

        zen = ::acosf(z / r);
        azi = x < 0 ? kPi - ::asinf(y / s) : ::asinf(y / s);
        radius = r / CCCamera::getZEye();
    }
    if (newRadius) *newRadius = radius;
    if (zenith) *zenith = zen;
    if (azimuth) *azimuth = azi;
}
