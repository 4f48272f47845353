#include "stabilizer/clifford_batch.hpp"

#include <algorithm>
#include <chrono>
#include <string>

#include "common/interrupt.hpp"
#include "common/memory.hpp"
#include "common/panic.hpp"
#include "stabilizer/instruction_stream.hpp"
#include "stabilizer/measurement_program.hpp"
#include "stabilizer/packed_tableau.hpp"
#include "stabilizer/sampler.hpp"
#include "stabilizer/tableau.hpp"
#include "stabilizer/wyrand.hpp"

namespace nimbic::stabilizer {

WyRand& default_generator() {
  static WyRand generator = [] {
    WyRand g;
    g.seed(int64_t(std::chrono::steady_clock::now().time_since_epoch().count()));
    return g;
  }();
  return generator;
}

namespace {

[[noreturn]] void panic_negative_length(int64_t length) { panic("negative .len:" + std::to_string(length)); }

// The fresh tableau of n qubits: its arrays of n*(2n+1) and 2n+1 entries
// must exist.
void check_new_tableau(int64_t n) {
  check_tableau_size(n);
  if (n < 0) panic_negative_length(2 * n + 1);
}

}  // namespace

IntList clifford_tableau(std::span<const int64_t> instructions, int64_t n) {
  check_new_tableau(n);
  OwnedPackedTableau t(n);
  const int64_t count = instruction_count(instructions);
  InterruptionTicker ticker(uint64_t(1) << 16);
  for (int64_t i = 0; i < count; ++i) {
    ticker.tick(uint64_t(n));
    const int64_t code = instructions[size_t(3 * i)];
    if (n == 0 || !is_gate(code)) continue;
    const int64_t a = instructions[size_t(3 * i + 1)], b = instructions[size_t(3 * i + 2)];
    check_instruction(code, a, b, n, false);
    t->apply(code, a, b);
  }
  const int64_t entries = flat_entries(n);
  IntList out;
  check_result(entries, 1, kSmallIntListItemBytes);
  out.small = zeroed<uint8_t>(size_t(entries));
  t->write_flat(out.small.data());
  return out;
}

IntList clifford_run(std::span<const int64_t> instructions, int64_t n, std::span<const int64_t> invert_mask,
                     int64_t repetitions, int64_t seed) {
  const int64_t count = instruction_count(instructions);
  int64_t m = 0;
  for (int64_t i = 0; i < count; ++i) m += instructions[size_t(3 * i)] == instr_measure;
  IntList out;
  if (m == 0 || repetitions == 0) return out;
  int64_t total = 0;
  const bool overflow = __builtin_mul_overflow(repetitions, m, &total);
  if (repetitions < 0) panic_negative_length(overflow ? INT64_MIN : total);
  if (overflow) panic_out_of_memory();

  // The outcome's constant (0 or 1) and the caller's inversion fold into one
  // offset per measurement; it stays within 0..255 exactly when the mask
  // entry does.
  bool small = true;
  for (int64_t k = 0; k < m && k < int64_t(invert_mask.size()); ++k)
    small = small && invert_mask[size_t(k)] >= 0 && invert_mask[size_t(k)] <= 255;
  if (small) {
    check_result(total, 1, kSmallIntListItemBytes);
    out.small = zeroed<uint8_t>(size_t(total));
  } else {
    check_result(total);
    out.wide = zeroed<int64_t>(size_t(total));
  }

  WyRand& generator = default_generator();
  generator.seed(seed);
  const uint64_t seeded = generator.state;
  check_new_tableau(n);
  const MeasurementProgram prog = compile_measurements(instructions, n);
  std::vector<int64_t> offsets(size_t(m), 0);
  for (int64_t k = 0; k < m; ++k)
    offsets[size_t(k)] =
        int64_t(prog.constant[size_t(k)]) ^ (k < int64_t(invert_mask.size()) ? invert_mask[size_t(k)] : 0);
  const std::vector<uint8_t> bytes =
      small ? std::vector<uint8_t>(offsets.begin(), offsets.end()) : std::vector<uint8_t>();
  // In chunks of about 2^21 entries, with a stop check between them; the
  // generator state of repetition `first` continues the seeded sequence.
  const int64_t chunk = std::max<int64_t>(64, (int64_t(1) << 21) / m / 64 * 64);
  for (int64_t first = 0; first < repetitions; first += chunk) {
    interruption_point();
    const int64_t reps = std::min(chunk, repetitions - first);
    const uint64_t start = seeded + uint64_t(first) * uint64_t(m) * WyRand::kIncrement;
    if (small)
      sample_repetitions(prog, bytes, start, reps, out.small.data() + first * m);
    else
      sample_repetitions(prog, offsets, start, reps, out.wide.data() + first * m);
  }
  generator.skip(uint64_t(total));
  return out;
}

}  // namespace nimbic::stabilizer
