#include "stabilizer/sampler.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "common/split_work.hpp"
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
void sample_rows_scalar(const MeasurementProgram& prog, const Out* offsets, uint64_t seeded, int64_t repetitions,
                        Out* out) {
  const int64_t m = prog.num_measurements, nr = prog.num_random;
  const std::vector<uint64_t> step = draw_steps(prog);
  std::vector<uint64_t> vars(static_cast<size_t>((nr + 63) / 64));
  for (int64_t rep = 0; rep < repetitions; ++rep) {
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

// Bits 0..count-1 of `bits` as entries, each XORed with its offset.
inline void write_bits(uint64_t bits, int64_t count, uint8_t* dst, const uint8_t* offsets) {
  spread_bits(bits, count, dst, offsets);
}
inline void write_bits(uint64_t bits, int64_t count, int64_t* dst, const int64_t* offsets) {
  for (int64_t c = 0; c < count; ++c) dst[c] = int64_t((bits >> c) & 1) ^ offsets[c];
}

// The low `count` bytes of `word` (count <= 8), lowest first.
inline void store_bytes(uint64_t word, int64_t count, uint8_t* dst) {
  if constexpr (std::endian::native == std::endian::little) {
    if (count == 8) {
      std::memcpy(dst, &word, 8);
      return;
    }
  }
  for (int64_t b = 0; b < count; ++b) dst[b] = uint8_t(word >> (8 * b));
}

// Working space of one part of the sliced path, allocated before the split.
struct SliceScratch {
  std::vector<uint64_t> vars, outcome;
  explicit SliceScratch(const MeasurementProgram& prog)
      : vars(size_t(prog.num_random)), outcome(size_t((prog.num_measurements + 63) / 64 * 64), 0) {}
};

// One slice of the bit-sliced path: the outcome words of repetitions
// rep0 .. rep0+reps-1 (reps <= 64), bit r of a word belonging to repetition
// rep0+r. Each outcome word is the XOR of its variables' words.
void evaluate_slice(const MeasurementProgram& prog, const std::vector<uint64_t>& step, uint64_t seeded, int64_t rep0,
                    int64_t reps, SliceScratch& s) {
  const int64_t m = prog.num_measurements, nr = prog.num_random;
  std::fill(s.vars.begin(), s.vars.end(), 0);
  for (int64_t r = 0; r < reps; ++r) {
    const uint64_t base = repetition_base(seeded, m, rep0 + r);
    for (int64_t v = 0; v < nr; ++v) s.vars[size_t(v)] |= (WyRand::mix(base + step[size_t(v)]) >> 63) << r;
  }
  for (int64_t k = 0; k < m; ++k) {
    uint64_t word = 0;
    for (int64_t i = prog.form_start[size_t(k)]; i < prog.form_start[size_t(k + 1)]; ++i)
      word ^= s.vars[size_t(prog.form_vars[size_t(i)])];
    s.outcome[size_t(k)] = word;
  }
}

// Bit-sliced path: 64 repetitions at a time; 64 x 64 transposes turn
// outcome words into rows. `store(block, rep0, reps, k0)` writes the rows of
// one block: block[r], bit c, is outcome k0+c of repetition rep0+r.
template <class Store>
void sample_rows_sliced(const MeasurementProgram& prog, const std::vector<uint64_t>& step, uint64_t seeded,
                        int64_t first, int64_t count, SliceScratch& s, const Store& store) {
  const int64_t m = prog.num_measurements;
  uint64_t block[64];
  for (int64_t rep0 = first; rep0 < first + count; rep0 += 64) {
    const int64_t reps = std::min<int64_t>(64, first + count - rep0);
    evaluate_slice(prog, step, seeded, rep0, reps, s);
    for (int64_t k0 = 0; k0 < m; k0 += 64) {
      std::copy_n(s.outcome.begin() + k0, 64, block);
      transpose64(block);
      store(block, rep0, reps, k0);
    }
  }
}

// Every entry depends only on its own repetition, so the result is the same
// for any split; parts start at multiples of 64 repetitions.
template <class Store>
void sample_split(const MeasurementProgram& prog, uint64_t seeded, int64_t repetitions, const Store& store) {
  const uint64_t count = uint64_t(repetitions), per_rep = uint64_t(prog.num_measurements);
  const std::vector<uint64_t> step = draw_steps(prog);
  std::vector<SliceScratch> scratch(split_parts(count, per_rep, 64), SliceScratch(prog));
  split_work(count, per_rep, 64, [&](unsigned part, uint64_t begin, uint64_t end) {
    sample_rows_sliced(prog, step, seeded, int64_t(begin), int64_t(end - begin), scratch[part], store);
  });
}

// Rows of M entries, one per outcome: the outcome bit XOR its offset.
template <class Out>
void sample_entries(const MeasurementProgram& prog, const Out* offsets, uint64_t seeded, int64_t repetitions,
                    Out* out) {
  const int64_t m = prog.num_measurements;
  sample_split(prog, seeded, repetitions, [&](const uint64_t* block, int64_t rep0, int64_t reps, int64_t k0) {
    const int64_t cols = std::min<int64_t>(64, m - k0);
    for (int64_t r = 0; r < reps; ++r) write_bits(block[r], cols, out + (rep0 + r) * m + k0, offsets + k0);
  });
}

}  // namespace

// Packed rows: block[r] holds outcomes k0 .. k0+63 of a repetition in bit
// order, which stored little-endian are bytes k0/8 .. k0/8+7 of its packed
// row. Outcome words past M stay 0, so the padding bits of the last byte are 0.
void sample_repetitions_packed(const MeasurementProgram& prog, std::span<const uint64_t> offsets, uint64_t seeded,
                               int64_t repetitions, uint8_t* out) {
  const int64_t row_bytes = (prog.num_measurements + 7) / 8;
  sample_split(prog, seeded, repetitions, [&](const uint64_t* block, int64_t rep0, int64_t reps, int64_t k0) {
    const int64_t byte0 = k0 / 8, bytes = std::min<int64_t>(8, row_bytes - byte0);
    const uint64_t offset = offsets[size_t(k0 / 64)];
    for (int64_t r = 0; r < reps; ++r) store_bytes(block[r] ^ offset, bytes, out + (rep0 + r) * row_bytes + byte0);
  });
}

void sample_repetitions(const MeasurementProgram& prog, std::span<const uint8_t> offsets, uint64_t seeded,
                        int64_t repetitions, uint8_t* out) {
  sample_entries(prog, offsets.data(), seeded, repetitions, out);
}

void sample_repetitions(const MeasurementProgram& prog, std::span<const int64_t> offsets, uint64_t seeded,
                        int64_t repetitions, int64_t* out) {
  sample_entries(prog, offsets.data(), seeded, repetitions, out);
}

void sample_repetitions_scalar(const MeasurementProgram& prog, std::span<const uint8_t> offsets, uint64_t seeded,
                               int64_t repetitions, uint8_t* out) {
  sample_rows_scalar(prog, offsets.data(), seeded, repetitions, out);
}

void sample_repetitions_scalar(const MeasurementProgram& prog, std::span<const int64_t> offsets, uint64_t seeded,
                               int64_t repetitions, int64_t* out) {
  sample_rows_scalar(prog, offsets.data(), seeded, repetitions, out);
}

}  // namespace nimbic::stabilizer
