// Small sums shared by the grid and tiled-grid effect actions, worked exactly as the effects
// have always worked them so that every effect moves its vertices the same way.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace gridEffect {

inline constexpr double kPi = 3.141592653589793;

// 2·pi·t·count, worked out as the effects always have: ((t·pi)·count)·2, in double.
inline double cyclePhase(double t, double count) {
    return ((t * kPi) * count) * 2;
}

// The sine of a phase computed in double and rounded to single precision.
inline float sinOf(double phase) {
    return sinf(static_cast<float>(phase));
}

// A whole grid dimension for the loops over points or tiles; sizes no grid could have give none.
inline std::uint64_t cells(double size) {
    if (!(size >= 0)) return 0;
    if (size > 65535) return 65535;
    return static_cast<std::uint64_t>(size);
}

// rand() % (2·range) − range: a whole offset from −range to range − 1. A range of 0 has no
// offsets to give (the remainder by 0 is undefined), so it shakes nothing.
inline float shakeOffset(std::int32_t range) {
    if (range == 0) return 0;
    std::int64_t span = std::int64_t{range} * 2;
    return static_cast<float>(std::int64_t{std::rand()} % span - range);
}

} // namespace gridEffect
