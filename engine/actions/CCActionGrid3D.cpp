#include "actions/CCActionGrid3D.h"

#include "actions/ccGridEffectMath.h"
#include "core/CCPointExtension.h"
#include "platform/Exception.h"

#include <cmath>
#include <cstdlib>

using platform::Ref;

namespace {

using gridEffect::cells;
using gridEffect::cyclePhase;
using gridEffect::kPi;
using gridEffect::shakeOffset;
using gridEffect::sinOf;

constexpr double kHalfPi = 1.5707963267948966;

} // namespace

// ---- CCWaves3D -----------------------------------------------------------------------------

void CCWaves3D::update(double t) {
    if (!targetGrid()) return;
    const std::uint64_t w = cells(_gridSize.width), h = cells(_gridSize.height);
    const double phase = cyclePhase(t, static_cast<double>(_cycles));
    for (std::uint64_t i = 0; i <= w; ++i) {
        for (std::uint64_t j = 0; j <= h; ++j) {
            CGPoint p = CGPointMake(static_cast<double>(i), static_cast<double>(j));
            _ccVertex3F v = originalVertex(p);
            v.z += sinOf(phase + static_cast<double>((v.x + v.y) * 0.01f)) * _amplitude * _amplitudeRate;
            setVertex(p, v);
        }
    }
}

// ---- CCFlipX3D, CCFlipY3D ------------------------------------------------------------------

Ref<CCFlipX3D> CCFlipX3D::actionWithDuration(double duration) {
    return createWith(InitOf<CCFlipX3D, double>(&CCFlipX3D::initWithDuration), duration);
}

bool CCFlipX3D::initWithDuration(double duration) {
    return CCGridAction::initWithDuration(duration, CGSizeMake(1, 1));
}

bool CCFlipX3D::initWithSize(CGSize gridSize, double duration) {
    if (gridSize.width != 1 || gridSize.height != 1)
        throw platform::Exception("FlipX3D", "Grid size must be (1,1)");
    return CCGridAction::initWithDuration(duration, gridSize);
}

Ref<platform::Object> CCFlipX3D::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCFlipX3D& a) { return a.initWithSize(_gridSize, _duration); });
}

void CCFlipX3D::update(double t) {
    const double angle = kPi * t;
    const float mz = sinf(static_cast<float>(angle));
    const float mx = cosf(static_cast<float>(angle / 2));

    const _ccVertex3F p0 = originalVertex(CGPointMake(1, 1));
    const _ccVertex3F p1 = originalVertex(CGPointMake(0, 0));
    CGPoint a, b, c, d;
    float x;
    if (p0.x > p1.x) {
        a = CGPointMake(0, 0), b = CGPointMake(0, 1), c = CGPointMake(1, 0), d = CGPointMake(1, 1);
        x = p0.x;
    } else {
        // Already turned: the right column is on the left now.
        a = CGPointMake(1, 0), b = CGPointMake(1, 1), c = CGPointMake(0, 0), d = CGPointMake(0, 1);
        x = p1.x;
    }
    const float diffX = x - x * mx;
    const float diffZ = fabsf(floorf(x * mz / 4));

    for (CGPoint p : {a, b}) {
        _ccVertex3F v = originalVertex(p);
        v.x = diffX;
        v.z += diffZ;
        setVertex(p, v);
    }
    for (CGPoint p : {c, d}) {
        _ccVertex3F v = originalVertex(p);
        v.x -= diffX;
        v.z -= diffZ;
        setVertex(p, v);
    }
}

Ref<CCFlipY3D> CCFlipY3D::actionWithDuration(double duration) {
    return createWith(InitOf<CCFlipX3D, double>(&CCFlipX3D::initWithDuration), duration);
}

void CCFlipY3D::update(double t) {
    const double angle = kPi * t;
    const float mz = sinf(static_cast<float>(angle));
    const float my = cosf(static_cast<float>(angle / 2));

    const _ccVertex3F p0 = originalVertex(CGPointMake(1, 1));
    const _ccVertex3F p1 = originalVertex(CGPointMake(0, 0));
    CGPoint a, b, c, d;
    float y;
    if (p0.y > p1.y) {
        a = CGPointMake(0, 0), b = CGPointMake(0, 1), c = CGPointMake(1, 0), d = CGPointMake(1, 1);
        y = p0.y;
    } else {
        a = CGPointMake(0, 1), b = CGPointMake(0, 0), c = CGPointMake(1, 1), d = CGPointMake(1, 0);
        y = p1.y;
    }
    const float diffY = y - y * my;
    const float diffZ = fabsf(floorf(y * mz / 4));

    // a and c take the edge that turns toward the viewer, b and d the one that turns away.
    auto toward = [&](CGPoint p) {
        _ccVertex3F v = originalVertex(p);
        v.y = diffY;
        v.z += diffZ;
        setVertex(p, v);
    };
    auto away = [&](CGPoint p) {
        _ccVertex3F v = originalVertex(p);
        v.y -= diffY;
        v.z -= diffZ;
        setVertex(p, v);
    };
    toward(a);
    away(b);
    toward(c);
    away(d);
}

