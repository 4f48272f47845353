// Density channel kernels: every variant (the scalar path split over 2, 3 and
// 8 threads, the AVX2 path on 1, 2, 3 and 8 threads) against the scalar path
// on one thread, on the same random matrices, operators and targets, for
// n = 1..6 and every target shape.
#include <algorithm>
#include <functional>

#include "check.hpp"
#include "density/block_kernels.hpp"
#include "density/channels.hpp"
#include "density/diagonal_rows.hpp"
#include "density/superoperator.hpp"
#include "density_shapes.hpp"

using namespace nimbic::density;
using namespace nimbic::checks;

namespace {

constexpr int64_t kMaxQubits = 6;

// A variant returns false when it did nothing (no AVX2, a shape it leaves to
// the scalar path). The scalar path itself is a variant from 2 threads on.
struct Variant {
  std::string name;
  std::function<bool(double*)> run;
  unsigned min_threads = 1;
};

Variant scalar_split(const std::string& name, std::function<void(double*)> run) {
  return {name + " scalar",
          [run](double* rho) {
            run(rho);
            return true;
          },
          2};
}

// The reference runs once on one thread; every variant must match it at
// every thread count.
void compare_variants(Context& ctx, const std::vector<double>& rho, const std::function<void(double*)>& reference,
                      const std::vector<Variant>& variants, int64_t n, const std::vector<int64_t>& targets) {
  std::vector<double> want = rho;
  {
    SingleThread one;
    reference(want.data());
  }
  for_each_thread_count([&](unsigned threads) {
    for (const Variant& v : variants) {
      if (threads < v.min_threads) continue;
      std::vector<double> got = rho;
      if (v.run(got.data())) ctx.same_bits(want, got, label(v.name, n, targets, threads));
    }
  });
}

// m operators of d x d, split into real and imaginary parts, a third of the
// entries exactly zero (so that maps are sparse), optionally real.
struct Operators {
  int64_t count = 0, dim = 0;
  std::vector<double> re, im;
};

Operators random_operators(Random& rng, int64_t k, int64_t count, bool real) {
  Operators ops;
  ops.count = count;
  ops.dim = int64_t(1) << k;
  const size_t size = size_t(count * ops.dim * ops.dim);
  ops.re.resize(size);
  ops.im.resize(size);
  for (size_t i = 0; i < size; ++i) {
    const bool zero = rng.below(3) == 0;
    ops.re[i] = zero ? 0.0 : rng.value();
    ops.im[i] = zero || real ? 0.0 : rng.value();
  }
  return ops;
}

SparseMap random_map(Random& rng, int64_t k, bool real) {
  const Operators ops = random_operators(rng, k, 1 + int64_t(rng.below(3)), real);
  return build_superoperator(ops.count, ops.dim, ops.re, ops.im);
}

void check_map(Context& ctx, Random& rng, int64_t n, const std::vector<int64_t>& targets, bool real) {
  const BlockLayout layout = block_layout(targets, n);
  const SparseMap map = random_map(rng, int64_t(targets.size()), real);
  const auto scalar = [&](double* rho) { map_blocks_scalar(rho, layout, map); };
  const std::string name = real ? "map real" : "map complex";
  compare_variants(
      ctx, rng.floats(size_t(2) << (2 * n)), scalar,
      {scalar_split(name, scalar), {name + " avx2", [&](double* rho) { return map_blocks_avx2(rho, layout, map); }}}, n,
      targets);
}

}  // namespace

NIMBIC_CHECK_FAMILY(density_single_qubit) {
  Random rng(20240610);
  for (int64_t n = 1; n <= kMaxQubits; ++n)
    for (int64_t t = 0; t < n; ++t)
      for (bool real : {true, false}) check_map(ctx, rng, n, {t}, real);
}

NIMBIC_CHECK_FAMILY(density_map) {
  Random rng(20240611);
  for (int64_t n = 2; n <= kMaxQubits; ++n)
    for_each_target_shape(rng, n, 2, 4, [&](const std::vector<int64_t>& targets) {
      for (bool real : {true, false}) check_map(ctx, rng, n, targets, real);
    });
}

NIMBIC_CHECK_FAMILY(density_permutation) {
  Random rng(20240612);
  for (int64_t n = 1; n <= kMaxQubits; ++n)
    for_each_target_shape(rng, n, 1, n, [&](const std::vector<int64_t>& targets) {
      const BlockLayout layout = block_layout(targets, n);
      std::vector<int64_t> source(layout.offsets.size());
      for (int64_t& s : source) s = int64_t(rng.below(source.size()));  // need not be a bijection
      const auto scalar = [&](double* rho) { permute_blocks_scalar(rho, layout, source); };
      compare_variants(ctx, rng.floats(size_t(2) << (2 * n)), scalar,
                       {scalar_split("permute", scalar),
                        {"permute avx2", [&](double* rho) { return permute_blocks_avx2(rho, layout, source); }}},
                       n, targets);
    });
}

NIMBIC_CHECK_FAMILY(density_diagonal) {
  Random rng(20240613);
  for (int64_t n = 1; n <= kMaxQubits; ++n)
    for_each_target_shape(rng, n, 1, n, [&](const std::vector<int64_t>& targets) {
      const int64_t d = int64_t(1) << targets.size();
      const std::vector<double> factors = rng.floats(size_t(2 * d * d));
      const RowFactors rows = row_factors(factors, targets, n);
      const BlockLayout layout = block_layout(targets, n);
      const auto scalar = [&](double* rho) { scale_rows_scalar(rho, rows); };
      // Operators on more than six targets scale each block where it lies
      // instead: the same products, so the same bits as the rows.
      compare_variants(ctx, rng.floats(size_t(2) << (2 * n)), scalar,
                       {scalar_split("scale rows", scalar),
                        {"scale rows avx2", [&](double* rho) { return scale_rows_avx2(rho, rows); }},
                        {"scale blocks",
                         [&](double* rho) {
                           scale_blocks_scalar(rho, layout, factors);
                           return true;
                         }}},
                       n, targets);
    });
}

NIMBIC_CHECK_FAMILY(density_blocks) {
  Random rng(20240614);
  for (int64_t n = 1; n <= kMaxQubits; ++n)
    for_each_target_shape(rng, n, 1, n, [&](const std::vector<int64_t>& targets) {
      const Operators ops = random_operators(rng, int64_t(targets.size()), 1 + int64_t(rng.below(3)), false);
      const auto scalar = [&](double* rho) { channel_blocks_into(rho, n, ops.count, ops.re, ops.im, targets); };
      compare_variants(ctx, rng.floats(size_t(2) << (2 * n)), scalar, {scalar_split("operators one at a time", scalar)},
                       n, targets);
    });
}
