#include "common/panic.hpp"

namespace nimbic {

void panic(std::string message) { throw Panic(std::move(message)); }

void panic_get(int64_t index, int64_t length) {
  panic("array.get: index out of range (i,a.len):" + std::to_string(index) + ", " + std::to_string(length));
}

void panic_set(int64_t index, int64_t length) {
  panic("array.set: index out of range (i,a.len):" + std::to_string(index) + ", " + std::to_string(length));
}

void panic_out_of_memory() { panic(kOutOfMemory); }

void panic_division_by_zero() { panic("division by zero"); }

void panic_qubit_range(int64_t qubit, int64_t num_qubits) {
  panic("qubit index out of range (q,n):" + std::to_string(qubit) + ", " + std::to_string(num_qubits));
}

void panic_qubit_duplicate(int64_t qubit) { panic("duplicate qubit index (q):" + std::to_string(qubit)); }

}  // namespace nimbic
