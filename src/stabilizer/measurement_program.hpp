// The compiled form of a Clifford circuit's measurements. The x and z bits
// of the tableau evolve identically in every repetition (outcomes only set
// signs, and the pivot choice reads only x bits), and every sign is an
// affine function over GF(2) of the random outcomes drawn so far. One
// symbolic pass therefore records, for each measurement, which earlier
// random outcomes its result is the parity of, plus a constant; a random
// measurement introduces a new variable, its own outcome. The pass runs on
// the inverse tableau, where a determined outcome is the sign of one row.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace nimbic::stabilizer {

struct MeasurementProgram {
  int64_t num_measurements = 0;  // M
  int64_t num_random = 0;        // R, the variables
  // Variable v is the outcome of measurement random_position[v].
  std::vector<int64_t> random_position;
  // Outcome k is constant[k] XOR the variables form_vars[form_start[k]] ..
  // form_vars[form_start[k+1] - 1] (each an earlier variable, or the
  // measurement's own one when it is random).
  std::vector<int64_t> form_start;
  std::vector<int64_t> form_vars;
  std::vector<uint8_t> constant;
};

// Runs the stream symbolically on |0...0> of n >= 0 qubits, checking the
// operands of every instruction (with n >= 1) in stream order.
MeasurementProgram compile_measurements(std::span<const int64_t> instructions, int64_t num_qubits);

}  // namespace nimbic::stabilizer
