// Whole Clifford circuits on a fresh |0...0>: the final tableau, and seeded
// repetitions with Z-basis measurements.
#pragma once

#include <cstdint>
#include <span>

#include "common/int_list.hpp"

namespace nimbic::stabilizer {

// The flattened final tableau ((2n+1)^2 entries); measurements and unknown
// codes do nothing.
IntList clifford_tableau(std::span<const int64_t> instructions, int64_t num_qubits);

// repetitions rows of M measured bits (M = number of code-9 instructions),
// entry k of a row XORed with invert_mask[k] when the mask has one.
IntList clifford_run(std::span<const int64_t> instructions, int64_t num_qubits, std::span<const int64_t> invert_mask,
                     int64_t repetitions, int64_t seed);

}  // namespace nimbic::stabilizer
