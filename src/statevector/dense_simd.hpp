// The dense gate kernel, written once for both vector widths. Included only
// by dense_kernel_avx2.cpp and dense_kernel_avx512.cpp, inside
// `#if NIMBIC_X86_SIMD`, after they define V (their vector type, in an
// anonymous namespace) and NIMBIC_TARGET (their function attribute).
//
// The lanes of a register are independent groups, each computed with the
// scalar kernel's operations in its order. A gate entry g multiplies an
// amplitude a as g.re * a + g.im * swap(a) with g.re = [gr, gr] and
// g.im = [-gi, gi]: (gr*ar + (-gi)*ai, gr*ai + gi*ar), which rounds exactly
// like the scalar (gr*ar - gi*ai, gr*ai + gi*ar).
#include <cstdint>
#include <vector>

#include "common/split_work.hpp"
#include "statevector/gate_kernels.hpp"
#include "statevector/run_prefetch.hpp"

namespace nimbic::statevector {

namespace {

using Reg = V::Reg;
constexpr uint64_t kLanes = V::kLanes;

struct Coef {
  Reg re, im;
};

NIMBIC_TARGET inline Coef coef(double gr, double gi) { return {V::set1(gr), V::alternate(-gi, gi)}; }

// Lane l multiplies by (gr[l], gi[l]).
NIMBIC_TARGET inline Coef lane_coef(const double* gr, const double* gi) {
  alignas(64) double re[2 * kLanes], im[2 * kLanes];
  for (uint64_t l = 0; l < kLanes; ++l) {
    re[2 * l] = re[2 * l + 1] = gr[l];
    im[2 * l] = -gi[l];
    im[2 * l + 1] = gi[l];
  }
  return {V::load(re), V::load(im)};
}

NIMBIC_TARGET inline Reg cmul(const Coef& g, Reg a, Reg a_swapped) {
  return V::add(V::mul(g.re, a), V::mul(g.im, a_swapped));
}

// kLanes consecutive groups: each offset's amplitudes fill one register.
struct Run {
  double* p;  // state + 2 * first base
  NIMBIC_TARGET Reg load(uint64_t off) const { return V::load(p + 2 * off); }
  NIMBIC_TARGET void store(uint64_t off, Reg v) const { V::store(p + 2 * off, v); }
};

// kLanes groups anywhere.
struct Spread {
  double* p[kLanes];  // state + 2 * base of each lane's group
  NIMBIC_TARGET Reg load(uint64_t off) const { return V::gather(p, 2 * off); }
  NIMBIC_TARGET void store(uint64_t off, Reg v) const { V::scatter(p, 2 * off, v); }
};

// Gates of 2, 4 or 8 rows: entries broadcast once, amplitudes in registers.
template <size_t Size>
struct FixedDense {
  uint64_t off[Size];
  Coef g[Size * Size];

  NIMBIC_TARGET FixedDense(const Groups& groups, const double* matrix) {
    for (size_t j = 0; j < Size; ++j) off[j] = groups.offsets[j];
    for (size_t e = 0; e < Size * Size; ++e) g[e] = coef(matrix[2 * e], matrix[2 * e + 1]);
  }

  template <class Lanes>
  NIMBIC_TARGET void apply(const Lanes& x) const {
    if constexpr (Size == 2) {
      const Reg a0 = x.load(off[0]), a1 = x.load(off[1]);
      const Reg s0 = V::swap_re_im(a0), s1 = V::swap_re_im(a1);
      x.store(off[0], V::add(cmul(g[0], a0, s0), cmul(g[1], a1, s1)));
      x.store(off[1], V::add(cmul(g[2], a0, s0), cmul(g[3], a1, s1)));
    } else {
      // Column by column, so that only one input and the row sums are live;
      // each row still sums its columns from 0.0 in increasing order.
      Reg acc[Size];
      for (size_t r = 0; r < Size; ++r) acc[r] = V::zero();
      for (size_t c = 0; c < Size; ++c) {
        const Reg a = x.load(off[c]), s = V::swap_re_im(a);
        for (size_t r = 0; r < Size; ++r) acc[r] = V::add(acc[r], cmul(g[r * Size + c], a, s));
      }
      for (size_t r = 0; r < Size; ++r) x.store(off[r], acc[r]);
    }
  }
};

// Any number of rows: amplitudes gathered into this part's scratch, entries
// broadcast from the matrix.
struct DynamicDense {
  std::span<const uint64_t> off;
  const double* matrix;
  Reg* a;   // 2^m gathered amplitudes ...
  Reg* sw;  // ... and the same with re and im exchanged

