// The diagonal gate kernel, written once for both vector widths. Included
// only by the gate_kernels_<isa>.cpp files, inside `#if NIMBIC_X86_SIMD`,
// after they define V (their vector type, in an anonymous namespace) and
// NIMBIC_TARGET (their function attribute).
//
// The kernel walks 64-byte lines of four amplitudes (one AVX-512 register,
// two AVX2 registers). Target and control bits inside a line only change
// which entry each lane takes; the others pick the lines. Lanes that the scalar kernel leaves alone (controls
// not matched, entry exactly 1) keep their old bits through a blend; the
// others get the scalar product (dr*ar - di*ai, dr*ai + di*ar), computed as
// dr * a + [-di, di] * swap(a), which rounds identically.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/qubits.hpp"
#include "common/split_work.hpp"
#include "statevector/gate_kernels.hpp"
#include "statevector/run_prefetch.hpp"
#include "statevector/split_groups.hpp"

namespace nimbic::statevector {

namespace {

constexpr uint64_t kLineLanes = V::kLanes;
constexpr uint64_t kLineAmps = 4;

// One register of a line group: where it lies from the group's first
// amplitude, and what each lane is multiplied by.
struct Line {
  uint64_t off;
  alignas(64) double re[2 * kLineLanes];  // [dr, dr] per lane
  alignas(64) double im[2 * kLineLanes];  // [-di, di] per lane
  alignas(64) uint64_t keep[2 * kLineLanes];
};

// Line groups: lines whose target and control bits above the line are clear
// but the control pattern. Their first amplitudes come in runs of `run`
// consecutive indices (a multiple of kLineAmps).
struct LineGroups {
  uint64_t mask, pattern, free_bits, count, run;
  uint64_t base(uint64_t counter) const { return deposit_bits(counter, free_bits) | pattern; }
  uint64_t next(uint64_t b) const { return (((b | mask | (kLineAmps - 1)) + 1) & free_bits) | pattern; }
};

// Line groups begin .. end-1. N lines (1, 2 or 4) keep their factors in
// registers; N = 0 reads them from `lines` (any number).
template <size_t N, class W = V>
NIMBIC_TARGET void run_lines(double* state, const LineGroups& lg, const std::vector<Line>& lines,
                             std::span<const uint64_t> touched, uint64_t begin, uint64_t end) {
  using Reg = typename W::Reg;
  constexpr size_t kFixed = N != 0 ? N : 1;
  Reg re[kFixed], im[kFixed];
  typename W::Keep keep[kFixed];
  uint64_t off[kFixed];
  for (size_t i = 0; i < N; ++i) {
    re[i] = W::load(lines[i].re), im[i] = W::load(lines[i].im), keep[i] = W::keep_words(lines[i].keep);
    off[i] = lines[i].off;
  }
  auto times = [&](Reg a, Reg r, Reg m, typename W::Keep k)
                   NIMBIC_TARGET { return W::blend(k, a, W::add(W::mul(r, a), W::mul(m, W::swap_re_im(a)))); };
  uint64_t b = lg.base(begin);
  AheadPrefetch ahead(state, touched, touched_line_run(lg.mask, lg.pattern, touched),
                      (lg.mask | lg.free_bits | (kLineAmps - 1)) + 1);
  ahead.start(b, [&](uint64_t x) { return lg.next(x); });
  RunPrefetch pf(state, touched, lg.mask, lg.pattern, lg.free_bits, lg.run);
  for (uint64_t c = begin; c < end;) {
    // Line groups c .. c+len-1 start at b, b + kLineAmps, ...
    const uint64_t len = std::min((lg.run - (b & (lg.run - 1))) / kLineAmps, end - c);
    if (ahead.on()) {
      ahead.fetch(len * kLineAmps);
      ahead.ahead = lg.next(ahead.ahead + (len - 1) * kLineAmps);
    }
    double* p = state + 2 * b;
    // Line by line, every register of the group in step: the streams advance
    // together, each reading before any writes (streams 4 KiB apart would
    // otherwise wait on each other's stores).
    for (uint64_t x = 0; x < 2 * kLineAmps * len; x += 2 * kLineAmps) {
      pf.at(b + x / 2);
      if constexpr (N != 0) {
        Reg a[N];
        for (size_t i = 0; i < N; ++i) a[i] = W::load(p + 2 * off[i] + x);
        for (size_t i = 0; i < N; ++i) W::store(p + 2 * off[i] + x, times(a[i], re[i], im[i], keep[i]));
      } else {
        for (const Line& l : lines) {
          double* q = p + 2 * l.off + x;
          W::store(q, times(W::load(q), W::load(l.re), W::load(l.im), W::keep_words(l.keep)));
        }
      }
    }
    c += len;
    b = lg.next(b + (len - 1) * kLineAmps);
  }
}

template <class W = V>
bool diagonal_simd(double* state, const Groups& groups, const double* entries) {
  constexpr uint64_t in_line = kLineAmps - 1;
  const int64_t n = groups.num_qubits;
  if (n < 2) return false;
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
    for (uint64_t first = 0; first < kLineAmps; first += kLineLanes) {
      Line line{};
      line.off = off[j] + first;
      bool changes = false;
      for (uint64_t l = 0; l < kLineLanes; ++l) {
        const uint64_t at = first + l;  // amplitude within the line
        const size_t e = index_of(off[j] | (at & targets));
        const double dr = entries[2 * e], di = entries[2 * e + 1];
        const bool keep = (at & controls) != (groups.pattern & in_line & controls) || (dr == 1.0 && di == 0.0);
        line.re[2 * l] = line.re[2 * l + 1] = dr;
        line.im[2 * l] = -di;
        line.im[2 * l + 1] = di;
        line.keep[2 * l] = line.keep[2 * l + 1] = keep ? ~uint64_t(0) : 0;
        changes = changes || !keep;
      }
      if (changes) lines.push_back(line);
    }
  }
  if (lines.empty()) return true;
  LineGroups lg;
  lg.mask = groups.mask & ~in_line;
  lg.pattern = groups.pattern & ~in_line;
  lg.free_bits = (groups.free_bits | groups.mask) & ~lg.mask & ~in_line;
  lg.count = uint64_t(1) << (n - 2 - int64_t(__builtin_popcountll(lg.mask)));
  lg.run = lg.mask != 0 ? lg.mask & (~lg.mask + 1) : uint64_t(1) << n;
  std::vector<uint64_t> touched;  // each line's offset
  for (const Line& line : lines) touched.push_back(line.off);
  auto run = lines.size() == 1   ? run_lines<1>
             : lines.size() == 2 ? run_lines<2>
             : lines.size() == 4 ? run_lines<4>
                                 : run_lines<0>;
  split_groups(lg.count, lines.size() * kLineLanes, 1, lines.size() * kLineLanes,
               [&](unsigned, uint64_t begin, uint64_t end) { run(state, lg, lines, touched, begin, end); });
  return true;
}

}  // namespace

}  // namespace nimbic::statevector
