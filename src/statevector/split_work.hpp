// Splits a kernel's independent work items between the calling thread and
// one worker thread, for big states on machines with a second core. Each
// item is computed by exactly the same code whichever thread runs it, so the
// results are the same bits as a single-threaded run. The worker never
// touches Python; the caller keeps the GIL and waits for it. Bodies must not
// throw: whatever they need is allocated before the split.
#pragma once

#include <cstdint>
#include <system_error>
#include <thread>

#include "statevector/cpu_features.hpp"

namespace nimbic::statevector {

// Below this many amplitudes a gate takes well under a millisecond, and
// starting a thread costs more than it saves.
inline constexpr uint64_t kSplitMinAmplitudes = uint64_t(1) << 20;

// Runs body(begin, end) over the items [0, count), each of which touches
// `item_amplitudes` amplitudes: [0, half) here and [half, count) on a worker,
// or everything here when the state is small, there is one core, or no
// thread can be started. `half` is even.
template <class Body>
void split_work(uint64_t count, uint64_t item_amplitudes, Body&& body) {
  const uint64_t half = (count / 2) & ~uint64_t(1);
  if (count * item_amplitudes < kSplitMinAmplitudes || half == 0 || available_cores() < 2) {
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
  struct Join {
    std::thread& thread;
    ~Join() { thread.join(); }
  } join{worker};
  body(uint64_t(0), half);
}

}  // namespace nimbic::statevector
