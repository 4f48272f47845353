// The record behind NativeDensity: a 2^n x 2^n interleaved row-major matrix
// (2*4^n floats) in one object-owned buffer. The methods are static members
// taking the record first, as the class's wrappers call them; each validates
// everything before its first write, so a method that raises leaves the
// matrix as it was.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/buffer_field.hpp"

namespace nimbic::density {

struct NativeDensity {
  BufferField rho;
  int64_t num_qubits = 0;

  static void set_from_amplitudes(NativeDensity& self, std::span<const double> values);
  static void apply_channel(NativeDensity& self, std::span<const double> operators, int64_t num_operators,
                            std::span<const int64_t> targets);
  static void reset(NativeDensity& self);
  static void set_zero_state(NativeDensity& self);
  static std::vector<double> density_matrix(NativeDensity& self);
  static std::vector<double> probabilities(NativeDensity& self, std::span<const int64_t> targets);
  static int64_t measure(NativeDensity& self, std::span<const int64_t> targets, double u);
};
static_assert(sizeof(NativeDensity) == 56);

// 2*4^n zero floats for 0 <= n <= 30 (n = 30 exceeds any byte count and fails
// as an allocation), an empty matrix for other n.
NativeDensity new_native_density(int64_t num_qubits);

}  // namespace nimbic::density
