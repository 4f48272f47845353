// A bit-packed, qubit-major copy of the stabilizer tableau for whole-circuit
// runs. For each qubit, the x bits of all generator rows form one bit column
// of `words()` 64-bit words, and so do the z bits; the signs form one more
// column. Destabilizer row i sits at bit i and stabilizer row n+i at bit
// 64*half_words() + i, so destabilizer i and its stabilizer share a bit
// position within their halves. The scratch row is not held (whole-circuit
// runs never show it). Every gate is a few word operations per column and
// updates the rows exactly as the plain tableau does.
#pragma once

#include <cstdint>
#include <vector>

namespace nimbic::stabilizer {

class PackedTableau {
 public:
  // |0...0> on n >= 0 qubits.
  explicit PackedTableau(int64_t num_qubits);

  int64_t num_qubits() const { return n_; }
  int64_t half_words() const { return half_; }
  int64_t words() const { return 2 * half_; }
  uint64_t* x(int64_t q) { return x_.data() + q * words(); }
  uint64_t* z(int64_t q) { return z_.data() + q * words(); }
  uint64_t* r() { return r_.data(); }
  const uint64_t* x(int64_t q) const { return x_.data() + q * words(); }
  const uint64_t* z(int64_t q) const { return z_.data() + q * words(); }
  const uint64_t* r() const { return r_.data(); }

  // Bit position of generator row `row` (0 <= row < 2n).
  int64_t position(int64_t row) const { return row < n_ ? row : 64 * half_ + (row - n_); }

  // One instruction with valid operands (0 <= a, b < n, a != b for two-qubit
  // codes); codes outside 0..8 do nothing.
  void apply(int64_t code, int64_t a, int64_t b);

  // The flattened tableau, (2n+1)^2 bytes of 0/1, rows of x bits, z bits and
  // the sign; the scratch row (the last) is left as `out` holds it.
  void write_flat(uint8_t* out) const;

 private:
  void hadamard(int64_t a);
  void phase(int64_t a);
  void phase_dagger(int64_t a);
  void flip_signs(const uint64_t* bits);
  void flip_signs_y(int64_t a);
  void cnot(int64_t a, int64_t b);
  void cz(int64_t a, int64_t b);
  void swap(int64_t a, int64_t b);
  void write_half_bits(const std::vector<uint64_t>& bits, int64_t column_offset, uint8_t* out) const;

  int64_t n_ = 0;
  int64_t half_ = 0;
  std::vector<uint64_t> x_, z_, r_;
};

// Raises MemoryError when the tableau of n qubits in the plain layout (two
// arrays of n*(2n+1) 64-bit entries and one of 2n+1) does not fit in memory.
void check_tableau_size(int64_t num_qubits);

}  // namespace nimbic::stabilizer