// ---- CCLens3D ------------------------------------------------------------------------------

Ref<CCLens3D> CCLens3D::actionWithDuration(double duration, CGSize gridSize, CGPoint position, float radius) {
    return createWith(InitOf<CCLens3D, double, CGSize, CGPoint, float>(&CCLens3D::initWithDuration), duration,
                      gridSize, position, radius);
}

bool CCLens3D::initWithDuration(double duration, CGSize gridSize, CGPoint position, float radius) {
    if (!CCGridAction::initWithDuration(duration, gridSize)) return false;
    _position = CGPointMake(-1, -1);
    setPosition(position);
    _radius = radius;
    _lensEffect = 0.7f;
    _dirty = true;
    return true;
}

Ref<platform::Object> CCLens3D::copyWithZone(platform::Zone*) const {
    return sameClassWith(
        [&](CCLens3D& a) { return a.initWithDuration(_duration, _gridSize, _position, _radius); });
}

void CCLens3D::setPosition(CGPoint position) {
    if (position.x != _position.x || position.y != _position.y) {
        _position = position;
        _dirty = true;
    }
}

void CCLens3D::update(double) {
    if (!_dirty || !targetGrid()) return;
    const std::uint64_t w = cells(_gridSize.width), h = cells(_gridSize.height);
    for (std::uint64_t i = 0; i <= w; ++i) {
        for (std::uint64_t j = 0; j <= h; ++j) {
            CGPoint p = CGPointMake(static_cast<double>(i), static_cast<double>(j));
            _ccVertex3F v = originalVertex(p);
            CGPoint toCentre = CGPointMake(_position.x - v.x, _position.y - v.y);
            float r = pointLength(toCentre);
            if (r < _radius) {
                float pre = (_radius - r) / _radius;
                if (pre == 0) pre = 0.001f;
                float l = logf(pre) * _lensEffect;
                float newR = expf(l) * _radius;
                if (pointLength(toCentre) > 0) {
                    CGPoint n = pointNormalize(toCentre);
                    CGPoint scaled = CGPointMake(n.x * newR, n.y * newR);
                    v.z += pointLength(scaled) * _lensEffect;
                }
            }
            setVertex(p, v);
        }
    }
    _dirty = false;
}

// ---- CCRipple3D ----------------------------------------------------------------------------

Ref<CCRipple3D> CCRipple3D::actionWithDuration(double duration, CGSize gridSize, CGPoint position,
                                               float radius, std::int64_t waves, float amplitude) {
    return createWith(InitOf<CCRipple3D, double, CGSize, CGPoint, float, std::int64_t, float>(
                          &CCRipple3D::initWithDuration),
                      duration, gridSize, position, radius, waves, amplitude);
}

bool CCRipple3D::initWithDuration(double duration, CGSize gridSize, CGPoint position, float radius,
                                  std::int64_t waves, float amplitude) {
    if (!CCGridAction::initWithDuration(duration, gridSize)) return false;
    _position = position;
    _radius = radius;
    _waves = waves;
    initAmplitude(amplitude);
    return true;
}

Ref<platform::Object> CCRipple3D::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCRipple3D& a) {
        return a.initWithDuration(_duration, _gridSize, _position, _radius, _waves, _amplitude);
    });
}

void CCRipple3D::update(double t) {
    if (!targetGrid()) return;
    const std::uint64_t w = cells(_gridSize.width), h = cells(_gridSize.height);
    const double phase = cyclePhase(t, static_cast<double>(_waves));
    const double tenth = static_cast<double>(0.1f);
    for (std::uint64_t i = 0; i <= w; ++i) {
        for (std::uint64_t j = 0; j <= h; ++j) {
            CGPoint p = CGPointMake(static_cast<double>(i), static_cast<double>(j));
            _ccVertex3F v = originalVertex(p);
            float r = pointLength(CGPointMake(_position.x - v.x, _position.y - v.y));
            if (r < _radius) {
                float rest = _radius - r;
                float rate = powf(rest / _radius, 2);
                v.z += rate * sinOf(phase + rest * tenth) * _amplitude * _amplitudeRate;
            }
            setVertex(p, v);
        }
    }
}

// ---- CCShaky3D -----------------------------------------------------------------------------

void CCShaky3D::update(double) {
    if (!targetGrid()) return;
    const std::uint64_t w = cells(_gridSize.width), h = cells(_gridSize.height);
    for (std::uint64_t i = 0; i <= w; ++i) {
        for (std::uint64_t j = 0; j <= h; ++j) {
            CGPoint p = CGPointMake(static_cast<double>(i), static_cast<double>(j));
            _ccVertex3F v = originalVertex(p);
            v.x += shakeOffset(_randrange);
            v.y += shakeOffset(_randrange);
            if (_shakeZ) v.z += shakeOffset(_randrange);
            setVertex(p, v);
        }
    }
}

// ---- CCLiquid ------------------------------------------------------------------------------

