// What bounds the memory of this process, as the operating system reports
// it. Linux reads its limits and usage from getrlimit, /proc and the cgroup
// file system; other systems fall back to the physical memory size and the
// resource limits alone. No Python here.
#pragma once

#include <string>
#include <vector>

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

// The memory files of one cgroup level, and the key of the inactive file
// cache in its memory.stat.
struct CgroupLevel {
  std::string limit, usage, stat;
  const char* reclaimable;
};

// The cgroup levels whose limits bind a process, innermost first, found from
// the texts of its /proc/self/cgroup and /proc/self/mountinfo; `root`
// prefixes every path (empty for the real file system). Empty off Linux.
std::vector<CgroupLevel> find_cgroup_levels(const std::string& cgroup, const std::string& mountinfo,
                                            const std::string& root);
// Bytes left under the limits of `levels`, read now.
Count cgroup_room(const std::vector<CgroupLevel>& levels);

}  // namespace nimbic::memory_limits
