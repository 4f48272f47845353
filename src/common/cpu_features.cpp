#include "common/cpu_features.hpp"

#include <thread>

#if defined(__linux__)
#include <sched.h>
#endif

namespace nimbic {

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
