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
// but the control pattern.
struct LineGroups {
  uint64_t mask, pattern, free_bits, count;
  uint64_t base(uint64_t counter) const { return deposit_bits(counter, free_bits) | pattern; }
  uint64_t next(uint64_t b) const { return (((b | mask | (kLineLanes - 1)) + 1) & free_bits) | pattern; }
};

template <class W = V>
NIMBIC_TARGET void run_lines(double* state, const LineGroups& lg, const std::vector<Line>& lines, uint64_t begin,
                             uint64_t end) {
  uint64_t b = lg.base(begin);
  for (uint64_t c = begin; c < end; ++c, b = lg.next(b)) {
    double* p = state + 2 * b;
    for (const Line& line : lines) {
      double* q = p + 2 * line.off;
      const typename W::Reg x = W::load(q);
      const typename W::Reg y = W::add(W::mul(W::load(line.re), x), W::mul(W::load(line.im), W::swap_re_im(x)));
      W::store(q, W::blend(W::keep_words(line.keep), x, y));
    }
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
  split_work(lg.count, lines.size() * kLineLanes, 1,
             [&](unsigned, uint64_t begin, uint64_t end) { run_lines(state, lg, lines, begin, end); });
  return true;
}

}  // namespace

}  // namespace nimbic::statevector
