// AVX2 diagonal kernel: two amplitudes per register (diagonal_simd.hpp).
#include "common/simd_avx2.hpp"
#include "statevector/gate_kernels.hpp"

#if NIMBIC_X86_SIMD

namespace nimbic::statevector {
namespace {
using V = avx2::Avx2;
}  // namespace
}  // namespace nimbic::statevector

#define NIMBIC_TARGET NIMBIC_AVX2
#include "statevector/diagonal_simd.hpp"

namespace nimbic::statevector {

bool diagonal_avx2(double* state, const Groups& groups, const double* entries) {
  return cpu_has_avx2() && diagonal_simd(state, groups, entries);
}

}  // namespace nimbic::statevector

#else

namespace nimbic::statevector {

bool diagonal_avx2(double*, const Groups&, const double*) { return false; }

}  // namespace nimbic::statevector

#endif  // NIMBIC_X86_SIMD
