// Group bases numbered by their rank: base i is the i-th number below 2^bits
// (in increasing order) whose bits avoid `mask`. A split hands each thread a
// range of ranks, and every base is visited exactly as in the one-thread walk.
#pragma once

#include <bit>
#include <cstdint>

#include "common/qubits.hpp"

namespace nimbic::density {

// Number of group bases: 2^(bits - popcount(mask)), mask inside the low `bits` bits (bits <= 62).
inline uint64_t group_base_count(uint64_t mask, int64_t bits) { return uint64_t(1) << (bits - std::popcount(mask)); }

// Visits the bases of rank begin .. end-1 in increasing order.
template <class Visit>
inline void for_each_group_base_between(uint64_t mask, int64_t bits, uint64_t begin, uint64_t end, Visit&& visit) {
  if (begin >= end) return;
  const uint64_t free_bits = ((uint64_t(1) << bits) - 1) & ~mask;
  uint64_t b = deposit_bits(begin, free_bits);
  for (uint64_t i = begin;;) {
    visit(b);
    if (++i == end) break;
    b = ((b | mask) + 1) & free_bits;
  }
}

}  // namespace nimbic::density
