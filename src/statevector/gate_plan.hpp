// How apply_gate_into runs a gate. The gate is first classified as the
// documented kernels do (two or more targets: a signed permutation when every
// row qualifies, else dense). From the operator that classification applies,
// taken exactly, the plan then keeps only what changes amplitudes:
// - target bits on which the gate is the identity unless the bit has one
//   value become controls (controlled-U of any size applies only U);
// - a block without off-diagonal entries becomes a diagonal, whose entries
//   exactly 1 are skipped; a signed permutation leaves its fixed rows alone;
// - the identity does nothing.
// Off the documented path only terms that are exactly zero are dropped and
// only factors exactly 1 skipped, so every finite non-zero amplitude gets the
// documented bits; signed zeros and inf/NaN spreading through zero entries
// may differ, as the floating-point rules allow.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace nimbic::statevector {

enum class PlanKind { kIdentity, kDiagonal, kPermutation, kDense };

struct GatePlan {
  PlanKind kind = PlanKind::kIdentity;
  std::vector<uint64_t> offsets;  // group offsets of the targets that stay (2^m)
  uint64_t control_mask = 0;      // state bits of the targets that became controls
  uint64_t control_pattern = 0;   // those bits that must be set
  std::vector<double> entries;    // kDense: 2^m x 2^m matrix; kDiagonal: 2^m entries
  std::vector<int64_t> perm;      // kPermutation: row r reads amplitude perm[r] ...
  std::vector<double> sign;       // ... times sign[r]
};

// The plan of `gate` on `targets` (validated, k >= 1). A two-target gate on a
// descending adjacent pair arrives here already exchanged into ascending
// order, as the documented dispatch does.
GatePlan plan_gate(const double* gate, std::span<const int64_t> targets, int64_t num_qubits);

// Runs a plan on a state of 2^n amplitudes with the fastest kernel variant
// this CPU has.
void apply_plan(double* state, int64_t num_qubits, const GatePlan& plan);

}  // namespace nimbic::statevector
