// The kernel variants behind apply_gate_1q, apply_gate_2q_adjacent and
// apply_gate_general. The scalar kernels are the reference; each AVX2 kernel
// performs the same floating-point operations in the same order, two
// amplitude groups per register. An AVX2 kernel returns false, having done
// nothing, when the CPU lacks AVX2 or the state holds too few groups (the
// caller then runs the scalar kernel). Callers have validated everything, as
// for the public kernels.
#pragma once

#include <cstdint>
#include <span>

namespace nimbic::statevector {

void apply_gate_1q_scalar(double* state, int64_t num_qubits, int64_t target, const double* gate);
// Needs two amplitude pairs at least (n >= 2).
bool apply_gate_1q_avx2(double* state, int64_t num_qubits, int64_t target, const double* gate);

// `perm` / `sign` are the signed-permutation tables, or null for the dense path.
void apply_gate_2q_adjacent_scalar(double* state, int64_t num_qubits, int64_t high_target, const double* gate,
                                   const int64_t* perm, const double* sign);
// Needs two groups of four amplitudes at least (n >= 3).
bool apply_gate_2q_adjacent_avx2(double* state, int64_t num_qubits, int64_t high_target, const double* gate,
                                 const int64_t* perm, const double* sign);

// `offsets` are the 2^k group offsets (their OR, the last one, is the mask).
void apply_gate_general_scalar(double* state, int64_t num_qubits, const double* gate, std::span<const uint64_t> offsets,
                               const int64_t* perm, const double* sign);
// Needs two groups at least (more qubits than targets).
bool apply_gate_general_avx2(double* state, int64_t num_qubits, const double* gate, std::span<const uint64_t> offsets,
                             const int64_t* perm, const double* sign);

}  // namespace nimbic::statevector
