// A node's own view transform: a look-at matrix from an eye, a centre and an up vector, built
// lazily and multiplied onto the current matrix. All coordinates are in the node's space, in
// points. A camera left at its defaults multiplies by the identity.
#pragma once

#include "core/CCMatrix.h"
#include "platform/Object.h"

#include <string>

class CCCamera : public platform::Object {
public:
    CCCamera() = default;
    // restore(); always succeeds.
    virtual bool init();
    // "<CCCamera = 0x... | center = (x,y,z)>".
    std::string description() const override;

    // Eye (0, 0, getZEye()), centre (0, 0, 0), up (0, 1, 0), identity matrix, not dirty.
    void restore();
    // Rebuilds the look-at matrix when dirty, then multiplies the current matrix stack by it.
    void locate();

    void setEyeX(float eyeX, float eyeY, float eyeZ);
    void setCenterX(float centerX, float centerY, float centerZ);
    void setUpX(float upX, float upY, float upZ);
    void eyeX(float* eyeX, float* eyeY, float* eyeZ) const;
    void centerX(float* centerX, float* centerY, float* centerZ) const;
    void upX(float* upX, float* upY, float* upZ) const;

    bool dirty() const { return _dirty; }
    void setDirty(bool dirty) { _dirty = dirty; }

    // The default eye distance: the float epsilon, positive yet too small to matter.
    static float getZEye();

private:
    float _eyeX = 0, _eyeY = 0, _eyeZ = getZEye();
    float _centerX = 0, _centerY = 0, _centerZ = 0;
    float _upX = 0, _upY = 1, _upZ = 0;
    bool _dirty = false;
    kmMat4 _lookupMatrix{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
};
