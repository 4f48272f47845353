#include "stabilizer/packed_run.hpp"

#include <algorithm>
#include <string>

#include "common/interrupt.hpp"
#include "common/memory.hpp"
#include "common/panic.hpp"
#include "stabilizer/instruction_stream.hpp"
#include "stabilizer/packed_tableau.hpp"
#include "stabilizer/sampler.hpp"
#include "stabilizer/tableau.hpp"
#include "stabilizer/wyrand.hpp"

namespace nimbic::stabilizer {

int64_t first_non_bit(std::span<const int64_t> invert_mask) {
  for (size_t k = 0; k < invert_mask.size(); ++k)
    if (invert_mask[k] != 0 && invert_mask[k] != 1) return int64_t(k);
  return -1;
}

PackedRun compile_packed_run(std::span<const int64_t> instructions, int64_t n, std::span<const int64_t> invert_mask,
                             int64_t repetitions, int64_t seed, int64_t first_rows) {
  PackedRun run;
  const int64_t count = instruction_count(instructions);
  for (int64_t i = 0; i < count; ++i) run.num_measurements += instructions[size_t(3 * i)] == instr_measure;
  const int64_t m = run.num_measurements;
  run.row_bytes = (m + 7) / 8;
  // Like clifford_run: no draws, nothing checked.
  if (m == 0 || repetitions == 0) {
    run.repetitions = std::max<int64_t>(repetitions, 0);
    return run;
  }
  int64_t total = 0;
  const bool overflow = __builtin_mul_overflow(repetitions, m, &total);
  if (repetitions < 0) panic("negative .len:" + std::to_string(overflow ? INT64_MIN : total));
  if (overflow) panic_out_of_memory();
  run.repetitions = repetitions;
  check_allocatable(Count(std::min(first_rows, repetitions)) * Count(run.row_bytes));

  run.seeded = WyRand::seed_state(seed);
  check_tableau_size(n);
  if (n < 0) panic("negative .len:" + std::to_string(2 * n + 1));
  run.prog = compile_measurements(instructions, n);
  run.offsets.assign(size_t((m + 63) / 64), 0);
  for (int64_t k = 0; k < m; ++k) {
    const uint64_t bit =
        uint64_t(run.prog.constant[size_t(k)]) ^ uint64_t(k < int64_t(invert_mask.size()) ? invert_mask[size_t(k)] : 0);
    run.offsets[size_t(k / 64)] |= bit << (k % 64);
  }
  return run;
}

std::vector<uint8_t> sample_packed_rows(const PackedRun& run, int64_t first, int64_t count) {
  const int64_t m = run.num_measurements;
  check_allocatable(Count(count) * Count(run.row_bytes));
  std::vector<uint8_t> out = zeroed<uint8_t>(size_t(count * run.row_bytes));
  if (m == 0) return out;
  // In chunks of about 2^21 outcomes, with a stop check between them; the
  // generator state of repetition r continues the seeded sequence.
  const int64_t chunk = std::max<int64_t>(64, (int64_t(1) << 21) / m / 64 * 64);
  for (int64_t done = 0; done < count; done += chunk) {
    interruption_point();
    const int64_t reps = std::min(chunk, count - done);
    const uint64_t start = run.seeded + uint64_t(first + done) * uint64_t(m) * WyRand::kIncrement;
    sample_repetitions_packed(run.prog, run.offsets, start, reps, out.data() + done * run.row_bytes);
  }
  return out;
}

}  // namespace nimbic::stabilizer
