// Runs the scalar and the AVX2 path of every vectorised density kernel on
// the same random inputs and requires identical bits. Built next to the
// module by a development build; tests/test_density.py runs it.
//
// Prints "ok <cases>" (or "no avx2") and exits 0, or names the first
// mismatch and exits 1.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "density/block_kernels.hpp"
#include "density/diagonal_rows.hpp"
#include "density/superoperator.hpp"

using namespace nimbic::density;

namespace {

std::mt19937_64 rng(20240611);

double value() {
  // Mostly ordinary numbers, with exact and negative zeros mixed in.
  const int kind = int(rng() % 10);
  if (kind == 0) return 0.0;
  if (kind == 1) return -0.0;
  return std::uniform_real_distribution<double>(-1.0, 1.0)(rng);
}

std::vector<double> random_floats(size_t count) {
  std::vector<double> v(count);
  for (double& x : v) x = value();
  return v;
}

std::vector<int64_t> random_targets(int64_t n, int64_t k) {
  std::vector<int64_t> all(static_cast<size_t>(n));
  for (int64_t q = 0; q < n; ++q) all[size_t(q)] = q;
  std::shuffle(all.begin(), all.end(), rng);
  return std::vector<int64_t>(all.begin(), all.begin() + k);
}

// Kraus-like operators with some entries zeroed, optionally real, turned
// into the sparse superoperator the kernels apply.
SparseMap random_map(int64_t k, bool real) {
  const int64_t d = int64_t(1) << k, m = 1 + int64_t(rng() % 3);
  std::vector<double> re(size_t(m * d * d)), im(size_t(m * d * d));
  for (size_t i = 0; i < re.size(); ++i) {
    const bool zero = rng() % 3 == 0;
    re[i] = zero ? 0.0 : value();
    im[i] = zero || real ? 0.0 : value();
  }
  return build_superoperator(m, d, re, im);
}

int failures = 0, cases = 0;

void compare(const std::vector<double>& a, const std::vector<double>& b, const std::string& what) {
  ++cases;
  if (std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0) return;
  if (failures++ == 0) std::printf("mismatch: %s\n", what.c_str());
}

std::string describe(const char* kernel, int64_t n, const std::vector<int64_t>& targets) {
  std::string s = std::string(kernel) + " n=" + std::to_string(n) + " targets=";
  for (int64_t t : targets) s += std::to_string(t) + ",";
  return s;
}

}  // namespace

int main() {
  if (!cpu_has_avx2()) {
    std::printf("no avx2\n");
    return 0;
  }
  for (int64_t n = 1; n <= 6; ++n)
    for (int64_t k = 1; k <= std::min<int64_t>(n, 4); ++k)
      for (int trial = 0; trial < 6; ++trial) {
        const std::vector<int64_t> targets = random_targets(n, k);
        const BlockLayout layout = block_layout(targets, n);
        const std::vector<double> rho = random_floats(size_t(2) << (2 * n));
        const size_t size = layout.offsets.size();

        const SparseMap map = random_map(k, trial % 2 == 0);
        std::vector<double> scalar = rho, vector = rho;
        map_blocks_scalar(scalar.data(), layout, map);
        const bool ran = map_blocks_avx2(vector.data(), layout, map);
        // Only a matrix that is a single block has no vector path.
        if (!ran && k != n) compare({0.0}, {1.0}, describe("map without avx2", n, targets));
        if (ran) compare(scalar, vector, describe(map.real ? "map real" : "map complex", n, targets));

        std::vector<int64_t> source(size);
        for (int64_t& s : source) s = int64_t(rng() % size);  // need not be a bijection
        scalar = rho;
        vector = rho;
        permute_blocks_scalar(scalar.data(), layout, source);
        if (permute_blocks_avx2(vector.data(), layout, source))
          compare(scalar, vector, describe("permute", n, targets));

        const int64_t d = int64_t(1) << k;
        const RowFactors rows = row_factors(random_floats(size_t(2 * d * d)), targets, n);
        scalar = rho;
        vector = rho;
        scale_rows_scalar(scalar.data(), rows);
        if (scale_rows_avx2(vector.data(), rows)) compare(scalar, vector, describe("scale rows", n, targets));
      }
  if (failures != 0) {
    std::printf("%d of %d cases differ\n", failures, cases);
    return 1;
  }
  std::printf("ok %d\n", cases);
  return 0;
}