void CCLiquid::update(double t) {
    if (!targetGrid()) return;
    const std::uint64_t w = cells(_gridSize.width), h = cells(_gridSize.height);
    const double phase = cyclePhase(t, static_cast<double>(_cycles));
    // The border stays where it is, so the picture keeps its outline.
    for (std::uint64_t i = 1; i < w; ++i) {
        for (std::uint64_t j = 1; j < h; ++j) {
            CGPoint p = CGPointMake(static_cast<double>(i), static_cast<double>(j));
            _ccVertex3F v = originalVertex(p);
            const float x = v.x, y = v.y;
            v.x = x + sinOf(phase + static_cast<double>(x * 0.01f)) * _amplitude * _amplitudeRate;
            v.y = y + sinOf(phase + static_cast<double>(y * 0.01f)) * _amplitude * _amplitudeRate;
            setVertex(p, v);
        }
    }
}

// ---- CCWaves -------------------------------------------------------------------------------

Ref<CCWaves> CCWaves::actionWithDuration(double duration, CGSize gridSize, std::uint64_t waves,
                                         float amplitude, bool horizontal, bool vertical) {
    return createWith(
        InitOf<CCWaves, double, CGSize, std::uint64_t, float, bool, bool>(&CCWaves::initWithDuration),
        duration, gridSize, waves, amplitude, horizontal, vertical);
}

bool CCWaves::initWithDuration(double duration, CGSize gridSize, std::uint64_t waves, float amplitude,
                               bool horizontal, bool vertical) {
    if (!CCGridAction::initWithDuration(duration, gridSize)) return false;
    _waves = waves;
    initAmplitude(amplitude);
    _horizontal = horizontal;
    _vertical = vertical;
    return true;
}

Ref<platform::Object> CCWaves::copyWithZone(platform::Zone*) const {
    return sameClassWith([&](CCWaves& a) {
        return a.initWithDuration(_duration, _gridSize, _waves, _amplitude, _horizontal, _vertical);
    });
}

void CCWaves::update(double t) {
    if (!targetGrid()) return;
    const std::uint64_t w = cells(_gridSize.width), h = cells(_gridSize.height);
    const double phase = cyclePhase(t, static_cast<double>(_waves));
    for (std::uint64_t i = 0; i <= w; ++i) {
        for (std::uint64_t j = 0; j <= h; ++j) {
            CGPoint p = CGPointMake(static_cast<double>(i), static_cast<double>(j));
            _ccVertex3F v = originalVertex(p);
            if (_vertical)
                v.x = v.x + sinOf(phase + static_cast<double>(v.y * 0.01f)) * _amplitude * _amplitudeRate;
            // Uses the x the vertical part has just moved.
            if (_horizontal)
                v.y = v.y + sinOf(phase + static_cast<double>(v.x * 0.01f)) * _amplitude * _amplitudeRate;
            setVertex(p, v);
        }
    }
}

// ---- CCTwirl -------------------------------------------------------------------------------

Ref<CCTwirl> CCTwirl::actionWithDuration(double duration, CGSize gridSize, CGPoint position,
                                         std::uint64_t twirls, float amplitude) {
    return createWith(
        InitOf<CCTwirl, double, CGSize, CGPoint, std::uint64_t, float>(&CCTwirl::initWithDuration), duration,
        gridSize, position, twirls, amplitude);
}

bool CCTwirl::initWithDuration(double duration, CGSize gridSize, CGPoint position, std::uint64_t twirls,
                               float amplitude) {
    if (!CCGridAction::initWithDuration(duration, gridSize)) return false;
    setPosition(position);
    _twirls = twirls;
    initAmplitude(amplitude);
    return true;
}

Ref<platform::Object> CCTwirl::copyWithZone(platform::Zone*) const {
    return sameClassWith(
        [&](CCTwirl& a) { return a.initWithDuration(_duration, _gridSize, _position, _twirls, _amplitude); });
}

void CCTwirl::update(double t) {
    if (!targetGrid()) return;
    const std::uint64_t w = cells(_gridSize.width), h = cells(_gridSize.height);
    const CGPoint c = _position;
    const float turn = cosf(static_cast<float>(kHalfPi + cyclePhase(t, static_cast<double>(_twirls))));
    for (std::uint64_t i = 0; i <= w; ++i) {
        for (std::uint64_t j = 0; j <= h; ++j) {
            CGPoint p = CGPointMake(static_cast<double>(i), static_cast<double>(j));
            _ccVertex3F v = originalVertex(p);
            CGPoint offset = CGPointMake(static_cast<double>(i) - _gridSize.width / 2,
                                         static_cast<double>(j) - _gridSize.height / 2);
            float r = pointLength(offset);
            float amp = 0.1f * _amplitude * _amplitudeRate;
            float a = static_cast<float>(static_cast<double>(r) * turn * amp);
            float sinA = sinf(a), cosA = cosf(a);
            double dx = v.x - c.x, dy = v.y - c.y;
            v.x = static_cast<float>(c.x + dx * cosA + dy * sinA);
            v.y = static_cast<float>(c.y + dy * cosA - dx * sinA);
            setVertex(p, v);
        }
    }
}
