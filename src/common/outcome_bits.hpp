// Measurement outcomes on a target list, shared by the state-vector and the
// density-matrix measurements: outcome m places bit (k-1-p) of m on the
// basis-index bit of target p.
#pragma once

#include <cstdint>
#include <span>

namespace nimbic {

inline constexpr uint64_t kNoIndex = UINT64_MAX;

struct OutcomeBits {
  uint64_t mask = 0;     // bits the targets occupy
  uint64_t pattern = 0;  // bits the outcome places on them (0 when invalid)
  bool valid = false;    // 0 <= outcome < 2^k
};

// Targets are distinct and in range (checked by the caller).
OutcomeBits outcome_bits(std::span<const int64_t> targets, int64_t outcome, int64_t num_qubits);

// Smallest x >= lo below 2^bits (bits <= 63) with (x & mask) == pattern, or
// kNoIndex. `pattern` lies inside `mask`.
uint64_t next_matching(uint64_t lo, uint64_t mask, uint64_t pattern, int64_t bits);

}  // namespace nimbic
