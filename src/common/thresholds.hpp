// The numerical thresholds with which gate and channel dispatch classify
// matrix entries.
#pragma once

namespace nimbic {

// An entry (x, y) counts as non-zero when x^2 + y^2 exceeds this.
inline constexpr double kZeroNormSquared = 1e-18;

inline bool is_nonzero_entry(double x, double y) { return x * x + y * y > kZeroNormSquared; }

// An entry is real when |y| is at most this, and a channel entry equals 1
// when also |x - 1| is at most this.
inline constexpr double kRealTolerance = 1e-15;

// A real gate entry has unit magnitude when ||x| - 1| is at most this.
inline constexpr double kUnitMagnitudeTolerance = 1e-12;

}  // namespace nimbic
