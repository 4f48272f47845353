#include "common/qubits.hpp"

#include <algorithm>

#include "common/panic.hpp"

namespace nimbic {

void check_qubit(int64_t qubit, int64_t num_qubits) {
  if (qubit < 0 || qubit >= num_qubits) panic_qubit_range(qubit, num_qubits);
}

void check_targets(std::span<const int64_t> targets, int64_t num_qubits) {
  for (int64_t q : targets) check_qubit(q, num_qubits);
  if (num_qubits <= 64) {
    uint64_t seen = 0;
    for (int64_t q : targets) {
      const uint64_t bit = uint64_t(1) << q;
      if (seen & bit) panic_qubit_duplicate(q);
      seen |= bit;
    }
    return;
  }
  // Report the first target (in list order) that repeats an earlier one.
  std::vector<int64_t> sorted(targets.begin(), targets.end());
  std::sort(sorted.begin(), sorted.end());
  if (std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end()) return;
  for (size_t i = 0; i < targets.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (targets[j] == targets[i]) panic_qubit_duplicate(targets[i]);
}

std::vector<uint64_t> group_offsets(std::span<const int64_t> targets, int64_t num_qubits) {
  const size_t k = targets.size();
  std::vector<uint64_t> offsets(size_t(1) << k, 0);
  for (size_t p = 0; p < k; ++p) {
    const uint64_t bit = qubit_bit(targets[p], num_qubits);
    const size_t gate_bit = size_t(1) << (k - 1 - p);
    for (size_t i = 0; i < offsets.size(); ++i)
      if (i & gate_bit) offsets[i] |= bit;
  }
  return offsets;
}

}  // namespace nimbic
