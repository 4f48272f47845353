// Density measurement, |psi><psi| and the whole-matrix functions: each split
// over 2, 3 and 8 threads against the same function on one thread.
#include <cmath>
#include <functional>

#include "check.hpp"
#include "density/density_layout.hpp"
#include "density/density_measurement.hpp"
#include "density/whole_matrix.hpp"
#include "density_shapes.hpp"

using namespace nimbic::density;
using namespace nimbic::checks;

namespace {

constexpr int64_t kMaxQubits = 6;

// result() on one thread, then at 2, 3 and 8 threads: the same bits.
void compare_threads(Context& ctx, const std::function<std::vector<double>()>& result, const std::string& what) {
  std::vector<double> want;
  {
    SingleThread one;
    want = result();
  }
  for_each_thread_count([&](unsigned threads) {
    if (threads > 1) ctx.same_bits(want, result(), what + " threads=" + std::to_string(threads));
  });
}

std::string shape(int64_t n, const std::vector<int64_t>& targets) {
  return "n=" + std::to_string(n) + " targets=" + describe_targets(targets);
}

// A random matrix; with `positive`, its diagonal has positive real parts, so
// that every outcome has a probability to divide by.
std::vector<double> random_rho(Random& rng, int64_t n, bool positive) {
  std::vector<double> rho = rng.floats(size_t(2) << (2 * n));
  const uint64_t dim = uint64_t(1) << n;
  if (positive)
    for (uint64_t b = 0; b < dim; ++b) rho[2 * b * (dim + 1)] = 0.1 + std::abs(rho[2 * b * (dim + 1)]);
  return rho;
}

}  // namespace

NIMBIC_CHECK_FAMILY(density_measurement) {
  Random rng(20240620);
  for (int64_t n = 1; n <= kMaxQubits; ++n)
    for_each_target_shape(rng, n, 0, n, [&](const std::vector<int64_t>& targets) {
      const std::vector<double> rho = random_rho(rng, n, rng.below(4) != 0);
      const std::string where = shape(n, targets);
      compare_threads(ctx, [&] { return density_probabilities(rho, targets, n); }, "probabilities " + where);
      // Every outcome, and one on each side of the valid range.
      const int64_t outcomes = int64_t(1) << targets.size();
      for (int64_t outcome = -1; outcome <= outcomes; ++outcome) {
        const std::string which = where + " outcome=" + std::to_string(outcome);
        compare_threads(ctx, [&] { return density_collapse(rho, targets, outcome, n); }, "collapse " + which);
        compare_threads(
            ctx,
            [&] {
              std::vector<double> in_place = rho;
              collapse_density_in_place(in_place, targets, outcome, n);
              return in_place;
            },
            "collapse in place " + which);
      }
    });
}

NIMBIC_CHECK_FAMILY(density_state_to_density) {
  Random rng(20240621);
  // Any number of floats: g = len / 2 need not be a power of two.
  for (size_t floats = 0; floats <= 2 * 70; ++floats) {
    const std::vector<double> state = rng.floats(floats);
    compare_threads(ctx, [&] { return state_to_density(state); }, "state_to_density floats=" + std::to_string(floats));
  }
  for (size_t floats = 2; floats <= 2 * 70; floats += 7) {
    const std::vector<double> before = rng.floats(floats);
    compare_threads(
        ctx,
        [&] {
          std::vector<double> rho = before;
          zero_state_into(rho);
          return rho;
        },
        "reset floats=" + std::to_string(floats));
  }
}

NIMBIC_CHECK_FAMILY(density_whole_matrix) {
  Random rng(20240622);
  for (int64_t dim = 1; dim <= 40; dim += 3) {
    const size_t floats = size_t(2 * dim * dim);
    const std::vector<double> a = rng.floats(floats), u = rng.floats(floats);
    const std::string size = "dim=" + std::to_string(dim);
    compare_threads(ctx, [&] { return sandwich(a, u, dim); }, "sandwich " + size);
    for (int64_t ops = 0; ops <= 3; ++ops) {
      const std::vector<double> kraus = rng.floats(floats * size_t(ops));
      compare_threads(
          ctx, [&] { return channel(a, kraus, ops, dim); }, "channel " + size + " ops=" + std::to_string(ops));
    }
  }
  for (int64_t n = 1; n <= kMaxQubits; ++n)
    for_each_target_shape(rng, n, 1, n, [&](const std::vector<int64_t>& targets) {
      const int64_t d = int64_t(1) << targets.size();
      const std::vector<double> op = rng.floats(size_t(2 * d * d));
      compare_threads(ctx, [&] { return embed_operator(op, d, targets, n); }, "embed_operator " + shape(n, targets));
    });
}
