// Density block kernels: every AVX2 path against the scalar path, on the same
// random matrices, operators and targets.
#include <algorithm>

#include "check.hpp"
#include "density/block_kernels.hpp"
#include "density/diagonal_rows.hpp"
#include "density/superoperator.hpp"

using namespace nimbic::density;
using namespace nimbic::checks;

namespace {

// Kraus-like operators with some entries zeroed, optionally real, turned
// into the sparse superoperator the kernels apply.
SparseMap random_map(Random& rng, int64_t k, bool real) {
  const int64_t d = int64_t(1) << k, m = 1 + int64_t(rng.below(3));
  std::vector<double> re(size_t(m * d * d)), im(size_t(m * d * d));
  for (size_t i = 0; i < re.size(); ++i) {
    const bool zero = rng.below(3) == 0;
    re[i] = zero ? 0.0 : rng.value();
    im[i] = zero || real ? 0.0 : rng.value();
  }
  return build_superoperator(m, d, re, im);
}

// Every (n, k) shape up to n = 6 and four targets, a few random target lists each.
template <class Case>
void for_each_shape(Random& rng, Case&& one) {
  for (int64_t n = 1; n <= 6; ++n)
    for (int64_t k = 1; k <= std::min<int64_t>(n, 4); ++k)
      for (int trial = 0; trial < 6; ++trial) {
        const std::vector<int64_t> targets = rng.targets(n, k);
        one(n, k, trial, targets, rng.floats(size_t(2) << (2 * n)));
      }
}

std::string describe(const char* kernel, int64_t n, const std::vector<int64_t>& targets) {
  return std::string(kernel) + " n=" + std::to_string(n) + " targets=" + describe_targets(targets);
}

}  // namespace

NIMBIC_CHECK_FAMILY(density_map) {
  Random rng(20240611);
  for_each_shape(
      rng, [&](int64_t n, int64_t k, int trial, const std::vector<int64_t>& targets, const std::vector<double>& rho) {
        const BlockLayout layout = block_layout(targets, n);
        const SparseMap map = random_map(rng, k, trial % 2 == 0);
        std::vector<double> scalar = rho, vector = rho;
        map_blocks_scalar(scalar.data(), layout, map);
        if (map_blocks_avx2(vector.data(), layout, map))
          ctx.same_bits(scalar, vector, describe(map.real ? "map real" : "map complex", n, targets));
      });
}

NIMBIC_CHECK_FAMILY(density_permutation) {
  Random rng(20240612);
  for_each_shape(rng,
                 [&](int64_t n, int64_t, int, const std::vector<int64_t>& targets, const std::vector<double>& rho) {
                   const BlockLayout layout = block_layout(targets, n);
                   std::vector<int64_t> source(layout.offsets.size());
                   for (int64_t& s : source) s = int64_t(rng.below(source.size()));  // need not be a bijection
                   std::vector<double> scalar = rho, vector = rho;
                   permute_blocks_scalar(scalar.data(), layout, source);
                   if (permute_blocks_avx2(vector.data(), layout, source))
                     ctx.same_bits(scalar, vector, describe("permute", n, targets));
                 });
}

NIMBIC_CHECK_FAMILY(density_diagonal) {
  Random rng(20240613);
  for_each_shape(rng,
                 [&](int64_t n, int64_t k, int, const std::vector<int64_t>& targets, const std::vector<double>& rho) {
                   const int64_t d = int64_t(1) << k;
                   const RowFactors rows = row_factors(rng.floats(size_t(2 * d * d)), targets, n);
                   std::vector<double> scalar = rho, vector = rho;
                   scale_rows_scalar(scalar.data(), rows);
                   if (scale_rows_avx2(vector.data(), rows))
                     ctx.same_bits(scalar, vector, describe("scale rows", n, targets));
                 });
}
