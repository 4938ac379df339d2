#include "core/CCCamera.h"

#include "platform/Format.h"

#include <cfloat>

bool CCCamera::init() {
    restore();
    return true;
}

std::string CCCamera::description() const {
    return platform::format("<%s = %p | center = (%.2f,%.2f,%.2f)>", className(), this,
                            static_cast<double>(_centerX), static_cast<double>(_centerY),
                            static_cast<double>(_centerZ));
}

void CCCamera::restore() {
    _eyeX = _eyeY = 0.0f;
    _eyeZ = getZEye();
    _centerX = _centerY = _centerZ = 0.0f;
    _upX = 0.0f;
    _upY = 1.0f;
    _upZ = 0.0f;
    mat4Identity(&_lookupMatrix);
    _dirty = false;
}

void CCCamera::locate() {
    if (_dirty) {
        kmVec3 eye, center, up;
        vec3Fill(&eye, _eyeX, _eyeY, _eyeZ);
        vec3Fill(&center, _centerX, _centerY, _centerZ);
        vec3Fill(&up, _upX, _upY, _upZ);
        mat4LookAt(&_lookupMatrix, &eye, &center, &up);
        _dirty = false;
    }
    matrixMultiply(&_lookupMatrix);
}

void CCCamera::setEyeX(float eyeX, float eyeY, float eyeZ) {
    _eyeX = eyeX;
    _eyeY = eyeY;
    _eyeZ = eyeZ;
    _dirty = true;
}

void CCCamera::setCenterX(float centerX, float centerY, float centerZ) {
    _centerX = centerX;
    _centerY = centerY;
    _centerZ = centerZ;
    _dirty = true;
}

void CCCamera::setUpX(float upX, float upY, float upZ) {
    _upX = upX;
    _upY = upY;
    _upZ = upZ;
    _dirty = true;
}

void CCCamera::eyeX(float* eyeX, float* eyeY, float* eyeZ) const {
    *eyeX = _eyeX;
    *eyeY = _eyeY;
    *eyeZ = _eyeZ;
}

void CCCamera::centerX(float* centerX, float* centerY, float* centerZ) const {
    *centerX = _centerX;
    *centerY = _centerY;
    *centerZ = _centerZ;
}

void CCCamera::upX(float* upX, float* upY, float* upZ) const {
    *upX = _upX;
    *upY = _upY;
    *upZ = _upZ;
}

float CCCamera::getZEye() {
    return FLT_EPSILON;
}
