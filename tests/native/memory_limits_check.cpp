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

namespace {

constexpr Count kMiB = Count(1) << 20;

void write(const std::filesystem::path& file, const std::string& text) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file) << text;
}

// A cgroup directory with a limit ("max" or bytes), a usage and an inactive
// file cache, as v2 or v1 names them.
void cgroup_dir(const std::filesystem::path& dir, bool v2, const std::string& limit, Count usage, Count inactive) {
  const auto bytes = [](Count c) { return std::to_string(int64_t(c)) + "\n"; };
  write(dir / (v2 ? "memory.max" : "memory.limit_in_bytes"), limit + "\n");
  write(dir / (v2 ? "memory.current" : "memory.usage_in_bytes"), bytes(usage));
  write(dir / "memory.stat", std::string(v2 ? "anon 4096\ninactive_file " : "cache 0\ntotal_inactive_file ") +
                                 bytes(inactive) + (v2 ? "active_file 8192\n" : "total_active_file 8192\n"));
}

const char* kV2Mount = "30 23 0:26 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw\n";
const char* kV1Mount = "35 31 0:32 / /sys/fs/cgroup/memory rw,relatime - cgroup cgroup rw,memory\n";

}  // namespace

NIMBIC_CHECK_FAMILY(memory_limits) {
#if defined(__linux__)
  char pattern[] = "/tmp/nimbic_cgroup_XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    ctx.expect(false, "a temporary directory");
    return;
  }
  const std::string root = pattern;
  const std::filesystem::path fs = root;
  auto room = [&](const std::string& cgroup, const std::string& mountinfo) {
    return cgroup_room(find_cgroup_levels(cgroup, mountinfo, root));
  };

  // v2: the leaf's limit less its usage without the inactive file cache; a
  // parent without a limit ("max") and the root without files add nothing.
  cgroup_dir(fs / "sys/fs/cgroup/user.slice", true, "max", 900 * kMiB, 0);
  cgroup_dir(fs / "sys/fs/cgroup/user.slice/app", true, std::to_string(1024 * 1024 * 1024), 100 * kMiB, 40 * kMiB);
  const std::string v2_cgroup = "0::/user.slice/app\n";
  ctx.expect(room(v2_cgroup, kV2Mount) == 1024 * kMiB - 60 * kMiB, "v2 leaf limit less usage");
  ctx.expect(find_cgroup_levels(v2_cgroup, kV2Mount, root).size() == 2, "v2 levels with a limit file");
  // A tighter parent binds.
  cgroup_dir(fs / "sys/fs/cgroup/user.slice", true, std::to_string(512 * 1024 * 1024), 400 * kMiB, 0);
  ctx.expect(room(v2_cgroup, kV2Mount) == 112 * kMiB, "v2 parent limit less its usage");
  // More cache than usage leaves the whole limit.
  cgroup_dir(fs / "sys/fs/cgroup/user.slice", true, "max", 0, 0);
  cgroup_dir(fs / "sys/fs/cgroup/user.slice/app", true, std::to_string(1024 * 1024 * 1024), 10 * kMiB, 20 * kMiB);
  ctx.expect(room(v2_cgroup, kV2Mount) == 1024 * kMiB, "cache larger than usage");

  // v1: the memory controller's line, "no limit" as a number near 2^63.
  cgroup_dir(fs / "sys/fs/cgroup/memory/docker", false, "9223372036854771712", 10 * kMiB, 0);
  cgroup_dir(fs / "sys/fs/cgroup/memory/docker/c1", false, std::to_string(256 * 1024 * 1024), 56 * kMiB, 6 * kMiB);
  const std::string v1_cgroup = "5:cpu,cpuacct:/docker/c1\n4:memory:/docker/c1\n0::/\n";
  ctx.expect(room(v1_cgroup, kV1Mount) == 206 * kMiB, "v1 limit less usage");
  ctx.expect(room("5:cpu:/docker/c1\n", kV1Mount) == kUnlimited, "no memory controller");
  // Hybrid: v2 mounted beside v1, the tighter one binds.
  ctx.expect(room(v1_cgroup + "0::/user.slice/app\n", std::string(kV1Mount) + kV2Mount) == 206 * kMiB, "hybrid");

  // Inside a cgroup namespace the mount's root is the process's own cgroup:
  // the mount point holds its files.
  cgroup_dir(fs / "ns/memory", false, std::to_string(64 * 1024 * 1024), 16 * kMiB, 0);
  const std::string ns_mount = "40 31 0:32 /docker/c2 /ns/memory rw - cgroup cgroup rw,nosuid,memory\n";
  ctx.expect(room("4:memory:/docker/c2\n", ns_mount) == 48 * kMiB, "namespace root");
  ctx.expect(room("4:memory:/\n", ns_mount) == 48 * kMiB, "namespace, path outside the root");
  // A mount point with a blank, escaped in mountinfo.
  cgroup_dir(fs / "with blank/c3", false, std::to_string(32 * 1024 * 1024), 2 * kMiB, 0);
  ctx.expect(room("4:memory:/c3\n", "41 31 0:33 / /with\\040blank rw - cgroup cgroup memory\n") == 30 * kMiB,
             "escaped mount point");
  // A cgroup directory that is not there: the mount point's own files.
  ctx.expect(room("4:memory:/gone\n", "41 31 0:33 / /with\\040blank rw - cgroup cgroup memory\n") == kUnlimited,
             "missing directory");

  std::filesystem::remove_all(fs);
#else
  ctx.expect(find_cgroup_levels("0::/\n", "", "").empty(), "no cgroups off Linux");
#endif
}
