// Kraus channels on a density matrix, in place: rho -> sum_k K_k rho K_k^dagger
// with the m operators (each d x d, row-major, interleaved, concatenated)
// acting on a target list (the first target is the most significant bit of
// the operator index). One dispatch picks the cheapest kernel that gives the
// same result: a 0/1 permutation moves entries, diagonal operators scale
// them, everything else applies the channel's superoperator (or, for large
// operators with few terms, the operators one at a time).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace nimbic::density {

// Smallest d >= 1 with 2*d^2 >= count: the dimension of operators stored in
// `count` floats each.
int64_t op_dimension(int64_t count);

// Validates everything (targets, d = 2^k, operator lengths, matrix length),
// then runs one kernel. With n <= 0 or no targets nothing happens.
void channel_subspace_into(std::span<double> rho, int64_t num_operators, int64_t dim, int64_t num_qubits,
                           std::span<const double> operators, std::span<const int64_t> targets);

// ---- kernels: the caller has validated all inputs ----------------------

// K rho K^dagger for the 0/1 operator with K[i][perm[i]] = 1.
void channel_permutation_into(double* rho, int64_t num_qubits, std::span<const int64_t> permutation,
                              std::span<const int64_t> targets);

// Multiplies entry (x|offset(i), y|offset(j)) by factors[i][j] (d x d
// interleaved), which for diagonal operators is sum_k K_k[i][i] conj(K_k[j][j]).
void channel_diagonal_into(double* rho, int64_t num_qubits, std::span<const double> factors,
                           std::span<const int64_t> targets);

// The operators one at a time on every d x d block: A = sum_k (K_k B) K_k^dagger,
// with the operators split into real parts `re` and imaginary parts `im`.
void channel_blocks_into(double* rho, int64_t num_qubits, int64_t num_operators, std::span<const double> re,
                         std::span<const double> im, std::span<const int64_t> targets);

}  // namespace nimbic::density
