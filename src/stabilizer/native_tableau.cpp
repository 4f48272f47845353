#include "stabilizer/native_tableau.hpp"

#include <algorithm>

#include "binding/panic.hpp"

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
  auto x = self.x.i64(), z = self.z.i64(), r = self.r.i64();
  std::fill(x.begin(), x.end(), 0);
  std::fill(z.begin(), z.end(), 0);
  std::fill(r.begin(), r.end(), 0);
  const int64_t n = self.num_qubits;
  for (int64_t i = 0; i < n; ++i) {
    const int64_t xi = i * (n + 1), zi = n * n + i * (n + 1);
    if (xi >= int64_t(x.size())) panic_set(xi, int64_t(x.size()));
    x[size_t(xi)] = 1;
    if (zi >= int64_t(z.size())) panic_set(zi, int64_t(z.size()));
    z[size_t(zi)] = 1;
  }
}

}  // namespace nimbic::stabilizer
