// Instruction sets the running CPU offers, probed once, and the cores this
// process may run on. Kernels compiled for wider SIMD (function target
// attributes) run only when these say so; the module itself needs nothing
// beyond baseline x86-64.
#pragma once

namespace nimbic {

bool cpu_has_avx2();
// AVX-512 Foundation, with the operating system saving the wide registers.
bool cpu_has_avx512();

// Cores this process may use: the CPUs of its affinity mask (read on every
// call, so a process that narrows its affinity later is followed), capped by
// the cgroup CPU quota (v2 cpu.max, v1 cpu.cfs_quota_us / cpu.cfs_period_us,
// read once, rounded up to whole cores). At least 1.
unsigned available_cores();

}  // namespace nimbic
