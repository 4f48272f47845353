// The reference product for any row list (rows that anticommute, repeat or
// depend on each other, or contradict each other), evaluated exactly.
//
// Expanding M = (I + g_1)(I + g_2)...(I + g_n) gives a sum of Pauli strings
// X^x Z^z with Gaussian-integer coefficients, and every string lies in the
// span V of the rows' (x, z) vectors. With a basis of V whose first r1
// vectors have independent x parts and whose other r0 vectors have x = 0, a
// string is indexed by (t, h): t picks the x part, h the Z-only part. Column c
// of M then holds, at row c ^ x(t), the value (-1)^|z(t) & c| F_t(sigma(c)),
// where F_t is the Walsh-Hadamard transform of the coefficients over h and
// sigma(c) the parities of c against the Z-only basis vectors. So a column is
// non-zero exactly when some F_t is non-zero at its sigma, and the lowest such
// column follows from the lowest c for each sigma. Cost O(n 2^n).
#include <cmath>
#include <vector>

#include "common/interrupt.hpp"
#include "common/memory.hpp"
#include "common/split_work_interruptible.hpp"
#include "stabilizer/state_vector_rows.hpp"

namespace nimbic::stabilizer {

namespace {

struct Gaussian {
  int64_t re = 0;
  int64_t im = 0;
};

// v * i^p.
inline Gaussian rotate(Gaussian v, unsigned p) {
  switch (p & 3) {
    case 0:
      return v;
    case 1:
      return {-v.im, v.re};
    case 2:
      return {-v.re, -v.im};
    default:
      return {v.im, -v.re};
  }
}

// Reduced basis of the span of the rows' (x, z) vectors (phases play no
// part): x-type vectors first, every pivot bit set only in its own vector.
struct SpanBasis {
  std::vector<PauliString> vectors;
  std::vector<int> x_pivots, z_pivots;
  size_t r1() const { return x_pivots.size(); }
  size_t r0() const { return z_pivots.size(); }

