#include "common/huge_pages.hpp"

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <cstdint>

namespace nimbic {

void prefer_huge_pages([[maybe_unused]] const void* data, [[maybe_unused]] size_t bytes) {
#if defined(MADV_HUGEPAGE)
  constexpr uintptr_t kPage = 4096;
  const auto begin = reinterpret_cast<uintptr_t>(data);
  const uintptr_t end = begin + bytes;
  const uintptr_t first = (begin + kPage - 1) & ~(kPage - 1), last = end & ~(kPage - 1);
  if (bytes >= (size_t(4) << 20) && last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

}  // namespace nimbic
