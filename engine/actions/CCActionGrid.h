// Grid actions: interval actions that give their target a grid at the start and move its
// vertices or tiles as they run; the amplitude wrappers that swell or fade an effect's
// amplitude over time; and the instant actions that end a grid or keep it for the next effect.
#pragma once

#include "actions/CCActionInstant.h"
#include "actions/CCActionInterval.h"
#include "actions/CCGrid.h"
#include "core/ccTypes.h"
#include "platform/Geometry.h"
#include "platform/Object.h"

#include <cstdint>

// Makes a grid of its kind and size for its target on every start, or continues on the
// target's grid when that one was marked for reuse.
class CCGridAction : public CCActionFactory<CCGridAction, CCActionInterval> {
public:
    // A new action of this class; the fade-out tile effects are made this way.
    static platform::Ref<CCGridAction> actionWithDuration(double duration, CGSize gridSize);

    CCGridAction() = default;

    // Seconds, and the grid's size in cells or tiles.
    bool initWithDuration(double duration, CGSize gridSize);
    // Installs a new active grid, or reuses the target's grid when its reuse count allows;
    // throws "GridBase" / "Cannot reuse grid" when that grid does not match.
    void startWithTarget(CCNode* target) override;
    // A new grid of the action's kind and size; throws "GridBase" here.
    virtual platform::Ref<CCGridBase> grid();
    // The action itself run backwards in time, through a CCReverseTime.
    platform::Ref<CCFiniteTimeAction> reverse() const override;
    // A new action of the receiver's class with the duration and grid size.
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    CGSize gridSize() const { return _gridSize; }
    void setGridSize(CGSize gridSize) { _gridSize = gridSize; }

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // The grid size came before the duration. Virtual so that a class defining this name for
    // itself (CCFlipX3D) is reached through a plain grid action too.
    static platform::Ref<CCGridAction> actionWithSize(CGSize gridSize, double duration) {
        return actionWithDuration(duration, gridSize);
    }
    virtual bool initWithSize(CGSize gridSize, double duration) {
        return initWithDuration(duration, gridSize);
    }

protected:
    CGSize _gridSize = CGSizeZero;
};

// Effects over a CCGrid3D: they read and write the target grid's points.
class CCGrid3DAction : public CCActionFactory<CCGrid3DAction, CCGridAction> {
public:
    static platform::Ref<CCGrid3DAction> actionWithDuration(double duration, CGSize gridSize);

    CCGrid3DAction() = default;

    platform::Ref<CCGridBase> grid() override;
    // The target grid's point (i, j); (0, 0, 0) and no write without such a grid.
    _ccVertex3F vertex(CGPoint pos) const;
    _ccVertex3F originalVertex(CGPoint pos) const;
    void setVertex(CGPoint pos, const _ccVertex3F& vertex);

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // Of this class, as its own factory is.
    static platform::Ref<CCGrid3DAction> actionWithSize(CGSize gridSize, double duration) {
        return actionWithDuration(duration, gridSize);
    }

protected:
    CCGrid3D* targetGrid() const;
};

// Effects over a CCTiledGrid3D: they read and write the target grid's tiles.
class CCTiledGrid3DAction : public CCActionFactory<CCTiledGrid3DAction, CCGridAction> {
public:
    static platform::Ref<CCTiledGrid3DAction> actionWithDuration(double duration, CGSize gridSize);

    CCTiledGrid3DAction() = default;

    platform::Ref<CCGridBase> grid() override;
    // The target grid's tile (x, y); a quad of zeros and no write without such a grid.
    _ccQuad3 tile(CGPoint pos) const;
    _ccQuad3 originalTile(CGPoint pos) const;
    void setTile(CGPoint pos, const _ccQuad3& coords);

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // Of this class, as its own factory is.
    static platform::Ref<CCTiledGrid3DAction> actionWithSize(CGSize gridSize, double duration) {
        return actionWithDuration(duration, gridSize);
    }

protected:
    CCTiledGrid3D* targetGrid() const;
};

// The amplitude an effect scales its distortion by, and the rate the amplitude wrappers drive
// it with; put between an effect and its grid action base.
template <class Base> class CCAmplitudeEffect : public Base {
public:
    float amplitude() const { return _amplitude; }
    void setAmplitude(float amplitude) { _amplitude = amplitude; }
    float amplitudeRate() const { return _amplitudeRate; }
    // Stored in single precision.
    void setAmplitudeRate(double amplitudeRate) override {
        _amplitudeRate = static_cast<float>(amplitudeRate);
    }

protected:
    // Amplitude in points; amplitude rate 1.
    void initAmplitude(float amplitude) {
        _amplitude = amplitude;
        _amplitudeRate = 1.0f;
    }

    float _amplitude = 0;
    float _amplitudeRate = 0;
};

// An effect of a whole number of cycles (waves, jumps) over its run, at an amplitude: the
// factory, initialiser and copy such effects share. Self is the effect, Base its grid action.
template <class Self, class Base>
class CCCycleAmplitudeEffect : public CCActionFactory<Self, CCAmplitudeEffect<Base>> {
public:
    static platform::Ref<Self> actionWithDuration(double duration, CGSize gridSize, std::uint64_t cycles,
                                                  float amplitude) {
        return CCCycleAmplitudeEffect::createWith(&CCCycleAmplitudeEffect::initWithDuration, duration,
                                                  gridSize, cycles, amplitude);
    }

