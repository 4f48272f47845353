// The diagonal gate kernel, written once for both vector widths. Included
// only by diagonal_kernel_avx2.cpp and diagonal_kernel_avx512.cpp, inside
// `#if NIMBIC_X86_SIMD`, after they define V (their vector type, in an
// anonymous namespace) and NIMBIC_TARGET (their function attribute).
//
// A register holds kLanes neighbouring amplitudes (a line). Target and
// control bits inside a line only change which entry each lane takes; the
// others pick the lines. Lanes that the scalar kernel leaves alone (controls
// not matched, entry exactly 1) keep their old bits through a blend; the
// others get the scalar product (dr*ar - di*ai, dr*ai + di*ar), computed as
// dr * a + [-di, di] * swap(a), which rounds identically.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/qubits.hpp"
#include "common/split_work.hpp"
#include "statevector/gate_kernels.hpp"

namespace nimbic::statevector {

namespace {

constexpr uint64_t kLineLanes = V::kLanes;

// One line of a line group: where it lies from the group's first amplitude,
// and what each lane is multiplied by.
struct Line {
  uint64_t off;
  alignas(64) double re[2 * kLineLanes];  // [dr, dr] per lane
  alignas(64) double im[2 * kLineLanes];  // [-di, di] per lane
  alignas(64) uint64_t keep[2 * kLineLanes];
};

// Line groups: lines whose target and control bits above the line are clear
// but the control pattern. Their first amplitudes come in runs of `run`
// consecutive indices (a multiple of kLineLanes).
struct LineGroups {
  uint64_t mask, pattern, free_bits, count, run;
  uint64_t base(uint64_t counter) const { return deposit_bits(counter, free_bits) | pattern; }
  uint64_t next(uint64_t b) const { return (((b | mask | (kLineLanes - 1)) + 1) & free_bits) | pattern; }
};

template <class W = V>
NIMBIC_TARGET void run_lines(double* state, const LineGroups& lg, const std::vector<Line>& lines, uint64_t begin,
                             uint64_t end) {
  using Reg = typename W::Reg;
  uint64_t b = lg.base(begin);
  for (uint64_t c = begin; c < end;) {
    // Line groups c .. c+len-1 start at b, b + kLineLanes, ...
    const uint64_t len = std::min((lg.run - (b & (lg.run - 1))) / kLineLanes, end - c);
    for (const Line& line : lines) {
      const Reg re = W::load(line.re), im = W::load(line.im);
      const typename W::Keep keep = W::keep_words(line.keep);
      double* q = state + 2 * (b + line.off);
      for (uint64_t x = 0; x < 2 * kLineLanes * len; x += 2 * kLineLanes) {
        const Reg a = W::load(q + x);
        W::store(q + x, W::blend(keep, a, W::add(W::mul(re, a), W::mul(im, W::swap_re_im(a)))));
      }
    }
    c += len;
    b = lg.next(b + (len - 1) * kLineLanes);
  }
}

template <class W = V>
bool diagonal_simd(double* state, const Groups& groups, const double* entries) {
  constexpr uint64_t in_line = kLineLanes - 1;
  const int64_t n = groups.num_qubits;
  if (n < 63 && (uint64_t(1) << n) < kLineLanes) return false;
  const std::span<const uint64_t> off = groups.offsets;
  const uint64_t targets = off.back(), controls = groups.mask & ~targets;
  // Entry index of a pattern of target bits.
  auto index_of = [&](uint64_t bits) {
    size_t j = 0;
    for (size_t i = 0; (size_t(1) << i) < off.size(); ++i)
      if (bits & off[size_t(1) << i]) j |= size_t(1) << i;
    return j;
  };
  std::vector<Line> lines;
  for (size_t j = 0; j < off.size(); ++j) {
    if (off[j] & in_line) continue;  // each line once: its lanes cover the targets inside it
    Line line{};
    line.off = off[j];
    bool changes = false;
    for (uint64_t l = 0; l < kLineLanes; ++l) {
      const size_t e = index_of(off[j] | (l & targets));
      const double dr = entries[2 * e], di = entries[2 * e + 1];
      const bool keep = (l & controls) != (groups.pattern & in_line & controls) || (dr == 1.0 && di == 0.0);
      line.re[2 * l] = line.re[2 * l + 1] = dr;
      line.im[2 * l] = -di;
      line.im[2 * l + 1] = di;
      line.keep[2 * l] = line.keep[2 * l + 1] = keep ? ~uint64_t(0) : 0;
      changes = changes || !keep;
    }
    if (changes) lines.push_back(line);
  }
  if (lines.empty()) return true;
  LineGroups lg;
  lg.mask = groups.mask & ~in_line;
  lg.pattern = groups.pattern & ~in_line;
  lg.free_bits = (groups.free_bits | groups.mask) & ~lg.mask & ~in_line;
  lg.count = uint64_t(1) << (n - int64_t(__builtin_ctzll(kLineLanes)) - int64_t(__builtin_popcountll(lg.mask)));
  lg.run = lg.mask != 0 ? lg.mask & (~lg.mask + 1) : uint64_t(1) << n;
  split_work(lg.count, lines.size() * kLineLanes, 1,
             [&](unsigned, uint64_t begin, uint64_t end) { run_lines(state, lg, lines, begin, end); });
  return true;
}

}  // namespace

}  // namespace nimbic::statevector
