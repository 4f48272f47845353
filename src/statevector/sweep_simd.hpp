// The group sweeps of the vector gate kernels, written once for both vector
// widths. Included (through dense_simd.hpp or permutation_simd.hpp) only by
// the `*_avx2.cpp` and `*_avx512.cpp` kernel files, inside
// `#if NIMBIC_X86_SIMD`, after they define V (their vector type, in an
// anonymous namespace) and NIMBIC_TARGET (their function attribute).
//
// The lanes of a register are independent groups, each computed with the
// scalar kernel's operations in its order. A gate entry g multiplies an
// amplitude a as g.re * a + g.im * swap(a) with g.re = [gr, gr] and
// g.im = [-gi, gi]: (gr*ar + (-gi)*ai, gr*ai + gi*ar), which rounds exactly
// like the scalar (gr*ar - gi*ai, gr*ai + gi*ar).
#pragma once

#include <cstdint>
#include <vector>

#include "common/split_work.hpp"
#include "statevector/gate_kernels.hpp"
#include "statevector/run_prefetch.hpp"
#include "statevector/split_groups.hpp"

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

// Lane l times the real number x[l].
NIMBIC_TARGET inline Reg lane_real(const double* x) {
  alignas(64) double v[2 * kLanes];
  for (uint64_t l = 0; l < kLanes; ++l) v[2 * l] = v[2 * l + 1] = x[l];
  return V::load(v);
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

// Some of kLanes consecutive groups (four lanes only): the others are neither
// read nor written.
template <class W = V>
struct PartRun {
  double* p;
  __mmask8 m;
  NIMBIC_TARGET Reg load(uint64_t off) const { return W::load_masked(p + 2 * off, m); }
  NIMBIC_TARGET void store(uint64_t off, Reg v) const { W::store_masked(p + 2 * off, m, v); }
};

// kLanes groups anywhere.
struct Spread {
  double* p[kLanes];  // state + 2 * base of each lane's group
  NIMBIC_TARGET Reg load(uint64_t off) const { return V::gather(p, 2 * off); }
  NIMBIC_TARGET void store(uint64_t off, Reg v) const { V::scatter(p, 2 * off, v); }
};

// Controls on index bits inside a register. Sweeps whose lane l lies on
// index bits l (runs of whole registers, groups inside registers) then visit
// the groups of both values of such a bit, and the lanes whose bits differ
// from the control pattern keep their old amplitudes through a blend, as the
// scalar kernel leaves them untouched. Gathering sweeps keep the controls.
struct LaneControls {
  Groups groups;  // the groups without the in-register controls
  alignas(64) uint64_t keep[2 * kLanes] = {};
  bool any = false;

  explicit LaneControls(const Groups& g) : groups(without_in_register(g)) {
    const uint64_t in = g.mask & ~g.offsets.back() & (kLanes - 1);
    any = in != 0;
    for (uint64_t l = 0; l < kLanes; ++l) keep[2 * l] = keep[2 * l + 1] = (l & in) != (g.pattern & in) ? ~0ull : 0;
  }
  // Whether a sweep of `groups` runs whole registers.
  bool runs() const { return groups.low >= kLanes; }
  static Groups without_in_register(const Groups& g) {
    const uint64_t in = g.mask & ~g.offsets.back() & (kLanes - 1);
    return Groups(g.num_qubits, g.offsets, g.mask & ~g.offsets.back() & ~in, g.pattern & ~in);
  }
};

alignas(64) constexpr uint64_t kKeepNone[2 * kLanes] = {};

// An AheadPrefetch for a sweep of `groups` from base b whose kernel touches
// `touched` offsets and which advances from base x to step(x).
template <class Step>
AheadPrefetch ahead_of(const double* state, const Groups& groups, std::span<const uint64_t> touched, uint64_t b,
                       Step&& step) {
  AheadPrefetch pf(state, touched, touched_line_run(groups.mask, groups.pattern, touched),
                   (groups.mask | groups.free_bits) + 1);
  pf.start(b, step);
  return pf;
}

// Runs of at least this many groups are swept in registers that start at
// 64-byte boundaries (four lanes), the partial registers at their ends
// masked: a register that straddles two cache lines costs two accesses.
constexpr uint64_t kAlignedRun = 16;

// Applies `kernel` to the groups numbered begin .. end-1 (multiples of
// kLanes), kLanes per register; `touched` are the offsets it reads. A kernel
// that blends by lane (Kernel::kBlend) needs lane l on index bits l.
template <class Kernel, class W = V>
NIMBIC_TARGET void sweep(double* state, const Groups& groups, const Kernel& kernel, std::span<const uint64_t> touched,
                         uint64_t begin, uint64_t end) {
  uint64_t b = groups.base(begin);
  const bool runs = groups.low >= kLanes;
  AheadPrefetch ahead =
      ahead_of(state, groups, touched, b, [&](uint64_t x) { return groups.next(runs ? x + kLanes - 1 : x); });
  if constexpr (kLanes == 4 && !Kernel::kBlend) {
    // Amplitudes from the last 64-byte boundary to the state's start.
    const uint64_t skew = (reinterpret_cast<uintptr_t>(state) >> 4) & 3;
    if (skew != 0 && groups.low >= kAlignedRun) {
      RunPrefetch pf(state, touched, groups.mask, groups.pattern, groups.free_bits, groups.low);
      for (uint64_t c = begin; c < end;) {
        // Groups b .. b+len-1 are consecutive; registers start where
        // (index + skew) is a multiple of four.
        const uint64_t len = std::min(groups.low - (b & (groups.low - 1)), end - c);
        const uint64_t lead = (b + skew) & 3;  // lanes before b in b's register
        uint64_t a = b + 4 - lead;
        if (lead != 0) {
          // The register may begin before the state: only its address is formed.
          double* p = reinterpret_cast<double*>(reinterpret_cast<uintptr_t>(state + 2 * b) - 16 * lead);
          kernel.apply(PartRun<W>{p, W::lane_mask(0xFu << lead)});
        } else {
          a = b;
        }
        for (; a + 4 <= b + len; a += 4) {
          pf.at(a & ~uint64_t(3));
          kernel.apply(Run{state + 2 * a});
        }
        if (a < b + len) kernel.apply(PartRun<W>{state + 2 * a, W::lane_mask(0xFu >> (a + 4 - b - len))});
        c += len;
        b = groups.next(b + len - 1);
      }
      return;
    }
  }
  if (groups.low >= kLanes) {
    RunPrefetch pf(state, touched, groups.mask, groups.pattern, groups.free_bits, groups.low);
    for (uint64_t c = begin; c < end; c += kLanes) {
      pf.at(b);
      if (ahead.on()) {
        ahead.fetch(kLanes);
        ahead.ahead = groups.next(ahead.ahead + kLanes - 1);
      }
      kernel.apply(Run{state + 2 * b});
      b = groups.next(b + kLanes - 1);
    }
    return;
  }
  for (uint64_t c = begin; c < end; c += kLanes) {
    Spread lanes;
    for (uint64_t l = 0; l < kLanes; ++l, b = groups.next(b)) {
      lanes.p[l] = state + 2 * b;
      if (ahead.on()) {
        ahead.fetch(1);
        ahead.ahead = groups.next(ahead.ahead);
      }
    }
    kernel.apply(lanes);
  }
}

// Sweeps registers that each hold whole groups (targets on index bits
// inside a register): `per` groups per register, the next group of a
// register `step` indices on; op(p) updates the register at p.
template <class Op>
NIMBIC_TARGET void sweep_in_register(double* state, const Groups& groups, uint64_t per, uint64_t step, const Op& op,
                                     uint64_t begin, uint64_t end) {
  uint64_t b = groups.base(begin);
  AheadPrefetch ahead =
      ahead_of(state, groups, groups.offsets, b, [&](uint64_t x) { return groups.next(x + (per - 1) * step); });
  for (uint64_t c = begin; c < end; c += per) {
    if (ahead.on()) {
      ahead.fetch(kLanes);
      ahead.ahead = groups.next(ahead.ahead + (per - 1) * step);
    }
    op(state + 2 * b);
    b = groups.next(b + (per - 1) * step);
  }
}

// Gate bits on index bits 0 and 1 when every target and control bit inside
// a register is a target (-1: that index bit is no target); false when a
// control lies there too, or no target does.
inline bool in_register_bits(const Groups& groups, int& b0, int& b1) {
  const uint64_t in = groups.mask & (kLanes - 1);
  if (in == 0 || (in & groups.offsets.back()) != in) return false;
  b0 = b1 = -1;
  for (int j = 0; (size_t(1) << j) < groups.offsets.size(); ++j) {
    if (groups.offsets[size_t(1) << j] == 1) b0 = j;
    if (groups.offsets[size_t(1) << j] == 2 && kLanes == 4) b1 = j;
  }
  return true;
}

}  // namespace

}  // namespace nimbic::statevector
