#include "linalg/sizes.hpp"

namespace nimbic::linalg {

namespace {

Count ceil_div(Count num, Count den) { return num <= 0 ? 0 : (num + den - 1) / den; }

}  // namespace

int64_t first_missing_by_columns(int64_t length, int64_t d) {
  const Count len = length;
  const Count last_row = Count(d - 1) * d;  // flat entry of (d-1, 0)
  // Column c reads up to float 2*(last_row + c) + 1: the first column that
  // reaches `length` is where the scan stops.
  const Count c = ceil_div(len - 1 - 2 * last_row, 2);
  // Within it, row r reads floats 2*(r*d + c) and 2*(r*d + c) + 1.
  const Count r = ceil_div(len - 1 - 2 * c, Count(2) * d);
  const Count re = 2 * (r * d + c);
  return int64_t(re >= len ? re : re + 1);
}

}  // namespace nimbic::linalg
