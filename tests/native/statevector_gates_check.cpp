// State-vector gate kernels. Every variant (scalar at any thread count,
// AVX2, AVX-512) of the dense, diagonal and signed-permutation kernels
// against the scalar kernel on one thread, for n = 1..12, every target
// position and shape, with and without controls (also on the lowest qubits);
// and the whole dispatch, which applies structured gates through these
// kernels, against the documented order of operations.
#include <algorithm>
#include <cmath>

#include "check.hpp"
#include "common/qubits.hpp"
#include "statevector/gate_kernels.hpp"
#include "statevector/gates.hpp"

using namespace nimbic;
using namespace nimbic::statevector;
using namespace nimbic::checks;

namespace {

// Where a kernel acts: active targets plus controls with their values.
struct Shape {
  int64_t n = 0;
  std::vector<int64_t> targets, controls;
  std::vector<uint64_t> offsets;
  uint64_t control_mask = 0, control_pattern = 0;

  Shape(int64_t n_, std::vector<int64_t> targets_, std::vector<int64_t> controls_, Random& rng)
      : n(n_), targets(std::move(targets_)), controls(std::move(controls_)) {
    offsets = group_offsets(targets, n);
    for (int64_t c : controls) {
      control_mask |= qubit_bit(c, n);
      if (rng.below(2)) control_pattern |= qubit_bit(c, n);
    }
  }
  Groups groups() const { return Groups(n, offsets, control_mask, control_pattern); }
  std::string describe(const char* kernel, unsigned threads) const {
    return std::string(kernel) + " n=" + std::to_string(n) + " targets=" + describe_targets(targets) +
           " controls=" + describe_targets(controls) + " pattern=" + std::to_string(control_pattern) +
           " threads=" + std::to_string(threads);
  }
};

// Up to `count` controls among the qubits that are not targets: random ones,
// or the lowest-numbered bits of the index (highest qubit numbers).
std::vector<int64_t> pick_controls(Random& rng, int64_t n, const std::vector<int64_t>& targets, size_t count,
                                   bool lowest) {
  std::vector<int64_t> free;
  for (int64_t q = n - 1; q >= 0; --q)
    if (std::find(targets.begin(), targets.end(), q) == targets.end()) free.push_back(q);
  if (!lowest) std::shuffle(free.begin(), free.end(), rng.engine());
  free.resize(std::min(free.size(), count));
  return free;
}

// A copy of `state` placed `skew` amplitudes past a 64-byte boundary (vector
// kernels treat registers that straddle cache lines differently), run
// through `kernel` (false: it did nothing) and returned.
template <class Kernel>
bool run_at_skew(const std::vector<double>& state, uint64_t skew, std::vector<double>& out, Kernel&& kernel) {
  std::vector<double> space(state.size() + 16);
  const uintptr_t raw = reinterpret_cast<uintptr_t>(space.data());
  double* p = reinterpret_cast<double*>((raw + 63) & ~uintptr_t(63)) + 2 * skew;
  std::copy(state.begin(), state.end(), p);
  if (!kernel(p)) return false;
  out.assign(p, p + state.size());
  return true;
}

// The three kernels on one shape: every variant at every thread count and
// memory alignment against the scalar kernel on one thread.
void check_kernels(Context& ctx, Random& rng, const Shape& shape) {
  const Groups groups = shape.groups();
  const size_t size = shape.offsets.size();
  const std::vector<double> state = rng.floats(size_t(2) << shape.n);

  const std::vector<double> matrix = rng.floats(2 * size * size);
  std::vector<double> want = state;
  {
    SingleThread one;
    dense_scalar(want.data(), groups, matrix.data());
  }
  for_each_thread_count([&](unsigned threads) {
    std::vector<double> got = state;
    dense_scalar(got.data(), groups, matrix.data());
    ctx.same_bits(want, got, shape.describe("dense scalar", threads));
    for (uint64_t skew = 0; skew < 4; ++skew) {
      const std::string at = " skew=" + std::to_string(skew);
      if (run_at_skew(state, skew, got, [&](double* p) { return dense_avx2(p, groups, matrix.data()); }))
        ctx.same_bits(want, got, shape.describe("dense avx2", threads) + at);
      if (run_at_skew(state, skew, got, [&](double* p) { return dense_avx512(p, groups, matrix.data()); }))
        ctx.same_bits(want, got, shape.describe("dense avx512", threads) + at);
    }
  });

  // Diagonal entries, some exactly 1 (skipped) and some 1 - 0i.
  std::vector<double> entries = rng.floats(2 * size);
  for (size_t j = 0; j < size; ++j)
    if (rng.below(3) == 0) entries[2 * j] = 1.0, entries[2 * j + 1] = rng.below(2) ? 0.0 : -0.0;
  want = state;
  {
    SingleThread one;
    diagonal_scalar(want.data(), groups, entries.data());
  }
  for_each_thread_count([&](unsigned threads) {
    std::vector<double> got = state;
    diagonal_scalar(got.data(), groups, entries.data());
    ctx.same_bits(want, got, shape.describe("diagonal scalar", threads));
    for (uint64_t skew = 0; skew < 4; ++skew)
      if (run_at_skew(state, skew, got, [&](double* p) { return diagonal_avx2(p, groups, entries.data()); }))
        ctx.same_bits(want, got, shape.describe("diagonal avx2", threads) + " skew=" + std::to_string(skew));
  });

  // A signed permutation with fixed rows, and what it must do.
  std::vector<int64_t> perm(size);
  std::vector<double> sign(size);
  for (size_t r = 0; r < size; ++r) perm[r] = int64_t(r);
  std::shuffle(perm.begin(), perm.end() - std::ptrdiff_t(size / 3), rng.engine());
  for (double& s : sign) s = rng.below(3) == 0 ? -1.0 : 1.0;
  want = state;
  for (uint64_t c = 0, b = groups.base(0); c < groups.count; ++c, b = groups.next(b))
    for (size_t r = 0; r < size; ++r)
      for (int part = 0; part < 2; ++part)
        want[2 * (b | shape.offsets[r]) + part] = sign[r] * state[2 * (b | shape.offsets[size_t(perm[r])]) + part];
  for_each_thread_count([&](unsigned threads) {
    std::vector<double> got = state;
    permutation_scalar(got.data(), groups, perm.data(), sign.data());
    ctx.same_bits(want, got, shape.describe("permutation scalar", threads));
    for (uint64_t skew = 0; skew < 4; ++skew) {
      const std::string at = " skew=" + std::to_string(skew);
      if (run_at_skew(state, skew, got,
                      [&](double* p) { return permutation_avx2(p, groups, perm.data(), sign.data()); }))
        ctx.same_bits(want, got, shape.describe("permutation avx2", threads) + at);
    }
  });
}

// A module call slices a long kernel (a stop check is installed), an in-place
// method splits it once: the same bits, also when a group's cost in the
// slicing (its moved rows) makes slices of an odd number of groups, which
// end on whole SIMD lane groups only when rounded to them. On 23 qubits a
// 4-target permutation moving 9 rows spans more than one slice.
void check_sliced_permutation(Context& ctx, Random& rng) {
  const int64_t n = 23;
  const Shape shape(n, {3, 9, 15, 20}, {}, rng);
  const Groups groups = shape.groups();
  const std::vector<double> state = rng.floats(size_t(2) << n);
  std::vector<int64_t> perm(16);
  std::vector<double> sign(16, 1.0);
  for (size_t r = 0; r < 16; ++r) perm[r] = int64_t(r < 7 ? r : 7 + (r - 6) % 9);
  sign[15] = -1.0;
  auto run = [&](bool sliced, auto kernel) {
    ScopedSplitPolicy policy({2, 0});
    ScopedStopCheck stop(sliced ? +[] { return false; } : nullptr);
    std::vector<double> out = state;
    return kernel(out.data(), groups, perm.data(), sign.data()) ? out : std::vector<double>{};
  };
  const auto scalar = [](double* p, const Groups& g, const int64_t* pm, const double* sg) {
    permutation_scalar(p, g, pm, sg);
    return true;
  };
  ctx.same_bits(run(false, scalar), run(true, scalar), shape.describe("sliced permutation scalar", 2));
  const std::vector<double> unsliced = run(false, permutation_avx2);
  if (!unsliced.empty())
    ctx.same_bits(unsliced, run(true, permutation_avx2), shape.describe("sliced permutation avx2", 2));
}

// Shapes of `m` active targets on n qubits, each without controls, with up
// to two random controls and with controls on the lowest bits.
template <class TargetLists>
void check_shapes(Context& ctx, Random& rng, int64_t m, TargetLists&& target_lists) {
  for (int64_t n = m; n <= 12; ++n)
    for (const std::vector<int64_t>& targets : target_lists(n)) {
      check_kernels(ctx, rng, Shape(n, targets, {}, rng));
      if (n == m) continue;
      check_kernels(ctx, rng, Shape(n, targets, pick_controls(rng, n, targets, 1 + rng.below(2), false), rng));
      check_kernels(ctx, rng, Shape(n, targets, pick_controls(rng, n, targets, 1 + rng.below(2), true), rng));
    }
}

// ---------------------------------------------------------------- dispatch

// apply_gate_into in the documented order of operations: the single-target
// kernel, or the signed-permutation analysis and then moves or the dense sum
// over every column (descending adjacent pairs as the exchanged gate).
std::vector<double> documented(std::vector<double> state, int64_t n, std::vector<double> gate,
                               std::vector<int64_t> targets) {
  const size_t k = targets.size(), size = size_t(1) << k;
  if (k == 2 && targets[0] == targets[1] + 1) {
    const auto exchanged = swap_2q_basis(gate);
    gate.assign(exchanged.begin(), exchanged.end());
    std::swap(targets[0], targets[1]);
  }
  const std::vector<uint64_t> off = group_offsets(targets, n);
  std::vector<int64_t> perm(size, -1);
  std::vector<double> sign(size, 1.0);
  const bool permutation = k >= 2 && signed_permutation(gate.data(), size, perm.data(), sign.data());
  std::vector<double> ar(size), ai(size);
  for_each_group_base(off.back(), n, [&](uint64_t b) {
    for (size_t j = 0; j < size; ++j) ar[j] = state[2 * (b | off[j])], ai[j] = state[2 * (b | off[j]) + 1];
    for (size_t r = 0; r < size; ++r) {
      double re = 0.0, im = 0.0;
      if (permutation) {
        re = sign[r] * ar[size_t(perm[r])], im = sign[r] * ai[size_t(perm[r])];
      } else if (k == 1) {
        const double* g = gate.data() + 4 * r;
        re = (g[0] * ar[0] - g[1] * ai[0]) + (g[2] * ar[1] - g[3] * ai[1]);
        im = (g[0] * ai[0] + g[1] * ar[0]) + (g[2] * ai[1] + g[3] * ar[1]);
      } else {
        for (size_t c = 0; c < size; ++c) {
          re += gate[2 * (r * size + c)] * ar[c] - gate[2 * (r * size + c) + 1] * ai[c];
          im += gate[2 * (r * size + c)] * ai[c] + gate[2 * (r * size + c) + 1] * ar[c];
        }
      }
      state[2 * (b | off[r])] = re, state[2 * (b | off[r]) + 1] = im;
    }
  });
  return state;
}

// Structured paths may differ from the documented bits in the sign of a zero.
std::vector<double> zeros_unsigned(std::vector<double> v) {
  for (double& x : v)
    if (x == 0.0) x = 0.0;
  return v;
}

// A gate of 2^k rows: the identity with `block` (2^m x 2^m) on the rows whose
// control bits (gate bits in `control_bits`) equal `values`.
std::vector<double> controlled(size_t k, size_t control_bits, size_t values, const std::vector<double>& block) {
  const size_t size = size_t(1) << k;
  std::vector<size_t> rows;
  for (size_t i = 0; i < size; ++i)
    if ((i & control_bits) == values) rows.push_back(i);
  std::vector<double> gate(2 * size * size, 0.0);
  for (size_t i = 0; i < size; ++i) gate[2 * (i * size + i)] = 1.0;
  for (size_t r = 0; r < rows.size(); ++r)
    for (size_t c = 0; c < rows.size(); ++c) {
      gate[2 * (rows[r] * size + rows[c])] = block[2 * (r * rows.size() + c)];
      gate[2 * (rows[r] * size + rows[c]) + 1] = block[2 * (r * rows.size() + c) + 1];
    }
  return gate;
}

std::vector<double> diagonal_gate(const std::vector<double>& entries) {
  const size_t size = entries.size() / 2;
  std::vector<double> gate(2 * size * size, 0.0);
  for (size_t j = 0; j < size; ++j)
    gate[2 * (j * size + j)] = entries[2 * j], gate[2 * (j * size + j) + 1] = entries[2 * j + 1];
  return gate;
}

// Gates of k targets that the dispatch takes apart: controls, diagonals,
// permutations with fixed rows, and the documented thresholds around them.
std::vector<std::pair<std::string, std::vector<double>>> structured_gates(Random& rng, size_t k) {
  const size_t size = size_t(1) << k;
  const double h = 1 / std::sqrt(2.0);
  std::vector<std::pair<std::string, std::vector<double>>> gates;
  if (k == 1) {
    gates = {{"H", {h, 0, h, 0, h, 0, -h, 0}},
             {"X", {0, 0, 1, 0, 1, 0, 0, 0}},
             {"Y", {0, 0, 0, -1, 0, 1, 0, 0}},
             {"iX-like", {0, 0, -1, 0, 1, 0, 0, 0}},
             {"Z", diagonal_gate({1, 0, -1, 0})},
             {"S", diagonal_gate({1, 0, 0, 1})},
             {"RZ", diagonal_gate({0.6, -0.8, 0.6, 0.8})},
             {"identity", diagonal_gate({1, 0, 1, 0})},
             {"X with tiny", {1e-10, 0, 1, 0, 1, 0, 0, 0}}};
  }
  gates.push_back({"random", rng.floats(2 * size * size)});
  gates.push_back({"random diagonal", diagonal_gate(rng.floats(2 * size))});
  // Every choice of control bits and values around a random block.
  for (size_t bits = 1; bits < size; ++bits) {
    const size_t values = size_t(rng.below(size)) & bits, m = k - size_t(__builtin_popcountll(bits));
    const size_t block = size_t(1) << m;
    gates.push_back(
        {"controlled dense bits=" + std::to_string(bits), controlled(k, bits, values, rng.floats(2 * block * block))});
    gates.push_back({"controlled diagonal bits=" + std::to_string(bits),
                     controlled(k, bits, values, diagonal_gate(rng.floats(2 * block)))});
  }
  if (k >= 2) {
    // Signed permutations: CNOT-like with controls, SWAP-like, random with
    // fixed rows, sign flips only (CZ), near-threshold entries.
    for (int trial = 0; trial < 4; ++trial) {
      std::vector<int64_t> perm(size);
      for (size_t r = 0; r < size; ++r) perm[r] = int64_t(r);
      const size_t moved = trial == 0 ? 2 : size_t(rng.below(size + 1));
      std::shuffle(perm.begin() + std::ptrdiff_t(size - moved), perm.end(), rng.engine());
      std::vector<double> gate(2 * size * size, 0.0);
      for (size_t r = 0; r < size; ++r)
        gate[2 * (r * size + size_t(perm[r]))] = trial == 3 && rng.below(2) ? -1.0 : 1.0 + 5e-13;
      gate[1] = 1e-16;  // imaginary part of an entry: ignored (within 1e-15)
      gates.push_back({"permutation trial=" + std::to_string(trial), gate});
    }
    std::vector<double> cz = diagonal_gate(std::vector<double>(2 * size, 0.0));
    for (size_t j = 0; j < size; ++j) cz[2 * (j * size + j)] = 1.0;
    cz[2 * (size * size - 1)] = -1.0;
    gates.push_back({"multi-controlled Z", cz});
    std::vector<double> half = diagonal_gate(std::vector<double>(2 * size, 0.0));
    for (size_t j = 0; j < size; ++j) half[2 * (j * size + j)] = j + 1 == size ? 0.5 : 1.0;  // not unit: dense
    gates.push_back({"controlled 0.5", half});
  }
  return gates;
}

}  // namespace

