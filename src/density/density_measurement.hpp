// Computational-basis measurement of chosen qubits of a density matrix. The
// outcome of basis index b for targets t0..t(k-1) has the bit of t0 as its
// most significant bit; randomness always comes from the caller's u.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace nimbic::density {

// Entry o: the sum of the real parts of the diagonal entries whose basis
// index has outcome o (not normalised: the entries sum to the trace).
std::vector<double> density_probabilities(std::span<const double> rho, std::span<const int64_t> targets,
                                          int64_t num_qubits);

// P rho P / tr(P rho P) for the projector P onto `outcome`, as a new matrix;
// all zeros when the outcome has probability <= 0 or lies outside [0, 2^k).
std::vector<double> density_collapse(std::span<const double> rho, std::span<const int64_t> targets, int64_t outcome,
                                     int64_t num_qubits);

// The errors `density_collapse` raises for these arguments (0 <= n <= 63),
// without building its result.
void check_density_collapse(std::span<const double> rho, std::span<const int64_t> targets, int64_t outcome,
                            int64_t num_qubits);

// `density_collapse` written over rho itself, which holds 2*4^n floats and
// passed `check_density_collapse`.
void collapse_density_in_place(std::span<double> rho, std::span<const int64_t> targets, int64_t outcome,
                               int64_t num_qubits);

}  // namespace nimbic::density
