// Software prefetch for the vector gate kernels. A kernel visits its group
// bases in runs of `run` consecutive indices; a run touches, for each group
// offset, one chunk of `run` amplitudes, all chunks in step. With chunks of a
// few hundred bytes to a few tens of KiB the hardware prefetcher keeps losing
// these short interleaved streams and the kernel waits on memory, at up to
// three times the cost of a plain sweep. So each stream fetches its own data
// a fixed distance ahead into L2, continuing into the same chunk of a later
// run. Longer chunks are long streams, which the hardware handles. Only the
// timing of loads changes, never a value.
#pragma once

#include <cstdint>
#include <span>

#include "common/cpu_features.hpp"
#include "statevector/gate_kernels.hpp"

namespace nimbic::statevector {

// A prefetch into L2 that the optimiser keeps (GCC 12 drops some
// __builtin_prefetch calls reached through inlined member functions).
inline void prefetch_l2(const double* p) {
#if defined(__x86_64__) || defined(__i386__)
  asm volatile("prefetcht1 %0" : : "m"(*reinterpret_cast<const char*>(p)));
#else
  __builtin_prefetch(p, 0, 2);
#endif
}

// States of up to half the last-level cache are read from the cache, where
// software prefetch only costs instructions.
inline bool in_cache(uint64_t amplitudes) {
  const unsigned long long cache = last_level_cache_bytes();
  return amplitudes <= cache / 32;
}

class RunPrefetch {
 public:
  // Runs start at the group bases with no bit of `mask | (low - 1)` set but
  // the control pattern.
  RunPrefetch(const double* state, const Groups& groups)
      : RunPrefetch(state, groups.offsets, groups.mask, groups.pattern, groups.free_bits, groups.low) {}

  // The same for bases b (runs of `low` consecutive indices, every bit of
  // `mask` clear but the `pattern`, any `free_bits`) whose kernel touches
  // b | offset for each of `offsets`.
  RunPrefetch(const double* state, std::span<const uint64_t> offsets, uint64_t mask, uint64_t pattern,
              uint64_t free_bits, uint64_t low)
      : state_(state), offsets_(offsets), run_(low), pattern_(pattern) {
    if (run_ < kMinRun || run_ * 16 > kMaxChunkBytes || in_cache((mask | free_bits | 3) + 1)) return;
    run_mask_ = mask | (run_ - 1);
    run_free_ = free_bits & ~(run_ - 1);
    lead_ = run_ <= kAhead ? kAhead / run_ : 1;
    on_ = true;
  }

  // Called at base b (at least once per 64-byte line of its amplitudes):
  // prefetches, in every chunk, the line kAhead amplitudes further on.
  void at(uint64_t b) {
    const uint64_t x = b & (run_ - 1);
    if (!on_ || (x & 3) != 0) return;
    const uint64_t start = b - x;
    if (start != start_) {
      // The run `lead` runs on: the data kAhead amplitudes on (or, for the
      // tail of a long run, the next run).
      start_ = start;
      ahead_ = start;
      for (uint64_t n = 0; n < lead_ && ahead_valid(); ++n) ahead_ = next(ahead_);
    }
    uint64_t from, pos;
    if (run_ <= kAhead) {
      from = ahead_, pos = x;
    } else if (x + kAhead < run_) {
      from = start, pos = x + kAhead;
    } else {
      from = ahead_, pos = x + kAhead - run_;
    }
    if (from == start && pos == x) return;  // past the last run
    for (uint64_t off : offsets_) prefetch_l2(state_ + 2 * ((from | off) + pos));
  }

 private:
  static constexpr uint64_t kMinRun = 32;  // shorter chunks share lines: one stream
  static constexpr uint64_t kMaxChunkBytes = uint64_t(32) << 10;
  static constexpr uint64_t kAhead = 512;  // amplitudes: 8 KiB per stream

