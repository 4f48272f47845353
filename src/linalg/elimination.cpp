#include "linalg/elimination.hpp"

#include <cmath>
#include <utility>

#include "common/interrupt.hpp"
#include "common/panic.hpp"
#include "linalg/complex_matrix.hpp"
#include "linalg/sizes.hpp"

namespace nimbic::linalg {

namespace {

struct Cx {
  double re, im;
};

inline Cx mul(Cx a, Cx b) { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }
inline double modulus(Cx a) { return std::sqrt(a.re * a.re + a.im * a.im); }
inline Cx reciprocal(Cx p) {
  const double m2 = p.re * p.re + p.im * p.im;
  return {p.re / m2, -p.im / m2};
}

// A square complex matrix of order n over a flat float array.
struct Rows {
  double* data;
  size_t n;
  Cx get(size_t r, size_t c) const { return {data[2 * (r * n + c)], data[2 * (r * n + c) + 1]}; }
  void set(size_t r, size_t c, Cx v) {
    data[2 * (r * n + c)] = v.re;
    data[2 * (r * n + c) + 1] = v.im;
  }
  void swap_rows(size_t a, size_t b) {
    for (size_t t = 0; t < 2 * n; ++t) std::swap(data[2 * a * n + t], data[2 * b * n + t]);
  }
};

// Row of the pivot for column k: the diagonal unless a later row has a
// strictly larger modulus (ties keep the earlier row). Returns its modulus.
size_t find_pivot(const Rows& a, size_t k, double& best) {
  size_t pivot = k;
  best = modulus(a.get(k, k));
  for (size_t i = k + 1; i < a.n; ++i) {
    const double m = modulus(a.get(i, k));
    if (m > best) {
      best = m;
      pivot = i;
    }
  }
  return pivot;
}

inline bool is_exact_zero(Cx v) { return v.re == 0.0 && v.im == 0.0; }

// A private copy of the first 2n^2 floats of the input.
std::vector<double> working_copy(std::span<const double> matrix, int64_t n) {
  const Count floats = complex_matrix_floats(n);
  require_length(matrix.size(), floats);
  return std::vector<double>(matrix.begin(), matrix.begin() + ptrdiff_t(floats));
}

}  // namespace

std::vector<double> matrix_det(std::span<const double> matrix, int64_t n) {
  if (n < 1) return {1.0, 0.0};
  std::vector<double> work = working_copy(matrix, n);
  Rows a{work.data(), size_t(n)};
  Cx det{1.0, 0.0};
  for (size_t k = 0; k < a.n; ++k) {
    interruption_point();
    double best;
    const size_t p = find_pivot(a, k, best);
    if (best < kPivotThreshold) return {0.0, 0.0};
    if (p != k) {
      a.swap_rows(p, k);
      det = mul(det, a.get(k, k));
      det = {-det.re, -det.im};
    } else {
      det = mul(det, a.get(k, k));
    }
    const Cx inv = reciprocal(a.get(k, k));
    for (size_t j = k + 1; j < a.n; ++j) {
      const Cx x = a.get(j, k);
      if (is_exact_zero(x)) continue;
      const Cx f = mul(x, inv);
      for (size_t c = k + 1; c < a.n; ++c) {
        const Cx t = mul(f, a.get(k, c));
        const Cx v = a.get(j, c);
        a.set(j, c, {v.re - t.re, v.im - t.im});
      }
    }
  }
  return {det.re, det.im};
}

std::vector<double> matrix_inverse(std::span<const double> matrix, int64_t n) {
  if (n < 1) return complex_identity(n);
  // The working copy beside the result, and the result's list: refused
  // before either is made.
  require_length(matrix.size(), complex_matrix_floats(n));
  check_result(complex_matrix_floats(n), 16);
  std::vector<double> work = working_copy(matrix, n);
  std::vector<double> result = complex_identity(n);
  Rows a{work.data(), size_t(n)}, b{result.data(), size_t(n)};
  const size_t order = a.n;
  for (size_t k = 0; k < order; ++k) {
    interruption_point();
    double best;
    const size_t p = find_pivot(a, k, best);
    if (best < kPivotThreshold) return {};
    if (p != k) {
      a.swap_rows(p, k);
      b.swap_rows(p, k);
    }
    const Cx inv = reciprocal(a.get(k, k));
    for (size_t c = 0; c < order; ++c) {
      a.set(k, c, mul(a.get(k, c), inv));
      b.set(k, c, mul(b.get(k, c), inv));
    }
    for (size_t j = 0; j < order; ++j) {
      if (j == k) continue;
      const Cx f = a.get(j, k);
      if (is_exact_zero(f)) continue;
      for (size_t c = 0; c < order; ++c) {
        const Cx ta = mul(f, a.get(k, c));
        const Cx va = a.get(j, c);
        a.set(j, c, {va.re - ta.re, va.im - ta.im});
        const Cx tb = mul(f, b.get(k, c));
        const Cx vb = b.get(j, c);
        b.set(j, c, {vb.re - tb.re, vb.im - tb.im});
      }
    }
  }
  return result;
}

std::vector<double> solve3(std::span<const double> matrix, std::span<const double> rhs) {
  // The augmented rows are read as m0 m1 m2 rhs0, m3 m4 m5 rhs1, m6 m7 m8 rhs2:
  // the first read past either input is the error.
  for (size_t r = 0; r < 3; ++r) {
    for (size_t c = 0; c < 3; ++c)
      if (3 * r + c >= matrix.size()) panic_get(int64_t(3 * r + c), int64_t(matrix.size()));
    if (r >= rhs.size()) panic_get(int64_t(r), int64_t(rhs.size()));
  }
  double row[3][4];
  for (size_t r = 0; r < 3; ++r) {
    for (size_t c = 0; c < 3; ++c) row[r][c] = matrix[3 * r + c];
    row[r][3] = rhs[r];
  }
  auto swap_rows = [&](size_t x, size_t y) {
    for (size_t c = 0; c < 4; ++c) std::swap(row[x][c], row[y][c]);
  };
  for (size_t i = 0; i < 3; ++i) {
    if (i == 0) {
      size_t p = std::fabs(row[1][0]) > std::fabs(row[0][0]) ? 1 : 0;
      if (std::fabs(row[2][0]) > std::fabs(row[p][0])) p = 2;
      if (p != 0) swap_rows(p, 0);
    } else if (i == 1) {
      if (std::fabs(row[2][1]) > std::fabs(row[1][1])) swap_rows(2, 1);
    }
    const double inv = 1.0 / row[i][i];
    for (size_t c = 0; c < 4; ++c) row[i][c] *= inv;
    for (size_t j = 0; j < 3; ++j) {
      if (j == i) continue;
      const double f = row[j][i];
      for (size_t c = 0; c < 4; ++c) row[j][c] -= row[i][c] * f;
    }
  }
  return {row[0][3], row[1][3], row[2][3]};
}

}  // namespace nimbic::linalg
