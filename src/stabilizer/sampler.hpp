// Seeded repetitions of a compiled measurement program: each repetition
// draws one WyRand value per measurement instruction (only the draws of
// random measurements are computed, their top bit is the outcome) and
// evaluates every outcome as a parity of those bits.
#pragma once

#include <cstdint>
#include <span>

#include "stabilizer/measurement_program.hpp"

namespace nimbic::stabilizer {

// Writes repetitions rows of M entries: entry rep*M + k is outcome k of
// repetition rep XOR offsets[k] (the constant of the outcome folded with the
// caller's inversion). Draw j of the run (j = rep*M + k) is the generator's
// draw j after seeding with `seeded`.
void sample_repetitions(const MeasurementProgram& prog, std::span<const uint8_t> offsets, uint64_t seeded,
                        int64_t repetitions, uint8_t* out);
// The same one repetition at a time, single-threaded: the reference the
// bit-sliced path above is checked against.
void sample_repetitions_scalar(const MeasurementProgram& prog, std::span<const uint8_t> offsets, uint64_t seeded,
                               int64_t repetitions, uint8_t* out);
// Offsets outside 0..255 (wide results).
void sample_repetitions(const MeasurementProgram& prog, std::span<const int64_t> offsets, uint64_t seeded,
                        int64_t repetitions, int64_t* out);

}  // namespace nimbic::stabilizer
