// The dense gate kernel for both vector widths (see sweep_simd.hpp for how
// it is included).
#include <type_traits>
#include <utility>

#include "statevector/sweep_simd.hpp"

namespace nimbic::statevector {

namespace {

// Gates of 2, 4 or 8 rows: entries broadcast once, amplitudes in registers.
// With Blend, lanes marked in `keep` keep their old values.
template <size_t Size, bool Blend>
struct FixedDense {
  static constexpr bool kBlend = Blend;
  uint64_t off[Size];
  Coef g[Size * Size];
  V::Keep keep;

  NIMBIC_TARGET FixedDense(const Groups& groups, const double* matrix, const uint64_t* keep_words) {
    for (size_t j = 0; j < Size; ++j) off[j] = groups.offsets[j];
    for (size_t e = 0; e < Size * Size; ++e) g[e] = coef(matrix[2 * e], matrix[2 * e + 1]);
    keep = V::keep_words(keep_words);
  }

  NIMBIC_TARGET Reg out(Reg old_value, Reg new_value) const {
    if constexpr (Blend) return V::blend(keep, old_value, new_value);
    return new_value;
  }

  template <class Lanes>
  NIMBIC_TARGET void apply(const Lanes& x) const {
    if constexpr (Size == 2) {
      const Reg a0 = x.load(off[0]), a1 = x.load(off[1]);
      const Reg s0 = V::swap_re_im(a0), s1 = V::swap_re_im(a1);
      x.store(off[0], out(a0, V::add(cmul(g[0], a0, s0), cmul(g[1], a1, s1))));
      x.store(off[1], out(a1, V::add(cmul(g[2], a0, s0), cmul(g[3], a1, s1))));
    } else {
      // Column by column, so that only one input and the row sums are live;
      // each row still sums its columns from 0.0 in increasing order.
      Reg acc[Size], old[Blend ? Size : 1];
      for (size_t r = 0; r < Size; ++r) acc[r] = V::zero();
      for (size_t c = 0; c < Size; ++c) {
        const Reg a = x.load(off[c]), s = V::swap_re_im(a);
        if constexpr (Blend) old[c] = a;
        for (size_t r = 0; r < Size; ++r) acc[r] = V::add(acc[r], cmul(g[r * Size + c], a, s));
      }
      for (size_t r = 0; r < Size; ++r) x.store(off[r], out(old[Blend ? r : 0], acc[r]));
    }
  }
};

// Any number of rows: amplitudes gathered into this part's scratch, entries
// broadcast from the matrix.
struct DynamicDense {
  static constexpr bool kBlend = true;
  std::span<const uint64_t> off;
  const double* matrix;
  Reg* a;   // 2^m gathered amplitudes ...
  Reg* sw;  // ... and the same with re and im exchanged
  V::Keep keep;

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
      x.store(off[r], V::blend(keep, a[r], acc));
    }
  }
};

template <size_t Size, bool Blend>
NIMBIC_TARGET void dense_fixed(double* state, const Groups& groups, const double* matrix, const uint64_t* keep,
                               uint64_t begin, uint64_t end) {
  const FixedDense<Size, Blend> kernel(groups, matrix, keep);
  sweep(state, groups, kernel, groups.offsets, begin, end);
}

NIMBIC_TARGET void dense_dynamic(double* state, const Groups& groups, const double* matrix, const uint64_t* keep,
                                 double* scratch, uint64_t begin, uint64_t end) {
  const uintptr_t raw = reinterpret_cast<uintptr_t>(scratch);
  Reg* a = reinterpret_cast<Reg*>((raw + 63) & ~uintptr_t(63));
  const DynamicDense kernel{groups.offsets, matrix, a, a + groups.offsets.size(), V::keep_words(keep)};
  sweep(state, groups, kernel, groups.offsets, begin, end);
}

// Targets inside a register. Gate bit B0 (when >= 0) is index bit 0 and gate
// bit B1 (when >= 0, four lanes only) index bit 1: a group's amplitudes then
// share registers, P positions each, and a register holds kLanes / P groups
// (pairs: lanes 2g + p; halves: lanes 2p + g; quads: lane p). Each column is
// broadcast to the lanes of its group before the row sums, which run over
// the columns in the scalar kernel's order.
template <size_t Size, int B0, int B1, class W = V>
struct InRegisterDense {
  static constexpr size_t P = (B0 >= 0 ? 2 : 1) * (B1 >= 0 ? 2 : 1);
  static constexpr size_t R = Size / P;  // registers per group
  static constexpr uint64_t kGroupsPer = kLanes / P;
  static constexpr uint64_t kGroupStep = B0 >= 0 ? 2 : 1;  // index distance of a register's groups