    // Amplitude in points; amplitude rate 1.
    bool initWithDuration(double duration, CGSize gridSize, std::uint64_t cycles, float amplitude) {
        if (!this->CCGridAction::initWithDuration(duration, gridSize)) return false;
        _cycles = cycles;
        this->initAmplitude(amplitude);
        return true;
    }
    platform::Ref<platform::Object> copyWithZone(platform::Zone*) const override {
        return this->sameClassWith([&](Self& a) {
            return a.initWithDuration(this->_duration, this->_gridSize, _cycles, this->_amplitude);
        });
    }

protected:
    std::uint64_t _cycles = 0;
};

// What the shaking effects share: a random range in points, whether z shakes too, and their
// factory, initialiser, copy and older names. Self supplies update.
template <class Self, class Base> class CCShakeEffect : public CCActionFactory<Self, Base> {
public:
    static platform::Ref<Self> actionWithDuration(double duration, CGSize gridSize, std::int32_t range,
                                                  bool shakeZ) {
        return CCShakeEffect::createWith(&CCShakeEffect::initWithDuration, duration, gridSize, range, shakeZ);
    }

    // A range of 0 shakes nothing.
    bool initWithDuration(double duration, CGSize gridSize, std::int32_t range, bool shakeZ) {
        if (!this->CCGridAction::initWithDuration(duration, gridSize)) return false;
        _randrange = range;
        _shakeZ = shakeZ;
        return true;
    }
    platform::Ref<platform::Object> copyWithZone(platform::Zone*) const override {
        return this->sameClassWith([&](Self& a) {
            return a.initWithDuration(this->_duration, this->_gridSize, _randrange, _shakeZ);
        });
    }

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // The grid size and duration came last.
    static platform::Ref<Self> actionWithRange(std::int32_t range, bool shakeZ, CGSize gridSize,
                                               double duration) {
        return actionWithDuration(duration, gridSize, range, shakeZ);
    }
    bool initWithRange(std::int32_t range, bool shakeZ, CGSize gridSize, double duration) {
        return initWithDuration(duration, gridSize, range, shakeZ);
    }

protected:
    std::int32_t _randrange = 0;
    bool _shakeZ = false;
};

// What the three amplitude wrappers share: they start the wrapped effect with themselves and,
// on each update, set its amplitude rate from their own progress, then update it. Its own
// duration, step and completion play no part.
class CCAmplitudeWrapper : public CCActionFactory<CCAmplitudeWrapper, CCActionInterval> {
public:
    CCAmplitudeWrapper() = default;

    // The wrapped effect is retained; false without one. Rate 1.
    bool initWithAction(CCActionInterval* action, double duration);
    // A wrapper of the same class and rate around a copy of the effect.
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    void startWithTarget(CCNode* target) override;
    // Throws "IntervalAction (Amplitude)" when the effect has no amplitude.
    void update(double t) override;
    // A wrapper of the same class around the effect's reverse, rate 1; null when the effect
    // has none.
    platform::Ref<CCFiniteTimeAction> reverse() const override;
    // The exponent of the amplitude curve.
    float rate() const { return _rate; }
    void setRate(float rate) { _rate = rate; }
    CCActionInterval* innerAction() const { return _other.get(); }

protected:
    // The amplitude rate at progress t, in single precision.
    virtual float amplitudeAt(double t) const;

    float _rate = 0;
    platform::Ref<CCActionInterval> _other;
};

// Rises to the full amplitude at the middle and falls back: powf(2t or 2 - 2t, rate).
class CCAccelDeccelAmplitude : public CCActionFactory<CCAccelDeccelAmplitude, CCAmplitudeWrapper> {
public:
    static platform::Ref<CCAccelDeccelAmplitude> actionWithAction(CCActionInterval* action, double duration);

protected:
    float amplitudeAt(double t) const override;
};

// Rises from none: powf(t, rate).
class CCAccelAmplitude : public CCActionFactory<CCAccelAmplitude, CCAmplitudeWrapper> {
public:
    static platform::Ref<CCAccelAmplitude> actionWithAction(CCActionInterval* action, double duration);

protected:
    float amplitudeAt(double t) const override;
};

// Falls to none: powf(1 - t, rate).
class CCDeccelAmplitude : public CCActionFactory<CCDeccelAmplitude, CCAmplitudeWrapper> {
public:
    static platform::Ref<CCDeccelAmplitude> actionWithAction(CCActionInterval* action, double duration);

protected:
    float amplitudeAt(double t) const override;
};

// Deactivates the target's active grid; the grid stays on the node.
class CCStopGrid : public CCActionFactory<CCStopGrid, CCActionInstant> {
public:
    void startWithTarget(CCNode* target) override;
};

// Lets the next `times` grid actions continue from the target's active grid.
class CCReuseGrid : public CCActionFactory<CCReuseGrid, CCActionInstant> {
public:
    static platform::Ref<CCReuseGrid> actionWithTimes(std::int32_t times);

    bool initWithTimes(std::int32_t times);
    platform::Ref<platform::Object> copyWithZone(platform::Zone* zone) const override;
    // An inactive or missing grid is left alone.
    void startWithTarget(CCNode* target) override;
    std::int32_t times() const { return _times; }

protected:
    std::int32_t _times = 0;
};
