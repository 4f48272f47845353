// Single-target kernel: amplitude pairs (i, i + s) with s the target's bit.
#include "common/qubits.hpp"
#include "statevector/gate_kernels.hpp"
#include "statevector/gates.hpp"

namespace nimbic::statevector {

void apply_gate_1q_scalar(double* state, int64_t num_qubits, int64_t target, const double* gate) {
  const double g00r = gate[0], g00i = gate[1], g01r = gate[2], g01i = gate[3];
  const double g10r = gate[4], g10i = gate[5], g11r = gate[6], g11i = gate[7];
  const uint64_t s = qubit_bit(target, num_qubits);
  if (s == 0) return;
  const uint64_t dim = uint64_t(1) << num_qubits;
  for (uint64_t base = 0; base < dim; base += 2 * s) {
    for (uint64_t i = base; i < base + s; ++i) {
      double* p0 = state + 2 * i;
      double* p1 = state + 2 * (i + s);
      const double a0r = p0[0], a0i = p0[1], a1r = p1[0], a1i = p1[1];
      p0[0] = (g00r * a0r - g00i * a0i) + (g01r * a1r - g01i * a1i);
      p0[1] = (g00r * a0i + g00i * a0r) + (g01r * a1i + g01i * a1r);
      p1[0] = (g10r * a0r - g10i * a0i) + (g11r * a1r - g11i * a1i);
      p1[1] = (g10r * a0i + g10i * a0r) + (g11r * a1i + g11i * a1r);
    }
  }
}

void apply_gate_1q(double* state, int64_t num_qubits, int64_t target, const double* gate) {
  if (!apply_gate_1q_avx2(state, num_qubits, target, gate)) apply_gate_1q_scalar(state, num_qubits, target, gate);
}

}  // namespace nimbic::statevector
