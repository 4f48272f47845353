#include "common/outcome_bits.hpp"

#include "common/qubits.hpp"

namespace nimbic {

OutcomeBits outcome_bits(std::span<const int64_t> targets, int64_t outcome, int64_t num_qubits) {
  OutcomeBits ob;
  const size_t k = targets.size();
  ob.valid = outcome >= 0 && (k >= 63 || uint64_t(outcome) < (uint64_t(1) << k));
  for (size_t p = 0; p < k; ++p) {
    const uint64_t bit = qubit_bit(targets[p], num_qubits);
    ob.mask |= bit;
    if (ob.valid && ((uint64_t(outcome) >> (k - 1 - p)) & 1)) ob.pattern |= bit;
  }
  return ob;
}

uint64_t next_matching(uint64_t lo, uint64_t mask, uint64_t pattern, int64_t bits) {
  const uint64_t all = (uint64_t(1) << bits) - 1;
  if (lo > all) return kNoIndex;
  const uint64_t free_bits = all & ~mask;
  const uint64_t differ = (lo ^ pattern) & mask;
  if (differ == 0) return lo;
  const int h = 63 - __builtin_clzll(differ);   // highest differing target bit
  const uint64_t low = (uint64_t(2) << h) - 1;  // bits h and below
  const uint64_t kept = lo & free_bits & ~low;
  // The pattern is larger at h: keep lo's free bits above h, clear the rest.
  if (pattern & (uint64_t(1) << h)) return pattern | kept;
  // Smaller at h: carry into the lowest free bit above h that lo leaves clear.
  const uint64_t next = ((kept | ~free_bits | low) + 1) & free_bits;
  return next == 0 ? kNoIndex : (pattern | next);
}

}  // namespace nimbic
