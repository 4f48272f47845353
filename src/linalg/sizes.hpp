// Sizes, result allocation and the up-front length checks shared by the
// flat-matrix routines. Counts are formed in 128 bits so that no dimension a
// caller passes can overflow them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "binding/panic.hpp"

namespace nimbic::linalg {

using Count = __int128;

// Floats of a flat complex matrix of dimension d (2*d*d; also for d < 0),
// saturating at 2^126 for |d| beyond 2^62.
inline Count complex_matrix_floats(int64_t d) {
  constexpr int64_t kLimit = int64_t(1) << 62;
  if (d > kLimit || d < -kLimit) return Count(1) << 126;
  return Count(2) * d * d;
}

// An input read from float 0 upwards must hold `needed` floats; the first
// missing index is then its length.
inline void require_floats(size_t length, Count needed) {
  if (Count(length) < needed) panic_get(int64_t(length), int64_t(length));
}

// A zero-filled array of `count` floats. Counts beyond the memory of the
// machine raise MemoryError at once instead of being committed page by page.
std::vector<double> zero_floats(Count count);
// The same for bytes.
void check_allocatable(Count bytes);

// First index >= length read by a scan of a d-by-d flat complex matrix by
// columns (column outer, row inner; real then imaginary part). Only for
// length < 2*d*d.
int64_t first_missing_by_columns(int64_t length, int64_t d);

}  // namespace nimbic::linalg
