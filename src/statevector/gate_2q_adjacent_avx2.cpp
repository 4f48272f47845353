// AVX2 kernel for two adjacent targets: two groups of four amplitudes per
// register set, the same operations as the scalar kernel.
#include "common/qubits.hpp"
#include "common/simd_avx2.hpp"
#include "common/split_work.hpp"
#include "statevector/gate_kernels.hpp"
#include "statevector/run_prefetch.hpp"

#if NIMBIC_X86_SIMD

namespace nimbic::statevector {

namespace {

struct Tables {
  __m256d gr[16], gi[16];
  __m256d sign[4];
  int perm[4];
};

// a[c] holds amplitude c of two groups; writes out[r] for the four rows.
template <bool Permutation>
NIMBIC_AVX2 inline void apply_group(const Tables& t, const __m256d a[4], __m256d out[4]) {
  using namespace avx2;
  if constexpr (Permutation) {
    for (int r = 0; r < 4; ++r) out[r] = _mm256_mul_pd(t.sign[r], a[t.perm[r]]);
  } else {
    // Column by column; each row still sums its columns from 0.0 in order.
    for (int r = 0; r < 4; ++r) out[r] = _mm256_setzero_pd();
    for (int c = 0; c < 4; ++c) {
      const __m256d v_swapped = swap_re_im(a[c]);
      for (int r = 0; r < 4; ++r)
        out[r] = _mm256_add_pd(out[r], cmul(t.gr[4 * r + c], t.gi[4 * r + c], a[c], v_swapped));
    }
  }
}

// Groups g in [begin, end) (both even): group g is amplitudes i, i + s,
// i + 2s, i + 3s with i the g-th index whose two target bits are clear.
template <bool Permutation>
NIMBIC_AVX2 void run(double* state, int64_t num_qubits, uint64_t s, const Tables& t, uint64_t begin, uint64_t end) {
  using namespace avx2;
  __m256d a[4], out[4];
  if (s >= 2) {
    const uint64_t offsets[4] = {0, s, 2 * s, 3 * s};
    RunPrefetch pf(state, num_qubits, offsets, 3 * s, s);
    for (uint64_t g = begin; g < end;) {
      const uint64_t base = 4 * (g & ~(s - 1)), i0 = g & (s - 1);
      const uint64_t i1 = end - g < s - i0 ? i0 + (end - g) : s;
      double* p = state + 2 * base;
      for (uint64_t i = i0; i < i1; i += 2) {
        pf.at(base + i);
        for (int j = 0; j < 4; ++j) a[j] = _mm256_loadu_pd(p + 2 * (s * j + i));
        apply_group<Permutation>(t, a, out);
        for (int j = 0; j < 4; ++j) _mm256_storeu_pd(p + 2 * (s * j + i), out[j]);
      }
      g += i1 - i0;
    }
    return;
  }
  // Lowest pair of qubits: each group is four consecutive amplitudes.
  for (uint64_t f = 8 * begin; f < 8 * end; f += 16) {
    double* p = state + f;
    transpose(_mm256_loadu_pd(p), _mm256_loadu_pd(p + 8), a[0], a[1]);
    transpose(_mm256_loadu_pd(p + 4), _mm256_loadu_pd(p + 12), a[2], a[3]);
    apply_group<Permutation>(t, a, out);
    __m256d w0, w1, w2, w3;
    transpose(out[0], out[1], w0, w2);
    transpose(out[2], out[3], w1, w3);
    _mm256_storeu_pd(p, w0);
    _mm256_storeu_pd(p + 4, w1);
    _mm256_storeu_pd(p + 8, w2);
    _mm256_storeu_pd(p + 12, w3);
  }
}

NIMBIC_AVX2 void run_groups(double* state, int64_t num_qubits, uint64_t s, const double* gate, const int64_t* perm,
                            const double* sign, uint64_t begin, uint64_t end) {
  Tables t;
  if (perm != nullptr) {
    for (int r = 0; r < 4; ++r) {
      t.sign[r] = avx2::broadcast(sign + r);
      t.perm[r] = int(perm[r]);
    }
    run<true>(state, num_qubits, s, t, begin, end);
  } else {
    for (int e = 0; e < 16; ++e) {
      t.gr[e] = avx2::broadcast(gate + 2 * e);
      t.gi[e] = avx2::broadcast(gate + 2 * e + 1);
    }
    run<false>(state, num_qubits, s, t, begin, end);
  }
}

}  // namespace

bool apply_gate_2q_adjacent_avx2(double* state, int64_t num_qubits, int64_t high_target, const double* gate,
                                 const int64_t* perm, const double* sign) {
  if (!cpu_has_avx2() || num_qubits < 3) return false;
  const uint64_t s = qubit_bit(high_target, num_qubits);
  const uint64_t groups = uint64_t(1) << (num_qubits - 2);
  split_work(groups, 4, 2, [&](unsigned, uint64_t begin, uint64_t end) {
    run_groups(state, num_qubits, s, gate, perm, sign, begin, end);
  });
  return true;
}

}  // namespace nimbic::statevector

#else

namespace nimbic::statevector {

bool apply_gate_2q_adjacent_avx2(double*, int64_t, int64_t, const double*, const int64_t*, const double*) {
  return false;
}

}  // namespace nimbic::statevector

#endif  // NIMBIC_X86_SIMD
