// Effects that bend a node's picture over a CCGrid3D: waves, flips about either axis, a lens,
// a ripple, a tremble, a liquid wobble, sideways waves and a twirl. Each step rebuilds the
// points from their undistorted positions, so nothing accumulates (the lens writes only when
// its position changed).
#pragma once

#include "actions/CCActionGrid.h"
#include "platform/Geometry.h"

#include <cstdint>

class CCWaves3D : public CCCycleAmplitudeEffect<CCWaves3D, CCGrid3DAction> {
public:
    CCWaves3D() = default;

    void update(double t) override;

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // The grid size and duration came last; waves are widened, sign and all.
    static platform::Ref<CCWaves3D> actionWithWaves(std::int32_t waves, float amplitude, CGSize gridSize,
                                                    double duration) {
        return actionWithDuration(duration, gridSize, std::int64_t{waves}, amplitude);
    }
    bool initWithWaves(std::int32_t waves, float amplitude, CGSize gridSize, double duration) {
        return initWithDuration(duration, gridSize, std::int64_t{waves}, amplitude);
    }
};

// Turns the picture about its vertical axis; at t = 1 it is mirrored left to right. A grid
// already turned is turned back.
class CCFlipX3D : public CCActionFactory<CCFlipX3D, CCGrid3DAction> {
public:
    static platform::Ref<CCFlipX3D> actionWithDuration(double duration);

    CCFlipX3D() = default;

    // Grid (1, 1).
    bool initWithDuration(double duration);
    // Throws "FlipX3D" / "Grid size must be (1,1)" for any other size.
    bool initWithSize(CGSize gridSize, double duration) override;
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void update(double t) override;
};

// Turns the picture about its horizontal axis.
class CCFlipY3D : public CCActionFactory<CCFlipY3D, CCFlipX3D> {
public:
    static platform::Ref<CCFlipY3D> actionWithDuration(double duration);

    CCFlipY3D() = default;

    void update(double t) override;
};

// A magnifying lens over a circle; written on the first step and again after each move.
class CCLens3D : public CCActionFactory<CCLens3D, CCGrid3DAction> {
public:
    static platform::Ref<CCLens3D> actionWithDuration(double duration, CGSize gridSize, CGPoint position,
                                                      float radius);

    CCLens3D() = default;

    // Position in grid points; lens effect 0.7.
    bool initWithDuration(double duration, CGSize gridSize, CGPoint position, float radius);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    // Marks the lens for rewriting only when the point changes.
    void setPosition(CGPoint position);
    CGPoint position() const { return _position; }
    void update(double t) override;
    float lensEffect() const { return _lensEffect; }
    // Shows at the next change of position.
    void setLensEffect(float lensEffect) { _lensEffect = lensEffect; }

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // The grid size and duration came last.
    static platform::Ref<CCLens3D> actionWithPosition(CGPoint position, float radius, CGSize gridSize,
                                                      double duration) {
        return actionWithDuration(duration, gridSize, position, radius);
    }
    bool initWithPosition(CGPoint position, float radius, CGSize gridSize, double duration) {
        return initWithDuration(duration, gridSize, position, radius);
    }

protected:
    CGPoint _position = CGPointZero;
    float _radius = 0;
    float _lensEffect = 0;
    bool _dirty = false;
};

// Waves spreading from a point, fading toward the radius.
class CCRipple3D : public CCActionFactory<CCRipple3D, CCAmplitudeEffect<CCGrid3DAction>> {
public:
    static platform::Ref<CCRipple3D> actionWithDuration(double duration, CGSize gridSize, CGPoint position,
                                                        float radius, std::int64_t waves, float amplitude);

    CCRipple3D() = default;

