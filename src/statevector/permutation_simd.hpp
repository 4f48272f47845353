// The signed-permutation kernel for both vector widths (see sweep_simd.hpp
// for how it is included). Only moved rows are read and written; a moved
// amplitude is the source times its row's sign, as in the scalar kernel.
#include "statevector/sweep_simd.hpp"

namespace nimbic::statevector {

namespace {

struct MovedRows {
  std::vector<uint64_t> to, from;
  std::vector<double> by;
};

// Up to 8 moved rows: all sources read into registers, then written. With
// Blend, lanes marked in `keep` keep their old values.
template <size_t Moved, bool Blend>
struct FixedMoves {
  static constexpr bool kBlend = Blend;
  uint64_t to[Moved], from[Moved];
  Reg by[Moved];
  V::Keep keep;

  NIMBIC_TARGET FixedMoves(const MovedRows& rows, const uint64_t* keep_words) {
    for (size_t i = 0; i < Moved; ++i) to[i] = rows.to[i], from[i] = rows.from[i], by[i] = V::set1(rows.by[i]);
    keep = V::keep_words(keep_words);
  }
  template <class Lanes>
  NIMBIC_TARGET void apply(const Lanes& x) const {
    Reg t[Moved];
    for (size_t i = 0; i < Moved; ++i) t[i] = x.load(from[i]);
    if constexpr (Blend) {
      Reg old[Moved];
      for (size_t i = 0; i < Moved; ++i) old[i] = x.load(to[i]);
      for (size_t i = 0; i < Moved; ++i) x.store(to[i], V::blend(keep, old[i], V::mul(by[i], t[i])));
    } else {
      for (size_t i = 0; i < Moved; ++i) x.store(to[i], V::mul(by[i], t[i]));
    }
  }
};

// More rows: sources gathered into this part's scratch.
struct DynamicMoves {
  static constexpr bool kBlend = true;
  const MovedRows* rows;
  Reg* t;
  V::Keep keep;

  template <class Lanes>
  NIMBIC_TARGET void apply(const Lanes& x) const {
    const size_t moved = rows->to.size();
    for (size_t i = 0; i < moved; ++i) t[i] = x.load(rows->from[i]);
    for (size_t i = 0; i < moved; ++i) t[moved + i] = x.load(rows->to[i]);
    for (size_t i = 0; i < moved; ++i)
      x.store(rows->to[i], V::blend(keep, t[moved + i], V::mul(V::set1(rows->by[i]), t[i])));
  }
};

using MovesRun = void (*)(double*, const Groups&, const MovedRows&, const uint64_t*, uint64_t, uint64_t);

template <size_t Moved, bool Blend>
NIMBIC_TARGET void moves_fixed(double* state, const Groups& groups, const MovedRows& rows, const uint64_t* keep,
                               uint64_t begin, uint64_t end) {
  const FixedMoves<Moved, Blend> kernel(rows, keep);
  sweep(state, groups, kernel, rows.from, begin, end);
}

template <size_t Moved>
MovesRun moves_for(bool blend) {
  return blend ? moves_fixed<Moved, true> : moves_fixed<Moved, false>;
}

NIMBIC_TARGET void moves_dynamic(double* state, const Groups& groups, const MovedRows& rows, const uint64_t* keep,
                                 double* scratch, uint64_t begin, uint64_t end) {
  const uintptr_t raw = reinterpret_cast<uintptr_t>(scratch);
  const DynamicMoves kernel{&rows, reinterpret_cast<Reg*>((raw + 63) & ~uintptr_t(63)), V::keep_words(keep)};
  sweep(state, groups, kernel, rows.from, begin, end);
}

// One target inside a register, both rows moved: each lane takes the other
// amplitude of its group times its row's sign. Pairs (target on index bit 0):
// lanes 2g + p; halves (index bit 1, four lanes): lanes 2p + g.
template <bool Halves, class W = V>
NIMBIC_TARGET void swap_in_register(double* state, const Groups& groups, const MovedRows& rows,
                                    const uint64_t* keep_words, uint64_t begin, uint64_t end) {
  double s[kLanes];
  for (uint64_t l = 0; l < kLanes; ++l) s[l] = rows.by[Halves ? l >> 1 : l & 1];
  const Reg by = lane_real(s);
  const typename W::Keep keep = W::keep_words(keep_words);
  sweep_in_register(
      state, groups, kLanes / 2, Halves ? 1 : 2,
      [&](double* p) NIMBIC_TARGET {
        const Reg x = W::load(p);
        if constexpr (Halves)
          W::store(p, W::blend(keep, x, W::mul(by, W::half_swap(x))));
        else
          W::store(p, W::blend(keep, x, W::mul(by, W::pair_swap(x))));
      },
      begin, end);
}

bool permutation_simd(double* state, const Groups& all_groups, const int64_t* perm, const double* sign) {
  const LaneControls lanes(all_groups);
  // One target, both rows exchanged, on an index bit inside a register; or
  // whole registers: controls inside a register become lane blends.
  // Otherwise the gathering sweep keeps them.
  int b0 = -1, b1 = -1;
  MovesRun in_register = nullptr;
  if (all_groups.offsets.size() == 2 && perm[0] == 1 && in_register_bits(lanes.groups, b0, b1)) {
    if (b0 == 0 && (kLanes == 2 || (lanes.groups.mask & 2) == 0)) in_register = swap_in_register<false>;
    if constexpr (kLanes == 4)
      if (b1 == 0 && (lanes.groups.mask & 1) == 0) in_register = swap_in_register<true>;
  }
  const bool blend = in_register != nullptr || lanes.runs();
  const Groups& groups = blend ? lanes.groups : all_groups;
  const uint64_t* keep = blend ? lanes.keep : kKeepNone;
  const bool any = blend && lanes.any;
  const uint64_t count = groups.count;
  if (count < kLanes) return false;
  MovedRows rows;
  for (size_t r = 0; r < groups.offsets.size(); ++r)
    if (perm[r] != int64_t(r) || sign[r] != 1.0) {
      rows.to.push_back(groups.offsets[r]);
      rows.from.push_back(groups.offsets[size_t(perm[r])]);
      rows.by.push_back(sign[r]);
    }
  const size_t moved = rows.to.size();
  if (moved == 0) return true;
  auto split = [&](MovesRun run) {
    split_groups(count, moved, kLanes, moved,
                 [&](unsigned, uint64_t begin, uint64_t end) { run(state, groups, rows, keep, begin, end); });
    return true;
  };
  if (in_register != nullptr) return split(in_register);
  switch (moved) {
    case 1:
      return split(moves_for<1>(any));
    case 2:
      return split(moves_for<2>(any));
    case 3:
      return split(moves_for<3>(any));
    case 4:
      return split(moves_for<4>(any));
    case 6:
      return split(moves_for<6>(any));
    case 8:
      return split(moves_for<8>(any));
    default:
      break;
  }
  const uint64_t per_part = 2 * 2 * moved * kLanes + 8;
  std::vector<double> scratch(per_part * split_parts(count, moved, kLanes));
  split_groups(count, moved, kLanes, moved, [&](unsigned part, uint64_t begin, uint64_t end) {
    moves_dynamic(state, groups, rows, keep, scratch.data() + per_part * part, begin, end);
  });
  return true;
}

}  // namespace

}  // namespace nimbic::statevector
