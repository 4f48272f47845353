// Scalar diagonal kernel: each amplitude times its entry, entries exactly 1
// skipped.
#include <vector>

#include "common/split_work.hpp"
#include "statevector/gate_kernels.hpp"
#include "statevector/split_groups.hpp"

namespace nimbic::statevector {

void diagonal_scalar(double* state, const Groups& groups, const double* entries) {
  std::vector<size_t> rows;
  for (size_t j = 0; j < groups.offsets.size(); ++j)
    if (!(entries[2 * j] == 1.0 && entries[2 * j + 1] == 0.0)) rows.push_back(j);
  if (rows.empty()) return;
  split_groups(groups.count, rows.size(), 1, rows.size(), [&](unsigned, uint64_t begin, uint64_t end) {
    uint64_t b = groups.base(begin);
    for (uint64_t c = begin; c < end; ++c, b = groups.next(b))
      for (size_t j : rows) {
        double* p = state + 2 * (b | groups.offsets[j]);
        const double dr = entries[2 * j], di = entries[2 * j + 1], ar = p[0], ai = p[1];
        p[0] = dr * ar - di * ai;
        p[1] = dr * ai + di * ar;
      }
  });
}

}  // namespace nimbic::statevector
