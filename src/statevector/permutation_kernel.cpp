// Signed permutations: each group's moved amplitudes are read, then written
// to their new places with their signs. Rows that keep their amplitude with
// sign +1 are never touched. Groups come in runs of consecutive bases, so the
// moves run along contiguous stretches of memory.
#include <algorithm>
#include <vector>

#include "common/split_work.hpp"
#include "statevector/gate_kernels.hpp"
#include "statevector/run_prefetch.hpp"
#include "statevector/split_groups.hpp"

namespace nimbic::statevector {

namespace {

struct Moves {
  std::vector<uint64_t> to, from;  // group offsets written and read, row by row
  std::vector<double> by;          // the row's sign
};

// Groups begin .. end-1, `Moved` rows at a time known at compile time (0:
// any number, through `scratch`).
template <size_t Moved>
void move_runs(double* state, const Groups& groups, const Moves& moves, double* scratch, uint64_t begin, uint64_t end) {
  const size_t moved = Moved != 0 ? Moved : moves.to.size();
  double fixed[2 * (Moved != 0 ? Moved : 1)];
  double* keep = Moved != 0 ? fixed : scratch;
  uint64_t b = groups.base(begin);
  // Sparse stretches of lines get a software prefetch kGroups groups ahead.
  AheadPrefetch pf(state, moves.from, touched_line_run(groups.mask, groups.pattern, moves.from),
                   (groups.mask | groups.free_bits) + 1);
  pf.start(b, [&](uint64_t x) { return groups.next(x); });
  RunPrefetch rp(state, moves.from, groups.mask, groups.pattern, groups.free_bits, groups.low);
  if (groups.low == 1) {  // runs of one group
    for (uint64_t c = begin; c < end; ++c, b = groups.next(b)) {
      if (pf.on()) {
        pf.fetch(1);
        pf.ahead = groups.next(pf.ahead);
      }
      if constexpr (Moved != 0) {
        double t[Moved][2];
        for (size_t i = 0; i < Moved; ++i)
          for (size_t q = 0; q < 2; ++q) t[i][q] = state[2 * (b | moves.from[i]) + q];
        for (size_t i = 0; i < Moved; ++i)
          for (size_t q = 0; q < 2; ++q) state[2 * (b | moves.to[i]) + q] = moves.by[i] * t[i][q];
      } else {
        for (size_t i = 0; i < moved; ++i) {
          keep[2 * i] = state[2 * (b | moves.from[i])];
          keep[2 * i + 1] = state[2 * (b | moves.from[i]) + 1];
        }
        for (size_t i = 0; i < moved; ++i) {
          state[2 * (b | moves.to[i])] = moves.by[i] * keep[2 * i];
          state[2 * (b | moves.to[i]) + 1] = moves.by[i] * keep[2 * i + 1];
        }
      }
    }
    return;
  }
  for (uint64_t c = begin; c < end;) {
    // Bases b .. b+len-1 are consecutive.
    const uint64_t len = std::min(groups.low - (b & (groups.low - 1)), end - c);
    if (pf.on()) {
      pf.fetch(len);
      pf.ahead = groups.next(pf.ahead + len - 1);
    }
    double* dst[Moved != 0 ? Moved : 1];
    const double* src[Moved != 0 ? Moved : 1];
    double by[Moved != 0 ? Moved : 1];
    if constexpr (Moved != 0) {
      for (size_t i = 0; i < Moved; ++i) {
        dst[i] = state + 2 * (b | moves.to[i]);
        src[i] = state + 2 * (b | moves.from[i]);
        by[i] = moves.by[i];
      }
      // Two amplitudes of every row per step: all read, then all written.
      uint64_t f = 0;
      for (; f + 4 <= 2 * len; f += 4) {
        if ((f & 7) == 0) rp.at(b + f / 2);
        double t[Moved][4];
        for (size_t i = 0; i < Moved; ++i)
          for (size_t q = 0; q < 4; ++q) t[i][q] = src[i][f + q];
        for (size_t i = 0; i < Moved; ++i)
          for (size_t q = 0; q < 4; ++q) dst[i][f + q] = by[i] * t[i][q];
      }
      for (; f < 2 * len; ++f) {
        double t[Moved];
        for (size_t i = 0; i < Moved; ++i) t[i] = src[i][f];
        for (size_t i = 0; i < Moved; ++i) dst[i][f] = by[i] * t[i];
      }
    } else {
      for (uint64_t f = 0; f < 2 * len; ++f) {
        for (size_t i = 0; i < moved; ++i) keep[i] = state[2 * (b | moves.from[i]) + f];
        for (size_t i = 0; i < moved; ++i) state[2 * (b | moves.to[i]) + f] = moves.by[i] * keep[i];
      }
    }
    c += len;
    b = groups.next(b + len - 1);
  }
}

}  // namespace

void permutation_scalar(double* state, const Groups& groups, const int64_t* perm, const double* sign) {
  const std::span<const uint64_t> off = groups.offsets;
  Moves moves;
  for (size_t r = 0; r < off.size(); ++r)
    if (perm[r] != int64_t(r) || sign[r] != 1.0) {
      moves.to.push_back(off[r]);
      moves.from.push_back(off[size_t(perm[r])]);
      moves.by.push_back(sign[r]);
    }
  const size_t moved = moves.to.size();
  if (moved == 0) return;
  std::vector<double> scratch(moved > 4 ? 2 * moved * split_parts(groups.count, moved, 1) : 0);
  split_groups(groups.count, moved, 1, moved, [&](unsigned part, uint64_t begin, uint64_t end) {
    switch (moved) {
      case 1:
        return move_runs<1>(state, groups, moves, nullptr, begin, end);
      case 2:
        return move_runs<2>(state, groups, moves, nullptr, begin, end);
      case 3:
        return move_runs<3>(state, groups, moves, nullptr, begin, end);
      case 4:
        return move_runs<4>(state, groups, moves, nullptr, begin, end);
      default:
        return move_runs<0>(state, groups, moves, scratch.data() + 2 * moved * part, begin, end);
    }
  });
}

}  // namespace nimbic::statevector
