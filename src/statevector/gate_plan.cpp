#include "statevector/gate_plan.hpp"

#include "common/qubits.hpp"
#include "statevector/gates.hpp"

namespace nimbic::statevector {

namespace {

// The operator a gate applies: the matrix itself, or for a signed
// permutation the exact matrix of its (perm, sign) tables.
struct Operator {
  const double* gate;
  const int64_t* perm;  // null unless a signed permutation
  const double* sign;
  size_t dim;

  double re(size_t r, size_t c) const {
    if (perm) return size_t(perm[r]) == c ? sign[r] : 0.0;
    return gate[2 * (r * dim + c)];
  }
  double im(size_t r, size_t c) const { return perm ? 0.0 : gate[2 * (r * dim + c) + 1]; }
  bool zero(size_t r, size_t c) const { return re(r, c) == 0.0 && im(r, c) == 0.0; }
  bool one(size_t r, size_t c) const { return re(r, c) == 1.0 && im(r, c) == 0.0; }
  bool identity_entry(size_t r, size_t c) const { return r == c ? one(r, c) : zero(r, c); }

  // True when every entry in a row or column whose `bit` differs from `value`
  // is that of the identity.
  bool identity_outside(size_t bit, size_t value) const {
    auto outside = [&](size_t i) { return ((i & bit) != 0) != (value != 0); };
    if (perm) {  // rows outside fixed; a permutation then maps the rest among themselves
      for (size_t r = 0; r < dim; ++r)
        if (outside(r) && !identity_entry(r, size_t(perm[r]))) return false;
      return true;
    }
    for (size_t r = 0; r < dim; ++r)
      for (size_t c = 0; c < dim; ++c)
        if ((outside(r) || outside(c)) && !identity_entry(r, c)) return false;
    return true;
  }
};

// The inverse of the block's embedding: the bits of gate index i outside
// the control bits, packed from the lowest.
size_t extract(size_t i, size_t control_bits) {
  size_t j = 0, out_bit = 1;
  for (size_t bit = 1; bit != 0 && bit <= i; bit <<= 1) {
    if (control_bits & bit) continue;
    if (i & bit) j |= out_bit;
    out_bit <<= 1;
  }
  return j;
}

}  // namespace

GatePlan plan_gate(const double* gate, std::span<const int64_t> targets, int64_t num_qubits) {
  const size_t k = targets.size(), dim = size_t(1) << k;
  std::vector<int64_t> perm;
  std::vector<double> sign;
  bool permutation = false;
  if (k >= 2) {
    perm.assign(dim, -1);
    sign.assign(dim, 1.0);
    permutation = signed_permutation(gate, dim, perm.data(), sign.data());
  }
  const Operator op{gate, permutation ? perm.data() : nullptr, sign.data(), dim};

  GatePlan plan;
  // Controls: gate bits outside whose one value the operator is the identity.
  size_t control_bits = 0, control_values = 0;
  for (size_t p = 0; p < k; ++p) {
    const size_t bit = size_t(1) << p;
    for (size_t value : {size_t(1), size_t(0)}) {
      if (!op.identity_outside(bit, value)) continue;
      control_bits |= bit;
      control_values |= value ? bit : 0;
      break;
    }
  }
  std::vector<int64_t> kept;
  for (size_t p = 0; p < k; ++p) {
    const uint64_t state_bit = qubit_bit(targets[p], num_qubits);
    const size_t bit = size_t(1) << (k - 1 - p);
    if (!(control_bits & bit)) {
      kept.push_back(targets[p]);
    } else {
      plan.control_mask |= state_bit;
      if (control_values & bit) plan.control_pattern |= state_bit;
    }
  }
  plan.offsets = group_offsets(kept, num_qubits);
  const size_t size = plan.offsets.size();
  // Gate index of block index j: j's bits in the free gate bits, lowest
  // first, over the control values.
  std::vector<size_t> embedded(size);
  for (size_t j = 0; j < size; ++j)
    embedded[j] = size_t(deposit_bits(j, (dim - 1) & ~uint64_t(control_bits))) | control_values;
  auto at = [&](size_t j) { return embedded[j]; };

  if (permutation) {
    plan.perm.resize(size);
    plan.sign.resize(size);
    bool fixed = true, all_one = true;
    for (size_t j = 0; j < size; ++j) {
      plan.perm[j] = int64_t(extract(size_t(perm[at(j)]), control_bits));
      plan.sign[j] = sign[at(j)];
      fixed = fixed && plan.perm[j] == int64_t(j);
      all_one = all_one && plan.sign[j] == 1.0;
    }
    if (fixed && all_one) return GatePlan{};
    if (!fixed) {
      plan.kind = PlanKind::kPermutation;
      return plan;
    }
    plan.kind = PlanKind::kDiagonal;  // signs on the diagonal
    for (size_t j = 0; j < size; ++j) plan.entries.insert(plan.entries.end(), {plan.sign[j], 0.0});
    plan.perm.clear();
    plan.sign.clear();
    return plan;
  }

  bool diagonal = true, all_one = true;
  for (size_t r = 0; r < size && diagonal; ++r)
    for (size_t c = 0; c < size; ++c)
      if (r == c)
        all_one = all_one && op.one(at(r), at(c));
      else if (!op.zero(at(r), at(c)))
        diagonal = false;
  if (diagonal && all_one) return GatePlan{};
  if (diagonal) {
    plan.kind = PlanKind::kDiagonal;
    for (size_t j = 0; j < size; ++j)
      plan.entries.insert(plan.entries.end(), {op.re(at(j), at(j)), op.im(at(j), at(j))});
    return plan;
  }
  // One target: exactly +-1 in one entry per row and exact zeros elsewhere
  // give the dense kernel's bits by moving amplitudes.
  if (k == 1) {
    const bool swap = op.zero(0, 0) && op.zero(1, 1) && op.im(0, 1) == 0.0 && op.im(1, 0) == 0.0 &&
                      (op.re(0, 1) == 1.0 || op.re(0, 1) == -1.0) && (op.re(1, 0) == 1.0 || op.re(1, 0) == -1.0);
    if (swap) {
      plan.kind = PlanKind::kPermutation;
      plan.perm = {1, 0};
      plan.sign = {op.re(0, 1), op.re(1, 0)};
      return plan;
    }
  }
  plan.kind = PlanKind::kDense;
  plan.entries.resize(2 * size * size);
  for (size_t r = 0; r < size; ++r)
    for (size_t c = 0; c < size; ++c) {
      plan.entries[2 * (r * size + c)] = op.re(at(r), at(c));
      plan.entries[2 * (r * size + c) + 1] = op.im(at(r), at(c));
    }
  return plan;
}

}  // namespace nimbic::statevector
