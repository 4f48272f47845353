// Signed permutations: each group's moved amplitudes are read, then written
// to their new places with their signs. Rows that keep their amplitude with
// sign +1 are never touched.
#include <vector>

#include "common/split_work.hpp"
#include "statevector/gate_kernels.hpp"

namespace nimbic::statevector {

void permutation_scalar(double* state, const Groups& groups, const int64_t* perm, const double* sign) {
  const std::span<const uint64_t> off = groups.offsets;
  // Moved rows: where each writes and where it reads.
  std::vector<uint64_t> to, from;
  std::vector<double> by;
  for (size_t r = 0; r < off.size(); ++r)
    if (perm[r] != int64_t(r) || sign[r] != 1.0) {
      to.push_back(off[r]);
      from.push_back(off[size_t(perm[r])]);
      by.push_back(sign[r]);
    }
  const size_t moved = to.size();
  if (moved == 0) return;
  std::vector<double> scratch(2 * moved * split_parts(groups.count, moved, 1));
  split_work(groups.count, moved, 1, [&](unsigned part, uint64_t begin, uint64_t end) {
    double* keep = scratch.data() + 2 * moved * part;
    uint64_t b = groups.base(begin);
    for (uint64_t c = begin; c < end; ++c, b = groups.next(b)) {
      for (size_t i = 0; i < moved; ++i) {
        keep[2 * i] = state[2 * (b | from[i])];
        keep[2 * i + 1] = state[2 * (b | from[i]) + 1];
      }
      for (size_t i = 0; i < moved; ++i) {
        state[2 * (b | to[i])] = by[i] * keep[2 * i];
        state[2 * (b | to[i]) + 1] = by[i] * keep[2 * i + 1];
      }
    }
  });
}

}  // namespace nimbic::statevector
