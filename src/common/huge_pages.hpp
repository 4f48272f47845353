// Large object buffers ask for transparent huge pages, as numpy does for its
// large arrays: the kernels stream the whole buffer, and with 4 KiB pages
// their TLB misses and cache placement (and speed) vary from one allocation
// to the next. Only a hint, given while the buffer is still untouched so its
// pages fault in large. Linux only; elsewhere the allocator's pages serve.
#pragma once

#include "common/buffer_field.hpp"

namespace nimbic {

// Applies to fields of at least 2^19 elements (4 MiB).
void prefer_huge_pages(const BufferField& field);

}  // namespace nimbic