  template <class Lanes>
  NIMBIC_TARGET void apply(const Lanes& x) const {
    const size_t size = off.size();
    for (size_t j = 0; j < size; ++j) {
      a[j] = x.load(off[j]);
      sw[j] = V::swap_re_im(a[j]);
    }
    for (size_t r = 0; r < size; ++r) {
      const double* row = matrix + 2 * r * size;
      Reg acc = V::zero();
      for (size_t c = 0; c < size; ++c) acc = V::add(acc, cmul(coef(row[2 * c], row[2 * c + 1]), a[c], sw[c]));
      x.store(off[r], acc);
    }
  }
};

// Applies `kernel` to the groups numbered begin .. end-1 (multiples of
// kLanes), kLanes per register.
template <class Kernel>
NIMBIC_TARGET void sweep(double* state, const Groups& groups, const Kernel& kernel, uint64_t begin, uint64_t end) {
  uint64_t b = groups.base(begin);
  if (groups.low >= kLanes) {
    RunPrefetch pf(state, groups);
    for (uint64_t c = begin; c < end; c += kLanes) {
      pf.at(b);
      kernel.apply(Run{state + 2 * b});
      b = groups.next(b + kLanes - 1);
    }
    return;
  }
  for (uint64_t c = begin; c < end; c += kLanes) {
    Spread lanes;
    for (uint64_t l = 0; l < kLanes; ++l, b = groups.next(b)) lanes.p[l] = state + 2 * b;
    kernel.apply(lanes);
  }
}

template <size_t Size>
NIMBIC_TARGET void run_fixed(double* state, const Groups& groups, const double* matrix, uint64_t begin, uint64_t end) {
  const FixedDense<Size> kernel(groups, matrix);
  sweep(state, groups, kernel, begin, end);
}

NIMBIC_TARGET void run_dynamic(double* state, const Groups& groups, const double* matrix, double* scratch,
                               uint64_t begin, uint64_t end) {
  const uintptr_t raw = reinterpret_cast<uintptr_t>(scratch);
  Reg* a = reinterpret_cast<Reg*>((raw + 63) & ~uintptr_t(63));
  const DynamicDense kernel{groups.offsets, matrix, a, a + groups.offsets.size()};
  sweep(state, groups, kernel, begin, end);
}

// One target on the lowest qubit: each pair of lanes holds one group,
// amplitudes b and b + 1, so the pair's first lane takes row 0 and its second
// row 1. With four lanes a register holds the groups b and b + 2.
NIMBIC_TARGET void run_pairs(double* state, const Groups& groups, const double* g, uint64_t begin, uint64_t end) {
  double r0[kLanes], i0[kLanes], r1[kLanes], i1[kLanes];
  for (uint64_t l = 0; l < kLanes; ++l) {
    const uint64_t row = l & 1;
    r0[l] = g[4 * row], i0[l] = g[4 * row + 1], r1[l] = g[4 * row + 2], i1[l] = g[4 * row + 3];
  }
  const Coef c0 = lane_coef(r0, i0), c1 = lane_coef(r1, i1);
  constexpr uint64_t per = kLanes / 2;
  uint64_t b = groups.base(begin);
  for (uint64_t c = begin; c < end; c += per) {
    double* p = state + 2 * b;
    const Reg x = V::load(p);
    V::store(p, V::add(cmul(c0, V::pair_first(x), V::pair_first_swapped(x)),
                       cmul(c1, V::pair_second(x), V::pair_second_swapped(x))));
    b = groups.next(b + 2 * (per - 1));
  }
}

// One target on the second-lowest qubit, four lanes: a register holds the
// groups b (lanes 0, 2) and b + 1 (lanes 1, 3).
template <class W = V>
NIMBIC_TARGET void run_quads(double* state, const Groups& groups, const double* g, uint64_t begin, uint64_t end) {
  const double r0[4] = {g[0], g[0], g[4], g[4]}, i0[4] = {g[1], g[1], g[5], g[5]};
  const double r1[4] = {g[2], g[2], g[6], g[6]}, i1[4] = {g[3], g[3], g[7], g[7]};
  const Coef c0 = lane_coef(r0, i0), c1 = lane_coef(r1, i1);
  uint64_t b = groups.base(begin);
  for (uint64_t c = begin; c < end; c += 2) {
    double* p = state + 2 * b;
    const Reg x = W::load(p), first = W::half_first(x), second = W::half_second(x);
    W::store(p, W::add(cmul(c0, first, W::swap_re_im(first)), cmul(c1, second, W::swap_re_im(second))));
    b = groups.next(b + 1);
  }
}

template <class W = V>
bool dense_simd(double* state, const Groups& groups, const double* matrix) {
  const size_t size = groups.offsets.size();
  const uint64_t count = groups.count;
  if (count < kLanes) return false;
  if (size == 2 && groups.offsets[1] == 1 && (kLanes == 2 || (groups.mask & 2) == 0)) {
    split_work(count, 2, kLanes,
               [&](unsigned, uint64_t begin, uint64_t end) { run_pairs(state, groups, matrix, begin, end); });
    return true;
  }
  if constexpr (W::kLanes == 4) {
    if (size == 2 && groups.offsets[1] == 2 && (groups.mask & 1) == 0) {
      split_work(count, 2, kLanes,
                 [&](unsigned, uint64_t begin, uint64_t end) { run_quads<W>(state, groups, matrix, begin, end); });
      return true;
    }
  }
  auto fixed = [&](auto run) {
    split_work(count, size, kLanes,
               [&](unsigned, uint64_t begin, uint64_t end) { run(state, groups, matrix, begin, end); });
  };
  switch (size) {
    case 2:
      fixed(run_fixed<2>);
      return true;
    case 4:
      fixed(run_fixed<4>);
      return true;
    case 8:
      fixed(run_fixed<8>);
      return true;
    default:
      break;
  }
  const uint64_t per_part = 2 * size * 2 * kLanes + 8;  // doubles: a and sw registers, plus alignment
  std::vector<double> scratch(per_part * split_parts(count, size, kLanes));
  split_work(count, size, kLanes, [&](unsigned part, uint64_t begin, uint64_t end) {
    run_dynamic(state, groups, matrix, scratch.data() + per_part * part, begin, end);
  });
  return true;
}

}  // namespace

}  // namespace nimbic::statevector
