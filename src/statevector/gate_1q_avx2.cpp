// AVX2 single-target kernel: two amplitude pairs per register, the same
// products and sums as the scalar kernel.
#include "common/qubits.hpp"
#include "common/simd_avx2.hpp"
#include "common/split_work.hpp"
#include "statevector/gate_kernels.hpp"
#include "statevector/run_prefetch.hpp"

#if NIMBIC_X86_SIMD

namespace nimbic::statevector {

namespace {

// Pairs p in [begin, end) (both even): pair p is amplitudes i and i + s with
// i the p-th index whose target bit is clear.
NIMBIC_AVX2 void run_pairs(double* state, int64_t num_qubits, uint64_t s, const double* gate, uint64_t begin,
                           uint64_t end) {
  using namespace avx2;
  const __m256d g00r = broadcast(gate + 0), g00i = broadcast(gate + 1);
  const __m256d g01r = broadcast(gate + 2), g01i = broadcast(gate + 3);
  const __m256d g10r = broadcast(gate + 4), g10i = broadcast(gate + 5);
  const __m256d g11r = broadcast(gate + 6), g11i = broadcast(gate + 7);
  // new a0 = g00*a0 + g01*a1, new a1 = g10*a0 + g11*a1.
  auto apply = [&](__m256d a0, __m256d a1, __m256d& out0, __m256d& out1) NIMBIC_AVX2 {
    const __m256d s0 = swap_re_im(a0), s1 = swap_re_im(a1);
    out0 = _mm256_add_pd(cmul(g00r, g00i, a0, s0), cmul(g01r, g01i, a1, s1));
    out1 = _mm256_add_pd(cmul(g10r, g10i, a0, s0), cmul(g11r, g11i, a1, s1));
  };
  if (s >= 2) {
    const uint64_t offsets[2] = {0, s};
    RunPrefetch pf(state, num_qubits, offsets, s, s);
    for (uint64_t p = begin; p < end;) {
      // Block of pairs (base + i, base + i + s), i in [i0, i1).
      const uint64_t base = 2 * (p & ~(s - 1)), i0 = p & (s - 1);
      const uint64_t i1 = end - p < s - i0 ? i0 + (end - p) : s;
      double* p0 = state + 2 * base;
      double* p1 = state + 2 * (base + s);
      for (uint64_t i = i0; i < i1; i += 2) {
        pf.at(base + i);
        __m256d out0, out1;
        apply(_mm256_loadu_pd(p0 + 2 * i), _mm256_loadu_pd(p1 + 2 * i), out0, out1);
        _mm256_storeu_pd(p0 + 2 * i, out0);
        _mm256_storeu_pd(p1 + 2 * i, out1);
      }
      p += i1 - i0;
    }
    return;
  }
  // Lowest qubit: the pairs (i, i+1) and (i+2, i+3) sit in two registers.
  for (uint64_t f = 4 * begin; f < 4 * end; f += 8) {
    __m256d a0, a1, out0, out1, w0, w1;
    transpose(_mm256_loadu_pd(state + f), _mm256_loadu_pd(state + f + 4), a0, a1);
    apply(a0, a1, out0, out1);
    transpose(out0, out1, w0, w1);
    _mm256_storeu_pd(state + f, w0);
    _mm256_storeu_pd(state + f + 4, w1);
  }
}

}  // namespace

bool apply_gate_1q_avx2(double* state, int64_t num_qubits, int64_t target, const double* gate) {
  if (!cpu_has_avx2() || num_qubits < 2) return false;
  const uint64_t s = qubit_bit(target, num_qubits);
  if (s == 0) return true;
  const uint64_t pairs = uint64_t(1) << (num_qubits - 1);
  split_work(pairs, 2, 2,
             [&](unsigned, uint64_t begin, uint64_t end) { run_pairs(state, num_qubits, s, gate, begin, end); });
  return true;
}

}  // namespace nimbic::statevector

#else

namespace nimbic::statevector {

bool apply_gate_1q_avx2(double*, int64_t, int64_t, const double*) { return false; }

}  // namespace nimbic::statevector

#endif  // NIMBIC_X86_SIMD