NIMBIC_CHECK_FAMILY(statevector_1q) {
  Random rng(7101);
  check_shapes(ctx, rng, 1, [](int64_t n) {
    std::vector<std::vector<int64_t>> lists;
    for (int64_t t = 0; t < n; ++t) lists.push_back({t});
    return lists;
  });
}

NIMBIC_CHECK_FAMILY(statevector_2q_adjacent) {
  Random rng(7102);
  check_shapes(ctx, rng, 2, [](int64_t n) {
    std::vector<std::vector<int64_t>> lists;
    for (int64_t t = 1; t < n; ++t) lists.push_back({t - 1, t}), lists.push_back({t, t - 1});
    return lists;
  });
}

NIMBIC_CHECK_FAMILY(statevector_general) {
  Random rng(7103);
  check_sliced_permutation(ctx, rng);
  for (int64_t m = 2; m <= 5; ++m)
    check_shapes(ctx, rng, m, [&](int64_t n) {
      // Random lists, the lowest qubits, and the lowest with the top one.
      std::vector<std::vector<int64_t>> lists;
      for (int trial = 0; trial < 3; ++trial) lists.push_back(rng.targets(n, m));
      std::vector<int64_t> lowest, spread = {0};
      for (int64_t i = 0; i < m; ++i) lowest.push_back(n - 1 - i);
      for (int64_t i = 0; i + 1 < m; ++i) spread.push_back(n - 1 - i);
      lists.push_back(lowest);
      if (n > m) lists.push_back(spread);
      return lists;
    });
}

NIMBIC_CHECK_FAMILY(statevector_dispatch) {
  Random rng(7104);
  for (int64_t n = 1; n <= 9; ++n)
    for (size_t k = 1; k <= std::min<size_t>(size_t(n), 3); ++k)
      for (int trial = 0; trial < 3; ++trial) {
        // Random targets, then descending and ascending lowest qubits.
        std::vector<int64_t> targets = rng.targets(n, int64_t(k));
        for (size_t i = 0; i < k && trial > 0; ++i)
          targets[i] = trial == 1 ? n - 1 - int64_t(i) : n - int64_t(k) + int64_t(i);
        const std::vector<double> state = rng.floats(size_t(2) << n);
        for (const auto& [name, gate] : structured_gates(rng, k)) {
          const std::vector<double> want = zeros_unsigned(documented(state, n, gate, targets));
          for_each_thread_count([&](unsigned threads) {
            std::vector<double> got = state;
            apply_gate_into(got, n, gate, targets);
            ctx.same_bits(want, zeros_unsigned(got),
                          name + " n=" + std::to_string(n) + " targets=" + describe_targets(targets) +
                              " threads=" + std::to_string(threads));
          });
        }
      }
}
