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
// caller's inversion; bytes when every offset fits in 0..255). Draw j of the
// run (j = rep*M + k) is the generator's draw j after seeding with `seeded`.
// 64 repetitions are evaluated at once, bit-sliced, and the repetitions are
// split over threads by the split policy.
void sample_repetitions(const MeasurementProgram& prog, std::span<const uint8_t> offsets, uint64_t seeded,
                        int64_t repetitions, uint8_t* out);
void sample_repetitions(const MeasurementProgram& prog, std::span<const int64_t> offsets, uint64_t seeded,
                        int64_t repetitions, int64_t* out);

// The same rows bit-packed: row rep is ceil(M/8) bytes at out + rep*ceil(M/8),
// bit k of it (byte k/8, bit k%8) outcome k of repetition rep XOR bit k of
// `offsets` (ceil(M/64) words whose bits past M are 0); the bits past M are 0.
void sample_repetitions_packed(const MeasurementProgram& prog, std::span<const uint64_t> offsets, uint64_t seeded,
                               int64_t repetitions, uint8_t* out);

// The same one repetition at a time on the calling thread: the reference
// the sliced, split path is checked against.
void sample_repetitions_scalar(const MeasurementProgram& prog, std::span<const uint8_t> offsets, uint64_t seeded,
                               int64_t repetitions, uint8_t* out);
void sample_repetitions_scalar(const MeasurementProgram& prog, std::span<const int64_t> offsets, uint64_t seeded,
                               int64_t repetitions, int64_t* out);

}  // namespace nimbic::stabilizer
