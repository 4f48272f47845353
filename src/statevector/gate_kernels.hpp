// The kernel variants behind apply_gate_into. A gate reaches them as a plan
// (gate_plan.hpp): the amplitude groups it acts on, given by the offsets of
// its active targets and a control pattern, and what it does on each group
// (a dense matrix, a diagonal, or a signed permutation of the offsets).
//
// The scalar kernels are the reference. Each vector kernel performs the same
// floating-point operations in the same order, several groups per register
// (AVX2: two, AVX-512: four), and returns false, having done nothing, when
// the CPU lacks the instructions or the state holds too few groups; the
// caller then runs the next variant. Only the dense kernel has an AVX-512
// variant: the diagonal and permutation kernels move data at memory speed
// with AVX2 already, and measured no faster with wider registers. Every variant splits its groups over
// threads (common/split_work.hpp); each group is computed by the same code on
// any thread, so the bits never depend on the thread count. Callers have
// validated everything.
#pragma once

#include <cstdint>
#include <span>

namespace nimbic::statevector {

// The groups of a gate: a group base b has every target and control bit clear
// except the control pattern; its amplitudes are b | offsets[j]. The offsets
// number 2^m (offsets[0] == 0); the first active target is the most
// significant bit of j.
struct Groups {
  int64_t num_qubits = 0;
  std::span<const uint64_t> offsets;
  uint64_t mask = 0;       // target and control bits
  uint64_t pattern = 0;    // control bits that must be set
  uint64_t free_bits = 0;  // the other bits below 2^n
  uint64_t low = 0;        // lowest bit of mask: bases come in runs of `low`
  uint64_t count = 0;      // number of groups

  Groups(int64_t n, std::span<const uint64_t> offsets, uint64_t control_mask, uint64_t control_pattern);
  // Base of the group numbered `counter` (groups in increasing base order).
  uint64_t base(uint64_t counter) const;
  // The base after b.
  uint64_t next(uint64_t b) const { return (((b | mask) + 1) & free_bits) | pattern; }
};

// Dense: `matrix` is 2^m x 2^m, row-major interleaved. Row r of a group gets
// the sum over columns c of matrix(r, c) * amplitude c, accumulated from 0.0
// in increasing c; with one target (m = 1) the two products are added
// directly, g0 * a0 + g1 * a1.
void dense_scalar(double* state, const Groups& groups, const double* matrix);
bool dense_avx2(double* state, const Groups& groups, const double* matrix);
bool dense_avx512(double* state, const Groups& groups, const double* matrix);

// Diagonal: amplitude j of each group is multiplied by entry j (2^m complex
// numbers, interleaved); entries exactly 1 + 0i leave theirs untouched.
void diagonal_scalar(double* state, const Groups& groups, const double* entries);
bool diagonal_avx2(double* state, const Groups& groups, const double* entries);

// Signed permutation: amplitude r of each group becomes sign[r] times the old
// amplitude perm[r]. Rows with perm[r] == r and sign +1 are not touched.
void permutation_scalar(double* state, const Groups& groups, const int64_t* perm, const double* sign);
bool permutation_avx2(double* state, const Groups& groups, const int64_t* perm, const double* sign);

}  // namespace nimbic::statevector
