#pragma once

#include <cmath>

namespace math {

// Absolute tolerance of the approximate comparisons, held in T so that the
// float instantiation compares against the nearest float to 1e-6.
template <class T>
inline constexpr T kEpsilon = T(1e-6);

// One call yields both sine and cosine, in the precision of the argument.
inline void sincos(float angle, float& s, float& c) { ::sincosf(angle, &s, &c); }
inline void sincos(double angle, double& s, double& c) { ::sincos(angle, &s, &c); }

}  // namespace math
