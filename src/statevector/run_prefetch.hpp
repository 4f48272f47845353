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

class RunPrefetch {
 public:
  // `offsets` are the group offsets, `mask` their OR; runs start at the bases
  // with no bit of `mask | (run - 1)` set, in increasing order. Each call to
  // `at` covers two bases of the current run.
  RunPrefetch(const double* state, int64_t num_qubits, std::span<const uint64_t> offsets, uint64_t mask,
              uint64_t run)
      : state_(state), offsets_(offsets), run_(run) {
    if (run < kMinRun || run * 16 > kMaxChunkBytes) return;
    run_mask_ = mask | (run - 1);
    run_free_ = ((uint64_t(1) << num_qubits) - 1) & ~run_mask_;
    // The run that holds the data kAhead amplitudes on (or the next one, for
    // the tail of a long run).
    uint64_t lead = run <= kAhead ? kAhead / run : 1;
    ahead_ = 0;
    for (; lead > 0; --lead) {
      if (ahead_ == run_free_) return;  // state too small to bother
      ahead_ = next(ahead_);
    }
    on_ = true;
  }

  // Prefetches the lines kAhead amplitudes past this call's bases, in every
  // chunk; `start` is the current run's first base, `step` counts the calls
  // within the run from 0.
  void at(uint64_t start, uint64_t step) const {
    const uint64_t x = 2 * step;
    if (!on_ || (x & 3) != 0) return;  // once per 64-byte line
    uint64_t from, pos;
    if (run_ <= kAhead) {
      from = ahead_, pos = x;
    } else if (x + kAhead < run_) {
      from = start, pos = x + kAhead;
    } else {
      from = ahead_, pos = x + kAhead - run_;
    }
    for (uint64_t off : offsets_) prefetch_l2(state_ + 2 * ((from | off) + pos));
  }

  // Moves on to the next run (call after finishing one).
  void advance() {
    if (!on_) return;
    if (ahead_ == run_free_) {
      on_ = false;  // the rest of the state is already on its way
      return;
    }
    ahead_ = next(ahead_);
  }

 private:
  static constexpr uint64_t kMinRun = 32;  // shorter chunks share lines: one stream
  static constexpr uint64_t kMaxChunkBytes = uint64_t(32) << 10;
  static constexpr uint64_t kAhead = 512;  // amplitudes: 8 KiB per stream

  uint64_t next(uint64_t b) const { return ((b | run_mask_) + 1) & run_free_; }

  const double* state_;
  std::span<const uint64_t> offsets_;
  uint64_t run_;
  bool on_ = false;
  uint64_t run_mask_ = 0, run_free_ = 0;
  uint64_t ahead_ = 0;
};

}  // namespace nimbic::statevector
