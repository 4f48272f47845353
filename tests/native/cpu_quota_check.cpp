// The cgroup CPU quota behind available_cores(), read from made-up
// /proc/self and cgroup file trees: v2 and v1 hierarchies, limits on a
// parent, no limit, containers whose cgroup is the root of their mount, and
// files that do not parse.
#include <filesystem>
#include <fstream>
#include <random>

#include "check.hpp"
#include "common/cpu_features.hpp"

using namespace nimbic;
using namespace nimbic::checks;
namespace fs = std::filesystem;

namespace {

class Tree {
 public:
  Tree() {
    std::random_device seed;
    root_ = fs::temp_directory_path() / ("nimbic_quota_" + std::to_string(seed()));
    fs::create_directories(root_);
  }
  ~Tree() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  void write(const std::string& path, const std::string& text) const {
    const fs::path at = root_ / path.substr(1);
    fs::create_directories(at.parent_path());
    std::ofstream(at) << text;
  }
  std::string root() const { return root_.string(); }

 private:
  fs::path root_;
};

const char* kMounts =
    "31 23 0:28 / /sys/fs/cgroup rw,relatime - tmpfs tmpfs rw\n"
    "32 31 0:29 / /sys/fs/cgroup/cpu,cpuacct rw,relatime shared:9 - cgroup cgroup rw,cpu,cpuacct\n"
    "35 31 0:32 / /sys/fs/cgroup/memory rw,relatime - cgroup cgroup rw,memory\n"
    "40 31 0:37 / /sys/fs/cgroup/unified rw,relatime - cgroup2 cgroup2 rw\n";

}  // namespace

NIMBIC_CHECK_FAMILY(cpu_quota) {
  auto expect = [&](const Tree& tree, unsigned want, const std::string& what) {
    const unsigned got = cgroup_cpu_quota(tree.root());
    ctx.expect(got == want, what + ": got " + std::to_string(got) + ", want " + std::to_string(want));
  };
  {
    Tree tree;
    tree.write("/proc/self/mountinfo", kMounts);
    tree.write("/proc/self/cgroup", "4:memory:/job\n3:cpu,cpuacct:/job/step\n0::/job/step\n");
    expect(tree, 0, "no quota files");
    tree.write("/sys/fs/cgroup/unified/job/step/cpu.max", "max 100000\n");
    tree.write("/sys/fs/cgroup/cpu,cpuacct/job/step/cpu.cfs_quota_us", "-1\n");
    tree.write("/sys/fs/cgroup/cpu,cpuacct/job/step/cpu.cfs_period_us", "100000\n");
    expect(tree, 0, "unlimited");
    tree.write("/sys/fs/cgroup/unified/job/step/cpu.max", "250000 100000\n");
    expect(tree, 3, "v2 quota of 2.5 cores");
    tree.write("/sys/fs/cgroup/unified/job/cpu.max", "150000 100000\n");
    expect(tree, 2, "v2 parent's smaller quota");
    tree.write("/sys/fs/cgroup/cpu,cpuacct/job/step/cpu.cfs_quota_us", "50000\n");
    expect(tree, 1, "v1 half a core beside v2");
    tree.write("/sys/fs/cgroup/unified/job/step/cpu.max", "not a number\n");
    expect(tree, 1, "unparsable cpu.max skipped, the others hold");
  }
  {
    // A container: its cgroup is the root of the mounts it sees.
    Tree tree;
    tree.write("/proc/self/mountinfo", "100 90 0:40 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n");
    tree.write("/proc/self/cgroup", "0::/\n");
    tree.write("/sys/fs/cgroup/cpu.max", "400000 100000\n");
    expect(tree, 4, "container v2");
  }
  {
    // A v1 mount whose root is the process's own cgroup.
    Tree tree;
    tree.write("/proc/self/mountinfo", "50 40 0:30 /docker/abc /sys/fs/cgroup/cpu ro - cgroup cgroup rw,cpu\n");
    tree.write("/proc/self/cgroup", "2:cpu:/docker/abc\n");
    tree.write("/sys/fs/cgroup/cpu/cpu.cfs_quota_us", "300000\n");
    tree.write("/sys/fs/cgroup/cpu/cpu.cfs_period_us", "100000\n");
    expect(tree, 3, "container v1 mounted at its cgroup");
  }
  {
    Tree tree;
    expect(tree, 0, "no /proc files");
  }
  ctx.expect(available_cores() >= 1, "available_cores is at least 1");
}
