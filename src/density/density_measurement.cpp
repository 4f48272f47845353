#include "density/density_measurement.hpp"

#include <algorithm>

#include "common/memory.hpp"
#include "common/outcome_bits.hpp"
#include "common/panic.hpp"
#include "common/qubits.hpp"
#include "common/split_work.hpp"
#include "density/density_layout.hpp"
#include "density/group_range.hpp"

namespace nimbic::density {

namespace {

// Split work of one diagonal read: each lies on its own cache line, far
// from the last.
constexpr uint64_t kDiagonalReadWork = 16;

// Sum of the real parts of the diagonal entries with the outcome's pattern.
double outcome_weight(const double* rho, const OutcomeBits& ob, int64_t num_qubits) {
  const uint64_t dim = uint64_t(1) << num_qubits;
  double p = 0.0;
  for_each_group_base(ob.mask, num_qubits, [&](uint64_t b) {
    const uint64_t i = b | ob.pattern;
    p += rho[2 * i * (dim + 1)];
  });
  return p;
}

}  // namespace

std::vector<double> density_probabilities(std::span<const double> rho, std::span<const int64_t> targets,
                                          int64_t num_qubits) {
  const int64_t n = num_qubits;
  const size_t k = targets.size();
  if (n < 0 || n > 63) return zero_floats(k >= 64 ? 0 : Count(1) << k);
  check_targets(targets, n);
  std::vector<double> probs = zero_floats(Count(1) << k);
  if (n == 63) return probs;  // 2^63 is no positive 64-bit count
  // Diagonal entry b is float 2b(2^n + 1): the first one past the end fails.
  const int64_t len = int64_t(rho.size());
  const unsigned __int128 stride = 2 * ((unsigned __int128)1 << n) + 2;
  const unsigned __int128 first_missing = (len + stride - 1) / stride;
  if (first_missing < ((unsigned __int128)1 << n)) panic_get_wide(first_missing * stride, len);

  // Each outcome sums its diagonal entries in increasing index order, as one
  // pass over the diagonal would; the outcomes are split over threads.
  const uint64_t dim = uint64_t(1) << n;
  const std::vector<uint64_t> pattern = group_offsets(targets, n);
  const uint64_t mask = pattern.back(), per_outcome = dim >> k;
  split_work(pattern.size(), per_outcome * kDiagonalReadWork, 1, [&](unsigned, uint64_t begin, uint64_t end) {
    for (uint64_t o = begin; o < end; ++o) {
      double p = 0.0;
      for_each_group_base(mask, n, [&](uint64_t b) { p += rho[2 * (b | pattern[o]) * (dim + 1)]; });
      probs[o] = p;
    }
  });
  return probs;
}

void check_density_collapse(std::span<const double> rho, std::span<const int64_t> targets, int64_t outcome,
                            int64_t num_qubits) {
  const int64_t n = num_qubits;
  check_targets(targets, n);
  const OutcomeBits ob = outcome_bits(targets, outcome, n);
  const int64_t len = int64_t(rho.size());
  // First the diagonal entries of the outcome are summed...
  if (ob.valid) {
    const unsigned __int128 stride = 2 * ((unsigned __int128)1 << n) + 2;
    const unsigned __int128 first_missing = (len + stride - 1) / stride;
    if (first_missing < ((unsigned __int128)1 << n)) {
      const uint64_t b = next_matching(uint64_t(first_missing), ob.mask, ob.pattern, n);
      if (b != kNoIndex) panic_get_wide(b * stride, len);
    }
  }
  // ...then the result is allocated and the outcome's block is read row by row.
  if (density_floats(n) == INT64_MAX) panic_out_of_memory();
  if (ob.valid) {
    const uint64_t e =
        next_matching(uint64_t(len) / 2, (ob.mask << n) | ob.mask, (ob.pattern << n) | ob.pattern, 2 * n);
    if (e != kNoIndex) panic_get(int64_t(2 * e) >= len ? int64_t(2 * e) : int64_t(2 * e + 1), len);
  }
}

std::vector<double> density_collapse(std::span<const double> rho, std::span<const int64_t> targets, int64_t outcome,
                                     int64_t num_qubits) {
  const int64_t n = num_qubits;
  if (n < 0 || n > 63) return {};
  check_density_collapse(rho, targets, outcome, n);
  std::vector<double> out = zero_floats(density_floats(n));
  const OutcomeBits ob = outcome_bits(targets, outcome, n);
  if (!ob.valid) return out;
  const double p = outcome_weight(rho.data(), ob, n);
  const double scale = p > 0 ? 1.0 / p : 0.0;
  const uint64_t dim = uint64_t(1) << n, rows = group_base_count(ob.mask, n);
  split_work(rows, rows, 1, [&](unsigned, uint64_t begin, uint64_t end) {
    for_each_group_base_between(ob.mask, n, begin, end, [&](uint64_t x) {
      const uint64_t r = x | ob.pattern;
      for_each_group_base(ob.mask, n, [&](uint64_t y) {
        const uint64_t at = 2 * (r * dim + (y | ob.pattern));
        out[at] = rho[at] * scale;
        out[at + 1] = rho[at + 1] * scale;
      });
    });
  });
  return out;
}

void collapse_density_in_place(std::span<double> rho, std::span<const int64_t> targets, int64_t outcome,
                               int64_t num_qubits) {
  const int64_t n = num_qubits;
  const OutcomeBits ob = outcome_bits(targets, outcome, n);
  const double p = ob.valid ? outcome_weight(rho.data(), ob, n) : 0.0;
  const double scale = p > 0 ? 1.0 / p : 0.0;
  const uint64_t dim = uint64_t(1) << n;
  split_work(dim, dim, 1, [&](unsigned, uint64_t begin, uint64_t end) {
    for (uint64_t r = begin; r < end; ++r) {
      double* row = rho.data() + 2 * r * dim;
      if (!ob.valid || (r & ob.mask) != ob.pattern) {
        std::fill(row, row + 2 * dim, 0.0);
        continue;
      }
      for (uint64_t c = 0; c < dim; ++c) {
        const bool keep = (c & ob.mask) == ob.pattern;
        row[2 * c] = keep ? row[2 * c] * scale : 0.0;
        row[2 * c + 1] = keep ? row[2 * c + 1] * scale : 0.0;
      }
    }
  });
}

}  // namespace nimbic::density
