// split_work for long kernels of calls that may stop: the items go in slices
// of a few milliseconds of work, split over threads one after the other, with
// a stop check (interruption_point) on the calling thread between slices.
// Calls that cannot stop (no check installed: in-place methods, the native
// checks) split all items at once, sparing a thread start and join per
// slice. Every item is computed by the same code as in one split_work call,
// so the results are the same bits.
#pragma once

#include <algorithm>
#include <cstdint>

#include "common/interrupt.hpp"
#include "common/split_work.hpp"

namespace nimbic {

// `cost` is the work of one item in the slicing (item_work when 0), for
// kernels whose items cost more than the split's measure says.
template <class Body>
void split_work_interruptible(uint64_t count, uint64_t item_work, uint64_t align, Body&& body, uint64_t cost = 0) {
  if (!stop_check_installed()) {
    split_work(count, item_work, align, body);
    return;
  }
  constexpr uint64_t kSliceWork = uint64_t(1) << 22;
  const uint64_t per_item = std::max<uint64_t>(cost != 0 ? cost : item_work, 1);
  const uint64_t slice = std::max<uint64_t>(align, kSliceWork / per_item / align * align);
  for (uint64_t first = 0; first < count; first += slice) {
    if (first > 0) interruption_point();
    split_work(std::min(slice, count - first), item_work, align,
               [&](unsigned part, uint64_t begin, uint64_t end) { body(part, first + begin, first + end); });
  }
}

}  // namespace nimbic
