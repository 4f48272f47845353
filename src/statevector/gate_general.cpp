// Any number of targets: gather each group of 2^k amplitudes, then write every
// row of the gate (or move them, for a signed permutation).
#include <vector>

#include "common/interrupt.hpp"
#include "common/qubits.hpp"
#include "statevector/gate_kernels.hpp"
#include "statevector/gates.hpp"

namespace nimbic::statevector {

void apply_gate_general_scalar(double* state, int64_t num_qubits, const double* gate, std::span<const uint64_t> offsets,
                               const int64_t* perm, const double* sign) {
  const size_t size = offsets.size();
  const uint64_t mask = offsets[size - 1];
  std::vector<double> ar(size), ai(size);
  InterruptionTicker ticker(uint64_t(1) << 16);
  for_each_group_base(mask, num_qubits, [&](uint64_t b) {
    ticker.tick(size * size);
    for (size_t j = 0; j < size; ++j) {
      ar[j] = state[2 * (b | offsets[j])];
      ai[j] = state[2 * (b | offsets[j]) + 1];
    }
    for (size_t r = 0; r < size; ++r) {
      double* out = state + 2 * (b | offsets[r]);
      if (perm != nullptr) {
        out[0] = sign[r] * ar[perm[r]];
        out[1] = sign[r] * ai[perm[r]];
      } else {
        const double* row = gate + 2 * r * size;
        double re = 0.0, im = 0.0;
        for (size_t c = 0; c < size; ++c) {
          re += row[2 * c] * ar[c] - row[2 * c + 1] * ai[c];
          im += row[2 * c] * ai[c] + row[2 * c + 1] * ar[c];
        }
        out[0] = re;
        out[1] = im;
      }
    }
  });
}

void apply_gate_general(double* state, int64_t num_qubits, const double* gate, std::span<const int64_t> targets) {
  const std::vector<uint64_t> offsets = group_offsets(targets, num_qubits);
  const size_t size = offsets.size();
  std::vector<double> sign(size, 1.0);
  std::vector<int64_t> perm(size, -1);
  const bool permutation = signed_permutation(gate, size, perm.data(), sign.data());
  const int64_t* p = permutation ? perm.data() : nullptr;
  const double* sg = permutation ? sign.data() : nullptr;
  if (!apply_gate_general_avx2(state, num_qubits, gate, offsets, p, sg))
    apply_gate_general_scalar(state, num_qubits, gate, offsets, p, sg);
}

}  // namespace nimbic::statevector
