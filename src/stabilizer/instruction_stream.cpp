#include "stabilizer/instruction_stream.hpp"

#include "common/panic.hpp"
#include "stabilizer/tableau.hpp"

namespace nimbic::stabilizer {

namespace {

// Operand q of a gate: the first access of a negative one is row 0 of `x`,
// at index q.
void check_gate_operand(int64_t q, int64_t n) {
  if (q < 0) panic_get(q, n * (2 * n + 1));
  if (q >= n) panic_qubit_range(q, n);
}

}  // namespace

void check_instruction(int64_t code, int64_t a, int64_t b, int64_t n, bool measures) {
  if (is_two_qubit(code)) {
    // CZ starts with a Hadamard on its target.
    check_gate_operand(code == instr_cz ? b : a, n);
    check_gate_operand(code == instr_cz ? a : b, n);
    if (a == b) panic_qubit_duplicate(a);
  } else if (is_gate(code)) {
    check_gate_operand(a, n);
  } else if (code == instr_measure && measures) {
    // The pivot search reads x[p*n + a] from p = n upwards, then row 0 is
    // read at index a: the first negative index is n*n + a if that is
    // negative, else a.
    if (a < 0) panic_get(n * n + a < 0 ? n * n + a : a, n * (2 * n + 1));
    if (a >= n) panic_qubit_range(a, n);
  }
}

}  // namespace nimbic::stabilizer
