// Sizes and checks shared by the density-matrix code: a matrix of n qubits is
// 2^n x 2^n complex entries, row-major and interleaved (2*4^n floats).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace nimbic::density {

// Floats of a density matrix of n qubits, 2*4^n; INT64_MAX when that does not
// fit (n < 0 or n > 30), so that any real array counts as too short.
inline int64_t density_floats(int64_t num_qubits) {
  return (num_qubits < 0 || num_qubits > 30) ? INT64_MAX : int64_t(2) << (2 * num_qubits);
}

// The matrix an in-place method rewrites must hold exactly 2*4^n floats.
// Shorter: the index error at its first missing float. Longer: the index
// error of reading the 2*4^n-float result past its end while copying it over
// the whole matrix.
void check_density_matrix(std::span<const double> rho, int64_t num_qubits);

// Every float 0.0, then float 0 1.0: |0...0><0...0| over a non-empty matrix.
// The fill is split over threads.
void zero_state_into(std::span<double> rho);

// "array.get: index out of range (i,a.len):<index>, <length>" for an index
// that may not fit in 64 signed bits.
[[noreturn]] void panic_get_wide(unsigned __int128 index, int64_t length);

// The local pattern of every basis index l in [0, 2^n): the bits of the
// targets in list order, the first target the most significant bit.
std::vector<uint64_t> target_patterns(std::span<const int64_t> targets, int64_t num_qubits);

// 2 * count^2 as a float count; MemoryError when no array of that
// many floats can exist.
int64_t square_matrix_floats(int64_t dim);

}  // namespace nimbic::density