  // Position of gate index c inside its register, and its register.
  static constexpr size_t pos(size_t c) {
    return (B0 >= 0 ? (c >> B0) & 1 : 0) | (B1 >= 0 ? ((c >> B1) & 1) << (B0 >= 0 ? 1 : 0) : 0);
  }
  static constexpr size_t reg(size_t c) {
    size_t r = 0, out = 0;
    for (size_t bit = 0; (size_t(1) << bit) < Size; ++bit) {
      if (int(bit) == B0 || int(bit) == B1) continue;
      r |= ((c >> bit) & 1) << out++;
    }
    return r;
  }
  // Position of lane l.
  static constexpr size_t lane_pos(uint64_t l) { return P == 2 && B0 < 0 ? l >> 1 : l % P; }

  uint64_t reg_off[R];
  Coef g[R][Size];
  typename W::Keep keep;

  NIMBIC_TARGET InRegisterDense(const Groups& groups, const double* matrix, const uint64_t* keep_words) {
    size_t row_of[R][P] = {};
    for (size_t c = 0; c < Size; ++c) {
      row_of[reg(c)][pos(c)] = c;
      if (pos(c) == 0) reg_off[reg(c)] = groups.offsets[c];
    }
    for (size_t i = 0; i < R; ++i)
      for (size_t c = 0; c < Size; ++c) {
        double re[kLanes], im[kLanes];
        for (uint64_t l = 0; l < kLanes; ++l) {
          const size_t row = row_of[i][lane_pos(l)];
          re[l] = matrix[2 * (row * Size + c)], im[l] = matrix[2 * (row * Size + c) + 1];
        }
        g[i][c] = lane_coef(re, im);
      }
    keep = W::keep_words(keep_words);
  }

  template <size_t Pos>
  NIMBIC_TARGET static Reg broadcast(Reg x) {
    if constexpr (P == 4) {
      return W::template quarter<int(Pos)>(x);
    } else if constexpr (B0 >= 0) {
      return Pos == 0 ? W::pair_first(x) : W::pair_second(x);
    } else {
      return Pos == 0 ? W::half_first(x) : W::half_second(x);
    }
  }

  template <size_t... C>
  NIMBIC_TARGET void apply(double* p, std::index_sequence<C...>) const {
    Reg x[R];
    for (size_t i = 0; i < R; ++i) x[i] = W::load(p + 2 * reg_off[i]);
    const Reg col[Size] = {broadcast<pos(C)>(x[reg(C)])...};
    Reg sw[Size];
    for (size_t c = 0; c < Size; ++c) sw[c] = W::swap_re_im(col[c]);
    for (size_t i = 0; i < R; ++i) {
      Reg acc;
      if constexpr (Size == 2) {
        acc = W::add(cmul(g[i][0], col[0], sw[0]), cmul(g[i][1], col[1], sw[1]));
      } else {
        acc = W::zero();
        for (size_t c = 0; c < Size; ++c) acc = W::add(acc, cmul(g[i][c], col[c], sw[c]));
      }
      W::store(p + 2 * reg_off[i], W::blend(keep, x[i], acc));
    }
  }
};

template <size_t Size, int B0, int B1>
NIMBIC_TARGET void dense_in_register(double* state, const Groups& groups, const double* matrix, const uint64_t* keep,
                                     uint64_t begin, uint64_t end) {
  using Kernel = InRegisterDense<Size, B0, B1>;
  const Kernel kernel(groups, matrix, keep);
  sweep_in_register(
      state, groups, Kernel::kGroupsPer, Kernel::kGroupStep,
      [&](double* p) NIMBIC_TARGET { kernel.apply(p, std::make_index_sequence<Size>()); }, begin, end);
}

