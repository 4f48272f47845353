// The kernel variants behind apply_gate_1q, apply_gate_2q_adjacent and
// apply_gate_general. The scalar kernels are the reference; each AVX2 kernel
// performs the same floating-point operations in the same order, two
// amplitude groups per register, and is used only when the CPU has AVX2 and
// the state holds enough groups (see the `*_fits_avx2` predicates). Callers
// have validated everything, as for the public kernels.
#pragma once

#include <cstdint>
#include <span>

namespace nimbic::statevector {

void apply_gate_1q_scalar(double* state, int64_t num_qubits, int64_t target, const double* gate);
void apply_gate_1q_avx2(double* state, int64_t num_qubits, int64_t target, const double* gate);
// Two amplitude pairs at least (n >= 2).
inline bool gate_1q_fits_avx2(int64_t num_qubits) { return num_qubits >= 2; }

// `perm` / `sign` are the signed-permutation tables, or null for the dense path.
void apply_gate_2q_adjacent_scalar(double* state, int64_t num_qubits, int64_t high_target,
                                   const double* gate, const int64_t* perm, const double* sign);
void apply_gate_2q_adjacent_avx2(double* state, int64_t num_qubits, int64_t high_target,
                                 const double* gate, const int64_t* perm, const double* sign);
// Two groups of four amplitudes at least (n >= 3).
inline bool gate_2q_adjacent_fits_avx2(int64_t num_qubits) { return num_qubits >= 3; }

// `offsets` are the 2^k group offsets (their OR, the last one, is the mask).
void apply_gate_general_scalar(double* state, int64_t num_qubits, const double* gate,
                               std::span<const uint64_t> offsets, const int64_t* perm, const double* sign);
void apply_gate_general_avx2(double* state, int64_t num_qubits, const double* gate,
                             std::span<const uint64_t> offsets, const int64_t* perm, const double* sign);
// Two groups at least (more qubits than targets).
inline bool gate_general_fits_avx2(int64_t num_qubits, size_t num_targets) {
  return num_qubits > int64_t(num_targets);
}

}  // namespace nimbic::statevector
