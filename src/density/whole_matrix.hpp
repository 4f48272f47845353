// Functions on whole matrices given as lists: |psi><psi| of a state, the
// conjugation U A U^dagger, a Kraus channel as a sum of such conjugations,
// and an operator on some qubits lifted to the full 2^n x 2^n matrix. All
// matrices are row-major and interleaved; every function returns a new
// array and leaves its arguments alone.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace nimbic::density {

// g = len(state) / 2 amplitudes (a trailing odd float is ignored): the g x g
// matrix psi_i conj(psi_j), unnormalised.
std::vector<double> state_to_density(std::span<const double> state);

// out (g x g) = |psi><psi| of the g amplitudes at `amps`.
void outer_product_into(double* out, const double* amps, uint64_t g);

// U A U^dagger for dim x dim matrices; empty for dim < 1. Zero entries of U
// (and of U A) are skipped, which makes projectors and permutations cheap.
std::vector<double> sandwich(std::span<const double> a, std::span<const double> u, int64_t dim);

// sum over k in order of sandwich(rho, K_k, dim), K_k the k-th slice of
// 2*dim^2 floats of ops; the zero matrix for num_ops <= 0.
std::vector<double> channel(std::span<const double> rho, std::span<const double> ops, int64_t num_ops, int64_t dim);

// The op_dim x op_dim operator on `targets` (op_dim = 2^k) tensored with the
// identity on the other qubits, as a 2^n x 2^n matrix.
std::vector<double> embed_operator(std::span<const double> op, int64_t op_dim, std::span<const int64_t> targets,
                                   int64_t num_qubits);

}  // namespace nimbic::density
