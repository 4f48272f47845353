// Interleaved complex arithmetic on AVX-512 registers: a __m512d holds four
// complex numbers [re0, im0, ..., re3, im3] from four independent amplitude
// groups. The sibling of simd_avx2.hpp, with the same rules: each helper
// performs exactly the scalar operations of the reference kernels lane by
// lane (no fused multiply-add, same operand order), so the vector and scalar
// paths give identical bits. Only AVX-512 Foundation instructions are used,
// through their zero-masked forms with every lane selected where the plain
// form would leave GCC 12 warning about its undefined pass-through operand.
// Include only from `*_avx512.cpp` files, whose functions carry NIMBIC_AVX512
// and whose bodies sit inside `#if NIMBIC_X86_SIMD`.
#pragma once

#include "common/simd_avx2.hpp"

#if NIMBIC_X86_SIMD

#define NIMBIC_AVX512 __attribute__((target("avx512f")))

namespace nimbic::avx512 {

struct Avx512 {
  using Reg = __m512d;
  using Keep = __mmask8;  // lanes that keep their old value: both float bits set
  static constexpr uint64_t kLanes = 4;

  NIMBIC_AVX512 static Reg load(const double* p) { return _mm512_loadu_pd(p); }
  NIMBIC_AVX512 static void store(double* p, Reg v) { _mm512_storeu_pd(p, v); }
  NIMBIC_AVX512 static Reg zero() { return _mm512_setzero_pd(); }
  NIMBIC_AVX512 static Reg set1(double x) { return _mm512_set1_pd(x); }
  NIMBIC_AVX512 static Reg alternate(double x, double y) { return _mm512_setr_pd(x, y, x, y, x, y, x, y); }
  NIMBIC_AVX512 static Reg add(Reg a, Reg b) { return _mm512_add_pd(a, b); }
  NIMBIC_AVX512 static Reg mul(Reg a, Reg b) { return _mm512_mul_pd(a, b); }
  NIMBIC_AVX512 static Reg swap_re_im(Reg v) { return _mm512_maskz_permute_pd(0xFF, v, 0b01010101); }
  NIMBIC_AVX512 static Reg gather(double* const* lane_base, uint64_t f) {
    const __m256d lo =
        _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(lane_base[0] + f)), _mm_loadu_pd(lane_base[1] + f), 1);
    const __m256d hi =
        _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(lane_base[2] + f)), _mm_loadu_pd(lane_base[3] + f), 1);
    return _mm512_maskz_insertf64x4(0xFF, _mm512_castpd256_pd512(lo), hi, 1);
  }
  NIMBIC_AVX512 static void scatter(double* const* lane_base, uint64_t f, Reg v) {
    const __m256d lo = _mm512_maskz_extractf64x4_pd(0xFF, v, 0), hi = _mm512_maskz_extractf64x4_pd(0xFF, v, 1);
    _mm_storeu_pd(lane_base[0] + f, _mm256_castpd256_pd128(lo));
    _mm_storeu_pd(lane_base[1] + f, _mm256_extractf128_pd(lo, 1));
    _mm_storeu_pd(lane_base[2] + f, _mm256_castpd256_pd128(hi));
    _mm_storeu_pd(lane_base[3] + f, _mm256_extractf128_pd(hi, 1));
  }
  // Lane pairs (0, 1) and (2, 3): both lanes of a pair take its first lane
  // or its second.
  NIMBIC_AVX512 static Reg pair_first(Reg v) { return _mm512_maskz_permutex_pd(0xFF, v, 0x44); }
  NIMBIC_AVX512 static Reg pair_second(Reg v) { return _mm512_maskz_permutex_pd(0xFF, v, 0xEE); }
  // Registers x and y of pairs (x0, x1), (x2, x3), (y0, y1), (y2, y3) to
  // the pairs' first and second amplitudes, [x0, x2, y0, y2] and
  // [x1, x3, y1, y3]; join_pairs undoes it.
  NIMBIC_AVX512 static void split_pairs(Reg x, Reg y, Reg& first, Reg& second) {
    first = _mm512_permutex2var_pd(x, _mm512_setr_epi64(0, 1, 4, 5, 8, 9, 12, 13), y);
    second = _mm512_permutex2var_pd(x, _mm512_setr_epi64(2, 3, 6, 7, 10, 11, 14, 15), y);
  }
  NIMBIC_AVX512 static void join_pairs(Reg first, Reg second, Reg& x, Reg& y) {
    x = _mm512_permutex2var_pd(first, _mm512_setr_epi64(0, 1, 8, 9, 2, 3, 10, 11), second);
    y = _mm512_permutex2var_pd(first, _mm512_setr_epi64(4, 5, 12, 13, 6, 7, 14, 15), second);
  }
  NIMBIC_AVX512 static Reg pair_swap(Reg v) { return _mm512_maskz_permutex_pd(0xFF, v, 0x4E); }
  // [v0, v1, v0, v1] and [v2, v3, v2, v3] (complex lanes).
  NIMBIC_AVX512 static Reg half_first(Reg v) { return _mm512_maskz_shuffle_f64x2(0xFF, v, v, 0x44); }
  NIMBIC_AVX512 static Reg half_second(Reg v) { return _mm512_maskz_shuffle_f64x2(0xFF, v, v, 0xEE); }
  // Every lane takes lane Q.
  template <int Q>
  NIMBIC_AVX512 static Reg quarter(Reg v) {
    return _mm512_maskz_shuffle_f64x2(0xFF, v, v, Q * 0x55);
  }
  // [v2, v3, v0, v1].
  NIMBIC_AVX512 static Reg half_swap(Reg v) { return _mm512_maskz_shuffle_f64x2(0xFF, v, v, 0x4E); }
  // Lanes whose bit is set in `lanes` only; the others read as zero and are
  // not written.
  NIMBIC_AVX512 static __mmask8 lane_mask(unsigned lanes) {
    unsigned m = 0;
    for (unsigned l = 0; l < 4; ++l)
      if ((lanes >> l) & 1) m |= 3u << (2 * l);
    return __mmask8(m);
  }
  NIMBIC_AVX512 static Reg load_masked(const double* p, __mmask8 m) { return _mm512_maskz_loadu_pd(m, p); }
  NIMBIC_AVX512 static void store_masked(double* p, __mmask8 m, Reg v) { _mm512_mask_storeu_pd(p, m, v); }
  NIMBIC_AVX512 static Keep keep_words(const uint64_t* words) {
    const __m512i w = _mm512_loadu_si512(words);
    return _mm512_test_epi64_mask(w, w);
  }
  NIMBIC_AVX512 static Reg blend(Keep keep, Reg old_value, Reg new_value) {
    return _mm512_mask_blend_pd(keep, new_value, old_value);
  }
};

}  // namespace nimbic::avx512

#endif  // NIMBIC_X86_SIMD
