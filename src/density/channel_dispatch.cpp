// Validation and kernel choice for a Kraus channel. The operators are
// examined with the bounds checks of the analyses' own read order, so a short
// operator array fails where the first read past its end happens, and always
// before the matrix is touched.
#include <algorithm>
#include <cmath>
#include <string>

#include "common/panic.hpp"
#include "common/qubits.hpp"
#include "common/thresholds.hpp"
#include "density/block_kernels.hpp"
#include "density/channels.hpp"
#include "density/density_layout.hpp"
#include "density/superoperator.hpp"

namespace nimbic::density {

namespace {

class CheckedFloats {
 public:
  explicit CheckedFloats(std::span<const double> floats) : floats_(floats) {}
  double operator[](int64_t i) const {
    if (i >= int64_t(floats_.size())) panic_get(i, int64_t(floats_.size()));
    return floats_[size_t(i)];
  }

 private:
  std::span<const double> floats_;
};

// Every row holds exactly one non-zero entry and that entry is 1 (within
// 1e-15 in both parts); fills perm with the entries' columns.
bool permutation_analysis(const CheckedFloats& op, int64_t d, std::vector<int64_t>& perm) {
  for (int64_t i = 0; i < d; ++i) {
    int nonzero = 0;
    bool one = false;
    for (int64_t j = 0; j < d; ++j) {
      const double x = op[2 * (i * d + j)];
      const double y = op[2 * (i * d + j) + 1];
      if (is_nonzero_entry(x, y)) {
        ++nonzero;
        perm[size_t(i)] = j;
        one = std::fabs(y) <= kRealTolerance && std::fabs(x - 1.0) <= kRealTolerance;
      }
    }
    if (nonzero != 1 || !one) return false;
  }
  return true;
}

// No operator has a non-zero entry off its diagonal (operators, rows and
// columns in order; diagonal entries are not read).
bool diagonal_analysis(const CheckedFloats& ops, int64_t m, int64_t d) {
  for (int64_t k = 0; k < m; ++k)
    for (int64_t i = 0; i < d; ++i)
      for (int64_t j = 0; j < d; ++j) {
        if (j == i) continue;
        const double x = ops[2 * (k * d * d + i * d + j)];
        const double y = ops[2 * (k * d * d + i * d + j) + 1];
        if (is_nonzero_entry(x, y)) return false;
      }
  return true;
}

// F[i][j] = sum_k K_k[i][i] conj(K_k[j][j]), d x d interleaved.
std::vector<double> diagonal_factors(const CheckedFloats& ops, int64_t m, int64_t d) {
  std::vector<double> f(size_t(2 * d * d), 0.0);
  for (int64_t i = 0; i < d; ++i)
    for (int64_t j = 0; j < d; ++j) {
      double re = 0.0, im = 0.0;
      for (int64_t k = 0; k < m; ++k) {
        const int64_t ii = 2 * (k * d * d + i * d + i), jj = 2 * (k * d * d + j * d + j);
        const double ii_re = ops[ii], jj_re = ops[jj], ii_im = ops[ii + 1], jj_im = ops[jj + 1];
        re += ii_re * jj_re + ii_im * jj_im;
        im += jj_re * ii_im - jj_im * ii_re;
      }
      f[size_t(2 * (i * d + j))] = re;
      f[size_t(2 * (i * d + j) + 1)] = im;
    }
  return f;
}

}  // namespace

int64_t op_dimension(int64_t count) {
  if (count <= 2) return 1;
  const auto fits = [count](int64_t d) { return 2 * (unsigned __int128)d * d >= (unsigned __int128)count; };
  int64_t d = std::max<int64_t>(1, int64_t(std::sqrt(double(count) / 2.0)));
  while (d > 1 && fits(d - 1)) --d;
  while (!fits(d)) ++d;
  return d;
}

void channel_subspace_into(std::span<double> rho, int64_t num_operators, int64_t dim, int64_t num_qubits,
                           std::span<const double> operators, std::span<const int64_t> targets) {
  const int64_t m = num_operators, d = dim, n = num_qubits, k = int64_t(targets.size());
  if (n <= 0 || k == 0) return;
  check_targets(targets, n);
  // Also catches m < 0, whose operator dimension is 1.
  if (k > 31 || d != (int64_t(1) << k))
    panic("operator dimension " + std::to_string(d) + " does not match " + std::to_string(k) + " targets");
  const CheckedFloats ops(operators);

  if (m == 1) {
    std::vector<int64_t> perm(static_cast<size_t>(d));
    if (permutation_analysis(ops, d, perm)) {
      check_density_matrix(rho, n);
      channel_permutation_into(rho.data(), n, perm, targets);
      return;
    }
  }
  if (!(d == 2 && k == 1) && diagonal_analysis(ops, m, d)) {
    const std::vector<double> factors = diagonal_factors(ops, m, d);
    check_density_matrix(rho, n);
    channel_diagonal_into(rho.data(), n, factors, targets);
    return;
  }
  // The single-qubit and general kernels read every operator float in order.
  const int64_t len = int64_t(operators.size());
  if ((unsigned __int128)len < (unsigned __int128)m * uint64_t(2 * d * d)) panic_get(len, len);
  const size_t count = size_t(m * d * d);
  std::vector<double> re(count), im(count);
  for (size_t i = 0; i < count; ++i) {
    re[i] = operators[2 * i];
    im[i] = operators[2 * i + 1];
  }
  check_density_matrix(rho, n);
  // The superoperator costs at most d^2 products per entry against 2*d*m
  // for the operators one at a time, and its loop is vectorised.
  if (d <= 16 && d <= 4 * m) {
    // Summing the operators' products into the superoperator first reorders
    // the documented per-operator sums; results agree to rounding.
    map_blocks(rho.data(), block_layout(targets, n), build_superoperator(m, d, re, im));
  } else {
    channel_blocks_into(rho.data(), n, m, re, im, targets);
  }
}

}  // namespace nimbic::density
