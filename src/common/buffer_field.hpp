// Object-owned arrays of 8-byte elements (the fields that hold a native
// object's amplitudes, matrix or tableau). The storage is one zero-filled
// block from the Python allocator: a 16-byte header (live export count,
// capacity in bytes) followed by the elements. A field never changes its
// length or storage after creation. No Python here: records include it.
#pragma once

#include <cstdint>
#include <span>

namespace nimbic {

struct BufferField {
  void* data = nullptr;  // first element; null when the length is 0
  int64_t offset = 0;
  int64_t length = 0;    // in elements
  int64_t capacity = 0;  // in elements, equal to length
  int64_t flags = 0;
  int64_t elem_size = 8;

  bool empty() const { return data == nullptr; }
  std::span<double> f64() const { return {static_cast<double*>(data), size_t(length)}; }
  std::span<int64_t> i64() const { return {static_cast<int64_t*>(data), size_t(length)}; }
  // Number of buffer exports of this field that are alive.
  int64_t& views() const { return reinterpret_cast<int64_t*>(data)[-2]; }
};
static_assert(sizeof(BufferField) == 48);

// A zero-filled field of `length` elements; empty for length <= 0. Throws
// Panic("memory allocation failure") when the block cannot be had.
BufferField allocate_buffer_field(int64_t length);
// Releases the storage (if any) and leaves the field empty.
void release_buffer_field(BufferField& field);

}  // namespace nimbic