  // Coordinates of a vector of the span: x-type basis j on bit r0 + j,
  // Z-only basis i on bit i.
  uint64_t coordinates(const PauliString& v) const {
    uint64_t a = 0;
    for (size_t j = 0; j < r1(); ++j) a |= uint64_t(v.x >> x_pivots[j] & 1) << (r0() + j);
    for (size_t i = 0; i < r0(); ++i) a |= uint64_t(v.z >> z_pivots[i] & 1) << i;
    return a;
  }
};

SpanBasis span_basis(std::vector<PauliString> v, int n) {
  SpanBasis basis;
  size_t next = 0;
  for (int bit = n - 1; bit >= 0; --bit)
    if (eliminate(v, next, &PauliString::x, 0, bit)) basis.x_pivots.push_back(bit);
  // Z pivots are cleared from the x-type vectors too (their x parts stay).
  for (int bit = n - 1; bit >= 0; --bit)
    if (eliminate(v, next, &PauliString::z, 0, bit)) basis.z_pivots.push_back(bit);
  v.resize(next);
  basis.vectors = std::move(v);
  return basis;
}

}  // namespace

std::vector<double> state_vector_by_expansion(const std::vector<PauliString>& rows, int n) {
  const SpanBasis basis = span_basis(rows, n);
  const size_t r1 = basis.r1(), r0 = basis.r0();
  const uint64_t count = uint64_t(1) << (r1 + r0);
  const uint64_t h_count = uint64_t(1) << r0, t_count = uint64_t(1) << r1;
  check_allocatable(Count(count) * 16 + Count(t_count) * 16 + Count(h_count) * 9);

  // x and z parts of each string index: x(t), z(t) from the x-type vectors,
  // z(h) from the Z-only ones.
  std::vector<uint64_t> xt(t_count), zt(t_count), zh(h_count);
  for (uint64_t t = 1; t < t_count; ++t) {
    const PauliString& b = basis.vectors[size_t(__builtin_ctzll(t))];
    xt[t] = xt[t & (t - 1)] ^ b.x;
    zt[t] = zt[t & (t - 1)] ^ b.z;
  }
  for (uint64_t h = 1; h < h_count; ++h) zh[h] = zh[h & (h - 1)] ^ basis.vectors[r1 + size_t(__builtin_ctzll(h))].z;
  auto z_of = [&](uint64_t a) { return zt[a >> r0] ^ zh[a & (h_count - 1)]; };

  // Coefficients of M, multiplying by (I + g_k) on the right row by row:
  // X^x Z^z * i^e X^xk Z^zk = i^(e + 2|z & xk|) X^(x^xk) Z^(z^zk).
  std::vector<Gaussian> coef = zeroed<Gaussian>(count);
  coef[0] = {1, 0};
  for (const PauliString& g : rows) {
    interruption_point();
    const uint64_t w = basis.coordinates(g);
    if (w == 0) {  // g = +-I: (I + g) is 2I or 0
      const int64_t f = g.phase == 0 ? 2 : 0;
      split_work_interruptible(count, 1, 16, [&](unsigned, uint64_t begin, uint64_t end) {
        for (uint64_t a = begin; a < end; ++a) coef[a] = {coef[a].re * f, coef[a].im * f};
      });
      continue;
    }
    // Each pair (a, a ^ w) is updated once, from its member without the top
    // bit of w, so the indices may be split into parts.
    const uint64_t top = uint64_t(1) << (63 - __builtin_clzll(w));
    split_work_interruptible(count, 2, 16, [&](unsigned, uint64_t begin, uint64_t end) {
      for (uint64_t a = begin; a < end; ++a) {
        if (a & top) continue;
        const uint64_t b = a ^ w;
        const Gaussian ca = coef[a], cb = coef[b];
        const Gaussian from_b = rotate(cb, g.phase + 2 * unsigned(parity(z_of(b) & g.x)));
        const Gaussian from_a = rotate(ca, g.phase + 2 * unsigned(parity(z_of(a) & g.x)));
        coef[a] = {ca.re + from_b.re, ca.im + from_b.im};
        coef[b] = {cb.re + from_a.re, cb.im + from_a.im};
      }
    });
  }

  // F_t(sigma) for every t: Walsh-Hadamard transforms over h (the low r0
  // bits of an index), in place, one butterfly stage at a time.
  for (uint64_t half = 1; half < h_count; half <<= 1)
    split_work_interruptible(count, 1, 16, [&](unsigned, uint64_t begin, uint64_t end) {
      for (uint64_t j = begin; j < end; ++j) {
        if (j & half) continue;
        const Gaussian u = coef[j], v = coef[j + half];
        coef[j] = {u.re + v.re, u.im + v.im};
        coef[j + half] = {u.re - v.re, u.im - v.im};
      }
    });
  std::vector<uint8_t> nonzero(h_count, 0);
  split_work_interruptible(h_count, t_count, 16, [&](unsigned, uint64_t begin, uint64_t end) {
    for (uint64_t sigma = begin; sigma < end; ++sigma)
      for (uint64_t t = 0; t < t_count && !nonzero[sigma]; ++t) {
        const Gaussian& v = coef[(t << r0) | sigma];
        if (v.re != 0 || v.im != 0) nonzero[sigma] = 1;
      }
  });

  // The lowest c with sigma(c) = sigma is R(c_p(sigma)): c_p sets the pivot
  // bits of the Z-only vectors named by sigma (a solution, since they are
  // reduced), and R removes from it, by leading bits, the solutions of
  // sigma = 0. Both maps are linear, so the lowest c is the xor of
  // lowest[i] over the bits i of sigma.
  uint64_t lead[64] = {};
  for (int f = 0; f < n; ++f) {
    uint64_t v = uint64_t(1) << f;
    bool pivot = false;
    for (size_t i = 0; i < r0; ++i) {
      if (basis.z_pivots[i] == f) pivot = true;
      if (basis.vectors[r1 + i].z >> f & 1) v |= uint64_t(1) << basis.z_pivots[i];
    }
    if (pivot) continue;
    for (int bit = n - 1; bit >= 0 && v != 0; --bit) {
      if (!(v >> bit & 1)) continue;
      if (lead[bit] == 0) {
        lead[bit] = v;
        break;
      }
      v ^= lead[bit];
    }
  }
  auto lowest_equivalent = [&](uint64_t c) {
    for (int bit = n - 1; bit >= 0; --bit)
      if (lead[bit] != 0 && (c >> bit & 1)) c ^= lead[bit];
    return c;
  };
  std::vector<uint64_t> lowest(r0);
  for (size_t i = 0; i < r0; ++i) lowest[i] = lowest_equivalent(uint64_t(1) << basis.z_pivots[i]);
  uint64_t column = UINT64_MAX;
  uint64_t candidate = 0;
  for (uint64_t s = 0; s < h_count; ++s) {
    if (s != 0) candidate ^= lowest[size_t(__builtin_ctzll(s))];
    const uint64_t sigma = s ^ (s >> 1);
    if (nonzero[sigma] && candidate < column) column = candidate;
  }

  const uint64_t dim = uint64_t(1) << n;
  std::vector<double> out = zeroed<double>(2 * dim);
  if (column == UINT64_MAX) return out;  // M = 0: no column passes the threshold
  uint64_t sigma = 0;
  for (size_t i = 0; i < r0; ++i) sigma |= uint64_t(parity(basis.vectors[r1 + i].z & column)) << i;
  split_work_interruptible(t_count, 4, 16, [&](unsigned, uint64_t begin, uint64_t end) {
    for (uint64_t t = begin; t < end; ++t) {
      Gaussian v = coef[(t << r0) | sigma];
      if (parity(zt[t] & column)) v = {-v.re, -v.im};
      const uint64_t row = column ^ xt[t];
      out[2 * row] = double(v.re);
      out[2 * row + 1] = double(v.im);
    }
  });
  // As the reference: the squared norm summed over rows in order, then one
  // reciprocal multiplied into every part.
  double norm2 = 0.0;
  for (uint64_t i = 0; i < dim; ++i) norm2 += out[2 * i] * out[2 * i] + out[2 * i + 1] * out[2 * i + 1];
  const double scale = 1.0 / std::sqrt(norm2);
  split_work_interruptible(out.size(), 1, 16, [&](unsigned, uint64_t begin, uint64_t end) {
    for (uint64_t i = begin; i < end; ++i) out[i] *= scale;
  });
  return out;
}

}  // namespace nimbic::stabilizer
