#include "density/density_layout.hpp"

#include <algorithm>
#include <string>

#include "common/panic.hpp"
#include "common/qubits.hpp"
#include "common/split_work.hpp"

namespace nimbic::density {

void check_density_matrix(std::span<const double> rho, int64_t num_qubits) {
  const int64_t len = int64_t(rho.size());
  const int64_t expected = density_floats(num_qubits);
  if (len < expected) panic_get(len, len);
  if (len > expected) panic_get(expected, expected);
}

void zero_state_into(std::span<double> rho) {
  split_work(rho.size(), 1, 1, [&](unsigned, uint64_t begin, uint64_t end) {
    std::fill(rho.begin() + ptrdiff_t(begin), rho.begin() + ptrdiff_t(end), 0.0);
  });
  rho[0] = 1.0;
}

void panic_get_wide(unsigned __int128 index, int64_t length) {
  std::string digits;
  do {
    digits.insert(digits.begin(), char('0' + int(index % 10)));
    index /= 10;
  } while (index != 0);
  panic("array.get: index out of range (i,a.len):" + digits + ", " + std::to_string(length));
}

std::vector<uint64_t> target_patterns(std::span<const int64_t> targets, int64_t num_qubits) {
  const uint64_t dim = uint64_t(1) << num_qubits;
  std::vector<uint64_t> pattern(dim, 0);
  const size_t k = targets.size();
  for (size_t p = 0; p < k; ++p) {
    const uint64_t bit = qubit_bit(targets[p], num_qubits);
    for (uint64_t l = 0; l < dim; ++l)
      if (l & bit) pattern[l] |= uint64_t(1) << (k - 1 - p);
  }
  return pattern;
}

int64_t square_matrix_floats(int64_t dim) {
  const unsigned __int128 d = dim < 0 ? -(unsigned __int128)dim : (unsigned __int128)dim;
  const unsigned __int128 floats = 2 * d * d;
  // Bytes must fit in a signed 64-bit size as well.
  if (floats > (unsigned __int128)(INT64_MAX / 8)) panic_out_of_memory();
  return int64_t(floats);
}

}  // namespace nimbic::density