// One target on index bit 0 (index bit 1 free with four lanes): two
// registers of whole pairs are split into the pairs' first and second
// amplitudes, one group per lane, for the plain kernel's arithmetic.
NIMBIC_TARGET void dense_pairs(double* state, const Groups& groups, const double* matrix, const uint64_t* keep_words,
                               uint64_t begin, uint64_t end) {
  const FixedDense<2, false> kernel(groups, matrix, keep_words);
  const V::Keep keep = V::keep_words(keep_words);
  constexpr uint64_t per = kLanes / 2;  // groups per register
  uint64_t b = groups.base(begin);
  AheadPrefetch ahead =
      ahead_of(state, groups, groups.offsets, b, [&](uint64_t x) { return groups.next(x + 2 * (per - 1)); });
  for (uint64_t c = begin; c < end; c += 2 * per) {
    if (ahead.on()) {
      for (int k = 0; k < 2; ++k) {
        ahead.fetch(kLanes);
        ahead.ahead = groups.next(ahead.ahead + 2 * (per - 1));
      }
    }
    double* px = state + 2 * b;
    b = groups.next(b + 2 * (per - 1));
    double* py = state + 2 * b;
    b = groups.next(b + 2 * (per - 1));
    const Reg x = V::load(px), y = V::load(py);
    Reg a0, a1;
    V::split_pairs(x, y, a0, a1);
    const Reg s0 = V::swap_re_im(a0), s1 = V::swap_re_im(a1);
    Reg nx, ny;
    V::join_pairs(V::add(cmul(kernel.g[0], a0, s0), cmul(kernel.g[1], a1, s1)),
                  V::add(cmul(kernel.g[2], a0, s0), cmul(kernel.g[3], a1, s1)), nx, ny);
    V::store(px, V::blend(keep, x, nx));
    V::store(py, V::blend(keep, y, ny));
  }
}

using DenseRun = void (*)(double*, const Groups&, const double*, const uint64_t*, uint64_t, uint64_t);

// The in-register kernel for these gate bits on index bits 0 and 1, if any.
template <size_t Size>
DenseRun in_register_for(int b0, int b1) {
  constexpr int kBits = __builtin_ctzll(Size);
  DenseRun run = nullptr;
  auto pick = [&](auto b0c, auto b1c) {
    constexpr int x = decltype(b0c)::value, y = decltype(b1c)::value;
    if constexpr (x < kBits && y < kBits && (x != y || x < 0) && (x >= 0 || y >= 0))
      if (b0 == x && b1 == y) run = dense_in_register<Size, x, y>;
  };
  auto each_b1 = [&](auto b0c) {
    pick(b0c, std::integral_constant<int, -1>());
    if constexpr (kLanes == 4) {
      pick(b0c, std::integral_constant<int, 0>());
      pick(b0c, std::integral_constant<int, 1>());
      pick(b0c, std::integral_constant<int, 2>());
    }
  };
  each_b1(std::integral_constant<int, -1>());
  each_b1(std::integral_constant<int, 0>());
  each_b1(std::integral_constant<int, 1>());
  each_b1(std::integral_constant<int, 2>());
  return run;
}

bool dense_simd(double* state, const Groups& all_groups, const double* matrix) {
  const LaneControls lanes(all_groups);
  const size_t size = all_groups.offsets.size();
  // Targets inside a register, or whole registers: controls inside a register
  // become lane blends. Otherwise the gathering sweep keeps them.
  int b0 = -1, b1 = -1;
  DenseRun in_register = nullptr;
  if (size <= 8 && in_register_bits(lanes.groups, b0, b1))
    in_register = size == 2 && b0 == 0 && b1 < 0 ? dense_pairs
                  : size == 2                    ? in_register_for<2>(b0, b1)
                  : size == 4                    ? in_register_for<4>(b0, b1)
                                                 : in_register_for<8>(b0, b1);
  const bool blend = in_register != nullptr || lanes.runs();
  const Groups& groups = blend ? lanes.groups : all_groups;
  const uint64_t* keep = blend ? lanes.keep : kKeepNone;
  const bool any = blend && lanes.any;
  const uint64_t count = groups.count;
  if (count < kLanes) return false;
  auto split = [&](DenseRun run) {
    split_groups(count, size, kLanes, size * size,
                 [&](unsigned, uint64_t begin, uint64_t end) { run(state, groups, matrix, keep, begin, end); });
    return true;
  };
  if (in_register != nullptr) return split(in_register);
  switch (size) {
    case 2:
      return split(any ? dense_fixed<2, true> : dense_fixed<2, false>);
    case 4:
      return split(any ? dense_fixed<4, true> : dense_fixed<4, false>);
    case 8:
      return split(any ? dense_fixed<8, true> : dense_fixed<8, false>);
    default:
      break;
  }
  const uint64_t per_part = 2 * size * 2 * kLanes + 8;  // doubles: a and sw registers, plus alignment
  std::vector<double> scratch(per_part * split_parts(count, size, kLanes));
  split_groups(count, size, kLanes, size * size, [&](unsigned part, uint64_t begin, uint64_t end) {
    dense_dynamic(state, groups, matrix, keep, scratch.data() + per_part * part, begin, end);
  });
  return true;
}

}  // namespace

}  // namespace nimbic::statevector
