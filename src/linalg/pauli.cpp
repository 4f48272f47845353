#include "linalg/pauli.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "common/interrupt.hpp"
#include "common/panic.hpp"
#include "linalg/sizes.hpp"

namespace nimbic::linalg {

Complex pauli_entry(int64_t type, int64_t a, int64_t b) {
  switch (type) {
    case 0:
      return {a == b ? 1.0 : 0.0, 0.0};
    case 1:
      return {a != b ? 1.0 : 0.0, 0.0};
    case 2:
      if (a == 0 && b == 1) return {0.0, 1.0};
      if (a == 1 && b == 0) return {0.0, -1.0};
      return {};
    default:
      if (a == 0 && b == 0) return {1.0, 0.0};
      if (a == 1 && b == 1) return {-1.0, 0.0};
      return {};
  }
}

namespace {

// Spreads the bits of v apart: bit w moves to bit 2w.
uint64_t spread_bits(uint64_t v) {
  v &= 0xFFFFFFFFu;
  v = (v | (v << 16)) & 0x0000FFFF0000FFFFull;
  v = (v | (v << 8)) & 0x00FF00FF00FF00FFull;
  v = (v | (v << 4)) & 0x0F0F0F0F0F0F0F0Full;
  v = (v | (v << 2)) & 0x3333333333333333ull;
  v = (v | (v << 1)) & 0x5555555555555555ull;
  return v;
}

// Is the Pauli string j's bit-flip pattern (its X and Y positions) equal to x?
uint64_t flip_pattern(uint64_t j, int n) {
  uint64_t x = 0;
  for (int w = 0; w < n; ++w) {
    const uint64_t t = (j >> (2 * w)) & 3;
    if (t == 1 || t == 2) x |= uint64_t(1) << w;
  }
  return x;
}

// tr(P_j M) weights entry (r, c) of M by P_j[c][r]: the factor of the direct sum.
Complex string_factor(uint64_t j, uint64_t r, uint64_t c, int n) {
  Complex f{1.0, 0.0};
  for (int w = n - 1; w >= 0; --w) {
    const Complex e = pauli_entry(int64_t((j >> (2 * w)) & 3), int64_t((r >> w) & 1), int64_t((c >> w) & 1));
    f = {f.re * e.re - f.im * e.im, f.im * e.re + f.re * e.im};
  }
  return f;
}

// Non-finite entries: the direct sum multiplies every entry by the factor of
// every string, zeros included, so 0 * inf and 0 * NaN turn each string whose
// factor vanishes on such an entry into NaN + NaN i. Only the strings that flip
// exactly the bits of every non-finite entry keep a sum to evaluate; those get
// the non-finite terms added in the direct sum's order (the finite part of the
// sum, already in `out`, cannot change what an infinity or NaN gives).
void add_non_finite_terms(std::span<const double> m, std::vector<double>& out, int n,
                          const std::vector<uint64_t>& bad) {
  const uint64_t d = uint64_t(1) << n;
  const uint64_t flips = (bad.front() / d) ^ (bad.front() % d);
  bool one_pattern = true;
  for (uint64_t e : bad) one_pattern = one_pattern && ((e / d) ^ (e % d)) == flips;
  const double nan = std::nan("");
  const uint64_t strings = uint64_t(1) << (2 * n);
  InterruptionTicker ticker(uint64_t(1) << 16);
  for (uint64_t j = 0; j < strings; ++j) {
    ticker.tick(bad.size());
    if (!one_pattern || flip_pattern(j, n) != flips) {
      out[2 * j] = nan;
      out[2 * j + 1] = nan;
      continue;
    }
    double re = 0.0, im = 0.0;
    for (uint64_t e : bad) {  // in the direct sum's order: column outer, row inner
      const uint64_t r = e / d, c = e % d;
      const Complex f = string_factor(j, r, c, n);
      const double mr = m[2 * e], mi = m[2 * e + 1];
      re += f.re * mr - f.im * mi;
      im += f.re * mi + f.im * mr;
    }
    out[2 * j] += re;
    out[2 * j + 1] += im;
  }
}

}  // namespace

Count pauli_expansion_bytes(int64_t matrix_length, int64_t num_qubits) {
  if (num_qubits < 0 || num_qubits >= 32) return 0;
  const Count floats = complex_matrix_floats(int64_t(1) << num_qubits);
  if (Count(matrix_length) < floats) return 0;
  return Count(matrix_length) * 8 + floats * (8 + kListItemBytes) + (Count(8) << num_qubits);
}

std::vector<double> pauli_expansion(std::span<const double> matrix, int64_t num_qubits) {
  if (num_qubits < 0 || num_qubits >= 32) return {};
  const int n = int(num_qubits);
  const int64_t d = int64_t(1) << n;
  const Count floats = complex_matrix_floats(d);
  if (Count(matrix.size()) < floats)
    panic_get(first_missing_by_columns(int64_t(matrix.size()), d), int64_t(matrix.size()));

  // Fast Pauli transform, O(n 4^n) instead of the direct O(n 16^n) sum: the
  // factor P_j[c][r] is a product over bit positions, so the sum factorises
  // into one 4-point transform per position. Entry (r, c) is first placed at
  // the index with bit 2w = bit w of c and bit 2w+1 = bit w of r; the
  // transform of position w then turns those two bits into digit w of j.
  // Reordered sums: results agree with the direct sum within rounding.
  std::vector<double> out = zero_floats(floats);
  std::vector<uint64_t> spread(static_cast<size_t>(d));
  for (int64_t c = 0; c < d; ++c) spread[size_t(c)] = spread_bits(uint64_t(c));
  std::vector<uint64_t> bad;  // flat entries with a non-finite part, column-major
  InterruptionTicker ticker(uint64_t(1) << 16);
  for (int64_t r = 0; r < d; ++r) {
    ticker.tick(uint64_t(d));
    const uint64_t row_bits = spread[size_t(r)] << 1;
    const double* src = &matrix[size_t(2 * r * d)];
    for (int64_t c = 0; c < d; ++c) {
      const uint64_t dst = row_bits | spread[size_t(c)];
      double re = src[2 * c], im = src[2 * c + 1];
      if (!std::isfinite(re) || !std::isfinite(im)) {
        bad.push_back(uint64_t(r * d + c));
        re = im = 0.0;
      }
      out[2 * dst] = re;
      out[2 * dst + 1] = im;
    }
  }
  const uint64_t strings = uint64_t(d) * uint64_t(d);
  double* v = out.data();
  for (uint64_t stride = 1; stride < strings; stride *= 4) {
    for (uint64_t base = 0; base < strings; base += 4 * stride) {
      for (uint64_t k = base; k < base + stride; ++k) {
        if ((k & 0xFFFF) == 0) interruption_point();
        // Slots (r, c) = 00, 01, 10, 11 become I, X, Y, Z with weights
        // P[c][r]: I = m00 + m11, X = m01 + m10, Y = i (m01 - m10), Z = m00 - m11.
        double* p0 = v + 2 * k;
        double* p1 = p0 + 2 * stride;
        double* p2 = p1 + 2 * stride;
        double* p3 = p2 + 2 * stride;
        const double a_re = p0[0], a_im = p0[1], b_re = p1[0], b_im = p1[1];
        const double c_re = p2[0], c_im = p2[1], d_re = p3[0], d_im = p3[1];
        p0[0] = a_re + d_re;
        p0[1] = a_im + d_im;
        p1[0] = b_re + c_re;
        p1[1] = b_im + c_im;
        p2[0] = -(b_im - c_im);
        p2[1] = b_re - c_re;
        p3[0] = a_re - d_re;
        p3[1] = a_im - d_im;
      }
    }
  }
  if (!bad.empty()) {
    std::sort(bad.begin(), bad.end(),
              [d](uint64_t x, uint64_t y) { return std::pair(x % d, x / d) < std::pair(y % d, y / d); });
    add_non_finite_terms(matrix, out, n, bad);
  }
  const double scale = double(d);
  for (size_t i = 0; i < out.size(); ++i) {
    if ((i & 0xFFFF) == 0) interruption_point();
    out[i] /= scale;
  }
  return out;
}

}  // namespace nimbic::linalg
