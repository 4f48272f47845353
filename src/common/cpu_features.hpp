// Instruction sets the running CPU offers, probed once, and the cores this
// process may run on. Kernels compiled for wider SIMD (function target
// attributes) run only when these say so; the module itself needs nothing
// beyond baseline x86-64.
#pragma once

#include <string>

namespace nimbic {

bool cpu_has_avx2();
// AVX-512 Foundation, with the operating system saving the wide registers.
bool cpu_has_avx512();

// Cores this process may use: the CPUs of its affinity mask (read on every
// call, so a process that narrows its affinity later is followed), capped by
// the cgroup CPU quota (v2 cpu.max, v1 cpu.cfs_quota_us / cpu.cfs_period_us,
// read once, rounded up to whole cores). At least 1.
unsigned available_cores();

// Size of the largest CPU cache in bytes (the last level, shared by the
// cores), probed once; 0 when unknown.
unsigned long long last_level_cache_bytes();

// The cgroup CPU quota in whole cores, rounded up, of the smallest limit on
// the way from the process's cgroup to its hierarchy's root (v2 and v1); 0
// when none is set or nothing can be read. The files are those of the running
// process (/proc/self/mountinfo, /proc/self/cgroup and the cgroup file
// systems they name) with `root` put before every path (checks give a
// directory tree of their own; "" for the real ones).
unsigned cgroup_cpu_quota(const std::string& root);

}  // namespace nimbic
