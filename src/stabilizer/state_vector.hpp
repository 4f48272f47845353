// The dense state vector of the stabilizer state a flattened tableau
// describes (rows of width 2n+1: n x bits, n z bits, the sign; only the
// stabilizer rows n..2n-1 are read), up to a global phase: amplitude c is
// real and positive for the lowest basis index c in the support.
//
// The result is bit-for-bit the one of the dense reference construction:
// M = product over the stabilizer rows, in order, of (I + s*S), where S is the
// row's Pauli string and s its sign; take the first column of M whose squared
// norm exceeds 1e-18 and multiply it by 1/sqrt(squared norm). Every entry of
// M is an exact Gaussian integer with +0.0 for zero, so the column can be
// computed directly instead of multiplying 2^n-by-2^n matrices.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace nimbic::stabilizer {

// 2^(n+1) floats, interleaved; [1, 0] for n = 0 and empty for n < 0.
std::vector<double> clifford_state_vector(std::span<const int64_t> tableau, int64_t num_qubits);

}  // namespace nimbic::stabilizer
