#include "statevector/cpu_features.hpp"

namespace nimbic::statevector {

namespace {

bool probe_avx2() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

const bool kHasAvx2 = probe_avx2();

}  // namespace

bool cpu_has_avx2() { return kHasAvx2; }

}  // namespace nimbic::statevector
