// The record behind NativeState: its amplitudes live in one object-owned
// buffer of 2^(n+1) floats for the object's lifetime. The methods are static
// members taking the record first, as the class's wrappers call them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/buffer_field.hpp"

namespace nimbic::statevector {

struct NativeState {
  BufferField state;
  int64_t num_qubits = 0;

  static void set_amplitudes(NativeState& self, std::span<const double> values);
  static void apply_gate(NativeState& self, std::span<const double> gate, std::span<const int64_t> targets);
  static void reset(NativeState& self);
  static void set_zero_state(NativeState& self);
  static std::vector<double> amplitudes(NativeState& self);
  static std::vector<double> probabilities(NativeState& self, std::span<const int64_t> targets);
  static int64_t measure(NativeState& self, std::span<const int64_t> targets, double u);
};
static_assert(sizeof(NativeState) == 56);

// 2^(n+1) zero floats for 0 <= n <= 61, an empty buffer otherwise.
NativeState new_native_state(int64_t num_qubits);

}  // namespace nimbic::statevector
