// Splits a kernel's independent work items between the calling thread and
// one worker thread, for big states on machines with a second core. Each
// item is computed by exactly the same code whichever thread runs it, so the
// results are the same bits as a single-threaded run. The worker never
// touches Python; the caller keeps the GIL and waits for it.
#pragma once

#include <cstdint>
#include <system_error>
#include <thread>

#include "statevector/cpu_features.hpp"

namespace nimbic::statevector {

// Below this many items (amplitude pairs or groups) starting a thread costs
// more than it saves.
inline constexpr uint64_t kSplitMinItems = uint64_t(1) << 19;

// Runs body(begin, end) over [0, count): [0, half) here and [half, count) on
// a worker, or everything here when the work is small, there is one core,
// or no thread can be started. `half` is rounded down to a multiple of
// `granule` (a power of two).
template <class Body>
void split_work(uint64_t count, uint64_t granule, Body&& body) {
  const uint64_t half = (count / 2) & ~(granule - 1);
  if (count < kSplitMinItems || half == 0 || available_cores() < 2) {
    body(uint64_t(0), count);
    return;
  }
  std::thread worker;
  try {
    worker = std::thread([&body, half, count] { body(half, count); });
  } catch (const std::system_error&) {
    body(uint64_t(0), count);
    return;
  }
  body(uint64_t(0), half);
  worker.join();
}

}  // namespace nimbic::statevector
