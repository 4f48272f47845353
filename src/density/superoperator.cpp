#include "density/superoperator.hpp"

namespace nimbic::density {

SparseMap build_superoperator(int64_t num_operators, int64_t dim, std::span<const double> re,
                              std::span<const double> im) {
  const int64_t d = dim, d2 = dim * dim;
  SparseMap s;
  s.size = d2;
  s.row_start.push_back(0);
  for (int64_t a = 0; a < d; ++a)
    for (int64_t b = 0; b < d; ++b) {
      for (int64_t c = 0; c < d; ++c)
        for (int64_t e = 0; e < d; ++e) {
          double sr = 0.0, si = 0.0;
          for (int64_t k = 0; k < num_operators; ++k) {
            // K[a][c] * conj(K[b][e])
            const double xr = re[k * d2 + a * d + c], xi = im[k * d2 + a * d + c];
            const double yr = re[k * d2 + b * d + e], yi = im[k * d2 + b * d + e];
            sr += xr * yr + xi * yi;
            si += xi * yr - xr * yi;
          }
          if (sr == 0.0 && si == 0.0) continue;
          s.column.push_back(c * d + e);
          s.re.push_back(sr);
          s.im.push_back(si);
          s.real = s.real && si == 0.0;
        }
      s.row_start.push_back(int64_t(s.column.size()));
    }
  return s;
}

}  // namespace nimbic::density
