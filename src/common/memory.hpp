// The module's one memory guard. Every array whose size a caller controls is
// checked against what the machine can hold before it is allocated, so that
// an impossible request raises MemoryError ("memory allocation failure") at
// once instead of being committed page by page until the process is killed.
// (Sanitizer builds need it too: their operator new aborts instead of
// throwing std::bad_alloc.) Sizes are 128-bit so that no product of two
// 64-bit counts can wrap. No Python here: kernels include this header.
#pragma once

#include <cstdint>
#include <vector>

#include "common/count.hpp"

namespace nimbic {

// Bytes a Python list costs per item besides the native result it is built
// from: an 8-byte slot plus a new float or int object (24 to 32 bytes after
// the allocator's rounding).
inline constexpr Count kListItemBytes = 40;
// The same for a list of small ints built through a bytes object: the slot
// and one byte; the int objects are the interpreter's cached ones.
inline constexpr Count kSmallIntListItemBytes = 9;

// Physical memory plus swap, in bytes: what any single request must fit in.
Count memory_bytes();

// Raises MemoryError when `bytes` exceed memory_bytes(). Callers form
// `bytes` so that it cannot overflow.
void check_allocatable(Count bytes);

// Raises MemoryError unless a result of `count` items of `native_bytes` each
// fits in memory together with the Python list it becomes (any count up to
// 2^127 - 1).
void check_result(Count count, Count native_bytes = 8, Count list_bytes = kListItemBytes);

// A zero-filled result of `count` floats (none for count <= 0), checked with
// check_result first.
std::vector<double> zero_floats(Count count);

}  // namespace nimbic
