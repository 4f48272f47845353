// AVX2 signed-permutation kernel: two groups per register (permutation_simd.hpp).
#include "common/simd_avx2.hpp"
#include "statevector/gate_kernels.hpp"

#if NIMBIC_X86_SIMD

namespace nimbic::statevector {
namespace {
using V = avx2::Avx2;
}  // namespace
}  // namespace nimbic::statevector

#define NIMBIC_TARGET NIMBIC_AVX2
#include "statevector/permutation_simd.hpp"

namespace nimbic::statevector {

bool permutation_avx2(double* state, const Groups& groups, const int64_t* perm, const double* sign) {
  return cpu_has_avx2() && permutation_simd(state, groups, perm, sign);
}

}  // namespace nimbic::statevector

#else

namespace nimbic::statevector {

bool permutation_avx2(double*, const Groups&, const int64_t*, const double*) { return false; }

}  // namespace nimbic::statevector

#endif  // NIMBIC_X86_SIMD
