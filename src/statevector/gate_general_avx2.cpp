// AVX2 kernel for any number of targets: two groups per register, the same
// gathers, products and sums as the scalar kernel.
#include <cstdint>
#include <vector>

#include "statevector/avx2_complex.hpp"
#include "statevector/gate_kernels.hpp"
#include "statevector/qubits.hpp"

namespace nimbic::statevector {

namespace {

// a[c] holds amplitude c of two groups; writes row r of both into out(r).
template <class Store>
NIMBIC_AVX2 inline void apply_rows(const double* gate, const int64_t* perm, const double* sign, size_t size,
                                   const __m256d* a, __m256d* sw, Store&& out) {
  using namespace avx2;
  if (perm != nullptr) {
    for (size_t r = 0; r < size; ++r) out(r, _mm256_mul_pd(broadcast(sign + r), a[perm[r]]));
    return;
  }
  for (size_t c = 0; c < size; ++c) sw[c] = swap_re_im(a[c]);
  for (size_t r = 0; r < size; ++r) {
    const double* row = gate + 2 * r * size;
    __m256d acc = _mm256_setzero_pd();
    for (size_t c = 0; c < size; ++c)
      acc = _mm256_add_pd(acc, cmul(broadcast(row + 2 * c), broadcast(row + 2 * c + 1), a[c], sw[c]));
    out(r, acc);
  }
}

}  // namespace

NIMBIC_AVX2 void apply_gate_general_avx2(double* state, int64_t num_qubits, const double* gate,
                                         std::span<const uint64_t> offsets, const int64_t* perm,
                                         const double* sign) {
  using namespace avx2;
  const size_t size = offsets.size();
  const uint64_t mask = offsets[size - 1];
  const uint64_t low = mask & (~mask + 1);  // lowest target bit
  // Gathered amplitudes and their re/im-swapped copies, 32-byte aligned.
  std::vector<double> scratch(8 * size + 4);
  const uintptr_t raw = reinterpret_cast<uintptr_t>(scratch.data());
  __m256d* a = reinterpret_cast<__m256d*>((raw + 31) & ~uintptr_t(31));
  __m256d* sw = a + size;
  if (low > 1) {
    // Bases come in runs of `low` consecutive indices: pairs of neighbouring
    // bases share each register.
    for_each_group_base(mask | (low - 1), num_qubits, [&](uint64_t start) NIMBIC_AVX2 {
      for (uint64_t b = start; b < start + low; b += 2) {
        for (size_t j = 0; j < size; ++j) a[j] = _mm256_loadu_pd(state + 2 * (b | offsets[j]));
        apply_rows(gate, perm, sign, size, a, sw,
                   [&](size_t r, __m256d v) NIMBIC_AVX2 { _mm256_storeu_pd(state + 2 * (b | offsets[r]), v); });
      }
    });
    return;
  }
  // The lowest qubit is a target: pair each base with the next one.
  const uint64_t free_bits = ((uint64_t(1) << num_qubits) - 1) & ~mask;
  auto next = [&](uint64_t b) { return ((b | mask) + 1) & free_bits; };
  for (uint64_t b0 = 0;; b0 = next(b0)) {
    const uint64_t b1 = next(b0);
    for (size_t j = 0; j < size; ++j) a[j] = load_pair(state + 2 * (b0 | offsets[j]), state + 2 * (b1 | offsets[j]));
    apply_rows(gate, perm, sign, size, a, sw, [&](size_t r, __m256d v) NIMBIC_AVX2 {
      store_pair(state + 2 * (b0 | offsets[r]), state + 2 * (b1 | offsets[r]), v);
    });
    if (b1 == free_bits) break;
    b0 = b1;
  }
}

}  // namespace nimbic::statevector
