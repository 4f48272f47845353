#include "scale/placed_gate.hpp"

#include <algorithm>
#include <array>
#include <string>

#include "common/panic.hpp"
#include "common/qubits.hpp"
#include "statevector/gate_plan.hpp"
#include "statevector/gates.hpp"
#include "statevector/measurement.hpp"
#include "statevector/outcome_sums.hpp"

namespace nimbic::scale {

using statevector::GatePlan;
using statevector::PlanKind;

namespace {

// The number of qubits of a share of `floats` floats (a power of two, at
// least 2).
int64_t share_qubits(size_t floats) {
  if (floats < 2 || (floats & (floats - 1)) != 0)
    panic("share length is not a power of two: " + std::to_string(floats));
  return int64_t(__builtin_ctzll(uint64_t(floats))) - 1;
}

// The gate and target order the single-process dispatch runs: a descending
// adjacent pair as the exchanged gate on the ascending pair.
struct Dispatched {
  std::array<double, 32> exchanged{};
  const double* gate = nullptr;
  bool swapped = false;
};

Dispatched dispatch(std::span<const double> gate, std::span<const int64_t> targets, int64_t num_qubits) {
  const size_t k = targets.size();
  check_targets(targets, num_qubits);
  require_length(int64_t(gate.size()), k <= 30 ? int64_t(2) << (2 * k) : INT64_MAX);
  Dispatched d;
  d.gate = gate.data();
  if (k == 2 && targets[0] == targets[1] + 1) {
    d.exchanged = statevector::swap_2q_basis(gate);
    d.gate = d.exchanged.data();
    d.swapped = true;
  }
  return d;
}

int64_t kind_code(PlanKind kind) {
  switch (kind) {
    case PlanKind::kIdentity:
      return 0;
    case PlanKind::kDiagonal:
      return 1;
    case PlanKind::kPermutation:
      return 2;
    case PlanKind::kDense:
      return 3;
  }
  return 3;
}

// The part of `plan` (over all n physical positions) that process `rank`
// applies to its share of m qubits: controls on global positions decide
// whether it applies at all, a diagonal keeps the entries of its global
// bits. False when nothing is left to do.
bool localize(GatePlan& plan, int64_t m, uint64_t rank) {
  if (plan.kind == PlanKind::kIdentity) return false;
  const uint64_t local = (uint64_t(1) << m) - 1, rank_bits = rank << m;
  if (((rank_bits ^ plan.control_pattern) & plan.control_mask & ~local) != 0) return false;
  plan.control_mask &= local;
  plan.control_pattern &= local;
  const uint64_t global_targets = plan.offsets.back() & ~local;
  if (global_targets == 0) return true;
  if (plan.kind != PlanKind::kDiagonal) panic("a global position is a target of a non-diagonal gate");
  std::vector<uint64_t> offsets;
  std::vector<double> entries;
  bool all_one = true;
  for (size_t j = 0; j < plan.offsets.size(); ++j) {
    if ((plan.offsets[j] & ~local) != (rank_bits & global_targets)) continue;
    offsets.push_back(plan.offsets[j] & local);
    entries.insert(entries.end(), {plan.entries[2 * j], plan.entries[2 * j + 1]});
    all_one = all_one && plan.entries[2 * j] == 1.0 && plan.entries[2 * j + 1] == 0.0;
  }
  plan.offsets = std::move(offsets);
  plan.entries = std::move(entries);
  return !all_one;
}

}  // namespace

std::vector<int64_t> gate_plan(std::span<const double> gate, std::span<const int64_t> targets, int64_t num_qubits) {
  const size_t k = targets.size();
  std::vector<int64_t> out(k + 1, 0);
  if (num_qubits <= 0 || k == 0) return out;
  const Dispatched d = dispatch(gate, targets, num_qubits);
  std::vector<int64_t> order(targets.begin(), targets.end());
  if (d.swapped) std::swap(order[0], order[1]);
  const GatePlan plan = statevector::plan_gate(d.gate, order, num_qubits);
  out[0] = kind_code(plan.kind);
  if (plan.kind == PlanKind::kIdentity) return out;
  for (size_t p = 0; p < k; ++p) out[p + 1] = (plan.control_mask & qubit_bit(targets[p], num_qubits)) == 0 ? 1 : 0;
  return out;
}

void apply_placed_gate(std::span<double> local, std::span<const double> gate, std::span<const int64_t> targets,
                       std::span<const int64_t> positions, int64_t num_qubits, int64_t rank) {
  const size_t k = targets.size();
  if (num_qubits <= 0 || k == 0) return;
  const Dispatched d = dispatch(gate, targets, num_qubits);
  if (positions.size() != k) panic("positions and targets differ in length");
  check_targets(positions, num_qubits);
  const int64_t m = share_qubits(local.size());
  if (m > num_qubits || rank < 0 || (uint64_t(rank) >> (num_qubits - m)) != 0) panic("share does not match num_qubits");
  std::vector<int64_t> order(positions.begin(), positions.end());
  if (d.swapped) std::swap(order[0], order[1]);
  GatePlan plan = statevector::plan_gate(d.gate, order, num_qubits);
  if (!localize(plan, m, uint64_t(rank))) return;
  statevector::apply_plan(local.data(), m, plan);
}

void chunk_sums(std::span<double> local, std::span<const int64_t> targets, std::span<double> sums) {
  const int64_t m = share_qubits(local.size());
  check_targets(targets, m);
  const std::vector<uint64_t> offsets = group_offsets(targets, m);
  const uint64_t count = uint64_t(1) << (m - int64_t(targets.size()));
  const uint64_t chunks = count / std::min(statevector::kChunkBases, count);
  if (sums.size() != chunks * offsets.size()) panic("sums: expected " + std::to_string(chunks * offsets.size()));
  statevector::outcome_chunk_sums(local.data(), m, offsets, sums.data());
}

void continued_sums(std::span<double> local, std::span<const int64_t> targets, std::span<double> sums) {
  const int64_t m = share_qubits(local.size());
  check_targets(targets, m);
  const std::vector<uint64_t> offsets = group_offsets(targets, m);
  if (sums.size() != offsets.size()) panic("sums: expected " + std::to_string(offsets.size()));
  const double* amp = local.data();
  double* acc = sums.data();
  // The same chain as a chunk of the single-process sums: bases in
  // increasing order, each outcome's amplitude added as norm + running sum.
  for_each_group_base(offsets.back(), m, [&](uint64_t b) {
    for (size_t j = 0; j < offsets.size(); ++j) {
      const uint64_t i = b | offsets[j];
      acc[j] = (amp[2 * i] * amp[2 * i] + amp[2 * i + 1] * amp[2 * i + 1]) + acc[j];
    }
  });
}

void collapse_share(std::span<double> local, std::span<const int64_t> targets, int64_t outcome, double probability) {
  const int64_t m = share_qubits(local.size());
  check_targets(targets, m);
  if (outcome < 0 || (uint64_t(outcome) >> targets.size()) != 0) panic("outcome out of range");
  statevector::collapse_in_place(local, targets, outcome, probability, m);
}

}  // namespace nimbic::scale
