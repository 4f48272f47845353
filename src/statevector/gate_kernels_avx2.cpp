// AVX2 instances of the dense, diagonal and signed-permutation kernels: two
// groups (or amplitudes) per register. The kernels are written once, for any
// register type, in the *_simd.hpp headers.
#include "common/simd_avx2.hpp"
#include "statevector/gate_kernels.hpp"

#if NIMBIC_X86_SIMD

namespace nimbic::statevector {
namespace {
using V = avx2::Avx2;
}  // namespace
}  // namespace nimbic::statevector

#define NIMBIC_TARGET NIMBIC_AVX2
#include "statevector/dense_simd.hpp"
#include "statevector/diagonal_simd.hpp"
#include "statevector/permutation_simd.hpp"

namespace nimbic::statevector {

bool dense_avx2(double* state, const Groups& groups, const double* matrix) {
  return cpu_has_avx2() && dense_simd(state, groups, matrix);
}

bool diagonal_avx2(double* state, const Groups& groups, const double* entries) {
  return cpu_has_avx2() && diagonal_simd(state, groups, entries);
}

bool permutation_avx2(double* state, const Groups& groups, const int64_t* perm, const double* sign) {
  return cpu_has_avx2() && permutation_simd(state, groups, perm, sign);
}

}  // namespace nimbic::statevector

#else

namespace nimbic::statevector {

bool dense_avx2(double*, const Groups&, const double*) { return false; }
bool diagonal_avx2(double*, const Groups&, const double*) { return false; }
bool permutation_avx2(double*, const Groups&, const int64_t*, const double*) { return false; }

}  // namespace nimbic::statevector

#endif  // NIMBIC_X86_SIMD
