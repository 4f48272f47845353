// Qubit numbering shared by every dense kernel: qubit q is bit (n-1-q) of a
// basis index (qubit 0 is the most significant bit), and for an operator on a
// target list the first target is the most significant bit of the operator's
// index.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace nimbic {

// Raises the qubit errors unless every target lies in [0, n) and none repeats.
void check_targets(std::span<const int64_t> targets, int64_t num_qubits);
void check_qubit(int64_t qubit, int64_t num_qubits);

// Bit of the basis index that qubit `q` occupies; 0 when (n-1-q) lies
// outside [0, 63].
inline uint64_t qubit_bit(int64_t q, int64_t num_qubits) {
  const int64_t shift = num_qubits - 1 - q;
  return (shift < 0 || shift > 63) ? 0 : uint64_t(1) << shift;
}

// Floats of a state of n qubits, 2^(n+1); INT64_MAX when that does not fit,
// so that any real array counts as too short.
inline int64_t state_floats(int64_t num_qubits) {
  return (num_qubits < 0 || num_qubits > 61) ? INT64_MAX : int64_t(2) << num_qubits;
}

// Group offsets of an operator on `targets`: offset(i) has the bit of target p
// set when bit (k-1-p) of i is set. Returns 2^k offsets; their OR is the
// target mask.
std::vector<uint64_t> group_offsets(std::span<const int64_t> targets, int64_t num_qubits);

// Deposits the low bits of `value` into the set bits of `mask`, lowest
// first: the value-th number (from 0) whose bits all lie in `mask`.
inline uint64_t deposit_bits(uint64_t value, uint64_t mask) {
  uint64_t out = 0;
  for (uint64_t bit = 1; mask != 0 && bit != 0; bit <<= 1) {
    const uint64_t low = mask & (~mask + 1);
    if (value & bit) out |= low;
    mask &= mask - 1;
  }
  return out;
}

// Visits every group base b < 2^n with (b & mask) == 0 in increasing order.
// `mask` must have popcount(mask) bits below 2^n.
template <class Visit>
inline void for_each_group_base(uint64_t mask, int64_t num_qubits, Visit&& visit) {
  const uint64_t free_bits = (num_qubits >= 64 ? ~uint64_t(0) : (uint64_t(1) << num_qubits) - 1) & ~mask;
  // Enumerate the submasks of free_bits in increasing order.
  uint64_t b = 0;
  while (true) {
    visit(b);
    if (b == free_bits) break;
    b = ((b | mask) + 1) & free_bits;
  }
}

}  // namespace nimbic
