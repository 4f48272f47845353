// AVX2 dense kernel: two groups per register (dense_simd.hpp).
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

namespace nimbic::statevector {

bool dense_avx2(double* state, const Groups& groups, const double* matrix) {
  return cpu_has_avx2() && dense_simd(state, groups, matrix);
}

}  // namespace nimbic::statevector

#else

namespace nimbic::statevector {

bool dense_avx2(double*, const Groups&, const double*) { return false; }

}  // namespace nimbic::statevector

#endif  // NIMBIC_X86_SIMD
