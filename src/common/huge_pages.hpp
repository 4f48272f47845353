// Large arrays ask for transparent huge pages, as numpy does for its large
// arrays: the kernels stream the whole buffer, and with 4 KiB pages their TLB
// misses and cache placement (and speed) vary from one allocation to the
// next, and committing and releasing a GiB of them takes tens of
// milliseconds each way. Only a hint, given while the memory is still
// untouched so its pages fault in large. Linux only; elsewhere the
// allocator's pages serve.
#pragma once

#include <cstddef>

#include "common/buffer_field.hpp"

namespace nimbic {

// Applies to blocks of at least 4 MiB (the whole pages inside them).
void prefer_huge_pages(const void* data, size_t bytes);
inline void prefer_huge_pages(const BufferField& field) {
  prefer_huge_pages(field.data, size_t(field.length) * sizeof(double));
}

}  // namespace nimbic
