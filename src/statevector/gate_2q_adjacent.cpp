// Two adjacent targets (q-1, q): groups i, i+s, i+2s, i+3s with s the bit of q.
#include "common/qubits.hpp"
#include "statevector/gate_kernels.hpp"
#include "statevector/gates.hpp"

namespace nimbic::statevector {

void apply_gate_2q_adjacent_scalar(double* state, int64_t num_qubits, int64_t high_target, const double* gate,
                                   const int64_t* perm, const double* sign) {
  double gr[16], gi[16];
  for (int e = 0; e < 16; ++e) {
    gr[e] = gate[2 * e];
    gi[e] = gate[2 * e + 1];
  }
  const uint64_t s = qubit_bit(high_target, num_qubits);
  const uint64_t dim = uint64_t(1) << num_qubits;
  for (uint64_t base = 0; base < dim; base += 4 * s) {
    for (uint64_t i = base; i < base + s; ++i) {
      double* p[4] = {state + 2 * i, state + 2 * (i + s), state + 2 * (i + 2 * s), state + 2 * (i + 3 * s)};
      double ar[4], ai[4];
      for (int j = 0; j < 4; ++j) {
        ar[j] = p[j][0];
        ai[j] = p[j][1];
      }
      if (perm != nullptr) {
        for (int r = 0; r < 4; ++r) {
          p[r][0] = sign[r] * ar[perm[r]];
          p[r][1] = sign[r] * ai[perm[r]];
        }
      } else {
        for (int r = 0; r < 4; ++r) {
          double re = 0.0, im = 0.0;
          for (int c = 0; c < 4; ++c) {
            re += gr[4 * r + c] * ar[c] - gi[4 * r + c] * ai[c];
            im += gr[4 * r + c] * ai[c] + gi[4 * r + c] * ar[c];
          }
          p[r][0] = re;
          p[r][1] = im;
        }
      }
    }
  }
}

void apply_gate_2q_adjacent(double* state, int64_t num_qubits, int64_t high_target, const double* gate) {
  int64_t perm[4];
  double sign[4];
  const bool permutation = signed_permutation(gate, 4, perm, sign);
  const int64_t* p = permutation ? perm : nullptr;
  const double* sg = permutation ? sign : nullptr;
  if (!apply_gate_2q_adjacent_avx2(state, num_qubits, high_target, gate, p, sg))
    apply_gate_2q_adjacent_scalar(state, num_qubits, high_target, gate, p, sg);
}

}  // namespace nimbic::statevector
