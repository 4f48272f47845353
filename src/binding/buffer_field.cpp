#include "common/buffer_field.hpp"

#include "binding/python.hpp"
#include "common/memory.hpp"
#include "common/panic.hpp"

namespace nimbic {

namespace {
constexpr int64_t kHeaderBytes = 16;
}

BufferField allocate_buffer_field(int64_t length) {
  BufferField field;
  if (length <= 0) return field;
  // Byte counts beyond the 64-bit (and Py_ssize_t) range count as failures.
  if (length > (INT64_MAX - kHeaderBytes) / 8) panic_out_of_memory();
  const int64_t bytes = length * 8;
  check_allocatable(Count(bytes) + kHeaderBytes);
  void* block = PyObject_Calloc(1, size_t(bytes + kHeaderBytes));
  if (block == nullptr) panic_out_of_memory();
  auto* header = static_cast<int64_t*>(block);
  header[0] = 0;  // live exports
  header[1] = bytes;
  field.data = static_cast<char*>(block) + kHeaderBytes;
  field.length = length;
  field.capacity = length;
  return field;
}

void release_buffer_field(BufferField& field) {
  if (field.data != nullptr) PyObject_Free(static_cast<char*>(field.data) - kHeaderBytes);
  field = BufferField{};
}

}  // namespace nimbic
