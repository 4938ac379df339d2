// Actions that move a node's camera. The base records the camera's centre, eye and up vector
// when it starts; the orbit swings the eye over a sphere around the recorded centre.
#pragma once

#include "actions/CCActionInterval.h"
#include "platform/Object.h"

class CCActionCamera : public CCActionFactory<CCActionCamera, CCActionInterval> {
public:
    CCActionCamera() = default;

    // Records the target camera's centre, eye and up.
    void startWithTarget(CCNode* target) override;
    // This very action run backwards in time (a CCReverseTime around it), not a new one.
    platform::Ref<CCFiniteTimeAction> reverse() const override;

protected:
    float _centerXOrig = 0, _centerYOrig = 0, _centerZOrig = 0;
    float _eyeXOrig = 0, _eyeYOrig = 0, _eyeZOrig = 0;
    float _upXOrig = 0, _upYOrig = 0, _upZOrig = 0;
};

// Moves the eye over a sphere around the centre the camera had at the start. The radius is in
// units of the camera's standard eye distance (CCCamera::getZEye()); the zenith angle Z is
// measured from the z axis and the azimuth X from the x axis, in degrees. Radius and angles
// change linearly over the duration.
class CCOrbitCamera : public CCActionFactory<CCOrbitCamera, CCActionCamera> {
public:
    // Seconds, in single precision as the other values.
    static platform::Ref<CCOrbitCamera> actionWithDuration(float t, float radius, float deltaRadius,
                                                           float angleZ, float deltaAngleZ, float angleX,
                                                           float deltaAngleX);

    CCOrbitCamera() = default;

    // Same class and values.
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    bool initWithDuration(float t, float radius, float deltaRadius, float angleZ, float deltaAngleZ,
                          float angleX, float deltaAngleX);
    void startWithTarget(CCNode* target) override;
    // Sets the eye; the centre and up vector stay.
    void update(double t) override;
    // Where the target's camera eye is now, as spherical coordinates about its centre: the
    // radius in eye-distance units, the zenith and azimuth in radians. Reports only; any
    // out-parameter may be null. Without a target all three are 0.
    void sphericalRadius(float* newRadius, float* zenith, float* azimuth) const;

protected:
    float _radius = 0;
    float _deltaRadius = 0;
    float _angleZ = 0;
    float _deltaAngleZ = 0;
    float _angleX = 0;
    float _deltaAngleX = 0;
    float _radZ = 0;
    float _radDeltaZ = 0;
    float _radX = 0;
    float _radDeltaX = 0;
};
