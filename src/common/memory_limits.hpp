// What bounds the memory of this process, as the operating system reports
// it. Linux reads its limits and usage from getrlimit, /proc and the cgroup
// file system; other systems fall back to the physical memory size and the
// resource limits alone. No Python here.
#pragma once

#include "common/memory.hpp"

namespace nimbic::memory_limits {

// Room that no limit restricts.
inline constexpr Count kUnlimited = Count(1) << 100;

// Physical memory plus swap in bytes; kUnlimited when unknown.
Count physical_and_swap();

// Bytes left under RLIMIT_AS and RLIMIT_DATA: each limit less what the
// process maps (where the system reports it); kUnlimited without limits.
Count rlimit_room();

// Bytes left under the memory limit of the process's cgroup and of every
// enclosing cgroup (v2 memory.max, v1 memory.limit_in_bytes), each less its
// usage without the inactive file cache the kernel can reclaim; kUnlimited
// without limits or off Linux.
Count cgroup_room();

}  // namespace nimbic::memory_limits
