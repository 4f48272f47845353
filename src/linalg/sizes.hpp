// Sizes and the up-front length checks shared by the flat-matrix routines.
// Counts are formed in 128 bits so that no dimension a caller passes can
// overflow them; results are allocated through the module's memory guard.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/memory.hpp"
#include "common/panic.hpp"

namespace nimbic::linalg {

// Floats of a flat complex matrix of dimension d (2*d*d; also for d < 0),
// saturating at 2^126 for |d| beyond 2^62.
inline Count complex_matrix_floats(int64_t d) {
  constexpr int64_t kLimit = int64_t(1) << 62;
  if (d > kLimit || d < -kLimit) return Count(1) << 126;
  return Count(2) * d * d;
}

// First index >= length read by a scan of a d-by-d flat complex matrix by
// columns (column outer, row inner; real then imaginary part). Only for
// length < 2*d*d.
int64_t first_missing_by_columns(int64_t length, int64_t d);

}  // namespace nimbic::linalg
