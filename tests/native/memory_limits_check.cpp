// The cgroup part of the memory guard on a file tree of its own: which
// levels bind (v2, v1, both, inside a namespace) and the room they leave.
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "check.hpp"
#include "common/memory_limits.hpp"

using namespace nimbic;
using namespace nimbic::checks;
using namespace nimbic::memory_limits;

NIMBIC_CHECK_FAMILY(memory_limits) {
#if defined(__linux__)
  char pattern[] = "/tmp/nimbic_cgroup_XXXXXX";
  if (mkdtemp(pattern) == nullptr) return ctx.expect(false, "a temporary directory");
  const std::string root = pattern;
  const auto mib = [](int64_t m) { return std::to_string(m << 20) + "\n"; };
  // A cgroup directory (under root) with a limit file's text, a usage and an
  // inactive file cache in MiB, as v2 or v1 names them.
  auto cgroup = [&](const std::string& dir, bool v2, const std::string& limit, int usage, int cache) {
    const std::filesystem::path d = root + dir;
    std::filesystem::create_directories(d);
    std::ofstream(d / (v2 ? "memory.max" : "memory.limit_in_bytes")) << limit;
    std::ofstream(d / (v2 ? "memory.current" : "memory.usage_in_bytes")) << mib(usage);
    std::ofstream(d / "memory.stat") << "anon 4096\n"
                                     << (v2 ? "inactive_file " : "total_inactive_file ") << mib(cache)
                                     << "active_file 8192\n";
  };
  auto room_mib = [&](const std::string& cgroup_text, const std::string& mountinfo) {
    const Count room = cgroup_room(find_cgroup_levels(cgroup_text, mountinfo, root));
    return room == kUnlimited ? -1 : int64_t(room >> 20);
  };
  const std::string v2_mount = "30 23 0:26 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw\n";
  const std::string v1_mount = "35 31 0:32 / /sys/fs/cgroup/memory rw,relatime - cgroup cgroup rw,memory\n";
  const std::string v2 = "0::/user.slice/app\n", v1 = "5:cpu,cpuacct:/docker/c1\n4:memory:/docker/c1\n0::/\n";

  // v2: the leaf's limit less its usage without the inactive file cache; a
  // parent without a limit and the root without files add nothing.
  cgroup("/sys/fs/cgroup/user.slice", true, "max\n", 900, 0);
  cgroup("/sys/fs/cgroup/user.slice/app", true, mib(1024), 100, 40);
  ctx.expect(room_mib(v2, v2_mount) == 1024 - 60, "v2 leaf limit less usage");
  cgroup("/sys/fs/cgroup/user.slice", true, mib(512), 400, 0);
  ctx.expect(room_mib(v2, v2_mount) == 112, "v2 parent limit less its usage binds");
  cgroup("/sys/fs/cgroup/user.slice", true, "max\n", 0, 0);
  cgroup("/sys/fs/cgroup/user.slice/app", true, mib(1024), 10, 20);
  ctx.expect(room_mib(v2, v2_mount) == 1024, "cache larger than usage");
  // v1: the memory controller's line, "no limit" as a number near 2^63.
  cgroup("/sys/fs/cgroup/memory/docker", false, "9223372036854771712\n", 10, 0);
  cgroup("/sys/fs/cgroup/memory/docker/c1", false, mib(256), 56, 6);
  ctx.expect(room_mib(v1, v1_mount) == 206, "v1 limit less usage");
  ctx.expect(room_mib("5:cpu:/docker/c1\n", v1_mount) == -1, "no memory controller");
  ctx.expect(room_mib(v1 + v2, v1_mount + v2_mount) == 206, "hybrid: the tighter binds");
  // Inside a cgroup namespace the mount's root is the process's own cgroup.
  cgroup("/ns/memory", false, mib(64), 16, 0);
  const std::string ns_mount = "40 31 0:32 /docker/c2 /ns/memory rw - cgroup cgroup rw,nosuid,memory\n";
  ctx.expect(room_mib("4:memory:/docker/c2\n", ns_mount) == 48, "namespace root");
  ctx.expect(room_mib("4:memory:/\n", ns_mount) == 48, "namespace, path outside the root");
  // A mount point with a blank (escaped in mountinfo); a missing directory.
  cgroup("/with blank/c3", false, mib(32), 2, 0);
  const std::string blank_mount = "41 31 0:33 / /with\\040blank rw - cgroup cgroup memory\n";
  ctx.expect(room_mib("4:memory:/c3\n", blank_mount) == 30, "escaped mount point");
  ctx.expect(room_mib("4:memory:/gone\n", blank_mount) == -1, "missing directory: the mount point's files");
  std::filesystem::remove_all(root);
#else
  ctx.expect(find_cgroup_levels("0::/\n", "", "").empty(), "no cgroups off Linux");
#endif
}
