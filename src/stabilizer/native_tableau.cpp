#include "stabilizer/native_tableau.hpp"

#include "common/memory.hpp"
#include "common/panic.hpp"
#include "stabilizer/state_vector.hpp"

namespace nimbic::stabilizer {

NativeTableau new_native_tableau(int64_t num_qubits) {
  NativeTableau record;
  record.num_qubits = num_qubits;
  if (num_qubits < 0) return record;
  if (num_qubits > (int64_t(1) << 30)) panic_out_of_memory();  // n*(2n+1) entries beyond 2^61
  const int64_t n = num_qubits;
  try {
    record.x = allocate_buffer_field(n * (2 * n + 1));
    record.z = allocate_buffer_field(n * (2 * n + 1));
    record.r = allocate_buffer_field(2 * n + 1);
  } catch (...) {
    release_buffer_field(record.x);
    release_buffer_field(record.z);
    throw;
  }
  NativeTableau::reset(record);
  return record;
}

void NativeTableau::reset(NativeTableau& self) {
  if (holds_rows(self.view()))
    reset_unchecked(self.view());
  else
    reset_checked(self.view());
}

void NativeTableau::apply(NativeTableau& self, int64_t code, int64_t a, int64_t b) {
  const int64_t n = self.num_qubits;
  if (n <= 0 || !is_gate(code)) return;
  // Operands in the order the update first reads them (CZ starts with a
  // Hadamard on its target). A negative operand keeps the index error of
  // the first access it reaches; one of n or more is out of range.
  const int64_t first = code == instr_cz ? b : a, second = code == instr_cz ? a : b;
  bool negative = first < 0;
  if (!negative) {
    if (first >= n) panic_qubit_range(first, n);
    if (is_two_qubit(code)) {
      negative = second < 0;
      if (!negative && second >= n) panic_qubit_range(second, n);
      if (!negative && a == b) panic_qubit_duplicate(a);
    }
  }
  if (!negative && holds_rows(self.view()))
    apply_unchecked(self.view(), code, a, b);
  else
    apply_checked(self.view(), code, a, b);
}

int64_t NativeTableau::measure(NativeTableau& self, int64_t a, double u) {
  const int64_t n = self.num_qubits;
  if (n >= 1 && a >= n) panic_qubit_range(a, n);
  if (n >= 1 && a >= 0 && holds_rows(self.view())) return measure_unchecked(self.view(), a, u);
  return measure_checked(self.view(), a, u);
}

IntList NativeTableau::stabilizer_tableau(NativeTableau& self) {
  const int64_t entries = flat_entries(self.num_qubits);
  if (!holds_rows(self.view())) probe_to_flat(self.view());
  IntList out;
  check_result(entries, 1, kSmallIntListItemBytes);
  out.small.assign(size_t(entries), 0);
  if (self.num_qubits >= 0) to_flat_unchecked(self.view(), out.small);
  return out;
}

std::vector<int64_t> NativeTableau::to_flat(NativeTableau& self) {
  const IntList flat = stabilizer_tableau(self);
  check_allocatable(Count(flat.small.size()) * 8);
  return std::vector<int64_t>(flat.small.begin(), flat.small.end());
}

std::vector<double> NativeTableau::state_vector(NativeTableau& self) {
  return clifford_state_vector(to_flat(self), self.num_qubits);
}

}  // namespace nimbic::stabilizer