  uint64_t next(uint64_t b) const { return (((b | run_mask_) + 1) & run_free_) | pattern_; }
  bool ahead_valid() const { return ahead_ != (run_free_ | pattern_); }

  const double* state_;
  std::span<const uint64_t> offsets_;
  uint64_t run_;
  uint64_t pattern_;
  bool on_ = false;
  uint64_t run_mask_ = 0, run_free_ = 0, lead_ = 0;
  uint64_t start_ = ~uint64_t(0), ahead_ = 0;
};

}  // namespace nimbic::statevector

namespace nimbic::statevector {

// A prefetch into L1 that the optimiser keeps.
inline void prefetch_l1(const double* p) {
#if defined(__x86_64__) || defined(__i386__)
  asm volatile("prefetcht0 %0" : : "m"(*reinterpret_cast<const char*>(p)));
#else
  __builtin_prefetch(p, 1, 3);
#endif
}

// The lines (64 bytes, four amplitudes) that a kernel touches when it visits
// the `touched` offsets of every group leave gaps between stretches of about
// this many lines; 0 when they form one plain stream. (`mask` and `pattern`
// are those of the groups: an index visited has the pattern on the mask, plus
// a touched offset. The lines are all touched when every pattern of the mask
// bits above the line occurs.)
inline uint64_t touched_line_run(uint64_t mask, uint64_t pattern, std::span<const uint64_t> touched) {
  const uint64_t lines = mask & ~uint64_t(3);
  if (lines == 0) return 0;
  const int bits = __builtin_popcountll(lines);
  if (bits < 6) {       // more bits than that leave gaps whatever is touched
    uint64_t seen = 0;  // bit k: the k-th pattern of the line bits occurs
    for (uint64_t off : touched) {
      const uint64_t p = (pattern | off) & lines;
      uint64_t k = 0, i = 0;
      for (uint64_t m = lines; m != 0; m &= m - 1, ++i)
        if (p & m & (~m + 1)) k |= uint64_t(1) << i;
      seen |= uint64_t(1) << k;
    }
    if (seen == (uint64_t(2) << ((uint64_t(1) << bits) - 1)) - 1) return 0;
  }
  return (lines & (~lines + 1)) / 4;
}

// Prefetch for kernels that visit stretches of a few lines with gaps between
// them, as gates on the lowest qubits with controls do: the hardware
// prefetchers lose such streams. The caller keeps `ahead`, a group base about
// kAmplitudes indices further on (a whole number of its steps), and fetches
// its stretch at each step.
class AheadPrefetch {
 public:
  static constexpr uint64_t kAmplitudes = 1024;  // 16 KiB ahead
  static constexpr int kMaxSteps = 256;
  static constexpr uint64_t kMaxLineRun = 8;

  // `amplitudes`: the state's size.
  AheadPrefetch(const double* state, std::span<const uint64_t> touched, uint64_t line_run, uint64_t amplitudes)
      : state_(state), touched_(touched), on_(line_run != 0 && line_run <= kMaxLineRun && !in_cache(amplitudes)) {}
  bool on() const { return on_; }

  // Places `ahead` the prefetch distance past base b; `step` is the caller's
  // advance from one base it visits to the next.
  template <class Step>
  void start(uint64_t b, Step&& step) {
    if (!on_) return;
    ahead = b;
    for (int i = 0; i < kMaxSteps && ahead - b < kAmplitudes; ++i) {
      const uint64_t next = step(ahead);
      if (next <= ahead) break;
      ahead = next;
    }
  }

  // Fetches the `amplitudes` from ahead | offset, for every touched offset.
  void fetch(uint64_t amplitudes) const {
    for (uint64_t off : touched_)
      for (uint64_t x = 0; x < amplitudes; x += 4) prefetch_l1(state_ + 2 * ((ahead | off) + x));
  }

  uint64_t ahead = 0;

 private:
  const double* state_;
  std::span<const uint64_t> touched_;
  bool on_;
};

}  // namespace nimbic::statevector
