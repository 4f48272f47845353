// AVX2 path of the diagonal kernel's row-order pass.
#include "common/simd_avx2.hpp"
#include "density/diagonal_rows.hpp"

#if NIMBIC_X86_SIMD

namespace nimbic::density {

namespace {

// Two entries per register: addsub(x * [fr, fr], swap(x) * [fi, fi]) is
// (xr*fr - xi*fi, xi*fr + xr*fi).
NIMBIC_AVX2 void scale_rows_body(double* rho, const RowFactors& f) {
  const uint64_t dim = uint64_t(1) << f.num_qubits, d = f.d, s = f.segment;
  for (uint64_t r = 0; r < dim; ++r) {
    const double* by_pattern = &f.table[f.row_pattern[r] * d * 4 * s];
    for (uint64_t g = 0; g < dim / s; ++g) {
      double* x = rho + 2 * (r * dim + g * s);
      const double* t = by_pattern + f.segment_pattern[g] * 4 * s;
      for (uint64_t u = 0; u < s; u += 2) {
        const __m256d v = _mm256_loadu_pd(x + 2 * u);
        const __m256d fr = _mm256_loadu_pd(t + 2 * u), fi = _mm256_loadu_pd(t + 2 * s + 2 * u);
        _mm256_storeu_pd(x + 2 * u, _mm256_addsub_pd(_mm256_mul_pd(v, fr), _mm256_mul_pd(avx2::swap_re_im(v), fi)));
      }
    }
  }
}

}  // namespace

bool scale_rows_avx2(double* rho, const RowFactors& f) {
  if (!cpu_has_avx2()) return false;  // the segment holds 2, 4, 8 or 16 columns: whole registers
  scale_rows_body(rho, f);
  return true;
}

}  // namespace nimbic::density

#else

namespace nimbic::density {

bool scale_rows_avx2(double*, const RowFactors&) { return false; }

}  // namespace nimbic::density

#endif  // NIMBIC_X86_SIMD
