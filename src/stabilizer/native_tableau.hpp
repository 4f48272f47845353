// The record behind NativeTableau: the x and z bits (n*(2n+1) entries each,
// row-major with row stride n) and the signs (2n+1 entries) of the stabilizer
// tableau, in object-owned buffers.
#pragma once

#include <cstdint>

#include "binding/buffer_field.hpp"

namespace nimbic::stabilizer {

struct NativeTableau {
  BufferField x;
  BufferField z;
  BufferField r;
  int64_t num_qubits = 0;

  static void reset(NativeTableau& self);
};
static_assert(sizeof(NativeTableau) == 152);

// The tableau of |0...0> on n qubits; a negative n gives empty buffers.
NativeTableau new_native_tableau(int64_t num_qubits);

}  // namespace nimbic::stabilizer
