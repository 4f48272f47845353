// The record behind NativeDensity: a 2^n x 2^n interleaved row-major matrix
// (2*4^n floats) in one object-owned buffer.
#pragma once

#include <cstdint>

#include "binding/buffer_field.hpp"

namespace nimbic::density {

struct NativeDensity {
  BufferField rho;
  int64_t num_qubits = 0;
};
static_assert(sizeof(NativeDensity) == 56);

// 2*4^n zero floats for 0 <= n <= 30 (n = 30 exceeds any byte count and fails
// as an allocation), an empty matrix for other n.
NativeDensity new_native_density(int64_t num_qubits);

}  // namespace nimbic::density
