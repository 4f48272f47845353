#include "linalg/jacobi.hpp"

#include <cmath>

#include "common/interrupt.hpp"
#include "common/panic.hpp"
#include "linalg/sizes.hpp"

namespace nimbic::linalg {

namespace {

constexpr int kMaxSweeps = 100;
constexpr double kOffDiagonalTolerance = 1e-14;
constexpr double kSkipRotation = 1e-14;
constexpr double kClusterWidth = 1e-9;

// Rotates columns p and q of the n-by-n row-major matrix m by (c, s).
inline void rotate_columns(double* m, size_t n, size_t p, size_t q, double c, double s) {
  for (size_t k = 0; k < n; ++k) {
    const double x = m[k * n + p], y = m[k * n + q];
    m[k * n + p] = c * x - s * y;
    m[k * n + q] = s * x + c * y;
  }
}

inline void rotate_rows(double* m, size_t n, size_t p, size_t q, double c, double s) {
  for (size_t k = 0; k < n; ++k) {
    const double x = m[p * n + k], y = m[q * n + k];
    m[p * n + k] = c * x - s * y;
    m[q * n + k] = s * x + c * y;
  }
}

// v^T M w for columns v = Q[:, i] and w = Q[:, j] of the n-by-n Q.
double quadratic_form(const double* q, std::span<const double> m, size_t n, size_t i, size_t j) {
  double sum = 0.0;
  for (size_t r = 0; r < n; ++r) {
    double row = 0.0;
    for (size_t c = 0; c < n; ++c) row += m[r * n + c] * q[c * n + j];
    sum += q[r * n + i] * row;
  }
  return sum;
}

}  // namespace

std::vector<double> jacobi_eig(std::span<const double> matrix, int64_t n) {
  if (n < 1) return {};
  const Count entries = Count(n) * n;
  require_length(matrix.size(), entries);
  // The working copy, the result and the list of floats it becomes.
  check_allocatable(entries * 8 + Count(n) * (n + 1) * (8 + kListItemBytes));
  const size_t m = size_t(n);
  std::vector<double> a(matrix.begin(), matrix.begin() + ptrdiff_t(entries));
  std::vector<double> out(m * (m + 1), 0.0);
  double* q = out.data() + m;
  for (size_t i = 0; i < m; ++i) q[i * m + i] = 1.0;

  for (int sweep = 0; sweep < kMaxSweeps; ++sweep) {
    double off = 0.0;
    for (size_t i = 0; i < m; ++i)
      for (size_t j = 0; j < m; ++j)
        if (i != j) off += a[i * m + j] * a[i * m + j];
    if (off < kOffDiagonalTolerance) break;
    for (size_t p = 0; p + 1 < m; ++p) {
      interruption_point();
      for (size_t r = p + 1; r < m; ++r) {
        const double apq = a[p * m + r];
        if (std::fabs(apq) < kSkipRotation) continue;
        const double theta = (a[r * m + r] - a[p * m + p]) / (2 * apq);
        const double root = std::sqrt(1 + theta * theta);
        const double t = theta < 0 ? -(1 / (root - theta)) : 1 / (theta + root);
        const double c = 1 / std::sqrt(1 + t * t);
        const double s = t * c;
        rotate_columns(a.data(), m, p, r, c, s);
        rotate_rows(a.data(), m, p, r, c, s);
        rotate_columns(q, m, p, r, c, s);
      }
    }
  }
  for (size_t k = 0; k < m; ++k) out[k] = a[k * m + k];
  return out;
}

std::vector<double> simultaneous_diag(std::span<const double> real, std::span<const double> imag, int64_t n) {
  // With no index there is no first sorted index to open a cluster with.
  if (n < 1) panic_get(0, 0);
  const Count entries = Count(n) * n;
  require_length(real.size(), entries);
  require_length(imag.size(), entries);
  // jacobi_eig's arrays (its list aside), then the result and its list.
  check_allocatable(entries * 8 + Count(n) * (n + 1) * 8 + (Count(2) * n + entries) * (8 + kListItemBytes));
  const size_t m = size_t(n);
  const std::vector<double> eig = jacobi_eig(real, n);
  std::vector<double> q(eig.begin() + ptrdiff_t(m), eig.end());

  // Stable insertion sort of the indices by eigenvalue: an index moves left
  // past every earlier index with a strictly greater value.
  std::vector<size_t> order(m);
  for (size_t i = 0; i < m; ++i) {
    size_t pos = i;
    while (pos > 0 && eig[order[pos - 1]] > eig[i]) {
      order[pos] = order[pos - 1];
      --pos;
    }
    order[pos] = i;
  }

  // Clusters of values within kClusterWidth of their first (smallest) member;
  // within each, diagonalise B restricted to the cluster's columns.
  std::vector<double> s, mixed;
  for (size_t start = 0; start < m;) {
    size_t end = start + 1;
    while (end < m && std::fabs(eig[order[end]] - eig[order[start]]) < kClusterWidth) ++end;
    const size_t k = end - start;
    interruption_point();
    if (k >= 2) {
      s.assign(k * k, 0.0);
      for (size_t x = 0; x < k; ++x)
        for (size_t y = 0; y < k; ++y)
          s[x * k + y] = quadratic_form(q.data(), imag, m, order[start + x], order[start + y]);
      const std::vector<double> sub = jacobi_eig(s, int64_t(k));
      const double* w = sub.data() + k;
      mixed.assign(m * k, 0.0);
      for (size_t i = 0; i < m; ++i)
        for (size_t c = 0; c < k; ++c) {
          double sum = 0.0;
          for (size_t b = 0; b < k; ++b) sum += q[i * m + order[start + b]] * w[b * k + c];
          mixed[i * k + c] = sum;
        }
      for (size_t i = 0; i < m; ++i)
        for (size_t c = 0; c < k; ++c) q[i * m + order[start + c]] = mixed[i * k + c];
    }
    start = end;
  }

  std::vector<double> out(m * (m + 2), 0.0);
  for (size_t k = 0; k < m; ++k) {
    interruption_point();
    out[2 * k] = quadratic_form(q.data(), real, m, k, k);
    out[2 * k + 1] = quadratic_form(q.data(), imag, m, k, k);
  }
  std::copy(q.begin(), q.end(), out.begin() + ptrdiff_t(2 * m));
  return out;
}

}  // namespace nimbic::linalg
