// The module's one memory guard. Every array whose size a caller controls is
// checked against what the process can still obtain before it is allocated,
// so that an impossible request raises MemoryError ("memory allocation
// failure") at once instead of being committed page by page until the
// process is killed or fails late. (Sanitizer builds need it too: their
// operator new aborts instead of throwing std::bad_alloc.) Sizes are 128-bit
// so that no product of two 64-bit counts can wrap. No Python here: kernels
// include this header.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/count.hpp"
#include "common/huge_pages.hpp"
#include "common/interrupt.hpp"

namespace nimbic {

// Bytes a Python list costs per item besides the native result it is built
// from: an 8-byte slot plus a new float or int object (24 to 32 bytes after
// the allocator's rounding).
inline constexpr Count kListItemBytes = 40;
// The same for a list of small ints: the slot and one byte of the native
// result; the int objects are the interpreter's cached ones.
inline constexpr Count kSmallIntListItemBytes = 9;

// Physical memory plus swap, in bytes (read once).
Count memory_bytes();

// Bytes a new request may take now: the smallest of physical memory plus
// swap, the address-space and data-size limits (RLIMIT_AS, RLIMIT_DATA) less
// what the process already maps, and the memory limit of the process's
// cgroup (and of each enclosing one) less its usage. Limits and usage are
// read afresh on every call; the file paths are found once.
Count available_memory();

// Raises MemoryError when `bytes` exceed available_memory(). Requests of up
// to 16 MiB are let through without reading the usage: they cost less than
// the reading would, and if they fail, they fail at once. Callers form
// `bytes` so that it cannot overflow.
void check_allocatable(Count bytes);

// Raises MemoryError unless a result of `count` items of `native_bytes` each
// fits in memory together with the Python list it becomes (any count up to
// 2^127 - 1).
void check_result(Count count, Count native_bytes = 8, Count list_bytes = kListItemBytes);

// A zero-filled result of `count` floats (none for count <= 0), checked with
// check_result first.
std::vector<double> zero_floats(Count count);

// `count` value-initialised (zero) items, without a memory check. Committing
// the pages of a large array takes a while: it is zeroed in chunks of 16 MiB
// with a stop check (interruption_point) between them, on huge pages where
// the system gives them.
template <class T>
std::vector<T> zeroed(size_t count) {
  constexpr size_t chunk = (size_t(16) << 20) / sizeof(T) + 1;
  std::vector<T> out;
  out.reserve(count);
  prefer_huge_pages(out.data(), count * sizeof(T));
  while (out.size() < count) {
    if (!out.empty()) interruption_point();
    out.resize(std::min(count, out.size() + chunk));
  }
  return out;
}

}  // namespace nimbic
