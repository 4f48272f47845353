// Diagonal kernel: with diagonal operators, block entry (i, j) only picks up
// the factor F[i][j] = sum_k K_k[i][i] conj(K_k[j][j]), so every entry of the
// matrix is scaled once, in memory order.
#include <algorithm>

#include "common/split_work.hpp"
#include "density/block_kernels.hpp"
#include "density/channels.hpp"
#include "density/density_layout.hpp"
#include "density/diagonal_rows.hpp"

namespace nimbic::density {

RowFactors row_factors(std::span<const double> factors, std::span<const int64_t> targets, int64_t num_qubits) {
  RowFactors f;
  f.num_qubits = num_qubits;
  f.d = uint64_t(1) << targets.size();
  f.segment = uint64_t(1) << std::min<int64_t>(num_qubits, 4);
  f.row_pattern = target_patterns(targets, num_qubits);
  const uint64_t dim = uint64_t(1) << num_qubits, d = f.d, s = f.segment;
  for (uint64_t c = 0; c < dim; c += s) f.segment_pattern.push_back(f.row_pattern[c]);
  f.table.resize(d * d * 4 * s);
  for (uint64_t i = 0; i < d; ++i)
    for (uint64_t high = 0; high < d; ++high) {
      double* block = &f.table[(i * d + high) * 4 * s];
      for (uint64_t u = 0; u < s; ++u) {
        // Columns u < S carry only the low target bits: disjoint from `high`.
        const uint64_t j = f.row_pattern[u] | high;
        block[2 * u] = block[2 * u + 1] = factors[2 * (i * d + j)];
        block[2 * s + 2 * u] = block[2 * s + 2 * u + 1] = factors[2 * (i * d + j) + 1];
      }
    }
  return f;
}

void scale_rows_scalar(double* rho, const RowFactors& f) {
  const uint64_t dim = uint64_t(1) << f.num_qubits, d = f.d, s = f.segment;
  split_work(dim, dim, 1, [&](unsigned, uint64_t begin, uint64_t end) {
    for (uint64_t r = begin; r < end; ++r) {
      const double* by_pattern = &f.table[f.row_pattern[r] * d * 4 * s];
      for (uint64_t g = 0; g < dim / s; ++g) {
        double* x = rho + 2 * (r * dim + g * s);
        const double* t = by_pattern + f.segment_pattern[g] * 4 * s;
        for (uint64_t u = 0; u < s; ++u) {
          const double xr = x[2 * u], xi = x[2 * u + 1], fr = t[2 * u], fi = t[2 * s + 2 * u];
          x[2 * u] = xr * fr - xi * fi;
          x[2 * u + 1] = xr * fi + xi * fr;
        }
      }
    }
  });
}

void scale_rows(double* rho, const RowFactors& f) {
  if (!scale_rows_avx2(rho, f)) scale_rows_scalar(rho, f);
}

void channel_diagonal_into(double* rho, int64_t num_qubits, std::span<const double> factors,
                           std::span<const int64_t> targets) {
  // The row tables hold d^2 segments; beyond 64 x 64 operators each block
  // is scaled where it lies instead.
  if (targets.size() <= 6)
    scale_rows(rho, row_factors(factors, targets, num_qubits));
  else
    scale_blocks_scalar(rho, block_layout(targets, num_qubits), factors);
}

}  // namespace nimbic::density
