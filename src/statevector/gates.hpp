// Gate application on dense state vectors, in place. A gate on k targets is a
// 2^k x 2^k complex matrix, row-major and interleaved; row r, column c maps
// the target pattern c to the pattern r.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace nimbic::statevector {

// Validates targets, gate and state length, then runs the gate's plan
// (gate_plan.hpp). With n <= 0 or no targets nothing happens. `as_result`:
// the state becomes a list of floats, refused (MemoryError) before the
// kernel runs when that list cannot fit.
void apply_gate_into(std::span<double> state, int64_t num_qubits, std::span<const double> gate,
                     std::span<const int64_t> targets, bool as_result = false);

// Module function: `apply_gate_into` on (a copy of) `state`, returned.
std::vector<double> apply_gate(std::vector<double> state, std::span<const double> gate, int64_t num_qubits,
                               std::span<const int64_t> targets);

// The 4x4 gate with the roles of its two qubits exchanged.
std::array<double, 32> swap_2q_basis(std::span<const double> gate);

// Row-by-row signed-permutation analysis: each row holds exactly one entry
// with re^2 + im^2 > 1e-18, that entry real (|im| <= 1e-15) and of unit
// magnitude (||re| - 1| <= 1e-12). Fills `perm` and `sign` for every row when
// all qualify.
bool signed_permutation(const double* gate, size_t size, int64_t* perm, double* sign);

}  // namespace nimbic::statevector
