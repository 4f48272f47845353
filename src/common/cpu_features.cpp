#include "common/cpu_features.hpp"

#include <algorithm>
#include <thread>

#if defined(__linux__)
#include <sched.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace nimbic {

namespace {

// An instruction set needs the CPU to have it and the OS to save its
// registers (OSXSAVE, then the XCR0 bits of the register state). Asked with
// cpuid directly: the runtime behind __builtin_cpu_supports is not filled in
// by every toolchain's libraries (zig's compiler-rt answers "no" for every
// feature). `xcr0` are the XCR0 bits needed, `ebx7` the cpuid leaf 7 bit.
#if defined(__x86_64__) || defined(__i386__)
bool probe(unsigned xcr0, unsigned ebx7) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0) return false;
  unsigned xcr0_low = 0, xcr0_high = 0;
  asm volatile("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
  if ((xcr0_low & xcr0) != xcr0) return false;
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) return false;
  return (b & ebx7) != 0;
}

// AVX2: the YMM state (XCR0 bits 1, 2). AVX-512 Foundation: also the opmask
// and ZMM states (bits 5 to 7).
bool probe_avx2() { return probe(0x6, bit_AVX2); }
bool probe_avx512() { return probe(0xE6, bit_AVX512F); }
#else
bool probe_avx2() { return false; }
bool probe_avx512() { return false; }
#endif

const bool kHasAvx2 = probe_avx2();
const bool kHasAvx512 = probe_avx512();

#if defined(__linux__)

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

bool has_token(const std::string& list, const std::string& token) {
  const std::vector<std::string> tokens = split(list, ',');
  return std::find(tokens.begin(), tokens.end(), token) != tokens.end();
}

// Cores allowed by one cgroup directory's quota; 0 when it sets none.
unsigned quota_in(const std::string& dir, bool v2) {
  double quota = -1, period = 0;
  if (v2) {
    std::ifstream in(dir + "/cpu.max");
    std::string max;
    if (!(in >> max >> period) || max == "max") return 0;
    quota = std::stod(max);
  } else {
    std::ifstream q(dir + "/cpu.cfs_quota_us"), p(dir + "/cpu.cfs_period_us");
    if (!(q >> quota) || !(p >> period)) return 0;
  }
  if (quota <= 0 || period <= 0) return 0;
  const double cores = quota / period;
  return cores >= 1e6 ? 1000000u : std::max(1u, unsigned(cores + 0.999999));
}

unsigned read_cgroup_quota(const std::string& root) {
  struct Hierarchy {
    std::string mount, root, path;
  } v1, v2;
  std::ifstream mounts(root + "/proc/self/mountinfo");
  for (std::string line; std::getline(mounts, line);) {
    // id parent major:minor root mount-point options [optional...] - type source super-options
    const std::vector<std::string> f = split(line, ' ');
    const auto dash = std::find(f.begin(), f.end(), "-");
    if (f.size() < 5 || dash == f.end() || f.end() - dash < 4) continue;
    if (dash[1] == "cgroup2" && v2.mount.empty()) v2 = {f[4], f[3], ""};
    if (dash[1] == "cgroup" && has_token(dash[3], "cpu") && v1.mount.empty()) v1 = {f[4], f[3], ""};
  }
  std::ifstream groups(root + "/proc/self/cgroup");
  for (std::string line; std::getline(groups, line);) {
    // hierarchy-id:controllers:path
    const size_t a = line.find(':'), b = line.find(':', a + 1);
    if (a == std::string::npos || b == std::string::npos) continue;
    const std::string controllers = line.substr(a + 1, b - a - 1), path = line.substr(b + 1);
    if (line.compare(0, a, "0") == 0 && controllers.empty()) v2.path = path;
    if (has_token(controllers, "cpu")) v1.path = path;
  }
  unsigned best = 0;
  for (const bool is_v2 : {true, false}) {
    Hierarchy& h = is_v2 ? v2 : v1;
    if (h.mount.empty() || h.path.empty()) continue;
    // The path is relative to the hierarchy's root; the mount shows `root`.
    std::string rel = h.path;
    if (h.root != "/" && rel.compare(0, h.root.size(), h.root) == 0) rel = rel.substr(h.root.size());
    while (true) {
      const unsigned q = quota_in(root + h.mount + rel, is_v2);
      if (q != 0) best = best == 0 ? q : std::min(best, q);
      if (rel.empty() || rel == "/") break;
      const size_t slash = rel.find_last_of('/');
      rel = slash == std::string::npos ? std::string() : rel.substr(0, slash);
    }
  }
  return best;
}

#endif

}  // namespace

unsigned cgroup_cpu_quota(const std::string& root) {
#if defined(__linux__)
  try {
    return read_cgroup_quota(root);
  } catch (...) {  // unreadable or malformed files: no quota
    return 0;
  }
#else
  (void)root;
  return 0;
#endif
}

bool cpu_has_avx2() { return kHasAvx2; }

bool cpu_has_avx512() { return kHasAvx512; }

unsigned long long last_level_cache_bytes() {
  static const unsigned long long bytes = [] {
    unsigned long long size = 0;
#if defined(__linux__)
    // The kernel's description of cpu0's caches (the C library's figure can
    // be the whole package's, not what one core shares).
    for (int index = 0; index < 8; ++index) {
      std::ifstream in("/sys/devices/system/cpu/cpu0/cache/index" + std::to_string(index) + "/size");
      unsigned long long value = 0;
      char unit = 0;
      if (!(in >> value)) continue;
      in >> unit;
      const unsigned long long scale = unit == 'K' ? 1ull << 10 : unit == 'M' ? 1ull << 20 : 1;
      size = std::max(size, value * scale);
    }
#if defined(_SC_LEVEL3_CACHE_SIZE)
    if (size == 0)
      size = (unsigned long long)std::max(0L, std::max(sysconf(_SC_LEVEL3_CACHE_SIZE), sysconf(_SC_LEVEL2_CACHE_SIZE)));
#endif
#endif
    return size;
  }();
  return bytes;
}

unsigned available_cores() {
  unsigned cores = 0;
#if defined(__linux__)
  static const unsigned quota = cgroup_cpu_quota("");
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof(set), &set) == 0) cores = unsigned(CPU_COUNT(&set));
  if (quota != 0 && (cores == 0 || quota < cores)) cores = quota;
#endif
  if (cores == 0) cores = std::thread::hardware_concurrency();
  return std::max(1u, cores);
}

}  // namespace nimbic
