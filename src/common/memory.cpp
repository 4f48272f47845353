#include "common/memory.hpp"

#include <sys/sysinfo.h>

#include "common/panic.hpp"

namespace nimbic {

Count memory_bytes() {
  static const Count total = [] {
    struct sysinfo info{};
    if (sysinfo(&info) != 0) return Count(1) << 62;
    return (Count(info.totalram) + Count(info.totalswap)) * Count(info.mem_unit);
  }();
  return total;
}

void check_allocatable(Count bytes) {
  if (bytes > memory_bytes()) panic_out_of_memory();
}

void check_result(Count count, Count native_bytes, Count list_bytes) {
  // Divided rather than multiplied: counts reach 2^126.
  if (count > memory_bytes() / (native_bytes + list_bytes)) panic_out_of_memory();
}

std::vector<double> zero_floats(Count count) {
  if (count <= 0) return {};
  check_result(count);
  return std::vector<double>(size_t(count), 0.0);
}

}  // namespace nimbic
