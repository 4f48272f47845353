// Fatal internal errors of the kernels. A kernel throws Panic; the calling
// wrapper turns it into RuntimeError("panic in native code: " + message), or
// MemoryError for "memory allocation failure". No Python here: kernels include
// this header.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "common/count.hpp"

namespace nimbic {

inline constexpr const char* kOutOfMemory = "memory allocation failure";

class Panic : public std::exception {
 public:
  explicit Panic(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }

 private:
  std::string message_;
};

[[noreturn]] void panic(std::string message);
// "array.get: index out of range (i,a.len):<index>, <length>"
[[noreturn]] void panic_get(int64_t index, int64_t length);
// "array.set: index out of range (i,a.len):<index>, <length>"
[[noreturn]] void panic_set(int64_t index, int64_t length);
[[noreturn]] void panic_out_of_memory();
[[noreturn]] void panic_division_by_zero();
// "qubit index out of range (q,n):<q>, <n>"
[[noreturn]] void panic_qubit_range(int64_t qubit, int64_t num_qubits);
// "duplicate qubit index (q):<q>"
[[noreturn]] void panic_qubit_duplicate(int64_t qubit);

// An input read from element 0 upwards needs `needed` elements: when it
// holds fewer, the first missing index is its length.
inline void require_length(Count length, Count needed) {
  if (length < needed) panic_get(int64_t(length), int64_t(length));
}

}  // namespace nimbic
