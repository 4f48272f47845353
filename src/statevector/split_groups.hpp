// How the state-vector kernels split their groups over threads: in slices
// (split_work_interruptible), so that a module call working on a copy can
// stop between slices when its caller asks; in-place methods never stop.
// `cost` is a group's arithmetic in the slicing's measure; it is capped so
// that a slice still holds eight aligned runs of groups for the threads to
// share.
#pragma once

#include <algorithm>
#include <cstdint>

#include "common/split_work_interruptible.hpp"

namespace nimbic::statevector {

template <class Body>
void split_groups(uint64_t count, uint64_t item_work, uint64_t align, uint64_t cost, Body&& body) {
  constexpr uint64_t kSliceWork = uint64_t(1) << 22;  // the slicing's measure of a slice
  const uint64_t cap = std::max<uint64_t>(1, kSliceWork / (8 * align));
  split_work_interruptible(count, item_work, align, body, std::min(std::max(cost, item_work), cap));
}

}  // namespace nimbic::statevector
