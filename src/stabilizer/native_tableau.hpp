// The record behind NativeTableau: the x and z bits (n*(2n+1) entries each,
// row-major with row stride n) and the signs (2n+1 entries) of the stabilizer
// tableau, in object-owned buffers. The methods are static members taking
// the record first, as the class's wrappers call them.
//
// From 16 qubits on, while the object is used with the count it was built
// with, its buffers hold a working form instead of that layout (the flag
// kWorkingForm in the flag word of `x`): the tableau packed qubit-major, its
// inverse packed row-major, and the scratch row as the qubit and sign of the
// last determined measurement. A gate then changes a few columns and rows of
// n/32 words, a determined measurement reads n/64 words, and a random one
// touches the qubits its pivot rows act on. Nothing reads the buffers
// directly, so every result is that of the plain layout; the plain layout is
// written back when a method finds `num_qubits` reassigned, and the methods
// then work on it with the new count until `reset` with the built count
// starts a working form again.
#pragma once

#include <cstdint>
#include <vector>

#include "common/buffer_field.hpp"
#include "common/int_list.hpp"
#include "stabilizer/tableau.hpp"

namespace nimbic::stabilizer {

struct NativeTableau {
  BufferField x;
  BufferField z;
  BufferField r;
  int64_t num_qubits = 0;

  static constexpr int64_t kWorkingForm = 1;

  // Every method reads the buffers with the stored count; when they are too
  // short for it (the count was reassigned), the first access outside them
  // raises its index error and nothing changes.
  static void reset(NativeTableau& self);
  static void apply(NativeTableau& self, int64_t code, int64_t a, int64_t b);
  static int64_t measure(NativeTableau& self, int64_t a, double u);
  // The state vector of the tableau, up to a global phase.
  static std::vector<double> state_vector(NativeTableau& self);
  static IntList stabilizer_tableau(NativeTableau& self);
  // The flattened tableau as 64-bit integers (for routines that read it).
  static std::vector<int64_t> to_flat(NativeTableau& self);

  // The plain-layout view of the buffers (valid when no working form is held).
  Tableau view() { return Tableau{num_qubits, x.i64(), z.i64(), r.i64()}; }
  bool holds_working_form() const { return (x.flags & kWorkingForm) != 0; }
};
static_assert(sizeof(NativeTableau) == 152);

// The tableau of |0...0> on n qubits; a negative n gives empty buffers.
NativeTableau new_native_tableau(int64_t num_qubits);

}  // namespace nimbic::stabilizer
