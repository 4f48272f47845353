// Computational-basis measurement of chosen qubits of a state vector. The
// outcome of basis index i for targets t0..t(k-1) has the bit of t0 as its
// most significant bit. Randomness always comes from the caller's u.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace nimbic::statevector {

// Probability of each of the 2^k outcomes (unnormalised: sums to |psi|^2).
std::vector<double> state_probabilities(std::span<const double> state, std::span<const int64_t> targets,
                                        int64_t num_qubits);

// The state projected onto `outcome` and renormalised, as a new array; all
// zeros when the outcome has probability 0 or lies outside [0, 2^k).
std::vector<double> collapse_state(std::span<const double> state, std::span<const int64_t> targets, int64_t outcome,
                                   int64_t num_qubits);

// Projects `state` (exactly 2^(n+1) floats, validated targets) onto
// `outcome` in [0, 2^k) in place, given that outcome's probability as
// state_probabilities computed it: the result is collapse_state's, bit for
// bit, since that probability is the very sum collapse_state forms.
void collapse_in_place(std::span<double> state, std::span<const int64_t> targets, int64_t outcome, double probability,
                       int64_t num_qubits);

// Checks that `state` holds 2^(n+1) floats for a measurement of n qubits
// (read order: the probability pass reads every float).
void check_measured_state(std::span<const double> state, std::span<const int64_t> targets, int64_t num_qubits);

}  // namespace nimbic::statevector
