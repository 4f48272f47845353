#include <cmath>

#include "common/memory.hpp"
#include "common/panic.hpp"
#include "common/qubits.hpp"
#include "common/thresholds.hpp"
#include "statevector/gate_kernels.hpp"
#include "statevector/gate_plan.hpp"
#include "statevector/gates.hpp"

namespace nimbic::statevector {

void apply_gate_into(std::span<double> state, int64_t num_qubits, std::span<const double> gate,
                     std::span<const int64_t> targets, bool as_result) {
  const size_t k = targets.size();
  if (num_qubits <= 0 || k == 0) return;
  check_targets(targets, num_qubits);
  // The gate is read in full before the state is touched; a short gate fails
  // at its first missing float.
  require_length(int64_t(gate.size()), k <= 30 ? int64_t(2) << (2 * k) : INT64_MAX);
  require_length(int64_t(state.size()), state_floats(num_qubits));
  if (as_result) check_result(Count(state.size()), 0);

  // A descending adjacent pair runs as the exchanged gate on the ascending
  // pair (which fixes the order in which its rows sum their columns).
  std::array<double, 32> exchanged;
  std::array<int64_t, 2> ascending;
  const double* g = gate.data();
  if (k == 2 && targets[0] == targets[1] + 1) {
    exchanged = swap_2q_basis(gate);
    ascending = {targets[1], targets[0]};
    g = exchanged.data();
    targets = ascending;
  }
  apply_plan(state.data(), num_qubits, plan_gate(g, targets, num_qubits));
}

void apply_plan(double* state, int64_t num_qubits, const GatePlan& plan) {
  if (plan.kind == PlanKind::kIdentity) return;
  const Groups groups(num_qubits, plan.offsets, plan.control_mask, plan.control_pattern);
  switch (plan.kind) {
    case PlanKind::kDense:
      if (!dense_avx512(state, groups, plan.entries.data()) && !dense_avx2(state, groups, plan.entries.data()))
        dense_scalar(state, groups, plan.entries.data());
      return;
    case PlanKind::kDiagonal:
      if (!diagonal_avx2(state, groups, plan.entries.data())) diagonal_scalar(state, groups, plan.entries.data());
      return;
    case PlanKind::kPermutation:
      if (!permutation_avx2(state, groups, plan.perm.data(), plan.sign.data()))
        permutation_scalar(state, groups, plan.perm.data(), plan.sign.data());
      return;
    case PlanKind::kIdentity:
      return;
  }
}

std::vector<double> apply_gate(std::vector<double> state, std::span<const double> gate, int64_t num_qubits,
                               std::span<const int64_t> targets) {
  apply_gate_into(state, num_qubits, gate, targets, true);
  return state;
}

std::array<double, 32> swap_2q_basis(std::span<const double> gate) {
  static constexpr int sigma[4] = {0, 2, 1, 3};
  std::array<double, 32> out{};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      const int to = 2 * (sigma[r] * 4 + sigma[c]);
      out[to] = gate[2 * (r * 4 + c)];
      out[to + 1] = gate[2 * (r * 4 + c) + 1];
    }
  return out;
}

bool signed_permutation(const double* gate, size_t size, int64_t* perm, double* sign) {
  for (size_t r = 0; r < size; ++r) {
    int nonzero = 0;
    bool unit_real = false;
    int64_t column = -1;
    double s = 1.0;
    for (size_t c = 0; c < size; ++c) {
      const double x = gate[2 * (r * size + c)];
      const double y = gate[2 * (r * size + c) + 1];
      if (is_nonzero_entry(x, y)) {
        ++nonzero;
        column = int64_t(c);
        unit_real = std::fabs(y) <= kRealTolerance && std::fabs(std::fabs(x) - 1.0) <= kUnitMagnitudeTolerance;
        s = x < 0 ? -1.0 : 1.0;
      }
    }
    if (nonzero != 1 || !unit_real) return false;
    perm[r] = column;
    sign[r] = s;
  }
  return true;
}

}  // namespace nimbic::statevector
