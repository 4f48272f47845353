#include "linalg/sizes.hpp"

#include <sys/sysinfo.h>

namespace nimbic::linalg {

namespace {

// Physical memory plus swap, in bytes; what any single array must fit in.
Count memory_bytes() {
  static const Count total = [] {
    struct sysinfo info {};
    if (sysinfo(&info) != 0) return Count(1) << 62;
    return (Count(info.totalram) + Count(info.totalswap)) * Count(info.mem_unit);
  }();
  return total;
}

Count ceil_div(Count num, Count den) { return num <= 0 ? 0 : (num + den - 1) / den; }

}  // namespace

void check_allocatable(Count bytes) {
  if (bytes > memory_bytes()) panic_out_of_memory();
}

std::vector<double> zero_floats(Count count) {
  if (count <= 0) return {};
  if (count > memory_bytes() / 8) panic_out_of_memory();
  return std::vector<double>(size_t(count), 0.0);
}

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