    bool initWithDuration(double duration, CGSize gridSize, CGPoint position, float radius,
                          std::int64_t waves, float amplitude);
    CGPoint position() const { return _position; }
    void setPosition(CGPoint position) { _position = position; }
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void update(double t) override;

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // The grid size and duration came last; waves are widened.
    static platform::Ref<CCRipple3D> actionWithPosition(CGPoint position, float radius, std::int32_t waves,
                                                        float amplitude, CGSize gridSize, double duration) {
        return actionWithDuration(duration, gridSize, position, radius, std::int64_t{waves}, amplitude);
    }
    bool initWithPosition(CGPoint position, float radius, std::int32_t waves, float amplitude,
                          CGSize gridSize, double duration) {
        return initWithDuration(duration, gridSize, position, radius, std::int64_t{waves}, amplitude);
    }

protected:
    CGPoint _position = CGPointZero;
    float _radius = 0;
    std::int64_t _waves = 0;
};

// Every point trembles by a whole number of points from -range to range - 1, drawn from rand.
class CCShaky3D : public CCShakeEffect<CCShaky3D, CCGrid3DAction> {
public:
    CCShaky3D() = default;
    void update(double t) override;
};

// Inner points wobble in x and y; the border stays put.
class CCLiquid : public CCCycleAmplitudeEffect<CCLiquid, CCGrid3DAction> {
public:
    CCLiquid() = default;

    void update(double t) override;

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // The grid size and duration came last; waves are widened, sign and all.
    static platform::Ref<CCLiquid> actionWithWaves(std::int32_t waves, float amplitude, CGSize gridSize,
                                                   double duration) {
        return actionWithDuration(duration, gridSize, std::int64_t{waves}, amplitude);
    }
    bool initWithWaves(std::int32_t waves, float amplitude, CGSize gridSize, double duration) {
        return initWithDuration(duration, gridSize, std::int64_t{waves}, amplitude);
    }
};

// Waves that push the picture sideways (vertical) and up and down (horizontal).
class CCWaves : public CCActionFactory<CCWaves, CCAmplitudeEffect<CCGrid3DAction>> {
public:
    static platform::Ref<CCWaves> actionWithDuration(double duration, CGSize gridSize, std::uint64_t waves,
                                                     float amplitude, bool horizontal, bool vertical);

    CCWaves() = default;

    bool initWithDuration(double duration, CGSize gridSize, std::uint64_t waves, float amplitude,
                          bool horizontal, bool vertical);
    void update(double t) override;
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // The grid size and duration came last; waves are widened, sign and all.
    static platform::Ref<CCWaves> actionWithWaves(std::int32_t waves, float amplitude, bool horizontal,
                                                  bool vertical, CGSize gridSize, double duration) {
        return actionWithDuration(duration, gridSize, std::int64_t{waves}, amplitude, horizontal, vertical);
    }
    bool initWithWaves(std::int32_t waves, float amplitude, bool horizontal, bool vertical, CGSize gridSize,
                       double duration) {
        return initWithDuration(duration, gridSize, std::int64_t{waves}, amplitude, horizontal, vertical);
    }

protected:
    std::uint64_t _waves = 0;
    bool _vertical = false;
    bool _horizontal = false;
};

// Twists the picture around a point, more with the distance from the grid's centre.
class CCTwirl : public CCActionFactory<CCTwirl, CCAmplitudeEffect<CCGrid3DAction>> {
public:
    static platform::Ref<CCTwirl> actionWithDuration(double duration, CGSize gridSize, CGPoint position,
                                                     std::uint64_t twirls, float amplitude);

    CCTwirl() = default;

    bool initWithDuration(double duration, CGSize gridSize, CGPoint position, std::uint64_t twirls,
                          float amplitude);
    void setPosition(CGPoint position) { _position = position; }
    CGPoint position() const { return _position; }
    void update(double t) override;
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // The grid size and duration came last; twirls are widened, sign and all.
    static platform::Ref<CCTwirl> actionWithPosition(CGPoint position, std::int32_t twirls, float amplitude,
                                                     CGSize gridSize, double duration) {
        return actionWithDuration(duration, gridSize, position, std::int64_t{twirls}, amplitude);
    }
    bool initWithPosition(CGPoint position, std::int32_t twirls, float amplitude, CGSize gridSize,
                          double duration) {
        return initWithDuration(duration, gridSize, position, std::int64_t{twirls}, amplitude);
    }

protected:
    CGPoint _position = CGPointZero;
    std::uint64_t _twirls = 0;
};
