// Splits a kernel's independent work items over threads. Each item is
// computed by exactly the same code whichever thread runs it, so the results
// are the same bits for every thread count. Workers never touch Python; the
// caller keeps the GIL and waits for them. Bodies must not throw: whatever
// they need is allocated before the split (split_parts tells how many parts
// there will be).
//
// How many threads a split may use is a policy: by default every core the
// process may use, and one thread below a minimum amount of work. Checks set
// another policy for the calling thread with ScopedSplitPolicy, so any
// thread count can be exercised on any machine.
#pragma once

#include <cstdint>
#include <system_error>
#include <thread>
#include <vector>

#include "common/cpu_features.hpp"

namespace nimbic {

struct SplitPolicy {
  unsigned threads = 0;                   // 0: the cores the process may use
  uint64_t min_work = uint64_t(1) << 18;  // less work than this runs on one thread
  // Worker threads a split may start; starting more fails as when the system
  // refuses a thread (checks reach the calling thread's fallback with it).
  unsigned startable = ~0u;
};

// The calling thread's policy: the default unless a ScopedSplitPolicy is alive.
const SplitPolicy& split_policy();

class ScopedSplitPolicy {
 public:
  explicit ScopedSplitPolicy(SplitPolicy policy);
  ~ScopedSplitPolicy();
  ScopedSplitPolicy(const ScopedSplitPolicy&) = delete;
  ScopedSplitPolicy& operator=(const ScopedSplitPolicy&) = delete;

 private:
  const SplitPolicy* previous_;
  SplitPolicy policy_;
};

// Parts that split_work(count, item_work, align, ...) will use: at most one
// per thread of the policy and per `align` items, one when the work
// (count * item_work, in amplitudes or a comparable unit) is small.
unsigned split_parts(uint64_t count, uint64_t item_work, uint64_t align = 2);

// Runs body(part, begin, end) over the items [0, count) in split_parts()
// parts; every boundary is a multiple of `align`. Part 0 runs on the calling
// thread; a part whose thread cannot be started runs there too.
template <class Body>
void split_work(uint64_t count, uint64_t item_work, uint64_t align, Body&& body) {
  const unsigned parts = split_parts(count, item_work, align);
  if (parts <= 1) {
    body(0u, uint64_t(0), count);
    return;
  }
  const uint64_t units = count / align;
  auto bound = [&](unsigned p) { return p == parts ? count : align * uint64_t((unsigned __int128)units * p / parts); };
  std::vector<std::thread> workers;
  workers.reserve(parts - 1);
  struct Join {
    std::vector<std::thread>& threads;
    ~Join() {
      for (std::thread& t : threads) t.join();
    }
  } join{workers};
  const unsigned startable = split_policy().startable;
  unsigned started = 1;
  for (; started < parts; ++started) {
    const uint64_t begin = bound(started), end = bound(started + 1);
    try {
      if (started > startable) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      workers.emplace_back([&body, started, begin, end] { body(started, begin, end); });
    } catch (const std::system_error&) {
      break;
    }
  }
  body(0u, bound(0), bound(1));
  for (unsigned p = started; p < parts; ++p) body(p, bound(p), bound(p + 1));
}

}  // namespace nimbic
