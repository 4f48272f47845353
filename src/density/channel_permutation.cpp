// Permutation kernel: K rho K^dagger for K[i][perm[i]] = 1 only moves entries:
// block entry (a, b) receives entry (perm[a], perm[b]). Any table works, also
// one that names a column twice.
#include "density/block_kernels.hpp"
#include "density/channels.hpp"

namespace nimbic::density {

void channel_permutation_into(double* rho, int64_t num_qubits, std::span<const int64_t> permutation,
                              std::span<const int64_t> targets) {
  const size_t d = permutation.size();
  bool identity = true;
  for (size_t i = 0; i < d; ++i) identity = identity && permutation[i] == int64_t(i);
  if (identity) return;
  std::vector<int64_t> source(d * d);
  for (size_t a = 0; a < d; ++a)
    for (size_t b = 0; b < d; ++b) source[a * d + b] = permutation[a] * int64_t(d) + permutation[b];
  permute_blocks(rho, block_layout(targets, num_qubits), source);
}

}  // namespace nimbic::density
