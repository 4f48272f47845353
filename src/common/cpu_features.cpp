#include "common/cpu_features.hpp"

#include <thread>

#if defined(__linux__)
#include <sched.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace nimbic {

namespace {

// AVX2 needs the CPU to have it and the OS to save the YMM registers
// (OSXSAVE, then XCR0 bits 1 and 2). Asked with cpuid directly: the runtime
// behind __builtin_cpu_supports is not filled in by every toolchain's
// libraries (zig's compiler-rt answers "no" for every feature).
bool probe_avx2() {
#if defined(__x86_64__) || defined(__i386__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0) return false;
  unsigned xcr0_low = 0, xcr0_high = 0;
  asm volatile("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
  if ((xcr0_low & 0x6) != 0x6) return false;
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) return false;
  return (b & bit_AVX2) != 0;
#else
  return false;
#endif
}

const bool kHasAvx2 = probe_avx2();

}  // namespace

bool cpu_has_avx2() { return kHasAvx2; }

unsigned available_cores() {
  static const unsigned cores = [] {
#if defined(__linux__)
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof(set), &set) == 0) return unsigned(CPU_COUNT(&set));
#endif
    return std::thread::hardware_concurrency();
  }();
  return cores;
}

}  // namespace nimbic
