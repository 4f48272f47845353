#include "common/memory.hpp"

#include <algorithm>

#include "common/memory_limits.hpp"
#include "common/panic.hpp"

namespace nimbic {

namespace {

// Requests up to this size skip the usage reads (a few file reads cost about
// as much as touching this much memory does).
constexpr Count kUncheckedBytes = Count(16) << 20;

}  // namespace

Count memory_bytes() {
  static const Count total = memory_limits::physical_and_swap();
  return total;
}

Count available_memory() {
  const Count room = std::min({memory_bytes(), memory_limits::rlimit_room(), memory_limits::cgroup_room()});
  return std::max<Count>(room, 0);
}

void check_allocatable(Count bytes) {
  if (bytes > kUncheckedBytes && bytes > available_memory()) panic_out_of_memory();
}

void check_result(Count count, Count native_bytes, Count list_bytes) {
  // Divided rather than multiplied: counts reach 2^126.
  const Count item = native_bytes + list_bytes;
  if (count > kUncheckedBytes / item && count > available_memory() / item) panic_out_of_memory();
}

std::vector<double> zero_floats(Count count) {
  if (count <= 0) return {};
  check_result(count);
  return zeroed<double>(size_t(count));
}

}  // namespace nimbic
