// AVX-512 diagonal kernel: four amplitudes per register (diagonal_simd.hpp).
#include "common/simd_avx512.hpp"
#include "statevector/gate_kernels.hpp"

#if NIMBIC_X86_SIMD

namespace nimbic::statevector {
namespace {
using V = avx512::Avx512;
}  // namespace
}  // namespace nimbic::statevector

#define NIMBIC_TARGET NIMBIC_AVX512
#include "statevector/diagonal_simd.hpp"

namespace nimbic::statevector {

bool diagonal_avx512(double* state, const Groups& groups, const double* entries) {
  return cpu_has_avx512() && diagonal_simd(state, groups, entries);
}

}  // namespace nimbic::statevector

#else

namespace nimbic::statevector {

bool diagonal_avx512(double*, const Groups&, const double*) { return false; }

}  // namespace nimbic::statevector

#endif  // NIMBIC_X86_SIMD
