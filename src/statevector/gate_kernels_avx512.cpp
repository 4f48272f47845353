// AVX-512 dense kernel: four groups per register (dense_simd.hpp).
#include "common/simd_avx512.hpp"
#include "statevector/gate_kernels.hpp"

#if NIMBIC_X86_SIMD

namespace nimbic::statevector {
namespace {
using V = avx512::Avx512;
}  // namespace
}  // namespace nimbic::statevector

#define NIMBIC_TARGET NIMBIC_AVX512
#include "statevector/dense_simd.hpp"

namespace nimbic::statevector {

bool dense_avx512(double* state, const Groups& groups, const double* matrix) {
  return cpu_has_avx512() && dense_simd(state, groups, matrix);
}

}  // namespace nimbic::statevector

#else

namespace nimbic::statevector {

bool dense_avx512(double*, const Groups&, const double*) { return false; }

}  // namespace nimbic::statevector

#endif  // NIMBIC_X86_SIMD
