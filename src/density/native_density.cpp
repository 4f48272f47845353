#include "density/native_density.hpp"

#include "binding/panic.hpp"

namespace nimbic::density {

NativeDensity new_native_density(int64_t num_qubits) {
  NativeDensity record;
  if (num_qubits >= 0 && num_qubits <= 30) {
    if (num_qubits == 30) panic_out_of_memory();  // 16 * 4^30 bytes wrap 64 bits
    record.rho = allocate_buffer_field(int64_t(2) << (2 * num_qubits));
  }
  record.num_qubits = num_qubits;
  return record;
}

}  // namespace nimbic::density
