#include "stabilizer/sampler.hpp"

#include <algorithm>
#include <cstring>
#include <exception>
#include <thread>
#include <vector>

#include "common/cpu_features.hpp"
#include "stabilizer/bit_matrix.hpp"
#include "stabilizer/wyrand.hpp"

namespace nimbic::stabilizer {

namespace {

// State increment from the first draw of a repetition to each random draw.
std::vector<uint64_t> draw_steps(const MeasurementProgram& prog) {
  std::vector<uint64_t> step;
  for (int64_t k : prog.random_position) step.push_back(uint64_t(k) * WyRand::kIncrement);
  return step;
}

// State before the first draw of repetition `rep`.
uint64_t repetition_base(uint64_t seeded, int64_t m, int64_t rep) {
  return seeded + (uint64_t(rep) * uint64_t(m) + 1) * WyRand::kIncrement;
}

// Reference path, one repetition at a time: the outcome bits of the random
// measurements become a bit set and each outcome is a parity over it.
template <class Out>
void sample_rows_scalar(const MeasurementProgram& prog, const Out* offsets, uint64_t seeded, int64_t first,
                        int64_t count, Out* out) {
  const int64_t m = prog.num_measurements, nr = prog.num_random;
  const std::vector<uint64_t> step = draw_steps(prog);
  std::vector<uint64_t> vars(static_cast<size_t>((nr + 63) / 64));
  for (int64_t rep = first; rep < first + count; ++rep) {
    const uint64_t base = repetition_base(seeded, m, rep);
    std::fill(vars.begin(), vars.end(), 0);
    for (int64_t v = 0; v < nr; ++v) vars[size_t(v / 64)] |= (WyRand::mix(base + step[size_t(v)]) >> 63) << (v % 64);
    Out* row = out + rep * m;
    for (int64_t k = 0; k < m; ++k) {
      uint64_t bit = 0;
      for (int64_t i = prog.form_start[size_t(k)]; i < prog.form_start[size_t(k + 1)]; ++i) {
        const int64_t v = prog.form_vars[size_t(i)];
        bit ^= vars[size_t(v / 64)] >> (v % 64);
      }
      row[k] = Out(bit & 1) ^ offsets[k];
    }
  }
}

// Bit-sliced path: 64 repetitions at a time, bit r of a word belonging to
// repetition first+r. Each outcome word is the XOR of its variables' words;
// 64 x 64 transposes then turn outcome words into the byte rows.
void sample_rows_sliced(const MeasurementProgram& prog, const uint8_t* offsets, uint64_t seeded, int64_t first,
                        int64_t count, uint8_t* out) {
  const int64_t m = prog.num_measurements, nr = prog.num_random;
  const std::vector<uint64_t> step = draw_steps(prog);
  const int64_t m_padded = (m + 63) / 64 * 64;
  std::vector<uint64_t> vars(static_cast<size_t>(nr)), outcome(static_cast<size_t>(m_padded), 0);
  uint64_t block[64];
  for (int64_t rep0 = first; rep0 < first + count; rep0 += 64) {
    const int64_t reps = std::min<int64_t>(64, first + count - rep0);
    std::fill(vars.begin(), vars.end(), 0);
    for (int64_t r = 0; r < reps; ++r) {
      const uint64_t base = repetition_base(seeded, m, rep0 + r);
      for (int64_t v = 0; v < nr; ++v) vars[size_t(v)] |= (WyRand::mix(base + step[size_t(v)]) >> 63) << r;
    }
    for (int64_t k = 0; k < m; ++k) {
      uint64_t word = 0;
      for (int64_t i = prog.form_start[size_t(k)]; i < prog.form_start[size_t(k + 1)]; ++i)
        word ^= vars[size_t(prog.form_vars[size_t(i)])];
      outcome[size_t(k)] = word;
    }
    for (int64_t k0 = 0; k0 < m; k0 += 64) {
      std::copy_n(outcome.begin() + k0, 64, block);
      transpose64(block);  // block[r]: bit c is outcome k0+c of repetition rep0+r
      const int64_t cols = std::min<int64_t>(64, m - k0);
      for (int64_t r = 0; r < reps; ++r) {
        spread_bits(block[r], cols, out + (rep0 + r) * m + k0, offsets + k0);
      }
    }
  }
}

// Splits the repetitions over worker threads in blocks of 64; every entry
// depends only on its own repetition, so the result is the same for any
// split.
template <class Fill>
void run_split(int64_t repetitions, int64_t entries_per_rep, Fill&& fill) {
  const int64_t total = repetitions * entries_per_rep;
  int64_t workers = std::min<int64_t>(std::max(1u, available_cores()), 8);
  workers = std::min<int64_t>(workers, std::max<int64_t>(1, total / (int64_t(1) << 20)));
  workers = std::min<int64_t>(workers, (repetitions + 63) / 64);
  if (workers <= 1) {
    fill(0, repetitions);
    return;
  }
  const int64_t blocks = (repetitions + 63) / 64;
  std::vector<std::thread> threads;
  std::vector<std::exception_ptr> errors(static_cast<size_t>(workers));
  int64_t next = 0;
  try {
    for (int64_t w = 0; w < workers - 1; ++w) {
      const int64_t end = std::min(repetitions, (blocks * (w + 1) / workers) * 64);
      threads.emplace_back([&fill, &errors, w, next, end] {
        try {
          fill(next, end - next);
        } catch (...) {
          errors[size_t(w)] = std::current_exception();
        }
      });
      next = end;
    }
  } catch (...) {
    // Could not start a thread: the caller's thread does the rest.
  }
  try {
    fill(next, repetitions - next);
  } catch (...) {
    errors.back() = std::current_exception();
  }
  for (std::thread& t : threads) t.join();
  for (const std::exception_ptr& e : errors)
    if (e) std::rethrow_exception(e);
}

}  // namespace

void sample_repetitions(const MeasurementProgram& prog, std::span<const uint8_t> offsets, uint64_t seeded,
                        int64_t repetitions, uint8_t* out) {
  run_split(repetitions, prog.num_measurements,
            [&](int64_t first, int64_t count) { sample_rows_sliced(prog, offsets.data(), seeded, first, count, out); });
}

void sample_repetitions_scalar(const MeasurementProgram& prog, std::span<const uint8_t> offsets, uint64_t seeded,
                               int64_t repetitions, uint8_t* out) {
  sample_rows_scalar<uint8_t>(prog, offsets.data(), seeded, 0, repetitions, out);
}

void sample_repetitions(const MeasurementProgram& prog, std::span<const int64_t> offsets, uint64_t seeded,
                        int64_t repetitions, int64_t* out) {
  sample_rows_scalar<int64_t>(prog, offsets.data(), seeded, 0, repetitions, out);
}

}  // namespace nimbic::stabilizer
