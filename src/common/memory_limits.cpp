#include "common/memory_limits.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#if defined(__linux__)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#elif defined(__unix__) || defined(__APPLE__)
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace nimbic::memory_limits {

namespace {

#if defined(__linux__) || defined(__unix__) || defined(__APPLE__)
// The soft limit, or kUnlimited.
Count soft_limit(int resource) {
  struct rlimit limit{};
  if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kUnlimited;
  return Count(limit.rlim_cur);
}
#endif

#if defined(__linux__)

// Reads a small file into `buf` (NUL-terminated); false when it cannot be
// read or is empty.
bool read_small_file(const char* path, char* buf, size_t size) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  size_t used = 0;
  while (used + 1 < size) {
    const ssize_t got = ::read(fd, buf + used, size - 1 - used);
    if (got <= 0) break;
    used += size_t(got);
  }
  ::close(fd);
  buf[used] = '\0';
  return used > 0;
}

// The decimal number at `text`; false for anything else (such as "max").
bool parse_count(const char* text, Count& out) {
  if (*text < '0' || *text > '9') return false;
  Count value = 0;
  for (; *text >= '0' && *text <= '9' && value < kUnlimited; ++text) value = value * 10 + (*text - '0');
  out = value;
  return true;
}

bool read_count(const std::string& path, Count& out) {
  char buf[64];
  return read_small_file(path.c_str(), buf, sizeof buf) && parse_count(buf, out);
}

// The value of `key` in a "key value" per line file such as memory.stat.
bool read_keyed_count(const std::string& path, const char* key, Count& out) {
  char buf[8192];
  if (!read_small_file(path.c_str(), buf, sizeof buf)) return false;
  const size_t key_len = std::strlen(key);
  for (const char* line = buf; *line != '\0';) {
    if (std::strncmp(line, key, key_len) == 0 && line[key_len] == ' ') return parse_count(line + key_len + 1, out);
    const char* end = std::strchr(line, '\n');
    if (end == nullptr) break;
    line = end + 1;
  }
  return false;
}

// Mount points of a cgroup hierarchy: the hierarchy's root directory as seen
// by this mount, and where it is mounted.
struct Mount {
  std::string root, point;
};

// Undoes the octal escapes (\040 for a blank) of /proc/self/mountinfo.
std::string unescape(const std::string& field) {
  auto octal = [&](size_t i) { return i < field.size() && field[i] >= '0' && field[i] <= '7'; };
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      out += char((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

bool has_option(const std::string& options, const char* name) {
  std::stringstream ss(options);
  for (std::string item; std::getline(ss, item, ',');)
    if (item == name) return true;
  return false;
}

// The first mount of a cgroup v2 hierarchy (v2) or of the v1 hierarchy that
// carries the memory controller.
bool find_mount(const std::string& mountinfo, bool v2, Mount& out) {
  std::istringstream text(mountinfo);
  for (std::string line; std::getline(text, line);) {
    const size_t dash = line.find(" - ");
    if (dash == std::string::npos) continue;
    std::stringstream head(line.substr(0, dash)), tail(line.substr(dash + 3));
    std::string id, parent, device, root, point, type, source, options;
    head >> id >> parent >> device >> root >> point;
    tail >> type >> source >> options;
    if (v2 ? type == "cgroup2" : (type == "cgroup" && has_option(options, "memory"))) {
      out = {unescape(root), unescape(point)};
      return true;
    }
  }
  return false;
}

// The cgroup paths of this process: the v2 one ("0::path") and the v1 one of
// the memory controller.
void find_cgroup_paths(const std::string& cgroup, std::string& v2_path, std::string& v1_path) {
  std::istringstream text(cgroup);
  for (std::string line; std::getline(text, line);) {
    const size_t a = line.find(':'), b = a == std::string::npos ? a : line.find(':', a + 1);
    if (b == std::string::npos) continue;
    const std::string id = line.substr(0, a), controllers = line.substr(a + 1, b - a - 1), path = line.substr(b + 1);
    if (id == "0" && controllers.empty())
      v2_path = path;
    else if (has_option(controllers, "memory"))
      v1_path = path;
  }
}

bool is_directory(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The process's cgroup directory and every enclosing one up to the mount
// point, each that has the limit file.
void add_levels(const std::string& root, const Mount& mount, const std::string& path, const char* limit,
                const char* usage, const char* reclaimable, std::vector<CgroupLevel>& levels) {
  std::string top = root + mount.point;
  while (top.size() > 1 && top.back() == '/') top.pop_back();
  // The part of the path below the mount's root; inside a cgroup namespace
  // the mount's root is the process's own cgroup, and the path may lie
  // outside it ("/.."): then the mount point itself.
  std::string rest;
  if (mount.root == "/")
    rest = path;
  else if (path.compare(0, mount.root.size(), mount.root) == 0)
    rest = path.substr(mount.root.size());
  if (!rest.empty() && rest[0] != '/') rest.clear();
  while (!rest.empty() && rest.back() == '/') rest.pop_back();
  std::string dir = top + rest;
  if (!is_directory(dir)) dir = top;
  while (true) {
    const std::string base = dir + "/";
    if (::access((base + limit).c_str(), R_OK) == 0)
      levels.push_back({base + limit, base + usage, base + "memory.stat", reclaimable});
    if (dir.size() <= top.size()) break;
    dir.resize(dir.rfind('/'));
  }
}

std::string read_text(const char* path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

#endif

}  // namespace

std::vector<CgroupLevel> find_cgroup_levels(const std::string& cgroup, const std::string& mountinfo,
                                            const std::string& root) {
  std::vector<CgroupLevel> levels;
#if defined(__linux__)
  std::string v2_path, v1_path;
  find_cgroup_paths(cgroup, v2_path, v1_path);
  Mount mount;
  if (!v2_path.empty() && find_mount(mountinfo, true, mount))
    add_levels(root, mount, v2_path, "memory.max", "memory.current", "inactive_file", levels);
  if (!v1_path.empty() && find_mount(mountinfo, false, mount))
    add_levels(root, mount, v1_path, "memory.limit_in_bytes", "memory.usage_in_bytes", "total_inactive_file", levels);
#else
  (void)cgroup, (void)mountinfo, (void)root;
#endif
  return levels;
}

Count cgroup_room(const std::vector<CgroupLevel>& levels) {
  Count room = kUnlimited;
#if defined(__linux__)
  for (const CgroupLevel& level : levels) {
    Count limit = 0, usage = 0, reclaimable = 0;
    // v1 writes "no limit" as a number near 2^63.
    if (!read_count(level.limit, limit) || limit >= (Count(1) << 62)) continue;
    if (!read_count(level.usage, usage)) usage = 0;
    if (read_keyed_count(level.stat, level.reclaimable, reclaimable)) usage -= std::min(usage, reclaimable);
    room = std::min(room, limit - usage);
  }
#else
  (void)levels;
#endif
  return room;
}

Count physical_and_swap() {
#if defined(__linux__)
  struct sysinfo info{};
  if (sysinfo(&info) == 0) return (Count(info.totalram) + Count(info.totalswap)) * Count(info.mem_unit);
#elif (defined(__unix__) || defined(__APPLE__)) && defined(_SC_PHYS_PAGES) && defined(_SC_PAGESIZE)
  const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
  if (pages > 0 && page > 0) return Count(pages) * Count(page);
#endif
  return kUnlimited;
}

Count rlimit_room() {
#if defined(__linux__) || defined(__unix__) || defined(__APPLE__)
  const Count as_limit = soft_limit(RLIMIT_AS), data_limit = soft_limit(RLIMIT_DATA);
  if (as_limit == kUnlimited && data_limit == kUnlimited) return kUnlimited;
  Count mapped = 0, data = 0;
#if defined(__linux__)
  // /proc/self/statm: total size, resident, shared, text, library, data and
  // stack, unused; in pages.
  char buf[256];
  if (read_small_file("/proc/self/statm", buf, sizeof buf)) {
    unsigned long long field[6] = {};
    char* at = buf;
    for (unsigned long long& f : field) f = std::strtoull(at, &at, 10);
    const Count page = Count(sysconf(_SC_PAGESIZE));
    mapped = Count(field[0]) * page;
    data = Count(field[5]) * page;
  }
#endif
  // Elsewhere the usage is unknown: the limits alone bound a request.
  return std::min(as_limit - mapped, data_limit - data);
#else
  return kUnlimited;
#endif
}

Count cgroup_room() {
#if defined(__linux__)
  static const std::vector<CgroupLevel> levels =
      find_cgroup_levels(read_text("/proc/self/cgroup"), read_text("/proc/self/mountinfo"), "");
  return cgroup_room(levels);
#else
  return kUnlimited;
#endif
}

}  // namespace nimbic::memory_limits
