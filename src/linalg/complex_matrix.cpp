#include "linalg/complex_matrix.hpp"

#include <cmath>

#include "common/interrupt.hpp"
#include "common/panic.hpp"
#include "linalg/sizes.hpp"

namespace nimbic::linalg {

std::vector<double> complex_identity(int64_t dim) {
  std::vector<double> out = zero_floats(complex_matrix_floats(dim));
  for (int64_t i = 0; i < dim; ++i) out[size_t(2 * (i * dim + i))] = 1.0;
  return out;
}

std::vector<double> dagger(std::span<const double> a, int64_t dim) {
  if (dim < 1) return {};
  const Count floats = complex_matrix_floats(dim);
  if (Count(a.size()) < floats) panic_get(first_missing_by_columns(int64_t(a.size()), dim), int64_t(a.size()));
  std::vector<double> out = zero_floats(floats);
  const size_t d = size_t(dim);
  for (size_t j = 0; j < d; ++j) {
    for (size_t k = 0; k < d; ++k) {
      out[2 * (j * d + k)] = a[2 * (k * d + j)];
      out[2 * (j * d + k) + 1] = -a[2 * (k * d + j) + 1];
    }
  }
  return out;
}

std::vector<double> kron(std::span<const double> a, int64_t a_dim, std::span<const double> b, int64_t b_dim) {
  if (a_dim < 1 || b_dim < 1) return {};
  // a(0, 0) is read first, then all of b, then the rest of a.
  require_length(a.size(), 2);
  require_length(b.size(), complex_matrix_floats(b_dim));
  require_length(a.size(), complex_matrix_floats(a_dim));
  const Count total = Count(a_dim) * b_dim;
  std::vector<double> out = zero_floats(2 * total * total);
  const size_t p = size_t(a_dim), q = size_t(b_dim);
  double* o = out.data();
  InterruptionTicker ticker(uint64_t(1) << 16);
  for (size_t i1 = 0; i1 < p; ++i1) {
    for (size_t i2 = 0; i2 < q; ++i2) {
      ticker.tick(p * q);
      for (size_t j1 = 0; j1 < p; ++j1) {
        const double ar = a[2 * (i1 * p + j1)], ai = a[2 * (i1 * p + j1) + 1];
        const double* brow = &b[2 * i2 * q];
        for (size_t j2 = 0; j2 < q; ++j2) {
          const double br = brow[2 * j2], bi = brow[2 * j2 + 1];
          *o++ = ar * br - ai * bi;
          *o++ = ar * bi + ai * br;
        }
      }
    }
  }
  return out;
}

namespace {

// The first read of matmul that runs past an input: a is read entry by entry,
// and row k of b only when entry (i, k) of a is not exactly zero.
void check_matmul_inputs(std::span<const double> a, std::span<const double> b, int64_t dim) {
  const Count floats = complex_matrix_floats(dim);
  const int64_t la = int64_t(a.size()), lb = int64_t(b.size());
  if (Count(lb) >= floats) {
    require_length(a.size(), floats);
    return;
  }
  const int64_t complete_rows = int64_t(Count(lb) / (Count(2) * dim));  // rows of b fully present
  // Entries of a before the first missing one (at most d*d of them).
  const Count entries = Count(la) / 2 < Count(dim) * dim ? Count(la) / 2 : Count(dim) * dim;
  for (int64_t t = 0; t < entries; ++t) {
    const int64_t k = t % dim;
    if (k < complete_rows) continue;
    if (a[size_t(2 * t)] == 0.0 && a[size_t(2 * t + 1)] == 0.0) continue;
    const Count row_start = Count(2) * k * dim;
    panic_get(lb < row_start ? int64_t(row_start < INT64_MAX ? row_start : INT64_MAX) : lb, lb);
  }
  require_length(a.size(), floats);
}

}  // namespace

std::vector<double> matmul(std::span<const double> a, std::span<const double> b, int64_t dim) {
  if (dim < 1) return {};
  check_matmul_inputs(a, b, dim);
  std::vector<double> out = zero_floats(complex_matrix_floats(dim));
  const size_t d = size_t(dim);
  for (size_t i = 0; i < d; ++i) {
    interruption_point();
    double* orow = &out[2 * i * d];
    for (size_t k = 0; k < d; ++k) {
      const double xr = a[2 * (i * d + k)], xi = a[2 * (i * d + k) + 1];
      if (xr == 0.0 && xi == 0.0) continue;
      const double* brow = &b[2 * k * d];
      for (size_t j = 0; j < d; ++j) {
        const double br = brow[2 * j], bi = brow[2 * j + 1];
        const double pr = xr * br - xi * bi;
        const double pi = xr * bi + xi * br;
        orow[2 * j] += pr;
        orow[2 * j + 1] += pi;
      }
    }
  }
  return out;
}

std::vector<double> matvec(std::span<const double> matrix, std::span<const double> vector, int64_t dim) {
  if (dim < 1) return {};
  // Reads interleave matrix entry (i, c) and vector entry c, the matrix first.
  const Count floats = complex_matrix_floats(dim);
  const bool matrix_short = Count(matrix.size()) < floats;
  const bool vector_short = Count(vector.size()) < Count(2) * dim;
  if (matrix_short && (!vector_short || matrix.size() / 2 <= vector.size() / 2))
    panic_get(int64_t(matrix.size()), int64_t(matrix.size()));
  if (vector_short) panic_get(int64_t(vector.size()), int64_t(vector.size()));
  std::vector<double> out = zero_floats(Count(2) * dim);
  const size_t d = size_t(dim);
  for (size_t i = 0; i < d; ++i) {
    double sr = 0.0, si = 0.0;
    const double* row = &matrix[2 * i * d];
    for (size_t c = 0; c < d; ++c) {
      const double mr = row[2 * c], mi = row[2 * c + 1];
      const double vr = vector[2 * c], vi = vector[2 * c + 1];
      sr += mr * vr - mi * vi;
      si += mr * vi + mi * vr;
    }
    out[2 * i] = sr;
    out[2 * i + 1] = si;
  }
  return out;
}

std::vector<double> add_scaled(std::span<const double> a, std::span<const double> b, int64_t dim, double scale) {
  if (dim < 1) return {};
  const Count floats = complex_matrix_floats(dim);
  // Float t of a is read before float t of b: the shorter input fails first.
  const bool a_short = Count(a.size()) < floats, b_short = Count(b.size()) < floats;
  if (a_short && (!b_short || a.size() <= b.size())) panic_get(int64_t(a.size()), int64_t(a.size()));
  if (b_short) panic_get(int64_t(b.size()), int64_t(b.size()));
  std::vector<double> out = zero_floats(floats);
  for (size_t t = 0; t < out.size(); ++t) out[t] = b[t] * scale + a[t];
  return out;
}

int64_t is_identity_matrix(std::span<const double> matrix, int64_t dim, double atol) {
  if (dim < 1) return 1;
  // The scan stops at the first failing entry, so a short matrix is an error
  // only when the scan reaches its end. Each entry is read whole, then tested.
  const int64_t len = int64_t(matrix.size());
  for (int64_t r = 0; r < dim; ++r) {
    for (int64_t c = 0; c < dim; ++c) {
      const int64_t t = 2 * (r * dim + c);
      if (t + 1 >= len) panic_get(t >= len ? t : t + 1, len);
      const double re = r == c ? matrix[size_t(t)] - 1.0 : matrix[size_t(t)];
      if (std::fabs(re) > atol || std::fabs(matrix[size_t(t + 1)]) > atol) return 0;
    }
  }
  return 1;
}

int64_t matrix_allclose(std::span<const double> a, std::span<const double> b, int64_t dim, double atol) {
  if (dim < 1) return 1;
  const Count floats = complex_matrix_floats(dim);
  const int64_t la = int64_t(a.size()), lb = int64_t(b.size());
  for (int64_t t = 0; t < floats; ++t) {
    if (t >= la) panic_get(t, la);
    if (t >= lb) panic_get(t, lb);
    if (std::fabs(a[size_t(t)] - b[size_t(t)]) > atol) return 0;
  }
  return 1;
}

}  // namespace nimbic::linalg
