#include "common/qubits.hpp"

#include <algorithm>
#include <utility>

#include "common/panic.hpp"

namespace nimbic {

void check_qubit(int64_t qubit, int64_t num_qubits) {
  if (qubit < 0 || qubit >= num_qubits) panic_qubit_range(qubit, num_qubits);
}

void check_targets(std::span<const int64_t> targets, int64_t num_qubits) {
  for (int64_t q : targets) check_qubit(q, num_qubits);
  // Reports the first target (in list order) that repeats an earlier one.
  const size_t k = targets.size();
  if (k < 2) return;
  if (num_qubits <= 64) {
    uint64_t seen = 0;
    for (int64_t q : targets) {
      const uint64_t bit = uint64_t(1) << q;
      if (seen & bit) panic_qubit_duplicate(q);
      seen |= bit;
    }
    return;
  }
  const uint64_t words = (uint64_t(num_qubits) + 63) / 64;
  if (words <= std::max<uint64_t>(k, 1024)) {  // a bit per qubit: at most 8 bytes per target, or 8 KiB
    std::vector<uint64_t> seen(size_t(words), 0);
    for (int64_t q : targets) {
      uint64_t& word = seen[size_t(q / 64)];
      const uint64_t bit = uint64_t(1) << (q % 64);
      if (word & bit) panic_qubit_duplicate(q);
      word |= bit;
    }
    return;
  }
  // Sorted by (qubit, position): in a run of equal qubits, the second entry
  // is that qubit's first repeat.
  std::vector<std::pair<int64_t, size_t>> sorted(k);
  for (size_t i = 0; i < k; ++i) sorted[i] = {targets[i], i};
  std::sort(sorted.begin(), sorted.end());
  size_t first_repeat = k;
  for (size_t i = 1; i < k; ++i)
    if (sorted[i].first == sorted[i - 1].first && (i == 1 || sorted[i - 2].first != sorted[i].first))
      first_repeat = std::min(first_repeat, sorted[i].second);
  if (first_repeat < k) panic_qubit_duplicate(targets[first_repeat]);
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
