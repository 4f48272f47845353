// Operand checks of a Clifford instruction stream run on a fresh tableau of
// n >= 1 qubits: a negative operand raises the index error its first access
// meets in the plain layout, an operand of n or more is out of range, and a
// two-qubit instruction needs two different qubits.
#pragma once

#include <cstdint>
#include <span>

namespace nimbic::stabilizer {

// Instructions in a stream: one or two trailing integers are ignored.
inline int64_t instruction_count(std::span<const int64_t> stream) { return int64_t(stream.size()) / 3; }

// Checks the operands of a gate (codes 0..8), or of a measurement (code 9)
// when `measures`; other codes use no operand.
void check_instruction(int64_t code, int64_t a, int64_t b, int64_t num_qubits, bool measures);

}  // namespace nimbic::stabilizer
