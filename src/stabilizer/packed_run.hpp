// Seeded Clifford repetitions with bit-packed rows: the draws and outcomes
// of clifford_run, row rep of M outcomes stored as ceil(M/8) bytes (outcome
// k in byte k/8, bit k%8; the bits past M are 0). A run is compiled once and
// sampled in any ranges of repetitions: rows [first, first+count) are the
// same bits whichever ranges they are cut into.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "stabilizer/measurement_program.hpp"

namespace nimbic::stabilizer {

struct PackedRun {
  int64_t repetitions = 0;        // rows of the whole run, >= 0
  int64_t num_measurements = 0;   // M
  int64_t row_bytes = 0;          // ceil(M/8)
  uint64_t seeded = 0;            // generator state after seeding
  MeasurementProgram prog;        // compiled only when the run draws
  std::vector<uint64_t> offsets;  // ceil(M/64) words: outcome constants XOR the mask
};

// Whether every entry of `invert_mask` is 0 or 1; else the index of the
// first one that is not.
int64_t first_non_bit(std::span<const int64_t> invert_mask);

// Checks and compiles a run the way clifford_run checks its arguments, in
// the same order and with the same errors: nothing when M = 0 or repetitions
// = 0 (then a run of max(repetitions, 0) empty rows, or of no rows), a
// negative repetition count, then `first_rows` rows of the result against
// the memory guard, the qubit count and every operand of the stream. The
// mask entries must be 0 or 1 (first_non_bit). The result memory is not
// allocated here.
PackedRun compile_packed_run(std::span<const int64_t> instructions, int64_t num_qubits,
                             std::span<const int64_t> invert_mask, int64_t repetitions, int64_t seed,
                             int64_t first_rows);

// Rows [first, first+count) of `run` (within 0..repetitions), count*row_bytes
// bytes, sampled in chunks with a stop check (interruption_point) between.
std::vector<uint8_t> sample_packed_rows(const PackedRun& run, int64_t first, int64_t count);

}  // namespace nimbic::stabilizer
