#include "linalg/kron_factor.hpp"

#include <cmath>

#include "common/panic.hpp"
#include "linalg/elimination.hpp"
#include "linalg/sizes.hpp"

namespace nimbic::linalg {

std::vector<double> normalize_det2(std::span<const double> m) {
  require_length(m.size(), 8);
  std::vector<double> out(m.begin(), m.begin() + 8);
  const std::vector<double> det = matrix_det(out, 2);
  const double r = std::sqrt(det[0] * det[0] + det[1] * det[1]);
  if (r < kPivotThreshold) return out;
  const double s_re = std::sqrt((r + det[0]) * 0.5);
  const double t = std::sqrt((r - det[0]) * 0.5);
  const double s_im = det[1] < 0 ? -t : t;
  const double s2 = s_re * s_re + s_im * s_im;
  for (size_t e = 0; e < 4; ++e) {
    const double x_re = out[2 * e], x_im = out[2 * e + 1];
    out[2 * e] = (x_re * s_re + x_im * s_im) / s2;
    out[2 * e + 1] = (x_im * s_re - x_re * s_im) / s2;
  }
  return out;
}

std::vector<double> kron_factor(std::span<const double> matrix) {
  require_length(matrix.size(), 32);
  // Pivot: the first entry of largest squared modulus.
  size_t pivot = 0;
  double best = -1.0;
  for (size_t e = 0; e < 16; ++e) {
    const double m2 = matrix[2 * e] * matrix[2 * e] + matrix[2 * e + 1] * matrix[2 * e + 1];
    if (m2 > best) {
      best = m2;
      pivot = e;
    }
  }
  const size_t r = pivot / 4, c = pivot % 4;
  const size_t a = r >> 1, b = r & 1, a2 = c >> 1, b2 = c & 1;
  auto entry = [&](size_t row, size_t col, double* dst) {
    dst[0] = matrix[2 * (4 * row + col)];
    dst[1] = matrix[2 * (4 * row + col) + 1];
  };
  // A(x, y) = M(2x + b, 2y + b') and B(x, y) = M(2a + x, 2a' + y).
  std::vector<double> fa(8), fb(8);
  for (size_t x = 0; x < 2; ++x)
    for (size_t y = 0; y < 2; ++y) {
      entry(2 * x + b, 2 * y + b2, &fa[2 * (2 * x + y)]);
      entry(2 * a + x, 2 * a2 + y, &fb[2 * (2 * x + y)]);
    }
  fa = normalize_det2(fa);
  fb = normalize_det2(fb);
  const double al_re = fa[2 * (2 * a + a2)], al_im = fa[2 * (2 * a + a2) + 1];
  const double be_re = fb[2 * (2 * b + b2)], be_im = fb[2 * (2 * b + b2) + 1];
  const double q_re = al_re * be_re - al_im * be_im;
  const double q_im = al_re * be_im + al_im * be_re;
  const double q2 = q_re * q_re + q_im * q_im;
  const double m_re = matrix[2 * pivot], m_im = matrix[2 * pivot + 1];
  double g_re = (q_re * m_re + q_im * m_im) / q2;
  double g_im = (q_re * m_im - q_im * m_re) / q2;
  if (g_re < 0) {
    for (double& x : fa) x = -x;
    g_re = -g_re;
    g_im = -g_im;
  }
  std::vector<double> out;
  out.reserve(18);
  out.push_back(g_re);
  out.push_back(g_im);
  out.insert(out.end(), fa.begin(), fa.end());
  out.insert(out.end(), fb.begin(), fb.end());
  return out;
}

}  // namespace nimbic::linalg
