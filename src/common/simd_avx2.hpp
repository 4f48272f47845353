// Interleaved complex arithmetic on AVX2 registers: a __m256d holds two
// complex numbers [re0, im0, re1, im1] from two independent amplitude groups.
// Each helper performs exactly the scalar operations of the reference
// kernels, lane by lane (no fused multiply-add, same operand order), so the
// vector and scalar paths give identical bits. Include only from `*_avx2.cpp`
// files, whose functions carry NIMBIC_AVX2 and whose bodies sit inside
// `#if NIMBIC_X86_SIMD` (other CPUs build their `return false` stubs).
//
// Dispatch convention: an AVX2 entry point returns bool; false means it did
// nothing (no AVX2 on this CPU, a shape it does not handle, a non-x86
// build) and the caller runs the scalar reference instead.
#pragma once

#if defined(__x86_64__)
#define NIMBIC_X86_SIMD 1
#else
#define NIMBIC_X86_SIMD 0
#endif

#if NIMBIC_X86_SIMD
#include <immintrin.h>

#include <cstdint>

#include "common/cpu_features.hpp"

#define NIMBIC_AVX2 __attribute__((target("avx2")))

namespace nimbic::avx2 {

// [re, im] -> [im, re] in each complex lane.
NIMBIC_AVX2 inline __m256d swap_re_im(__m256d v) { return _mm256_permute_pd(v, 0b0101); }

// g * a for a broadcast gate entry g = (gr, gi) and amplitudes a, given a and
// a with re/im exchanged: (gr*ar - gi*ai, gr*ai + gi*ar).
NIMBIC_AVX2 inline __m256d cmul(__m256d gr, __m256d gi, __m256d a, __m256d a_swapped) {
  return _mm256_addsub_pd(_mm256_mul_pd(gr, a), _mm256_mul_pd(gi, a_swapped));
}

// Two complex numbers from unrelated addresses into one register, and back.
NIMBIC_AVX2 inline __m256d load_pair(const double* lo, const double* hi) {
  return _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(lo)), _mm_loadu_pd(hi), 1);
}
NIMBIC_AVX2 inline void store_pair(double* lo, double* hi, __m256d v) {
  _mm_storeu_pd(lo, _mm256_castpd256_pd128(v));
  _mm_storeu_pd(hi, _mm256_extractf128_pd(v, 1));
}

// [x0, x1] and [y0, y1] (complex lanes) -> [x0, y0] and [x1, y1]; its own inverse.
NIMBIC_AVX2 inline void transpose(__m256d x, __m256d y, __m256d& lo, __m256d& hi) {
  lo = _mm256_permute2f128_pd(x, y, 0x20);
  hi = _mm256_permute2f128_pd(x, y, 0x31);
}

// The vector type of kernels written once for AVX2 and AVX-512 (see
// simd_avx512.hpp): a register of kLanes complex numbers, each lane an
// independent amplitude group.
struct Avx2 {
  using Reg = __m256d;
  using Keep = __m256d;  // lanes that keep their old value: all bits set
  static constexpr uint64_t kLanes = 2;

  NIMBIC_AVX2 static Reg load(const double* p) { return _mm256_loadu_pd(p); }
  NIMBIC_AVX2 static void store(double* p, Reg v) { _mm256_storeu_pd(p, v); }
  NIMBIC_AVX2 static Reg zero() { return _mm256_setzero_pd(); }
  NIMBIC_AVX2 static Reg set1(double x) { return _mm256_set1_pd(x); }
  // [x, y, x, y]: a gate entry's signed imaginary part is (-gi, gi).
  NIMBIC_AVX2 static Reg alternate(double x, double y) { return _mm256_setr_pd(x, y, x, y); }
  NIMBIC_AVX2 static Reg add(Reg a, Reg b) { return _mm256_add_pd(a, b); }
  NIMBIC_AVX2 static Reg mul(Reg a, Reg b) { return _mm256_mul_pd(a, b); }
  NIMBIC_AVX2 static Reg swap_re_im(Reg v) { return avx2::swap_re_im(v); }
  // Lane l from / to lane_base[l] + f.
  NIMBIC_AVX2 static Reg gather(double* const* lane_base, uint64_t f) {
    return load_pair(lane_base[0] + f, lane_base[1] + f);
  }
  NIMBIC_AVX2 static void scatter(double* const* lane_base, uint64_t f, Reg v) {
    store_pair(lane_base[0] + f, lane_base[1] + f, v);
  }
  // Lane pairs (0, 1): both lanes take lane 0 or lane 1.
  NIMBIC_AVX2 static Reg pair_first(Reg v) { return _mm256_permute4x64_pd(v, 0x44); }
  NIMBIC_AVX2 static Reg pair_second(Reg v) { return _mm256_permute4x64_pd(v, 0xEE); }
  // Registers x and y of whole pairs (x0, x1), (y0, y1) to the pairs' first
  // and second amplitudes, [x0, y0] and [x1, y1]; its own inverse.
  NIMBIC_AVX2 static void split_pairs(Reg x, Reg y, Reg& first, Reg& second) { transpose(x, y, first, second); }
  NIMBIC_AVX2 static void join_pairs(Reg first, Reg second, Reg& x, Reg& y) { transpose(first, second, x, y); }
  // Lane pairs exchanged: [v1, v0].
  NIMBIC_AVX2 static Reg pair_swap(Reg v) { return _mm256_permute4x64_pd(v, 0x4E); }
  // From one word per float: all bits set where the lane keeps its value.
  NIMBIC_AVX2 static Keep keep_words(const uint64_t* words) {
    return _mm256_castsi256_pd(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(words)));
  }
  NIMBIC_AVX2 static Reg blend(Keep keep, Reg old_value, Reg new_value) {
    return _mm256_blendv_pd(new_value, old_value, keep);
  }
};

}  // namespace nimbic::avx2

#endif  // NIMBIC_X86_SIMD
