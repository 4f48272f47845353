// Sums of |amplitude|^2 per measurement outcome, in an order fixed by the
// data alone. The group bases (indices with every target bit clear) are cut
// into chunks of `chunk` consecutive bases; a chunk sums each outcome's
// amplitudes in increasing index from 0.0, and an outcome's total adds its
// chunk sums from 0.0 in chunk order. Neither the thread count nor the
// instruction set changes a bit. A state of at most `chunk` groups gets
// exactly the documented single pass; larger ones differ from it by the
// regrouping of one sum, within a few ulps (the floating-point rule for
// reductions).
#pragma once

#include <cstdint>
#include <span>

namespace nimbic::statevector {

inline constexpr uint64_t kChunkBases = 4096;

// Fills `probs` (2^k zeros) with the probability of every outcome of the
// targets with these group offsets (2^k, their OR last). The state holds 2^n
// amplitudes.
void outcome_sums(const double* state, int64_t num_qubits, std::span<const uint64_t> offsets, double* probs,
                  uint64_t chunk = kChunkBases);

// The chunk sums outcome_sums adds up: chunk c's sum for outcome j at
// sums[c * 2^k + j], for the min(chunk, bases) bases of each chunk.
void outcome_chunk_sums(const double* state, int64_t num_qubits, std::span<const uint64_t> offsets, double* sums,
                        uint64_t chunk = kChunkBases);

// The probability of the one outcome whose target bits (`mask`) equal
// `pattern`, with the bits outcome_sums gives it. Reads only that outcome's
// amplitudes.
double outcome_sum(const double* state, int64_t num_qubits, uint64_t mask, uint64_t pattern,
                   uint64_t chunk = kChunkBases);

}  // namespace nimbic::statevector
