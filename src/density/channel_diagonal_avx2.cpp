// AVX2 path of the diagonal kernel's row-order pass, its rows split over
// the threads of the split policy.
#include "common/simd_avx2.hpp"
#include "common/split_work.hpp"
#include "density/diagonal_rows.hpp"

#if NIMBIC_X86_SIMD

namespace nimbic::density {

namespace {

// Two entries per register: addsub(x * [fr, fr], swap(x) * [fi, fi]) is
// (xr*fr - xi*fi, xi*fr + xr*fi).
NIMBIC_AVX2 void scale_rows_between(double* rho, const RowFactors& f, uint64_t begin, uint64_t end) {
  const uint64_t dim = uint64_t(1) << f.num_qubits, d = f.d, s = f.segment;
  for (uint64_t r = begin; r < end; ++r) {
    const double* by_pattern = &f.table[f.row_pattern[r] * d * 4 * s];
    for (uint64_t g = 0; g < dim / s; ++g) {
      double* x = rho + 2 * (r * dim + g * s);
      const double* t = by_pattern + f.segment_pattern[g] * 4 * s;
      for (uint64_t u = 0; u < s; u += 2) {
        const __m256d v = _mm256_loadu_pd(x + 2 * u);
        const __m256d fr = _mm256_loadu_pd(t + 2 * u), fi = _mm256_loadu_pd(t + 2 * s + 2 * u);
        _mm256_storeu_pd(x + 2 * u, avx2::cmul(fr, fi, v, avx2::swap_re_im(v)));
      }
    }
  }
}

}  // namespace

bool scale_rows_avx2(double* rho, const RowFactors& f) {
  if (!cpu_has_avx2()) return false;  // the segment holds 2, 4, 8 or 16 columns: whole registers
  const uint64_t dim = uint64_t(1) << f.num_qubits;
  split_work(dim, dim, 1, [&](unsigned, uint64_t begin, uint64_t end) { scale_rows_between(rho, f, begin, end); });
  return true;
}

}  // namespace nimbic::density

#else

namespace nimbic::density {

bool scale_rows_avx2(double*, const RowFactors&) { return false; }

}  // namespace nimbic::density

#endif  // NIMBIC_X86_SIMD
